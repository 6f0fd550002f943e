#include "DeviceLink.h"

#include "CommPort.h"
#include "Serialcomm.h"

#include <QEventLoop>
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

class Running {
public:
    explicit Running(int& count) : count_(count) { ++count_; }
    ~Running() { --count_; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    int& count_;
};

QString openFailureDetail(const QString& portName, const std::exception& e) {
    const auto* comms = dynamic_cast<const ECommsError*>(&e);
    QString where = portName;
    if (comms && !comms->device().empty() && QString::fromStdString(comms->device()) != portName) {
        where += QStringLiteral(" (%1)").arg(QString::fromStdString(comms->device()));
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
    const int slot = host_.selectedSlot();
    if (slot < 0 || slot >= kSlotCount) {
        return;
    }
    if (isModeSlot(slot)) {
        record_.syncModeFromPreset(slot); // the copies stay changed in the record
        const ModeRecord& m = record_.mode(slot);
        txFrame_[0] = kModeUpload;
        txFrame_[1] = deviceIndex(slot);
        std::memcpy(txFrame_.data() + 2, &m, kModeRecordSize);
        comm_.WriteCommData(txFrame_.data(), kModeFrameSize);
    } else {
        const EffectPreset& p = record_.preset(slot);
        txFrame_[0] = kPresetUpload;
        txFrame_[1] = deviceIndex(slot);
        std::memcpy(txFrame_.data() + 2, &p, kEffectPresetSize);
        comm_.WriteCommData(txFrame_.data(), kPresetFrameSize);
    }
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

void DeviceLink::CancelCommands() {
    ++epoch_;
    for (QEventLoop* loop : waits_) {
        loop->quit();
    }
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

void DeviceLink::Upload1Click() {
    const Running running(running_);
    const BusyPointer busy(host_);
    if (!host_.isLinkChecked()) {
        if (!openPort()) {
            return;
        }
        if (!waitPumping(kOpenSettleMs)) {
            closeUnlessLinked();
            return;
        }
    }
    sendSlotFrame();
    waitPumping(kAfterUploadMs);
    closeUnlessLinked();
}

void DeviceLink::Configuator1Click() {
    const Running running(running_);
    const BusyPointer busy(host_);
    if (!host_.isLinkChecked() && !openPort()) {
        return;
    }
    if (waitPumping(kUploadAllStepMs)) {
        bool cancelled = false;
        for (int i = 0; i < host_.tabCount() && !cancelled; ++i) {
            host_.selectTabQuietly(i);
            sendSlotFrame();
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
