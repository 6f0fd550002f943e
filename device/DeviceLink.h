#pragma once

// What the editor says to the unit, and when: live parameter commands, slot uploads,
// and the Device menu's Upload, Upload All, Link and Com Port commands. The link is
// one-way; nothing the unit might send is read.

#include "ConfigRecord.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

class QEventLoop;

namespace cantavel {

class TComm;

// Command bytes of the three frame kinds.
inline constexpr std::uint8_t kLiveCommand = 0x26;  // 3 bytes
inline constexpr std::uint8_t kPresetUpload = 0x25; // 19 bytes
inline constexpr std::uint8_t kModeUpload = 0x3A;   // 27 bytes
inline constexpr std::size_t kLiveFrameSize = 3;
inline constexpr std::size_t kPresetFrameSize = 2 + kEffectPresetSize;
inline constexpr std::size_t kModeFrameSize = 2 + kModeRecordSize;

// The unit's own number for a slot: 6, 0, 1, 2, 3, 4, 5 for slots 0 to 6.
std::uint8_t deviceIndex(int slot);
// The slot a device index stands for, given the frame kind; -1 when none.
int slotForDeviceIndex(std::uint8_t command, std::uint8_t index);
// Whether a slot is sent as a mode record (0, 5, 6) or as an effect preset (1 to 4).
bool isModeSlot(int slot);

// Numbers that name one parameter in a live command.
enum LiveParameter : std::uint8_t {
    LiveEchoDelay = 0,
    LiveEchoRepeat = 1,
    LiveEchoLevel = 2,
    LiveReverbTime = 3,
    LiveReverbLevel = 4,
    LiveMicBass = 5,
    LiveMicMiddle = 6,
    LiveMicTreble = 7,
    LiveFbEx = 8,
    LiveMusicBass = 9,
    LiveMusicMiddle = 10,
    LiveMusicTreble = 11,
    LiveMusicBalance = 12,
    LiveCenter = 13,
    LiveAux = 14,
    LiveMusicIn = 15,
    LiveSwFreq = 16,
    LiveSwVol1 = 17,
    LiveMusicVolume = 19,
    LiveMicVolume = 20,
    LiveEffectVolume = 21,
    LiveInputSource = 26,
    LiveKeyIndex = 27,
    LiveMusicVolMax = 48,
    LiveMicVolMax = 49,
    LiveSwVol2 = 50,
};

// One row of the live parameter table: which field of slot 0 a number stands for.
struct LiveParameterInfo {
    std::uint8_t number;
    const char* field; // the field's name in the record
    bool inModeRecord; // modes[0] rather than presets[0]
    std::uint8_t minValue;
    std::uint8_t maxValue;
};
const std::vector<LiveParameterInfo>& liveParameterTable();
const LiveParameterInfo* findLiveParameter(std::uint8_t number);

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
};

class DeviceLink {
public:
    static constexpr std::uint32_t kOpenSettleMs = 1000;
    static constexpr std::uint32_t kAfterUploadMs = 200;
    static constexpr std::uint32_t kUploadAllStepMs = 500;

    DeviceLink(ConfigRecord& record, RuntimeState& state, TComm& comm, DeviceCommandHost& host);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Sends one parameter of slot 0 at once, while Link is on and slot 0 is selected.
    void sendLiveParameter(std::uint8_t parameter, std::uint8_t value);
    // Builds and sends the upload frame of the selected slot; for slots 0, 5 and 6
    // the record's mode copy is brought up to date first, and stays so.
    void sendSlotFrame();
    // The same for a given slot; false when the port did not take the frame.
    bool sendSlotFrame(int slot);
    // Returns after ms milliseconds, handling events meanwhile (the window repaints,
    // notifications and menu commands run). Sleeps in the event loop. Returns false
    // when the wait was cut short by CancelCommands().
    bool waitPumping(std::uint32_t ms);

    void Upload1Click();
    void Configuator1Click();
    void Link1Click();
    void COM11Click(int tag);

    // Ends every command that is waiting: its waits return at once and it sends
    // nothing more. For New, Open, a lost port and closing the window. Returns the
    // slots those commands had not got to the unit (in slot order): never handed to
    // the port, refused by it, or handed over too recently to have left the line.
    // The caller tells the operator (or, when the window closes, nobody).
    std::vector<int> CancelCommands();
    // How many commands are running (waiting) now.
    int runningCommands() const { return static_cast<int>(commands_.size()); }
    // The slots' tab names for a message: "1", "4" and "Mode A".
    QString slotList(const std::vector<int>& which) const;

    const std::array<std::uint8_t, kModeFrameSize>& txFrame() const { return txFrame_; }

    // Elapsed milliseconds on a free-running 32-bit clock, wrap included.
    static std::uint32_t elapsedMs(std::uint32_t start, std::uint32_t now) { return now - start; }
    static std::uint32_t millisecondClock();

private:
    struct Command;
    class RunningCommand;

    // Opens the port for a command; false (and the message shown) when it failed.
    bool openPort();
    void closeUnlessLinked();
    void sendFor(Command& command, int slot);
    void commandEnded(Command& command);

    ConfigRecord& record_;
    RuntimeState& state_;
    TComm& comm_;
    DeviceCommandHost& host_;
    std::array<std::uint8_t, kModeFrameSize> txFrame_{};
    std::vector<QEventLoop*> waits_; // nested waits, innermost last
    std::vector<Command*> commands_; // running commands, innermost last
    unsigned epoch_ = 0;             // changed by CancelCommands
};

} // namespace cantavel
