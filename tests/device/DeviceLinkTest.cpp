// The Device commands and the frames they put on a real pseudo-terminal, driven
// through the command host interface with no window.

#include "DeviceLink.h"
#include "CommPort.h"
#include "EventPump.h"
#include "FakeClock.h"
#include "FakePort.h"
#include "LineRecorder.h"
#include "Pty.h"
#include "SerialPort.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

struct FakeHost : DeviceCommandHost {
    bool link = false;
    int slot = 0;
    std::vector<int> quietSelections;
    std::vector<bool> busyChanges;
    std::vector<std::pair<QString, QString>> messages;
    int checkedTag = 1;

    bool isLinkChecked() const override { return link; }
    void setLinkChecked(bool checked) override { link = checked; }
    int selectedSlot() const override { return slot; }
    int tabCount() const override { return kSlotCount; }
    void selectTabQuietly(int s) override {
        slot = s;
        quietSelections.push_back(s);
        if (onSelect) {
            onSelect();
        }
    }
    std::function<void()> onSelect;
    void setBusyPointer(bool busy) override { busyChanges.push_back(busy); }
    void showMessage(const QString& text, const QString& detail) override {
        messages.emplace_back(text, detail);
    }
    void checkComPortItem(int tag) override { checkedTag = tag; }
    void frameSent(int s, std::size_t) override { sent.push_back(s); }
    std::vector<int> sent; // slots whose frame was seen leave the port
};

class DeviceLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.valid());
        record.resetToDefaults(); // as after New
        state.comPortName = pty.slavePath();
        comm.SetCommName(QStringLiteral("COM1"));
        useUnitLine(comm);
        comm.SetPortOpener([this](const std::string& name) {
            ++opens;
            handedOverAtOpen = link.bytesHandedOver();
            lineAtOpen = line.size();
            return openCommPort(name);
        });
        // Each wait lets the frames handed over since the port opened reach the line.
        clock.settle = [this] {
            const auto target =
                lineAtOpen + static_cast<qsizetype>(link.bytesHandedOver() - handedOverAtOpen);
            testing::pumpUntil([&] { return line.size() >= target || !comm.IsOpen(); });
        };
        host.onSelect = [this] { selectedAt.push_back(clock.elapsed()); };
    }

    // Opens the port as Link would, without its upload.
    void linkUp() {
        host.link = true;
        comm.SetCommName(state.comPortName);
        comm.StartComm();
    }

    // What arrived at the master once n bytes are there (or after 5 s).
    QByteArray waitBytes(qsizetype n) {
        testing::pumpUntil([&] { return line.bytes().size() >= n; });
        return line.bytes();
    }

    testing::Pty pty;
    testing::LineRecorder line{pty.master()};
    ConfigRecord record;
    RuntimeState state;
    TComm comm;
    FakeHost host;
    testing::FakeClock clock;
    DeviceLink link{record, state, comm, host, &clock};
    int opens = 0;
    std::uint64_t handedOverAtOpen = 0;
    qsizetype lineAtOpen = 0;
    std::vector<std::chrono::milliseconds> selectedAt; // when each slot was selected
};

TEST_F(DeviceLinkTest, LiveCommandsGoOutOnlyWithLinkOnSlotZero) {
    link.sendLiveParameter(0, 100); // Link off: nothing, not even an open
    linkUp();
    host.slot = 5;
    link.sendLiveParameter(0, 100); // Mode A: stored, never sent
    host.slot = 0;
    link.sendLiveParameter(0, 100);
    record.mode(0).byte2 = 0x20;
    record.mode(0).setCenter(1);
    link.sendLiveParameter(13, record.mode(0).center());
    ASSERT_EQ(waitBytes(6), hex("26 00 64 26 0D 01"));
    EXPECT_EQ(comm.BytesQueued(), 6u) << "nothing more went to the port";
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(host.link);
}

TEST_F(DeviceLinkTest, UploadOfSlotOneRightAfterNewOpensWaitsSendsAndCloses) {
    host.slot = 1;
    link.Upload1Click();
    EXPECT_EQ(line.bytes(), hex("25 00 55 00 05 0A 0A 0A 0A B4 28 28 14 05 0A 0A 0A 64 37"));
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
    // 1000 ms after opening the frame goes out, 200 ms later the port closes.
    EXPECT_EQ(clock.waits, (std::vector{1000ms, 200ms}));
}

