#include "CommThreads.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace cantavel {

DataBlock DataBlock::copyOf(const std::uint8_t* data, std::size_t length) {
    DataBlock block;
    block.bytes.reset(new (std::nothrow) std::uint8_t[length + 1]()); // zero byte after
    if (block.bytes) {
        std::memcpy(block.bytes.get(), data, length);
        block.length = static_cast<std::uint16_t>(length);
    }
    return block;
}

// ---------------------------------------------------------------------------------

bool WriteQueue::push(DataBlock&& block) {
    const std::lock_guard lock(mutex_);
    if (closed_ || !block) {
        return false;
    }
    blocks_.push_back(std::move(block));
    wake_.set();
    return true;
}

DataBlock WriteQueue::takeNext() {
    const std::lock_guard lock(mutex_);
    if (blocks_.empty()) {
        wake_.reset();
        return {};
    }
    DataBlock block = std::move(blocks_.front());
    blocks_.pop_front();
    return block;
}

void WriteQueue::close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    blocks_.clear();
}

// ---------------------------------------------------------------------------------

TThread::~TThread() {
    Join();
}

void TThread::Start() {
    thread_ = std::thread([this] { run(); });
}

void TThread::run() {
    applyThreadPriority(priority_);
    try {
        Execute();
    } catch (...) {
        // Nothing may escape a thread; the loops report their own failures.
    }
    const std::lock_guard lock(mutex_);
    finished_ = true;
    finishedChanged_.notify_all();
}

bool TThread::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return finishedChanged_.wait_for(lock, timeout, [this] { return finished_; });
}

void TThread::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

// ---------------------------------------------------------------------------------
// Receive thread

void TReadThread::Execute() {
    CommPort& port = *PortHandle;
    read_ = {};
    read_.started = Clock::now();
    for (;;) {
        int timeout = msUntilDue(port.timeouts(), Clock::now());
        const int period = port.lineEventPeriodMs();
        if (period >= 0 && (timeout < 0 || period < timeout)) {
            timeout = period;
        }
        const Wake wake = port.wait(*StopEvent, false, timeout);
        if (wake == Wake::Stop || wake == Wake::Closed) {
            break;
        }
        if (wake == Wake::HangUp || wake == Wake::Failed) {
            PostHangupCall();
            break;
        }
        if (StopEvent->isSet()) {
            break; // a stop request wins over anything else that is ready
        }
        // Line events first: an error is reported before the data that follows it.
        if (!HandleCommEvent()) {
            break;
        }
        if (wake == Wake::Ready && !HandleReadEvent()) {
            break;
        }
        if (isDue(port.timeouts(), Clock::now()) && !completeRead()) {
            break;
        }
    }
    port.purge(PurgeAbortReads | PurgeClearInput);
}

bool TReadThread::HandleCommEvent() {
    LineEvents events;
    int error = 0;
    if (!PortHandle->takeLineEvents(events, error)) {
        ioError(error);
        return false;
    }
    if (events.errors != 0 && !ReceiveError(events.errors)) {
        return false;
    }
    std::uint32_t code = 0;
    if (events.carrierChanged) {
        code = ModemCarrier;
    }
    if (events.ring) {
        code |= ModemRing;
    }
    return code == 0 || ModemStateChange(code);
}

bool TReadThread::HandleReadEvent() {
    for (;;) {
        const IoResult r =
            PortHandle->read(buffer_.data() + read_.count, buffer_.size() - read_.count);
        if (r.count > 0) {
            read_.count += r.count;
            read_.lastByte = Clock::now();
            if (read_.count == buffer_.size() && !completeRead()) {
                return false;
            }
            continue;
        }
        if (r.wouldBlock) {
            return true;
        }
        // The device is gone or failed: deliver what had arrived, then report it.
        if (read_.count > 0 && !completeRead()) {
            return false;
        }
        if (r.endOfFile) {
            PostHangupCall();
        } else {
            ioError(r.error);
        }
        return false;
    }
}

