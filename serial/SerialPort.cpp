#include "SerialPort.h"

#include "CommPort.h"
#include "CommThreads.h"

#include <QFile>
#include <QSocketNotifier>

#include <deque>
#include <mutex>
#include <thread>

namespace cantavel {

// Carries the threads' notifications to the user-interface thread. A notification
// goes into a queue under a mutex of ours and then sets an event the user-interface
// thread's event loop watches (a socket notifier on an eventfd), which drains the
// queue in order. Nothing but the mutex and a system call passes between threads,
// so posting order holds across both threads and race checkers see every hand-over.
class CommNotifier final : public NotifySink {
public:
    // A thread that outruns the user interface this far is refused, as a full
    // message queue would refuse it; the thread then asks for a hang-up.
    static constexpr std::size_t kMaxPending = 10000;

    explicit CommNotifier(TComm& comm) : comm_(comm) {
        if (wake_.valid()) {
            notifier_ = std::make_unique<QSocketNotifier>(wake_.handle(), QSocketNotifier::Read);
            QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                             [this] { deliver(); });
        }
    }

    // Two kinds are never refused, so that a user interface that does not keep up
    // can neither end the transmit thread nor lose the one notice that says the
    // port is gone: a "queue drained" notice (dropped instead when one is already
    // waiting, since it would say the same) and a hang-up request (at most one per
    // thread, as the thread ends with it).
    bool post(Notification&& notification) override {
        const std::lock_guard lock(mutex_);
        if (!notifier_) {
            return false;
        }
        if (notification.message == MsgSendEmpty) {
            if (sendEmptyWaiting_) {
                return true;
            }
            sendEmptyWaiting_ = true;
        } else if (notification.message != MsgHangup && pending_.size() >= kMaxPending) {
            return false;
        }
        pending_.push_back(std::move(notification));
        wake_.set();
        return true;
    }

private:
    // One at a time, so that a handler that runs a nested event loop does not
    // overtake the ones queued before it. The wake-up is cleared only when the queue
    // is empty: if a handler throws (the application catches it), the rest stay
    // queued and the event loop comes back for them.
    void deliver() {
        for (;;) {
            Notification next;
            {
                const std::lock_guard lock(mutex_);
                if (pending_.empty()) {
                    wake_.reset();
                    return;
                }
                next = std::move(pending_.front());
                pending_.pop_front();
                if (next.message == MsgSendEmpty) {
                    sendEmptyWaiting_ = false;
                }
                if (pending_.empty()) {
                    wake_.reset(); // a post after this sets it again
                }
            }
            comm_.CommWndProc(next);
        }
    }

    TComm& comm_;
    Signal wake_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::mutex mutex_;
    std::deque<Notification> pending_; // guarded by mutex_
    bool sendEmptyWaiting_ = false;    // guarded by mutex_: a drained notice is queued
};

TComm::TComm(QObject* owner)
    : QObject(owner), NotifyWindow(std::make_unique<CommNotifier>(*this)), openPort_(openCommPort) {
}

TComm::~TComm() {
    StopComm();
}

void TComm::SetPortOpener(PortOpener opener) {
    openPort_ = std::move(opener);
}

void TComm::StartComm() {
    if (PortHandle) {
        throw ECommsError("This serial port already opened");
    }
    OpenResult opened = openPort_(QFile::encodeName(commName_).toStdString());
    devicePath_ = opened.device;
    if (!opened.port) {
        throw ECommsError("Error opening serial port", systemErrorText(opened.error),
                          opened.device);
    }
    // From here on a failure closes the new port as opened goes out of scope.
    if (!opened.port->isCharacterDevice()) {
        throw ECommsError("File handle is not a comm handle ", {}, opened.device);
    }
    if (!opened.port->setupBuffers(4096, 4096)) {
        throw ECommsError("Cannot setup comm buffer", "not a serial device", opened.device);
    }
    PortHandle = std::move(opened.port);
    queued_ = 0;
    PortHandle->purge(PurgeAbortWrites | PurgeAbortReads | PurgeClearOutput | PurgeClearInput);
    _SetCommTimeout();
    _SetCommState();

    auto stop = std::make_unique<Signal>();
    if (!stop->valid()) {
        const int error = stop->error();
        closePort();
        throw ECommsError("Unable to create event", systemErrorText(error), devicePath_);
    }
    StopEvent = std::move(stop);

    try {
        ReadThread = std::make_unique<TReadThread>();
        ReadThread->PortHandle = PortHandle.get();
        ReadThread->StopEvent = StopEvent.get();
        ReadThread->NotifyWindow = NotifyWindow.get();
        ReadThread->SetPriority(2);
        ReadThread->Start();
    } catch (...) {
        ReadThread.reset();
        StopEvent.reset();
        closePort();
        throw ECommsError("Unable to create read thread", {}, devicePath_);
    }

    try {
        WriteThread = std::make_unique<TWriteThread>();
        if (!WriteThread->Queue.valid()) {
            throw std::runtime_error("transmit queue");
        }
        WriteThread->PortHandle = PortHandle.get();
        WriteThread->StopEvent = StopEvent.get();
        WriteThread->NotifyWindow = NotifyWindow.get();
        WriteThread->SetPriority(1);
        WriteThread->Start();
    } catch (...) {
        CloseReadThread();
        WriteThread.reset();
        StopEvent.reset();
        closePort();
        throw ECommsError("Unable to create write thread", {}, devicePath_);
    }
}

