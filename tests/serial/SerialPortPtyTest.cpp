// The serial component against real pseudo-terminals: the test holds the master
// side and sees exactly what went on the line.

#include "CommPort.h"
#include "DeviceLink.h"
#include "EventPump.h"
#include "LineRecorder.h"
#include "PosixTermios.h"
#include "Pty.h"
#include "SerialPort.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using testing::handlePending;
using testing::pumpUntil;

int openDescriptorCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                                .size());
}

std::string startError(TComm& comm) {
    try {
        comm.StartComm();
    } catch (const ECommsError& e) {
        return e.what();
    }
    return "(no error)";
}

// A component with the unit's line settings, on a fresh pseudo-terminal, that
// records every event it raises.
class PtyComm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.valid());
        comm.SetCommName(pty.slavePath());
        useUnitLine(comm);
        comm.OnReceiveData = [this](QObject* sender, const std::uint8_t* buffer,
                                    std::uint16_t length) {
            EXPECT_EQ(sender, &comm);
            received.emplace_back(reinterpret_cast<const char*>(buffer), length);
            EXPECT_EQ(buffer[length], 0) << "the block ends in a zero byte";
        };
        comm.OnSendDataEmpty = [this](QObject* sender) {
            EXPECT_EQ(sender, &comm);
            ++sendEmpty;
        };
        comm.OnRequestHangup = [this](QObject*) { ++hangups; };
    }

    termios slaveSettings() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.master(), &t), 0);
        return t;
    }

    testing::Pty pty;
    TComm comm;
    std::vector<QByteArray> received;
    int sendEmpty = 0;
    int hangups = 0;
};

TEST_F(PtyComm, SendDataEmptyArrivesRightAfterStart) {
    comm.StartComm();
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_TRUE(pumpUntil([&] { return sendEmpty == 1; }));
    comm.StopComm(); // the threads are done: what they posted is all there will be
    handlePending();
    EXPECT_EQ(sendEmpty, 1);
    EXPECT_TRUE(received.empty());
}

TEST_F(PtyComm, BlocksQueuedBackToBackArriveInOrderWithOneNotice) {
    comm.StartComm();
    ASSERT_TRUE(pumpUntil([&] { return sendEmpty == 1; }));

    // Nobody reads the master yet: the filler fills the line and the transmit thread
    // is still busy with it while the two frames are queued behind it.
    const QByteArray filler(65535, 'f');
    const QByteArray first = QByteArray(19, '\x25').replace(1, 1, "A");
    const QByteArray second = QByteArray(19, '\x25').replace(1, 1, "B");
    for (const QByteArray* block : {&filler, &filler, &first, &second}) {
        ASSERT_TRUE(comm.WriteCommData(reinterpret_cast<const std::uint8_t*>(block->constData()),
                                       static_cast<std::uint16_t>(block->size())));
    }
    const int total = 2 * 65535 + 38;
    const QByteArray line = pty.read(total, 10s);
    ASSERT_EQ(line.size(), total);
    EXPECT_EQ(line.right(38), first + second);
    EXPECT_TRUE(pumpUntil([&] { return sendEmpty == 2; }));
    comm.StopComm();
    handlePending();
    EXPECT_EQ(sendEmpty, 2) << "one notice after the queue drained";
}

TEST_F(PtyComm, BurstOf3000BytesArrivesAs2048Then952) {
    comm.StartComm();
    QByteArray burst(3000, '\0');
    for (int i = 0; i < burst.size(); ++i) {
        burst[i] = static_cast<char>(i * 13);
    }
    ASSERT_TRUE(pty.write(burst));
    ASSERT_TRUE(pumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0].size(), 2048);
    EXPECT_EQ(received[1].size(), 952);
    EXPECT_EQ(received[0] + received[1], burst);
}

TEST_F(PtyComm, BurstsApartByMoreThanTheIntervalArriveSeparately) {
    comm.StartComm();
    ASSERT_TRUE(pty.write("first"));
    // Delivered once the line has been quiet for longer than the interval.
    ASSERT_TRUE(pumpUntil([&] { return received.size() == 1; }));
    ASSERT_TRUE(pty.write("second"));
    ASSERT_TRUE(pumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[0], "first");
    EXPECT_EQ(received[1], "second");
}

TEST_F(PtyComm, StartingTwiceFailsAndLeavesThePortWorking) {
    comm.StartComm();
    EXPECT_EQ(startError(comm), "This serial port already opened");
    EXPECT_TRUE(comm.IsOpen());
    const std::uint8_t frame[] = {0x26, 0x00, 0x64};
    ASSERT_TRUE(comm.WriteCommData(frame, 3));
    EXPECT_EQ(pty.read(3), QByteArray("\x26\x00\x64", 3));
}