int TReadThread::msUntilDue(const CommTimeouts& t, Clock::time_point now) const {
    using std::chrono::milliseconds;
    constexpr auto kForever = CommTimeouts::kForever;
    if (t.readInterval == kForever && t.readTotalMultiplier == 0 && t.readTotalConstant == 0) {
        return 0; // return at once with whatever is there
    }
    long long due = -1;
    const auto consider = [&](Clock::time_point at) {
        const long long ms =
            std::max<long long>(0, std::chrono::ceil<milliseconds>(at - now).count());
        due = due < 0 ? ms : std::min(due, ms);
    };
    if (t.readInterval == kForever && t.readTotalMultiplier == kForever &&
        t.readTotalConstant != 0 && t.readTotalConstant != kForever) {
        if (read_.count > 0) {
            return 0;
        }
        consider(read_.started + milliseconds(t.readTotalConstant));
        return static_cast<int>(due);
    }
    if (t.readTotalMultiplier != 0 || t.readTotalConstant != 0) {
        const unsigned long long total =
            static_cast<unsigned long long>(t.readTotalMultiplier) * kReadSize +
            t.readTotalConstant;
        consider(read_.started + milliseconds(total));
    }
    if (t.readInterval != 0 && t.readInterval != kForever && read_.count > 0) {
        // Complete after a gap of more than the interval.
        consider(read_.lastByte + milliseconds(t.readInterval) + milliseconds(1));
    }
    return due > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(due);
}

bool TReadThread::isDue(const CommTimeouts& t, Clock::time_point now) const {
    return msUntilDue(t, now) == 0;
}

bool TReadThread::completeRead() {
    const std::size_t count = read_.count;
    read_ = {};
    read_.started = Clock::now();
    return HandleReadData(buffer_.data(), count);
}

bool TReadThread::HandleReadData(const std::uint8_t* buffer, std::size_t count) {
    if (count == 0) {
        return false; // a read that ends with nothing ends the loop, without a word
    }
    DataBlock copy = DataBlock::copyOf(buffer, count);
    if (!copy) {
        PostHangupCall();
        return false;
    }
    return ReceiveData(std::move(copy.bytes), count);
}

bool TReadThread::ReceiveData(std::unique_ptr<std::uint8_t[]> block, std::size_t count) {
    if (NotifyWindow->post(
            {MsgDataReceived, static_cast<std::uint32_t>(count), std::move(block)})) {
        return true;
    }
    PostHangupCall();
    return false;
}

bool TReadThread::ReceiveError(std::uint32_t flags) {
    if (NotifyWindow->post({MsgReceiveError, flags, nullptr})) {
        return true;
    }
    PostHangupCall();
    return false;
}

bool TReadThread::ModemStateChange(std::uint32_t code) {
    if (NotifyWindow->post({MsgModemState, code, nullptr})) {
        return true;
    }
    PostHangupCall();
    return false;
}

void TReadThread::PostHangupCall() {
    (void)NotifyWindow->post({MsgHangup, 0, nullptr});
}

void TReadThread::ioError(int error) {
    if (!isClosedHandleError(error)) {
        PostHangupCall();
    }
}

// ---------------------------------------------------------------------------------
// Transmit thread

void TWriteThread::Execute() {
    bool notice = true; // a "queue drained" notice is due
    for (;;) {
        DataBlock block = Queue.takeNext();
        if (!block) {
            if (notice && !NotifyWindow->post({MsgSendEmpty, 0, nullptr})) {
                PostHangupCall();
                break;
            }
            notice = false;
            const int woken = waitAny(*StopEvent, Queue.wake(), -1);
            if (woken == 0) {
                break;
            }
            if (woken == 1) {
                continue;
            }
            PostHangupCall();
            break;
        }
        if (StopEvent->isSet()) {
            break; // the block taken is dropped unwritten
        }
        const bool written = HandleWriteData(block.bytes.get(), block.length);
        block.bytes.reset();
        if (!written) {
            break;
        }
        notice = true;
    }
    Queue.close(); // from now on WriteCommData is refused; queued blocks are dropped
    PortHandle->purge(PurgeAbortWrites | PurgeClearOutput);
}

// Write time-outs are not applied: a write that times out is continued with its
// remainder until the block is complete, so they could only split the block.
bool TWriteThread::HandleWriteData(const std::uint8_t* data, std::size_t length) {
    std::size_t written = 0;
    while (written < length) {
        const IoResult r = PortHandle->write(data + written, length - written);
        if (r.count > 0) {
            written += r.count;
            Queue.noteWritten(r.count);
            continue;
        }
        if (r.error != 0) {
            if (!isClosedHandleError(r.error)) {
                PostHangupCall();
            }
            return false;
        }
        switch (PortHandle->wait(*StopEvent, true, -1)) {
        case Wake::Ready:
        case Wake::Timeout:
            break;
        case Wake::Stop:
        case Wake::Closed:
            return false; // nothing more of this block is written
        case Wake::HangUp:
        case Wake::Failed:
            PostHangupCall();
            return false;
        }
    }
    return true;
}

void TWriteThread::PostHangupCall() {
    (void)NotifyWindow->post({MsgHangup, 0, nullptr});
}

} // namespace cantavel