void TComm::StopComm() noexcept {
    if (!PortHandle) {
        return;
    }
    CloseReadThread();
    CloseWriteThread();
    StopEvent.reset();
    closePort();
}

void TComm::closePort() noexcept {
    PortHandle.reset();
}

void TComm::CloseReadThread() {
    if (!ReadThread) {
        return;
    }
    StopEvent->set(); // also tells the transmit thread to end
    PortHandle->purge(PurgeAbortReads | PurgeClearInput);
    // Both loops wait on the stop event, so they end at once; a thread cannot be
    // killed, so one that still runs after the grace period is waited for all the
    // same when its object goes.
    ReadThread->WaitFor(std::chrono::milliseconds(10000));
    ReadThread.reset();
}

void TComm::CloseWriteThread() {
    if (!WriteThread) {
        return;
    }
    StopEvent->set();
    PortHandle->purge(PurgeAbortWrites | PurgeClearOutput);
    WriteThread->WaitFor(std::chrono::milliseconds(10000));
    WriteThread.reset();
}

bool TComm::WriteCommData(const std::uint8_t* data, std::uint16_t length) {
    if (!WriteThread || length == 0 || data == nullptr) {
        return false;
    }
    DataBlock copy = DataBlock::copyOf(data, length);
    if (!copy) {
        return false;
    }
    if (!WriteThread->Queue.push(std::move(copy))) {
        return false;
    }
    queued_ += length;
    return true;
}

bool TComm::HasSent(std::uint64_t total, std::chrono::milliseconds grace) {
    if (!WriteThread || total > queued_) {
        return false;
    }
    // The transmit thread counts a write just after it returned: a frame already on
    // the line may be a moment away from being counted.
    const auto until = std::chrono::steady_clock::now() + grace;
    while (WriteThread->Queue.written() < total) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The driver's queue holds the last bytes written; those after `total` may be
    // all of them.
    std::size_t inDriver = 0;
    if (!PortHandle->outputQueued(inDriver)) {
        return false;
    }
    return inDriver <= WriteThread->Queue.written() - total;
}

std::uint32_t TComm::GetModemState() {
    std::uint32_t bits = 0;
    if (!PortHandle || !PortHandle->modemStatus(bits)) {
        return 0;
    }
    return bits;
}

void TComm::_SetCommState() {
    LineState s;
    s.baudRate = baudRate_;
    s.parityCheck = parityCheck_;
    s.outxCtsFlow = outxCtsFlow_;
    s.outxDsrFlow = outxDsrFlow_;
    s.dtrControl = static_cast<std::uint8_t>(dtrControl_);
    s.dsrSensitivity = dsrSensitivity_;
    s.txContinueOnXoff = txContinueOnXoff_;
    s.outX = outxXonXoffFlow_;
    s.inX = inxXonXoffFlow_;
    s.errorCharEnabled = replaceWhenParityError_;
    s.discardNull = ignoreNullChar_;
    s.rtsControl = static_cast<std::uint8_t>(rtsControl_);
    s.xonLimit = xonLimit_;
    s.xoffLimit = xoffLimit_;
    s.byteSize = static_cast<std::uint8_t>(static_cast<int>(byteSize_) + 5);
    s.parity = static_cast<std::uint8_t>(parity_);
    s.stopBits = static_cast<std::uint8_t>(stopBits_);
    s.xonChar = xonChar_;
    s.xoffChar = xoffChar_;
    s.errorChar = replacedChar_;
    (void)PortHandle->setState(s); // a refused setting leaves the port as it was
}

void TComm::_SetCommTimeout() {
    (void)PortHandle->setTimeouts({readIntervalTimeout_, readTotalTimeoutMultiplier_,
                                   readTotalTimeoutConstant_, writeTotalTimeoutMultiplier_,
                                   writeTotalTimeoutConstant_});
}

void TComm::CommWndProc(Notification& message) {
    switch (message.message) {
    case MsgDataReceived: {
        // The block is released when this scope ends, after the handler, even if
        // the handler throws.
        const std::unique_ptr<std::uint8_t[]> block = std::move(message.block);
        ReceiveData(block.get(), static_cast<std::uint16_t>(message.param & 0xFFFFu));
        break;
    }
    case MsgReceiveError:
        ReceiveError(message.param);
        break;
    case MsgHangup:
        RequestHangup();
        break;
    case MsgModemState:
        ModemStateChange(message.param);
        break;
    case MsgSendEmpty:
        _SendDataEmpty();
        break;
    default:
        break;
    }
}

void TComm::ReceiveData(const std::uint8_t* buffer, std::uint16_t length) {
    if (OnReceiveData) {
        OnReceiveData(this, buffer, length);
    }
}

void TComm::ReceiveError(std::uint32_t flags) {
    if (OnReceiveError) {
        OnReceiveError(this, flags);
    }
}

void TComm::RequestHangup() {
    if (OnRequestHangup) {
        OnRequestHangup(this);
    }
}

void TComm::ModemStateChange(std::uint32_t code) {
    if (OnModemStateChange) {
        OnModemStateChange(this, code);
    }
}

void TComm::_SendDataEmpty() {
    if (OnSendDataEmpty) {
        OnSendDataEmpty(this);
    }
}

} // namespace cantavel