TEST_F(PtyComm, MissingDeviceFailsThenAValidNameOpens) {
    comm.SetCommName(QStringLiteral("/dev/cantavel-no-such-port"));
    try {
        comm.StartComm();
        FAIL() << "opened a missing device";
    } catch (const ECommsError& e) {
        EXPECT_STREQ(e.what(), "Error opening serial port");
        EXPECT_NE(e.systemReason().find("No such file"), std::string::npos) << e.systemReason();
        EXPECT_EQ(e.device(), "/dev/cantavel-no-such-port");
    }
    EXPECT_FALSE(comm.IsOpen());
    comm.SetCommName(pty.slavePath());
    comm.StartComm();
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(PtyComm, RegularFileIsNotACommHandleAndIsClosedAgain) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("port"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    comm.SetCommName(path);
    const int before = openDescriptorCount();
    EXPECT_EQ(startError(comm), "File handle is not a comm handle ");
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(PtyComm, CharacterDeviceThatIsNoTerminalCannotSetUpBuffers) {
    comm.SetCommName(QStringLiteral("/dev/null"));
    const int before = openDescriptorCount();
    EXPECT_EQ(startError(comm), "Cannot setup comm buffer");
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST_F(PtyComm, HeldDeviceCannotBeOpenedByThisOrAnotherProcess) {
    comm.StartComm();
    TComm second;
    second.SetCommName(pty.slavePath());
    try {
        second.StartComm();
        FAIL() << "opened a held device";
    } catch (const ECommsError& e) {
        EXPECT_STREQ(e.what(), "Error opening serial port");
        EXPECT_EQ(e.systemReason(), systemErrorText(EBUSY));
    }

    const std::string name = pty.slavePath().toStdString();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(openCommPort(name).port ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";

    comm.StopComm();
    second.StartComm(); // free again once closed
    EXPECT_TRUE(second.IsOpen());
}

TEST_F(PtyComm, WriteCommDataRefusesWhenClosedOrEmpty) {
    const std::uint8_t frame[] = {1, 2, 3};
    EXPECT_FALSE(comm.WriteCommData(frame, 3));
    comm.StartComm();
    EXPECT_FALSE(comm.WriteCommData(frame, 0));
    EXPECT_EQ(comm.BytesQueued(), 0u) << "nothing for the transmit thread to write";
    comm.StopComm();
    EXPECT_TRUE(pty.drain(0ms).isEmpty());
}

TEST_F(PtyComm, StopCommIsHarmlessWhenClosedOrRepeated) {
    comm.StopComm();
    comm.StartComm();
    comm.StopComm();
    comm.StopComm();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.GetModemState(), 0u);
    comm.StartComm(); // and it opens again
    EXPECT_TRUE(comm.IsOpen());
}

// A pseudo-terminal forces 8 data bits and no parity on itself; what it keeps is
// checked here, the rest of the mapping below on the termios it would get.
TEST_F(PtyComm, LineSettingsReachTheTerminal) {
    comm.StartComm();
    termios t = slaveSettings();
    EXPECT_EQ(::cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    comm.SetBaudRate(19200);
    comm.SetStopBits(TStopBits::_2);
    comm.SetOutx_XonXoffFlow(true);
    comm.SetOutx_CtsFlow(true);
    comm.SetXonChar(0x01);
    t = slaveSettings();
    EXPECT_EQ(::cfgetospeed(&t), B19200);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_iflag & IXON, 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x01);

    // Linux has no 1.5 stop bits: the whole setting is refused and nothing changes.
    comm.SetStopBits(TStopBits::_1_5);
    comm.SetBaudRate(4800);
    const termios after = slaveSettings();
    EXPECT_NE(after.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(::cfgetospeed(&after), B19200);
    EXPECT_EQ(comm.StopBits(), TStopBits::_1_5) << "the property keeps what was set";

    comm.SetStopBits(TStopBits::_1); // applicable again, with the rate set meanwhile
    EXPECT_EQ(::cfgetospeed(&(t = slaveSettings())), B4800);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
}

TEST(Termios, DataBitsParityAndFlowControlMap) {
    termios t{};
    LineState s;
    s.byteSize = 7;
    s.parity = 2;
    s.parityCheck = true;
    s.inX = true;
    s.rtsControl = 2;
    ASSERT_TRUE(toTermios(s, t));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB));
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_NE(t.c_iflag & IXOFF, 0u);
    EXPECT_EQ(t.c_iflag & IXON, 0u);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

    const std::pair<std::uint8_t, tcflag_t> parities[] = {{0, 0},
                                                          {1, PARENB | PARODD},
                                                          {2, PARENB},
                                                          {3, PARENB | PARODD | CMSPAR},
                                                          {4, PARENB | CMSPAR}};
    for (const auto& [parity, flags] : parities) {
        s.parity = parity;
        ASSERT_TRUE(toTermios(s, t));
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), flags) << "parity " << int(parity);
    }
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        s.byteSize = bits;
        ASSERT_TRUE(toTermios(s, t));
        EXPECT_EQ(t.c_cflag & CSIZE, (std::array<tcflag_t, 4>{CS5, CS6, CS7, CS8}[bits - 5]));
    }
}

