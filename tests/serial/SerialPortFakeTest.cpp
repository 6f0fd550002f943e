// The serial component over a fake port: line errors, modem events and the calls
// that reach the driver, which a pseudo-terminal cannot show.

#include "CommThreads.h"
#include "DeviceLink.h"
#include "EventPump.h"
#include "FakePort.h"
#include "SerialPort.h"

#include <QMetaProperty>
#include <QVariant>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using testing::FakePort;
using testing::handlePending;
using testing::pumpUntil;

class FakeComm : public ::testing::Test {
protected:
    void SetUp() override {
        comm.SetPortOpener([this](const std::string& name) {
            OpenResult r;
            r.device = name;
            r.port = std::make_unique<FakePort>(shared);
            return r;
        });
        comm.OnReceiveData = [this](QObject*, const std::uint8_t* b, std::uint16_t n) {
            log.push_back("data " + std::string(reinterpret_cast<const char*>(b), n));
        };
        comm.OnReceiveError = [this](QObject* sender, std::uint32_t flags) {
            EXPECT_EQ(sender, &comm);
            log.push_back("error " + std::to_string(flags));
        };
        comm.OnModemStateChange = [this](QObject* sender, std::uint32_t code) {
            EXPECT_EQ(sender, &comm);
            log.push_back("modem " + std::to_string(code));
        };
        comm.OnRequestHangup = [this](QObject*) { log.push_back("hangup"); };
    }

    static std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

    std::size_t stateCalls() {
        const std::lock_guard lock(shared.mutex);
        return shared.states.size();
    }
    LineState lastState() {
        const std::lock_guard lock(shared.mutex);
        return shared.states.back();
    }

    // Feeds a full block, which completes a read at once, and returns once it has been
    // posted (the next read call comes only after that): nothing is delivered meanwhile.
    bool feedBlockAndWaitTillPosted(char fill) {
        FakePort::feed(shared, std::vector<std::uint8_t>(TReadThread::kReadSize,
                                                         static_cast<std::uint8_t>(fill)));
        return waitTill([&] { return posted(); });
    }
    bool posted() {
        const std::lock_guard lock(shared.mutex);
        return shared.inbound.empty() && shared.readCalls > shared.lastTakingCall;
    }
    // Polls cond (not the event loop) for up to 5 s.
    static bool waitTill(const std::function<bool()>& cond) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!cond()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }

    FakePort::Shared shared;
    TComm comm;
    std::vector<std::string> log;
};

TEST_F(FakeComm, FramingErrorIsReportedOnceAndReceptionGoesOn) {
    comm.StartComm();
    FakePort::raise(shared, {0x0008, false, false});
    ASSERT_TRUE(pumpUntil([&] { return log.size() == 1; }));
    FakePort::feed(shared, bytes("after"));
    ASSERT_TRUE(pumpUntil([&] { return log.size() == 2; }));
    comm.StopComm(); // what the threads posted is all there will be
    handlePending();
    EXPECT_EQ(log, (std::vector<std::string>{"error 8", "data after"}));
}

TEST_F(FakeComm, CarrierAndRingTogetherGiveOneEventWithCode12) {
    comm.StartComm();
    FakePort::raise(shared, {0, true, true});
    ASSERT_TRUE(pumpUntil([&] { return !log.empty(); }));
    comm.StopComm();
    handlePending();
    EXPECT_EQ(log, (std::vector<std::string>{"modem 12"}));
}

TEST_F(FakeComm, ErrorComesBeforeAModemEventOfTheSameWait) {
    comm.StartComm();
    FakePort::raise(shared, {0x0002 | 0x0010, true, false});
    ASSERT_TRUE(pumpUntil([&] { return log.size() == 2; }));
    EXPECT_EQ(log, (std::vector<std::string>{"error 18", "modem 8"}));
}

TEST_F(FakeComm, StartAppliesTheUnitLine) {
    comm.SetCommName(QStringLiteral("COM1"));
    useUnitLine(comm);
    EXPECT_EQ(stateCalls(), 0u) << "a closed port is not touched";
    comm.StartComm();

    const LineState s = lastState();
    // No flow control, no parity check, DTR and RTS off.
    EXPECT_EQ(s.dtrControl, 1);
    EXPECT_EQ(s.rtsControl, 1);
    EXPECT_FALSE(s.parityCheck || s.outxCtsFlow || s.outxDsrFlow || s.dsrSensitivity ||
                 s.txContinueOnXoff || s.outX || s.inX || s.errorCharEnabled || s.discardNull);
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.xonLimit, 500);
    EXPECT_EQ(s.xoffLimit, 500);
    EXPECT_EQ(s.xonChar, 0x11);
    EXPECT_EQ(s.xoffChar, 0x13);
    EXPECT_EQ(s.errorChar, 0x00);
    const std::lock_guard lock(shared.mutex);
    EXPECT_EQ(shared.timeouts, (CommTimeouts{100, 0, 0, 0, 0}));
}

