#pragma once

// What the editor says to the unit, and when: live parameter commands, slot uploads,
// and the Device menu's Upload, Upload All, Link and Com Port commands. The link is
// one-way; nothing the unit might send is read.

#include "CommandClock.h"
#include "ConfigRecord.h"
#include "Protocol.h"
#include "RuntimeState.h"

#include <QMap>
#include <QString>
#include <QTimer>

#include <array>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace cantavel {

class TComm;

// What the Device commands need from the main window. Tests implement it without
// any window.
class DeviceCommandHost {
public:
    virtual ~DeviceCommandHost() = default;
    virtual bool isLinkChecked() const = 0;
    virtual void setLinkChecked(bool checked) = 0;
    // The slot (tab index) selected now, -1 when no tab is selected.
    virtual int selectedSlot() const = 0;
    virtual int tabCount() const = 0;
    // Selects a tab without the tab-change handling (Link and the port stay).
    virtual void selectTabQuietly(int slot) = 0;
    virtual void setBusyPointer(bool busy) = 0;
    // A message box: its text, and a detail line (may be empty).
    virtual void showMessage(const QString& text, const QString& detail) = 0;
    // Checks exactly the Com Port item with this tag.
    virtual void checkComPortItem(int tag) = 0;
    // The name of a slot as its tab shows it, for messages.
    virtual QString slotName(int slot) const { return QString::number(slot); }
    // The last running command has ended (however it ended).
    virtual void commandsEnded() {}
    // A slot's upload frame of `length` bytes has left the port for the unit.
    virtual void frameSent(int slot, std::size_t length) {
        (void)slot;
        (void)length;
    }
};

// The unit's line: 9600 baud, 8 data bits, no parity, one stop bit, no flow control
// of any kind, DTR and RTS off. Every Device command opens the port with it; the
// unit answers nothing, so a stray XOFF byte from it must not stop what we send.
void useUnitLine(TComm& comm);

// Tells the serial component which device each name of the settings' [Ports]
// section stands for.
void usePortPaths(const QMap<QString, QString>& paths);

class DeviceLink {
public:
    // How long the unit is given after the port opens, after an upload, and between
    // the frames of Upload All.
    static constexpr std::chrono::milliseconds kOpenSettle{1000};
    static constexpr std::chrono::milliseconds kAfterUpload{200};
    static constexpr std::chrono::milliseconds kUploadAllStep{500};

    // Without a clock the commands wait in the event loop.
    DeviceLink(ConfigRecord& record, RuntimeState& state, TComm& comm, DeviceCommandHost& host,
               CommandClock* clock = nullptr);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Sends one parameter of slot 0 at once, while Link is on and slot 0 is selected.
    void sendLiveParameter(std::uint8_t parameter, std::uint8_t value);
    // The same, paced to what the line carries: a frame waits while the line is
    // busy with those before it, and a newer value of a waiting parameter takes the
    // older one's place (so a value changed back to what the unit heard last sends
    // nothing). For changes that come faster than the line, a blend dragged.
    void queueLiveParameter(std::uint8_t parameter, std::uint8_t value);
    // Frames handed to the port by queueLiveParameter, values it dropped for a newer
    // one of the same parameter, and values waiting now and at most.
    struct LivePacing {
        std::uint64_t sent = 0;
        std::uint64_t coalesced = 0;
        std::size_t waiting = 0;
        std::size_t mostWaiting = 0;
    };
    const LivePacing& livePacing() const { return pacing_; }
    // Hands every waiting value to the port at once, for a unit that is to hold them
    // though "Default" is being left or Link ends.
    void sendWaitingLive();
    // Before the port closes on values the unit must have: the waiting values handed
    // over, then a wait until the frames handed over have left the port, for at most
    // their time on the line and some slack. Only paced values are waited for unless
    // `sentAtOnceToo` (values just put back, sent at once); a live frame of an
    // ordinary edit is left to the port's closing as it always was. Nothing while a
    // command runs.
    void letFramesOut(bool sentAtOnceToo);
    // How long a live frame takes on the line at the port's settings.
    std::chrono::microseconds liveFrameTime() const;
    // Builds and sends the upload frame of the selected slot; for slots 0, 5 and 6
    // the record's mode copy is brought up to date first, and stays so.
    void sendSlotFrame();
    // The same for a given slot; false when the port did not take the frame.
    bool sendSlotFrame(int slot);
    // Returns after `duration`, handling events meanwhile (the window repaints,
    // notifications and menu commands run). Returns false when the wait was cut
    // short by CancelCommands().
    bool waitPumping(std::chrono::milliseconds duration);

    void Upload1Click();
    void Configuator1Click();
    void Link1Click();
    void COM11Click(int tag);
    // The port of the next command by name (a path or a [Ports] name); `tag` is the
    // Com Port item that carries the check mark, 0 for none.
    void choosePort(const QString& name, int tag);

    // Ends every command that is waiting: its waits return at once and it sends
    // nothing more. For New, Open, a lost port and closing the window. Returns the
    // slots those commands had not got to the unit (in slot order): never handed to
    // the port, refused by it, or handed over too recently to have left the line
    // (or found still in the driver's queue).
    // The caller tells the operator (or, when the window closes, nobody).
    std::vector<int> CancelCommands();
    // How many commands are running (waiting) now.
    int runningCommands() const { return static_cast<int>(commands_.size()); }
    // The slots' tab names for a message: "1", "4" and "Mode A".
    QString slotList(const std::vector<int>& which) const;

    const FrameBuffer& txFrame() const { return txFrame_; }
    // Bytes of every frame the port has taken so far.
    std::uint64_t bytesHandedOver() const { return handedOver_; }

private:
    struct Command;
    class RunningCommand;

    // Opens the port for a command; false (and the message shown) when it failed.
    bool openPort();
    void closeUnlessLinked();
    // Gives the port the first `length` bytes of txFrame_; false when it refused.
    bool handOver(std::size_t length);
    // A live frame to the port, noted as what the unit hears and as the line's time.
    bool handOverLive(std::uint8_t parameter, std::uint8_t value);
    // How long `bytes` take on the line at the port's settings.
    std::chrono::microseconds lineTime(std::size_t bytes) const;
    void sendFor(Command& command, int slot);
    bool confirmSent(Command& command);
    void commandEnded(Command& command);
    // Hands waiting live values to the port while the line has room for them, and
    // comes back when it will have more.
    void pace();
    // What the unit heard last is no longer known: a link made or ended, or a slot
    // uploaded.
    void forgetLiveValues();

    ConfigRecord& record_;
    RuntimeState& state_;
    TComm& comm_;
    DeviceCommandHost& host_;
    std::unique_ptr<CommandClock> ownClock_;
    CommandClock& clock_;
    FrameBuffer txFrame_{};
    std::vector<Command*> commands_; // running commands, innermost last
    std::uint64_t handedOver_ = 0;
    unsigned epoch_ = 0; // changed by CancelCommands

    // Paced live values: each parameter waits once, in the order it first waited,
    // with its newest value; the line is taken until `lineFreeAt_`.
    struct Waiting {
        std::uint8_t parameter;
        std::uint8_t value;
    };
    std::vector<Waiting> waiting_;
    std::array<int, 256> heard_{}; // the value last sent per live number, -1 unknown
    std::chrono::steady_clock::time_point lineFreeAt_{};
    std::chrono::steady_clock::time_point pacedUntil_{}; // the last paced frame's end on the line
    std::unique_ptr<QTimer> paceTimer_;
    LivePacing pacing_;
};

} // namespace cantavel