TEST(Termios, SettingsLinuxCannotTakeAreRefusedWhole) {
    termios t{};
    t.c_cflag = CS8;
    const termios before = t;
    LineState s;
    for (auto change : std::initializer_list<void (*)(LineState&)>{
             [](LineState& x) { x.stopBits = 1; }, [](LineState& x) { x.byteSize = 9; },
             [](LineState& x) { x.parity = 5; }, [](LineState& x) { x.baudRate = 12345; }}) {
        LineState bad = s;
        change(bad);
        EXPECT_FALSE(toTermios(bad, t));
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0) << "refused settings change nothing";
    }
}

TEST_F(PtyComm, StopEndsABlockedWritePromptlyAndDropsTheRest) {
    comm.StartComm();
    ASSERT_TRUE(pumpUntil([&] { return sendEmpty == 1; }));
    const QByteArray block(65535, 'x');
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(
            comm.WriteCommData(reinterpret_cast<const std::uint8_t*>(block.constData()), 65535));
    }
    // The blocks are going out: far more than the line holds, so the write waits.
    pollfd line{pty.master(), POLLIN, 0};
    ASSERT_EQ(::poll(&line, 1, 5000), 1);
    const auto started = std::chrono::steady_clock::now();
    comm.StopComm();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, 1s);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_LT(pty.drain(0ms).size(), 2 * 65535);
    handlePending();
    EXPECT_EQ(sendEmpty, 1) << "a dropped queue is not reported as drained";
}

TEST_F(PtyComm, DeviceGoneReportsOneHangupAndStopStillReturns) {
    comm.StartComm();
    ASSERT_TRUE(pumpUntil([&] { return sendEmpty == 1; }));
    pty.closeMaster();
    EXPECT_TRUE(pumpUntil([&] { return hangups == 1; }));
    const auto started = std::chrono::steady_clock::now();
    comm.StopComm();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    handlePending();
    EXPECT_EQ(hangups, 1) << "one for both threads";
}

// A user interface that does not look at its notifications for 10,000 writes once
// filled the notice queue with "drained" notices; from then on every write was
// refused, and the hang-up request with them, while the port still counted as open.
TEST_F(PtyComm, TenThousandWritesWithoutPumpingKeepTheTransmitThreadAlive) {
    comm.StartComm();
    auto line = std::make_unique<testing::LineRecorder>(pty.master());
    constexpr int kWrites = 10500;
    for (int i = 0; i < kWrites; ++i) {
        const auto byte = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(comm.WriteCommData(&byte, 1)) << "write " << i;
        // Each byte reaches the line before the next is queued, so each one empties
        // the queue and is followed by a "drained" notice.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (line->size() <= i && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        ASSERT_EQ(line->size(), i + 1) << "write " << i;
    }
    EXPECT_TRUE(pumpUntil([&] { return sendEmpty >= 1; }));
    handlePending();
    EXPECT_EQ(sendEmpty, 1) << "notices that say the same were folded into one";
    const std::uint8_t more = 0x42;
    EXPECT_TRUE(comm.WriteCommData(&more, 1));
    EXPECT_TRUE(pumpUntil([&] { return sendEmpty == 2; }));
    line.reset(); // the recorder reads the master; it goes before the master does
    pty.closeMaster();
    EXPECT_TRUE(pumpUntil([&] { return hangups == 1; }));
}

TEST_F(PtyComm, DestroyingAnOpenComponentStopsItsThreads) {
    auto other = std::make_unique<TComm>();
    testing::Pty second;
    other->SetCommName(second.slavePath());
    other->StartComm();
    other.reset(); // must not hang or leave threads posting to a dead object
    handlePending();
    TComm again;
    again.SetCommName(second.slavePath());
    again.StartComm(); // the device was released
    EXPECT_TRUE(again.IsOpen());
}

TEST(PortNames, ComNamesResolveToSerialDevices) {
    EXPECT_EQ(resolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(resolvePortName("COM15"), "/dev/ttyS14");
    EXPECT_EQ(resolvePortName("com3"), "/dev/ttyS2");
    EXPECT_EQ(resolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(resolvePortName("COM0"), "COM0");
    EXPECT_EQ(resolvePortName("COMX"), "COMX");

    setPortPaths({{"COM3", "/dev/ttyUSB0"}});
    EXPECT_EQ(resolvePortName("COM3"), "/dev/ttyUSB0");
    EXPECT_EQ(resolvePortName("com3"), "/dev/ttyUSB0");
    EXPECT_EQ(resolvePortName("COM4"), "/dev/ttyS3");
    setPortPaths({});
    EXPECT_EQ(resolvePortName("COM3"), "/dev/ttyS2");
}

} // namespace
} // namespace cantavel