TEST_F(FakeComm, ConstructorDefaultsDriveTheLinesAndFlowBothWays) {
    comm.StartComm();
    const LineState s = lastState();
    EXPECT_EQ(s.dtrControl, 0);
    EXPECT_EQ(s.rtsControl, 0);
    EXPECT_TRUE(s.txContinueOnXoff && s.outX && s.inX);
    EXPECT_FALSE(s.parityCheck || s.outxCtsFlow || s.outxDsrFlow || s.dsrSensitivity ||
                 s.errorCharEnabled || s.discardNull);
}

TEST_F(FakeComm, EqualValuesMakeNoPortCallOthersApplyAtOnce) {
    comm.StartComm();
    const std::size_t afterStart = stateCalls();
    comm.SetBaudRate(9600);
    comm.SetParity(TParity::None);
    EXPECT_EQ(stateCalls(), afterStart);
    comm.SetBaudRate(19200);
    EXPECT_EQ(stateCalls(), afterStart + 1);
    EXPECT_EQ(lastState().baudRate, 19200u);

    std::size_t timeoutCalls = 0;
    {
        const std::lock_guard lock(shared.mutex);
        timeoutCalls = shared.timeoutCalls.size();
    }
    comm.SetReadIntervalTimeout(100);
    comm.SetWriteTotalTimeoutConstant(7);
    const std::lock_guard lock(shared.mutex);
    EXPECT_EQ(shared.timeoutCalls.size(), timeoutCalls + 1);
    EXPECT_EQ(shared.timeouts.writeTotalConstant, 7u);
}

TEST_F(FakeComm, CommNameTakesEffectAtTheNextStart) {
    std::vector<std::string> opened;
    comm.SetPortOpener([&](const std::string& name) {
        opened.push_back(name);
        OpenResult r;
        r.port = std::make_unique<FakePort>(shared);
        return r;
    });
    comm.SetCommName(QStringLiteral("COM3"));
    comm.StartComm();
    comm.SetCommName(QStringLiteral("COM4"));
    comm.StopComm();
    comm.StartComm();
    EXPECT_EQ(opened, (std::vector<std::string>{"COM3", "COM4"}));
}

TEST_F(FakeComm, NotificationsPostedBeforeStopAreDeliveredAfterIt) {
    int empties = 0;
    comm.OnSendDataEmpty = [&](QObject*) { ++empties; };
    comm.StartComm();
    ASSERT_TRUE(feedBlockAndWaitTillPosted('x'));
    comm.StopComm();
    EXPECT_TRUE(log.empty()) << "nothing is delivered before the loop runs";
    ASSERT_TRUE(pumpUntil([&] { return log.size() == 1 && empties == 1; }));
    EXPECT_EQ(log[0].size(), std::string("data ").size() + 2048);
}