// The one test of the pacing in real time; the bounds are loose, for busy machines.
TEST(DeviceLinkPacing, UploadWaitsForThePortThenSendsThenCloses) {
    testing::Pty pty;
    ASSERT_TRUE(pty.valid());
    testing::LineRecorder line{pty.master()};
    ConfigRecord record;
    record.resetToDefaults();
    RuntimeState state;
    state.comPortName = pty.slavePath();
    TComm comm;
    useUnitLine(comm);
    FakeHost host;
    host.slot = 1;
    DeviceLink link(record, state, comm, host);
    const auto started = Clock::now();
    link.Upload1Click();
    const auto ended = Clock::now();
    ASSERT_EQ(line.size(), 19);
    const double sentAfter = msBetween(started, line.arrivalOf(0));
    EXPECT_GE(sentAfter, 990);
    EXPECT_LT(sentAfter, 4000);
    EXPECT_GE(msBetween(started, ended), 1190);
    EXPECT_LT(msBetween(started, ended), 6000);
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(DeviceLinkTest, UploadOfSlotZeroSendsTheSyncedModeRecordAndKeepsIt) {
    linkUp();
    link.Upload1Click();
    const QByteArray expected = hex("3A 06 55 04 20 05 64 14 19 3A 19 23 0A 0A 0A 0A B4 28 28 14 "
                                    "05 0A 0A 0A 64 32 37");
    EXPECT_EQ(waitBytes(27), expected);
    const auto* mode = reinterpret_cast<const char*>(&record.mode(0));
    EXPECT_EQ(QByteArray(mode, 25), expected.mid(2)) << "the copies stay in the record";
    EXPECT_TRUE(comm.IsOpen()) << "with Link on the port stays open";
}

TEST_F(DeviceLinkTest, EachSlotGoesWithItsCommandAndDeviceIndex) {
    linkUp();
    record.preset(4).echoDelay = 99;
    record.mode(6).swVol2 = 77;
    record.mode(5).marker = 0x42; // a foreign marker is sent as it stands
    const struct {
        int slot;
        const char* head;
        qsizetype length;
    } cases[] = {{6, "3A 05", 27}, {4, "25 03", 19}, {5, "3A 04", 27}, {2, "25 01", 19}};
    qsizetype offset = 0;
    for (const auto& c : cases) {
        host.slot = c.slot;
        link.sendSlotFrame();
        const QByteArray frame = waitBytes(offset + c.length).mid(offset);
        offset += c.length;
        ASSERT_EQ(frame.size(), c.length) << "slot " << c.slot;
        EXPECT_EQ(frame.left(2), hex(c.head)) << "slot " << c.slot;
        if (c.slot == 4) {
            EXPECT_EQ(frame.mid(2),
                      QByteArray(reinterpret_cast<const char*>(&record.preset(4)), 17));
        }
        if (c.slot == 6) {
            EXPECT_EQ(static_cast<std::uint8_t>(frame[2 + 23]), 77);
        }
        if (c.slot == 5) {
            EXPECT_EQ(static_cast<std::uint8_t>(frame[2]), 0x42);
        }
    }
    host.slot = -1; // no tab selected: nothing
    link.sendSlotFrame();
    EXPECT_EQ(comm.BytesQueued(), static_cast<std::uint64_t>(offset));
}

TEST_F(DeviceLinkTest, UploadAllWithLinkOffSendsSevenFramesHalfASecondApart) {
    host.slot = 2;
    link.Configuator1Click();

    const QByteArray sent = line.bytes();
    ASSERT_EQ(sent.size(), 157);
    const std::vector<std::pair<qsizetype, const char*>> frames = {
        {0, "3A 06"},  {27, "25 00"},  {46, "25 01"}, {65, "25 02"},
        {84, "25 03"}, {103, "3A 04"}, {130, "3A 05"}};
    for (const auto& [offset, head] : frames) {
        EXPECT_EQ(sent.mid(offset, 2), hex(head)) << "frame at " << offset;
    }
    // Half a second after opening, then one slot every half second, then half a
    // second for the last.
    EXPECT_EQ(clock.waits, std::vector<std::chrono::milliseconds>(9, 500ms));
    EXPECT_EQ(selectedAt, (std::vector{500ms, 1000ms, 1500ms, 2000ms, 2500ms, 3000ms, 3500ms}));
    EXPECT_EQ(opens, 1);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(host.slot, 6) << "Mode B stays selected";
    EXPECT_EQ(host.quietSelections, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(DeviceLinkTest, UploadAllWithLinkOnKeepsThePortAndLink) {
    linkUp();
    link.Configuator1Click();
    EXPECT_EQ(line.bytes().size(), 157);
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_TRUE(host.link);
    EXPECT_EQ(opens, 1);
}

TEST_F(DeviceLinkTest, LinkOnOpensAndUploadsDefaultLinkOffCloses) {
    host.slot = 3;
    link.Link1Click();
    EXPECT_TRUE(host.link);
    EXPECT_EQ(host.slot, 0);
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(waitBytes(27).left(2), hex("3A 06"));
    link.Link1Click();
    EXPECT_FALSE(host.link);
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(DeviceLinkTest, LinkOnWithAPortThatCannotOpenShowsOneMessageAndUnchecks) {
    state.comPortName = QStringLiteral("/dev/cantavel-missing-port");
    link.Link1Click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, QStringLiteral("Open serial port failure!"));
    EXPECT_TRUE(host.messages[0].second.contains(QStringLiteral("/dev/cantavel-missing-port")));
    EXPECT_TRUE(host.messages[0].second.contains(QStringLiteral("No such file")));
    EXPECT_FALSE(host.link);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(line.bytes().isEmpty());
}

TEST_F(DeviceLinkTest, UploadWithAPortThatCannotOpenShowsOneMessageAndRestoresThePointer) {
    state.comPortName = QStringLiteral("COM15"); // /dev/ttyS14: missing or not a real port here
    link.Upload1Click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, QStringLiteral("Open serial port failure!"));
    EXPECT_TRUE(host.messages[0].second.startsWith(QStringLiteral("COM15 (/dev/ttyS14): ")))
        << host.messages[0].second.toStdString();
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(line.bytes().isEmpty());
}

TEST_F(DeviceLinkTest, UploadWhileAnotherProgramHoldsThePortFails) {
    TComm other;
    other.SetCommName(pty.slavePath());
    other.StartComm();
    link.Upload1Click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].second.contains(QStringLiteral("Another program")));
}

