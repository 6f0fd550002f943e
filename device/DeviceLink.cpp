#include "DeviceLink.h"

#include "CommPort.h"
#include "Elide.h"
#include "Serialcomm.h"

#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace cantavel {

namespace {

const QString kOpenFailure = QStringLiteral("Open serial port failure!");

// The busy pointer over the tab strip for as long as a command runs, whichever way
// it ends.
class BusyPointer {
public:
    explicit BusyPointer(DeviceCommandHost& host) : host_(host) { host_.setBusyPointer(true); }
    ~BusyPointer() { host_.setBusyPointer(false); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    DeviceCommandHost& host_;
};

QString openFailureDetail(const QString& portName, const std::exception& e) {
    const auto* comms = dynamic_cast<const ECommsError*>(&e);
    QString where = elideMiddle(portName);
    if (comms && !comms->device().empty() && QString::fromStdString(comms->device()) != portName) {
        where += QStringLiteral(" (%1)").arg(elideMiddle(QString::fromStdString(comms->device())));
    }
    const std::string reason =
        comms && !comms->systemReason().empty() ? comms->systemReason() : std::string(e.what());
    QString detail = QStringLiteral("%1: %2").arg(where, QString::fromStdString(reason));
    if (comms && comms->systemReason() == systemErrorText(EACCES)) {
        detail += QStringLiteral("\nYour user must be allowed to use serial devices "
                                 "(on Debian, a member of the group \"dialout\").");
    } else if (comms && comms->systemReason() == systemErrorText(EBUSY)) {
        detail += QStringLiteral("\nAnother program is using this port.");
    }
    return detail;
}

} // namespace

std::uint8_t deviceIndex(int slot) {
    static constexpr std::array<std::uint8_t, kSlotCount> kIndex{6, 0, 1, 2, 3, 4, 5};
    return kIndex.at(static_cast<std::size_t>(slot));
}

bool isModeSlot(int slot) {
    return slot == 0 || slot == 5 || slot == 6;
}

int slotForDeviceIndex(std::uint8_t command, std::uint8_t index) {
    if (command == kPresetUpload && index <= 3) {
        return index + 1;
    }
    if (command == kModeUpload) {
        switch (index) {
        case 6:
            return 0;
        case 4:
            return 5;
        case 5:
            return 6;
        default:
            return -1;
        }
    }
    return -1;
}

const std::vector<LiveParameterInfo>& liveParameterTable() {
    static const std::vector<LiveParameterInfo> table = {
        {LiveEchoDelay, "echoDelay", false, 2, 247},
        {LiveEchoRepeat, "echoRepeat", false, 0, 80},
        {LiveEchoLevel, "echoLevel", false, 0, 80},
        {LiveReverbTime, "reverbTime", false, 0, 80},
        {LiveReverbLevel, "reverbLevel", false, 0, 80},
        {LiveMicBass, "micBass", false, 0, 20},
        {LiveMicMiddle, "micMiddle", false, 0, 20},
        {LiveMicTreble, "micTreble", false, 0, 20},
        {LiveFbEx, "fbEx", false, 0, 3},
        {LiveMusicBass, "musicBass", false, 0, 20},
        {LiveMusicMiddle, "musicMiddle", false, 0, 20},
        {LiveMusicTreble, "musicTreble", false, 0, 20},
        {LiveMusicBalance, "musicBalance", false, 0, 20},
        {LiveCenter, "center", true, 0, 1},
        {LiveAux, "aux", true, 0, 2},
        {LiveMusicIn, "musicIn", true, 0, 3},
        {LiveSwFreq, "swFreq", false, 50, 250},
        {LiveSwVol1, "swVol1", true, 1, 100},
        {LiveMusicVolume, "musicVolume", true, 0, 63},
        {LiveMicVolume, "micVolume", true, 0, 42},
        {LiveEffectVolume, "effectVolume", false, 0, 80},
        {LiveInputSource, "inputSource", true, 0, 4},
        {LiveKeyIndex, "keyIndex", false, 0, 10},
        {LiveMusicVolMax, "musicVolMax", true, 1, 63},
        {LiveMicVolMax, "micVolMax", true, 1, 42},
        {LiveSwVol2, "swVol2", true, 1, 100},
    };
    return table;
}

const LiveParameterInfo* findLiveParameter(std::uint8_t number) {
    const auto& table = liveParameterTable();
    const auto it = std::find_if(table.begin(), table.end(), [number](const LiveParameterInfo& p) {
        return p.number == number;
    });
    return it == table.end() ? nullptr : &*it;
}

// ---------------------------------------------------------------------------------

// What a running command set out to send and how far it got.
struct DeviceLink::Command {
    std::vector<int> toSend;  // slots not yet handed to the port, in sending order
    std::vector<int> refused; // slots whose frame the port did not take
    int lastSlot = -1;        // the slot handed over last, and when
    std::chrono::steady_clock::time_point lastAt;
    std::chrono::microseconds lastLineTime{0}; // how long its frame takes on the line
    bool cancelled = false;
};

// A command registered for as long as it runs; the last one to end tells the host.
class DeviceLink::RunningCommand {
public:
    RunningCommand(DeviceLink& link, std::vector<int> order) : link_(link) {
        command_.toSend = std::move(order);
        link_.commands_.push_back(&command_);
    }
    ~RunningCommand() { link_.commandEnded(command_); }
    RunningCommand(const RunningCommand&) = delete;
    RunningCommand& operator=(const RunningCommand&) = delete;
    Command& command() { return command_; }

private:
    DeviceLink& link_;
    Command command_;
};

DeviceLink::DeviceLink(ConfigRecord& record, RuntimeState& state, TComm& comm,
                       DeviceCommandHost& host)
    : record_(record), state_(state), comm_(comm), host_(host) {}

DeviceLink::~DeviceLink() {
    CancelCommands();
}

std::uint32_t DeviceLink::millisecondClock() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void DeviceLink::sendLiveParameter(std::uint8_t parameter, std::uint8_t value) {
    if (!host_.isLinkChecked()) {
        return;
    }
    if (host_.selectedSlot() != 0) {
        return; // other slots are stored but never sent live
    }
    txFrame_[0] = kLiveCommand;
    txFrame_[1] = parameter;
    txFrame_[2] = value;
    comm_.WriteCommData(txFrame_.data(), kLiveFrameSize);
}

void DeviceLink::sendSlotFrame() {
    sendSlotFrame(host_.selectedSlot());
}

bool DeviceLink::sendSlotFrame(int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        return false;
    }
    if (isModeSlot(slot)) {
        record_.syncModeFromPreset(slot); // the copies stay changed in the record
        const ModeRecord& m = record_.mode(slot);
        txFrame_[0] = kModeUpload;
        txFrame_[1] = deviceIndex(slot);
        std::memcpy(txFrame_.data() + 2, &m, kModeRecordSize);
        return comm_.WriteCommData(txFrame_.data(), kModeFrameSize);
    }
    const EffectPreset& p = record_.preset(slot);
    txFrame_[0] = kPresetUpload;
    txFrame_[1] = deviceIndex(slot);
    std::memcpy(txFrame_.data() + 2, &p, kEffectPresetSize);
    return comm_.WriteCommData(txFrame_.data(), kPresetFrameSize);
}