// A handler that throws (the application's notify() catches it) once left every
// later notification undelivered, a hang-up among them, until some new one came.
TEST_F(FakeComm, AThrowingHandlerLeavesTheRestQueuedAndDelivered) {
    int calls = 0;
    comm.OnReceiveData = [&](QObject*, const std::uint8_t* b, std::uint16_t n) {
        if (++calls == 1) {
            throw std::runtime_error("a handler fails");
        }
        log.push_back("data " + std::to_string(n) + " x " + std::string(1, char(b[0])));
    };
    comm.StartComm();
    // Two blocks, each a notification of its own, then the line goes; nothing is
    // delivered meanwhile, so all three wait in the queue.
    ASSERT_TRUE(feedBlockAndWaitTillPosted('a'));
    ASSERT_TRUE(feedBlockAndWaitTillPosted('b'));
    FakePort::hangUp(shared);
    ASSERT_TRUE(waitTill([&] { return shared.readPurges == 1; })) << "the hang-up was posted";

    EXPECT_TRUE(pumpUntil([&] { return log.size() == 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(log, (std::vector<std::string>{"data 2048 x b", "hangup"}));
}

// When the user interface falls 10,000 notifications behind, the receive thread's
// next one is refused and the thread ends; the hang-up it asks for must get through.
TEST_F(FakeComm, HangupGetsThroughAFullNotificationQueue) {
    int blocks = 0;
    comm.OnReceiveData = [&](QObject*, const std::uint8_t*, std::uint16_t) {
        log.push_back("data " + std::to_string(++blocks));
    };
    int empties = 0;
    comm.OnSendDataEmpty = [&](QObject*) { ++empties; };
    comm.StartComm();
    ASSERT_TRUE(pumpUntil([&] { return empties == 1; })); // the queue is empty now
    const std::vector<std::uint8_t> block(TReadThread::kReadSize, 'x');
    // One notification per block, none delivered meanwhile.
    int fed = 0;
    for (; fed < 10002 && shared.readPurges == 0; ++fed) {
        FakePort::feed(shared, block);
        ASSERT_TRUE(waitTill([&] { return posted() || shared.readPurges != 0; }));
    }
    ASSERT_EQ(shared.readPurges, 1) << "the receive thread has ended";
    EXPECT_EQ(fed, 10001) << "the block after 10,000 waiting ones was refused";
    ASSERT_TRUE(pumpUntil([&] { return !log.empty() && log.back() == "hangup"; }, 20s));
    EXPECT_EQ(blocks, 10000);
    EXPECT_EQ(std::count(log.begin(), log.end(), "hangup"), 1);
}

TEST_F(FakeComm, ReadEndingWithNothingEndsReceptionQuietlyWhileSendingGoesOn) {
    comm.SetReadTotalTimeoutConstant(50); // a read gives up after 50 ms
    comm.StartComm();
    ASSERT_TRUE(waitTill([&] { return shared.readPurges == 1; })) << "the receive thread ends";
    handlePending();
    EXPECT_TRUE(log.empty()) << "no hang-up for a read that found nothing";
    FakePort::feed(shared, bytes("late"));

    const std::uint8_t frame[] = {0x26, 0x01, 0x02};
    EXPECT_TRUE(comm.WriteCommData(frame, 3));
    ASSERT_TRUE(pumpUntil([&] {
        const std::lock_guard lock(shared.mutex);
        return shared.written.size() == 3;
    }));
    handlePending();
    EXPECT_TRUE(log.empty()) << "nothing more is read";
}

TEST_F(FakeComm, OpenFailuresCloseWhatTheyOpened) {
    shared.characterDevice = false;
    EXPECT_THROW(comm.StartComm(), ECommsError);
    EXPECT_FALSE(comm.IsOpen());
    shared.characterDevice = true;
    shared.buffersWork = false;
    try {
        comm.StartComm();
        FAIL();
    } catch (const ECommsError& e) {
        EXPECT_STREQ(e.what(), "Cannot setup comm buffer");
    }
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(stateCalls(), 0u) << "settings are applied only to a port that opened";
}

TEST_F(FakeComm, ModemStateIsReadOnlyWhileOpen) {
    EXPECT_EQ(comm.GetModemState(), 0u);
    comm.StartComm();
    EXPECT_EQ(comm.GetModemState(), 0x30u);
}

TEST(TCommProperties, PublishedInOrderWithTheirDefaults) {
    const TComm comm;
    const QMetaObject* meta = comm.metaObject();
    const std::vector<std::pair<const char*, QVariant>> expected = {
        {"CommName", QStringLiteral("COM2")},
        {"BaudRate", 9600u},
        {"ParityCheck", false},
        {"Outx_CtsFlow", false},
        {"Outx_DsrFlow", false},
        {"DtrControl", QVariant::fromValue(TDtrControl::DtrEnable)},
        {"DsrSensitivity", false},
        {"TxContinueOnXoff", true},
        {"Outx_XonXoffFlow", true},
        {"Inx_XonXoffFlow", true},
        {"ReplaceWhenParityError", false},
        {"IgnoreNullChar", false},
        {"RtsControl", QVariant::fromValue(TRtsControl::RtsEnable)},
        {"XonLimit", QVariant::fromValue<quint16>(500)},
        {"XoffLimit", QVariant::fromValue<quint16>(500)},
        {"ByteSize", QVariant::fromValue(TByteSize::_8)},
        {"Parity", QVariant::fromValue(TParity::None)},
        {"StopBits", QVariant::fromValue(TStopBits::_1)},
        {"XonChar", QVariant::fromValue<char>(0x11)},
        {"XoffChar", QVariant::fromValue<char>(0x13)},
        {"ReplacedChar", QVariant::fromValue<char>(0)},
        {"ReadIntervalTimeout", 100u},
        {"ReadTotalTimeoutMultiplier", 0u},
        {"ReadTotalTimeoutConstant", 0u},
        {"WriteTotalTimeoutMultiplier", 0u},
        {"WriteTotalTimeoutConstant", 0u},
    };
    ASSERT_EQ(meta->propertyCount() - meta->propertyOffset(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const QMetaProperty p = meta->property(meta->propertyOffset() + static_cast<int>(i));
        EXPECT_STREQ(p.name(), expected[i].first);
        EXPECT_EQ(p.read(&comm), expected[i].second) << expected[i].first;
    }
    // Enumeration ordinals are what the properties store.
    EXPECT_EQ(static_cast<int>(TRtsControl::RtsTransmissionAvailable), 3);
    EXPECT_EQ(static_cast<int>(TParity::Space), 4);
    EXPECT_EQ(static_cast<int>(TStopBits::_2), 2);
    EXPECT_EQ(static_cast<int>(TByteSize::_5), 0);
    EXPECT_EQ(static_cast<int>(TDtrControl::DtrHandshake), 2);
}

} // namespace
} // namespace cantavel