TEST_F(DeviceLinkTest, ChoosingCom12LeavesAnOpenPortAlone) {
    linkUp();
    link.COM11Click(12);
    EXPECT_EQ(state.comPortName, QStringLiteral("COM12"));
    EXPECT_EQ(state.comPortNumber, 12);
    EXPECT_EQ(host.checkedTag, 12);
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(comm.CommName(), pty.slavePath()) << "the new name counts from the next open";
}

TEST_F(DeviceLinkTest, CancelledUploadAllEndsAtOnceAndSendsNothingMore) {
    // What New does in the middle of Upload All: cancel the command, stop the port.
    std::vector<int> unsent;
    clock.at(1200ms, [&] {
        unsent = link.CancelCommands();
        comm.StopComm();
    });
    link.Configuator1Click();
    EXPECT_EQ(clock.elapsed(), 1200ms) << "no wait after the cancel";
    const qsizetype sent = line.bytes().size();
    EXPECT_EQ(sent, 27 + 19) << "two frames went out before the cancel";
    EXPECT_EQ(unsent, (std::vector<int>{2, 3, 4, 5, 6}));
    EXPECT_TRUE(host.messages.empty()) << "the one who cancels tells the operator";
    EXPECT_EQ(host.busyChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(link.runningCommands(), 0);
    EXPECT_EQ(comm.BytesQueued(), static_cast<std::uint64_t>(sent)) << "nothing more queued";
}

// A frame handed over just before a cancel may still be in the driver's queue,
// which stopping the port throws away: it counts as not arrived until its time on
// the line (19 bytes at 9600 baud, about 20 ms) and some slack have passed.
TEST_F(DeviceLinkTest, AFrameCancelledWithinItsLineTimeCountsAsUnsent) {
    for (const auto& [at, unsent] : {std::pair{1010ms, std::vector<int>{1, 2, 3, 4, 5, 6}},
                                     std::pair{1200ms, std::vector<int>{2, 3, 4, 5, 6}}}) {
        testing::FakeClock local;
        DeviceLink cancelled(record, state, comm, host, &local);
        std::vector<int> got;
        local.at(at, [&] { got = cancelled.CancelCommands(); });
        cancelled.Configuator1Click();
        EXPECT_EQ(got, unsent) << "cancelled at " << at.count() << " ms";
    }
}

// A frame the port does not take (here: Link is on but the port is not open, as
// after its transmit thread has ended) is reported by the command at its end,
// rather than the command ending as if all went well.
TEST_F(DeviceLinkTest, FramesThePortRefusesAreReportedAtTheEnd) {
    host.link = true;
    host.slot = 2;
    link.Upload1Click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, QStringLiteral("Not every slot reached the unit."));
    EXPECT_EQ(host.messages[0].second,
              QStringLiteral("The serial port did not take the frames of \"2\"."));
}