// Sends a command's next slot and notes how it went.
void DeviceLink::sendFor(Command& command, int slot) {
    std::erase(command.toSend, slot);
    if (!sendSlotFrame(slot)) {
        command.refused.push_back(slot);
        return;
    }
    const std::size_t bytes = isModeSlot(slot) ? kModeFrameSize : kPresetFrameSize;
    // Ten bits a byte (start, eight data, stop) at the port's rate.
    const std::uint64_t baud = std::max<std::uint32_t>(comm_.BaudRate(), 1);
    command.lastSlot = slot;
    command.lastAt = std::chrono::steady_clock::now();
    command.lastLineTime = std::chrono::microseconds(bytes * 10 * 1'000'000 / baud);
}

bool DeviceLink::waitPumping(std::uint32_t ms) {
    const unsigned epoch = epoch_;
    const std::uint32_t start = millisecondClock();
    for (;;) {
        const std::uint32_t elapsed = elapsedMs(start, millisecondClock());
        if (epoch_ != epoch) {
            return false;
        }
        if (elapsed >= ms) {
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(ms - elapsed), Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        waits_.push_back(&loop);
        const int result = loop.exec();
        waits_.erase(std::find(waits_.begin(), waits_.end(), &loop));
        if (result != 0) {
            // The application is quitting and refuses new event loops: waiting on
            // would only spin. The command ends here.
            return false;
        }
    }
}

std::vector<int> DeviceLink::CancelCommands() {
    ++epoch_;
    for (QEventLoop* loop : waits_) {
        loop->quit();
    }
    // A frame handed over moments ago may still be in the driver's queue, which
    // stopping the port throws away: allow it its time on the line and some slack
    // for the driver before counting it as arrived.
    constexpr auto kSlack = std::chrono::milliseconds(50);
    const auto now = std::chrono::steady_clock::now();
    std::vector<int> unsent;
    for (Command* command : commands_) {
        if (command->cancelled) {
            continue;
        }
        command->cancelled = true;
        unsent.insert(unsent.end(), command->toSend.begin(), command->toSend.end());
        unsent.insert(unsent.end(), command->refused.begin(), command->refused.end());
        if (command->lastSlot >= 0 && now - command->lastAt < command->lastLineTime + kSlack) {
            unsent.push_back(command->lastSlot);
        }
    }
    std::sort(unsent.begin(), unsent.end());
    unsent.erase(std::unique(unsent.begin(), unsent.end()), unsent.end());
    return unsent;
}

void DeviceLink::commandEnded(Command& command) {
    std::erase(commands_, &command);
    // A command that ran to its end but whose frames the port refused (it failed
    // without a word from the threads) says so itself; a cancelled one was
    // reported by whoever cancelled it.
    if (!command.cancelled && !command.refused.empty()) {
        host_.showMessage(QStringLiteral("Not every slot reached the unit."),
                          QStringLiteral("The serial port did not take the frames of %1.")
                              .arg(slotList(command.refused)));
    }
    if (commands_.empty()) {
        host_.commandsEnded();
    }
}

// The tab names, quoted: "1", "4" and "Mode A".
QString DeviceLink::slotList(const std::vector<int>& which) const {
    QStringList names;
    for (const int slot : which) {
        names << QLatin1Char('"') + host_.slotName(slot) + QLatin1Char('"');
    }
    if (names.size() < 2) {
        return names.join(QString());
    }
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

bool DeviceLink::openPort() {
    comm_.SetCommName(state_.comPortName);
    try {
        comm_.StartComm();
        return true;
    } catch (const std::exception& e) {
        host_.showMessage(kOpenFailure, openFailureDetail(state_.comPortName, e));
    } catch (...) {
        host_.showMessage(kOpenFailure, QString());
    }
    return false;
}

// The slot selected when the command was chosen is the one sent, whatever tab the
// operator picks while the port settles.
void DeviceLink::Upload1Click() {
    const int slot = host_.selectedSlot();
    if (slot < 0 || slot >= kSlotCount) {
        return; // no tab selected: nothing to send
    }
    RunningCommand running(*this, {slot});
    const BusyPointer busy(host_);
    if (!host_.isLinkChecked()) {
        if (!openPort()) {
            running.command().toSend.clear(); // the failure has been shown
            return;
        }
        if (!waitPumping(kOpenSettleMs)) {
            closeUnlessLinked();
            return;
        }
    }
    sendFor(running.command(), slot);
    waitPumping(kAfterUploadMs);
    closeUnlessLinked();
}

// Selects each slot's tab and sends it; a tab the operator picks meanwhile does not
// stop it (the window applies that pick when the command has ended).
void DeviceLink::Configuator1Click() {
    std::vector<int> order;
    for (int i = 0; i < host_.tabCount(); ++i) {
        order.push_back(i);
    }
    RunningCommand running(*this, order);
    const BusyPointer busy(host_);
    if (!host_.isLinkChecked() && !openPort()) {
        running.command().toSend.clear();
        return;
    }
    if (waitPumping(kUploadAllStepMs)) {
        bool cancelled = false;
        for (std::size_t i = 0; i < order.size() && !cancelled; ++i) {
            host_.selectTabQuietly(order[i]);
            sendFor(running.command(), order[i]);
            cancelled = !waitPumping(kUploadAllStepMs);
        }
        if (!cancelled) {
            waitPumping(kUploadAllStepMs);
        }
    }
    closeUnlessLinked();
}

// A command that opened the port for itself closes it again, however it ended; in
// Link mode the port belongs to Link and stays open.
void DeviceLink::closeUnlessLinked() {
    if (!host_.isLinkChecked()) {
        comm_.StopComm();
    }
}

void DeviceLink::Link1Click() {
    const bool checked = !host_.isLinkChecked();
    host_.setLinkChecked(checked);
    if (!checked) {
        comm_.StopComm();
        return;
    }
    host_.selectTabQuietly(0);
    if (!openPort()) {
        host_.setLinkChecked(false);
        comm_.StopComm();
        return;
    }
    Upload1Click(); // Link is on: it neither opens nor closes the port
}

void DeviceLink::COM11Click(int tag) {
    host_.checkComPortItem(tag);
    state_.comPortNumber = tag;
    state_.comPortName = QStringLiteral("COM%1").arg(tag);
}

} // namespace cantavel
