#include "DeviceLink.h"

#include "PortMessages.h"
#include "SerialPort.h"

#include "CommPort.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <utility>

namespace cantavel {

namespace {

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

} // namespace

// What a running command set out to send and how far it got.
struct DeviceLink::Command {
    std::vector<int> toSend;  // slots not yet handed to the port, in sending order
    std::vector<int> refused; // slots whose frame the port did not take
    std::vector<int> stuck;   // slots whose frame did not leave the port in time
    int lastSlot = -1;        // the slot handed over last and not yet seen leave, and when
    CommandClock::Clock::time_point lastAt;
    std::uint64_t lastEnd = 0; // the port's queued-byte count at the end of its frame
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

void useUnitLine(TComm& comm) {
    comm.SetBaudRate(9600);
    comm.SetByteSize(TByteSize::_8);
    comm.SetParity(TParity::None);
    comm.SetParityCheck(false);
    comm.SetStopBits(TStopBits::_1);
    comm.SetOutx_CtsFlow(false);
    comm.SetOutx_DsrFlow(false);
    comm.SetDsrSensitivity(false);
    comm.SetTxContinueOnXoff(false);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    comm.SetDtrControl(TDtrControl::DtrDisable);
    comm.SetRtsControl(TRtsControl::RtsDisable);
}

void usePortPaths(const QMap<QString, QString>& paths) {
    std::map<std::string, std::string> native;
    for (auto it = paths.cbegin(); it != paths.cend(); ++it) {
        native[QFile::encodeName(it.key()).toStdString()] =
            QFile::encodeName(it.value()).toStdString();
    }
    setPortPaths(native);
}

DeviceLink::DeviceLink(ConfigRecord& record, RuntimeState& state, TComm& comm,
                       DeviceCommandHost& host, CommandClock* clock)
    : record_(record), state_(state), comm_(comm), host_(host),
      ownClock_(clock ? nullptr : std::make_unique<EventLoopClock>()),
      clock_(clock ? *clock : *ownClock_) {
    heard_.fill(-1);
}

DeviceLink::~DeviceLink() {
    CancelCommands();
}

void DeviceLink::sendLiveParameter(std::uint8_t parameter, std::uint8_t value) {
    if (!host_.isLinkChecked()) {
        return;
    }
    if (host_.selectedSlot() != 0) {
        return; // other slots are stored but never sent live
    }
    // A paced value of the same parameter would arrive after this one: it is older.
    if (std::erase_if(waiting_, [&](const Waiting& w) { return w.parameter == parameter; })) {
        pacing_.waiting = waiting_.size();
    }
    (void)handOverLive(parameter, value);
}

bool DeviceLink::handOverLive(std::uint8_t parameter, std::uint8_t value) {
    if (!handOver(buildLiveFrame(txFrame_, parameter, value))) {
        return false;
    }
    heard_[parameter] = value;
    lineFreeAt_ = std::max(lineFreeAt_, std::chrono::steady_clock::now()) + liveFrameTime();
    return true;
}

std::chrono::microseconds DeviceLink::lineTime(std::size_t bytes) const {
    // Ten bits a byte (start, eight data, stop) at the port's rate.
    const std::uint64_t baud = std::max<std::uint32_t>(comm_.BaudRate(), 1);
    return std::chrono::microseconds(bytes * 10 * 1'000'000 / baud);
}

std::chrono::microseconds DeviceLink::liveFrameTime() const {
    return lineTime(kLiveFrameSize);
}

void DeviceLink::queueLiveParameter(std::uint8_t parameter, std::uint8_t value) {
    if (!host_.isLinkChecked() || host_.selectedSlot() != 0) {
        return;
    }
    const auto it = std::find_if(waiting_.begin(), waiting_.end(),
                                 [&](const Waiting& w) { return w.parameter == parameter; });
    if (it != waiting_.end()) {
        ++pacing_.coalesced;
        if (heard_[parameter] == value) {
            waiting_.erase(it); // back where the unit is
        } else {
            it->value = value;
        }
    } else if (heard_[parameter] != value) {
        waiting_.push_back({parameter, value});
    }
    pacing_.waiting = waiting_.size();
    pacing_.mostWaiting = std::max(pacing_.mostWaiting, waiting_.size());
    pace();
}

void DeviceLink::sendWaitingLive() {
    const std::vector<Waiting> waiting = std::exchange(waiting_, {});
    pacing_.waiting = 0;
    if (!host_.isLinkChecked() || !comm_.IsOpen()) {
        return;
    }
    for (const Waiting& w : waiting) {
        if (handOverLive(w.parameter, w.value)) {
            ++pacing_.sent;
            pacedUntil_ = lineFreeAt_;
        }
    }
}

void DeviceLink::letFramesOut(bool sentAtOnceToo) {
    if (!commands_.empty()) {
        return; // a command's frames are its own affair, and a command ending says so
    }
    const bool paced = !waiting_.empty() || std::chrono::steady_clock::now() < pacedUntil_;
    sendWaitingLive();
    if (!comm_.IsOpen() || !(paced || sentAtOnceToo)) {
        return;
    }
    // Out of the driver's queue is not yet on the line: an adapter's own buffer is not
    // counted there. The frames' time on the line is waited for too.
    const std::uint64_t total = comm_.BytesQueued();
    constexpr auto kSlack = std::chrono::milliseconds(100);
    const auto until = std::max(lineFreeAt_, std::chrono::steady_clock::now()) + kSlack;
    for (auto now = std::chrono::steady_clock::now(); now < until;
         now = std::chrono::steady_clock::now()) {
        if (now >= lineFreeAt_ && comm_.HasSent(total, std::chrono::milliseconds(1))) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void DeviceLink::pace() {
    if (!host_.isLinkChecked() || host_.selectedSlot() != 0 || !comm_.IsOpen()) {
        waiting_.clear(); // Link ended: nothing waits for a unit no longer listening
        pacing_.waiting = 0;
        return;
    }
    // A frame may be handed over while the one before it is still on the line, so
    // that the line does not stand idle while the timer wakes us; never more.
    const auto ahead = liveFrameTime();
    auto now = std::chrono::steady_clock::now();
    while (!waiting_.empty() && lineFreeAt_ - now <= ahead) {
        const Waiting next = waiting_.front();
        waiting_.erase(waiting_.begin());
        if (handOverLive(next.parameter, next.value)) {
            ++pacing_.sent;
            pacedUntil_ = lineFreeAt_;
        }
        now = std::chrono::steady_clock::now();
    }
    pacing_.waiting = waiting_.size();
    if (!waiting_.empty()) {
        if (!paceTimer_) {
            paceTimer_ = std::make_unique<QTimer>();
            paceTimer_->setSingleShot(true);
            paceTimer_->setTimerType(Qt::PreciseTimer);
            QObject::connect(paceTimer_.get(), &QTimer::timeout, [this] { pace(); });
        }
        const auto due = std::chrono::ceil<std::chrono::milliseconds>(lineFreeAt_ - ahead - now);
        paceTimer_->start(std::max(due, std::chrono::milliseconds(0)));
    }
}

void DeviceLink::forgetLiveValues() {
    heard_.fill(-1);
    waiting_.clear();
    pacing_.waiting = 0;
}

void DeviceLink::sendSlotFrame() {
    sendSlotFrame(host_.selectedSlot());
}

bool DeviceLink::sendSlotFrame(int slot) {
    if (slot < 0 || slot >= kSlotCount) {
        return false;
    }
    // For a mode slot the record's copies of the effect fields stay brought up to date.
    return handOver(buildSlotFrame(txFrame_, record_, slot));
}

bool DeviceLink::handOver(std::size_t length) {
    if (length != kLiveFrameSize) {
        heard_.fill(-1); // an upload sets values the unit heard otherwise
    }
    const bool taken = comm_.WriteCommData(txFrame_.data(), static_cast<std::uint16_t>(length));
    if (taken) {
        handedOver_ += length;
    }
    return taken;
}

// Sends a command's next slot and notes how it went.
void DeviceLink::sendFor(Command& command, int slot) {
    std::erase(command.toSend, slot);
    if (!sendSlotFrame(slot)) {
        command.refused.push_back(slot);
        return;
    }
    command.lastSlot = slot;
    command.lastAt = clock_.now();
    command.lastLineTime = lineTime(slotFrameLength(slot));
    command.lastEnd = comm_.BytesQueued();
}

// After the wait that follows a frame, which is longer than the frame's time on the
// line: the frame counts as sent once the port's write has taken all of it and the
// driver's queue has let it go. A frame still held (flow control, a stalled
// adapter) did not reach the unit, whatever the port took; false then, and the
// command sends nothing more: what is held would follow later without its pause.
bool DeviceLink::confirmSent(Command& command) {
    if (command.lastSlot < 0) {
        return true;
    }
    const int slot = std::exchange(command.lastSlot, -1);
    if (comm_.HasSent(command.lastEnd, std::chrono::milliseconds(100))) {
        host_.frameSent(slot, slotFrameLength(slot));
        return true;
    }
    command.stuck.push_back(slot);
    return false;
}

bool DeviceLink::waitPumping(std::chrono::milliseconds duration) {
    const unsigned epoch = epoch_;
    const bool whole = clock_.wait(duration);
    return whole && epoch_ == epoch;
}

std::vector<int> DeviceLink::CancelCommands() {
    ++epoch_;
    clock_.interrupt();
    // A frame handed over moments ago may still be in the driver's queue, which
    // stopping the port throws away: allow it its time on the line and some slack
    // for the driver before counting it as arrived.
    constexpr auto kSlack = std::chrono::milliseconds(50);
    const auto now = clock_.now();
    std::vector<int> unsent;
    for (Command* command : commands_) {
        if (command->cancelled) {
            continue;
        }
        command->cancelled = true;
        unsent.insert(unsent.end(), command->toSend.begin(), command->toSend.end());
        unsent.insert(unsent.end(), command->refused.begin(), command->refused.end());
        unsent.insert(unsent.end(), command->stuck.begin(), command->stuck.end());
        // The driver's queue cannot be asked any more (the line may be gone): a frame
        // handed over long enough ago is counted as arrived.
        if (command->lastSlot >= 0) {
            const int slot = std::exchange(command->lastSlot, -1);
            if (now - command->lastAt < command->lastLineTime + kSlack) {
                unsent.push_back(slot);
            } else {
                host_.frameSent(slot, slotFrameLength(slot));
            }
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
    if (!command.cancelled && (!command.refused.empty() || !command.stuck.empty())) {
        // A command stopped by a held frame closes the port, which drops what the
        // driver still held: none of it reaches the unit late.
        QStringList why;
        if (!command.refused.empty()) {
            why << QStringLiteral("The serial port did not take the frames of %1.")
                       .arg(slotList(command.refused));
        }
        if (!command.stuck.empty()) {
            why << QStringLiteral("The frames of %1 did not leave the serial port.")
                       .arg(slotList(command.stuck));
        }
        if (!command.stuck.empty() && !command.toSend.empty()) {
            why << QStringLiteral("%1 were not sent.").arg(slotList(command.toSend));
        }
        host_.showMessage(QStringLiteral("Not every slot reached the unit."),
                          why.join(QLatin1Char(' ')));
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
    useUnitLine(comm_);
    comm_.SetCommName(state_.comPortName);
    try {
        comm_.StartComm();
        return true;
    } catch (const std::exception& e) {
        host_.showMessage(openFailureText(), openFailureDetail(state_.comPortName, e));
    } catch (...) {
        host_.showMessage(openFailureText(), QString());
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
        if (!waitPumping(kOpenSettle)) {
            closeUnlessLinked();
            return;
        }
    }
    sendFor(running.command(), slot);
    if (waitPumping(kAfterUpload)) {
        confirmSent(running.command());
    }
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
    if (waitPumping(kUploadAllStep)) {
        bool stopped = false; // cancelled, or a frame did not leave
        for (std::size_t i = 0; i < order.size() && !stopped; ++i) {
            host_.selectTabQuietly(order[i]);
            sendFor(running.command(), order[i]);
            stopped = !waitPumping(kUploadAllStep) || !confirmSent(running.command());
        }
        if (!stopped) {
            waitPumping(kUploadAllStep);
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
    forgetLiveValues();
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
    choosePort(QStringLiteral("COM%1").arg(tag), tag);
}

void DeviceLink::choosePort(const QString& name, int tag) {
    host_.checkComPortItem(tag);
    state_.comPortNumber = tag;
    state_.comPortName = name;
}

} // namespace cantavel