// Whatever the component was set to before, each command opens the port with the
// unit's line: checked on the pty while the port is open, and proved by an XOFF
// from the unit's side that stops nothing.
TEST_F(DeviceLinkTest, EveryCommandOpensTheUnitsLineAndAnXoffStopsNothing) {
    const struct {
        const char* name;
        std::function<void(DeviceLink&)> run;
        qsizetype bytes;
        std::vector<int> sent;
    } commands[] = {
        {"Upload", [](DeviceLink& l) { l.Upload1Click(); }, 19, {1}},
        {"Upload All", [](DeviceLink& l) { l.Configuator1Click(); }, 157, {0, 1, 2, 3, 4, 5, 6}},
        {"Link", [](DeviceLink& l) { l.Link1Click(); }, 27, {0}},
    };
    for (const auto& c : commands) {
        // The component's own defaults: XON/XOFF both ways, DTR and RTS on.
        TComm fresh;
        comm.SetBaudRate(fresh.BaudRate() == 9600 ? 19200 : fresh.BaudRate());
        comm.SetOutx_XonXoffFlow(fresh.Outx_XonXoffFlow());
        comm.SetInx_XonXoffFlow(fresh.Inx_XonXoffFlow());
        comm.SetTxContinueOnXoff(fresh.TxContinueOnXoff());
        comm.SetParity(TParity::Even);
        comm.SetStopBits(TStopBits::_2);
        comm.SetOutx_CtsFlow(true);
        host = {};
        host.slot = 1;
        QString mismatch = QStringLiteral("never looked");
        clock.after(100ms, [&] {
            mismatch = pty.unitLineMismatch();
            ASSERT_TRUE(pty.write(QByteArray(1, '\x13')));
        });
        const qsizetype before = line.size();
        c.run(link);
        EXPECT_EQ(mismatch.toStdString(), "") << c.name;
        EXPECT_EQ(waitBytes(before + c.bytes).size() - before, c.bytes) << c.name;
        EXPECT_EQ(host.sent, c.sent) << c.name;
        EXPECT_TRUE(host.messages.empty()) << c.name;
        if (host.link) {
            EXPECT_EQ(pty.unitLineMismatch().toStdString(), "") << c.name << ": Link keeps it";
            link.Link1Click();
        }
        ASSERT_FALSE(comm.IsOpen()) << c.name;
    }
}

// A frame the port's write took but the driver still holds when its time on the
// line is long past has not reached the unit: the command stops there and names it
// and the slots it did not send.
// A pseudo-terminal never holds anything, so a fake port holds it here.
TEST(DeviceLinkDriverQueue, FramesTheDriverStillHoldsAreNotCountedAsSent) {
    for (const std::size_t held : {std::size_t{0}, std::size_t{5}}) {
        testing::FakePort::Shared shared;
        shared.driverQueue = held;
        TComm comm;
        comm.SetPortOpener([&](const std::string& name) {
            OpenResult r;
            r.port = std::make_unique<testing::FakePort>(shared);
            r.device = name;
            return r;
        });
        ConfigRecord record;
        record.resetToDefaults();
        RuntimeState state;
        state.comPortName = QStringLiteral("COM1");
        FakeHost host;
        testing::FakeClock clock;
        DeviceLink link(record, state, comm, host, &clock);
        link.Configuator1Click();
        {
            // A frame held stops the command: the next would follow without its pause.
            const std::lock_guard lock(shared.mutex);
            EXPECT_EQ(shared.written.size(), held == 0 ? 157u : 27u);
        }
        EXPECT_FALSE(comm.IsOpen()) << "closing drops what the driver holds";
        if (held == 0) {
            EXPECT_EQ(host.sent, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
            EXPECT_TRUE(host.messages.empty());
            continue;
        }
        EXPECT_TRUE(host.sent.empty());
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].first, QStringLiteral("Not every slot reached the unit."));
        EXPECT_EQ(host.messages[0].second,
                  QStringLiteral("The frames of \"0\" did not leave the serial port. \"1\", \"2\", "
                                 "\"3\", \"4\", \"5\" and \"6\" were not sent."));
    }
}

TEST(EventLoopWait, HandlesEventsWhileItWaitsAndEndsWhenInterrupted) {
    EventLoopClock clock;
    bool fired = false;
    QTimer::singleShot(50, [&] { fired = true; });
    const auto started = Clock::now();
    EXPECT_TRUE(clock.wait(200ms));
    const double took = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    EXPECT_TRUE(fired);
    EXPECT_GE(took, 199);
    EXPECT_LT(took, 2000);

    // A wait inside a wait: one interruption ends both.
    bool innerWhole = true;
    QTimer::singleShot(20, [&] {
        QTimer::singleShot(20, [&] { clock.interrupt(); });
        innerWhole = clock.wait(5000ms);
    });
    EXPECT_FALSE(clock.wait(5000ms));
    EXPECT_FALSE(innerWhole);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 4.0);
}

// Paced live values, given far faster than the line carries them: they leave no
// faster than one frame per frame time (after the one allowed ahead), the newest
// value of each parameter last; a value sent at once is never followed by an older
// one still waiting; and Link ended leaves nothing waiting to go out.
TEST_F(DeviceLinkTest, PacedLiveValuesKeepToTheLineAndTheNewestOfEachWins) {
    linkUp();
    const auto start = std::chrono::steady_clock::now();
    for (int value = 0; value < 200; ++value) {
        for (std::uint8_t parameter = 0; parameter < 5; ++parameter) {
            link.queueLiveParameter(parameter, static_cast<std::uint8_t>(value));
        }
    }
    link.sendLiveParameter(3, 250); // at once: the waiting 199 of parameter 3 is older
    ASSERT_TRUE(testing::pumpUntil([&] { return link.livePacing().waiting == 0; }));
    const QByteArray bytes = waitBytes(static_cast<qsizetype>(link.bytesHandedOver()));
    ASSERT_EQ(bytes.size() % 3, 0);
    const qsizetype frames = bytes.size() / 3;
    std::array<int, 5> last{-1, -1, -1, -1, -1};
    for (qsizetype i = 0; i < frames; ++i) {
        last[static_cast<std::uint8_t>(bytes[i * 3 + 1])] =
            static_cast<std::uint8_t>(bytes[i * 3 + 2]);
    }
    EXPECT_EQ(last, (std::array<int, 5>{199, 199, 199, 250, 199}));
    EXPECT_LT(frames, 1000 / 4) << "most values gave way to newer ones";
    EXPECT_GT(link.livePacing().coalesced, 0u);
    const auto took = line.arrivalOf(bytes.size() - 1) - start;
    EXPECT_GE(took, link.liveFrameTime() * (frames - 3)) << frames << " frames";

    for (int value = 0; value < 50; ++value) {
        link.queueLiveParameter(1, static_cast<std::uint8_t>(value));
        link.queueLiveParameter(2, static_cast<std::uint8_t>(value));
    }
    host.link = false;
    comm.StopComm();
    testing::pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(link.livePacing().waiting, 0u);
}

} // namespace
} // namespace cantavel
