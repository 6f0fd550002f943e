#pragma once

// The receive and transmit threads of the serial component, and what they share with
// the user-interface thread.
//
// Shared between the threads and the user-interface thread, and nothing else:
//  - the port (CommPort): the receive thread reads and waits on it, the transmit
//    thread writes to it; the user-interface thread changes settings (the port
//    guards its time-outs, the only setting a thread reads) and closes it only after
//    both threads have ended;
//  - the stop signal: set once by the user-interface thread, only waited on by the
//    threads; it is never reset while they run;
//  - the notification sink: both threads post to it; it is thread-safe and outlives
//    them;
//  - the write queue: appended to by the user-interface thread, drained by the
//    transmit thread, guarded by its own mutex; its count of bytes written is
//    raised by the transmit thread only and read by the user-interface thread,
//    an atomic so that neither waits for the other.

#include "CommPort.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace cantavel {

// Message numbers of the notifications and of a queued block.
enum CommMessage : std::uint32_t {
    MsgWriteData = 0x401,
    MsgDataReceived = 0x401,
    MsgReceiveError = 0x402,
    MsgHangup = 0x403,
    MsgModemState = 0x404,
    MsgSendEmpty = 0x405,
};

// Codes of a modem event.
enum ModemEventCode : std::uint32_t { ModemCarrier = 8, ModemRing = 4 };

// A heap block of bytes followed by one zero byte that is not part of the data.
struct DataBlock {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint16_t length = 0;

    // Copies length bytes; an empty block when the allocation fails.
    static DataBlock copyOf(const std::uint8_t* data, std::size_t length);
    explicit operator bool() const { return bytes != nullptr; }
};

// One notification from a thread to the user-interface thread. Ownership of the
// received block passes with it.
struct Notification {
    std::uint32_t message = 0;
    std::uint32_t param = 0; // byte count, error flags or modem event code
    std::unique_ptr<std::uint8_t[]> block;
};

// Where the threads post their notifications. post() may be called from any thread,
// delivers in posting order, and returns false when it refuses the notification.
class NotifySink {
public:
    virtual ~NotifySink() = default;
    virtual bool post(Notification&& notification) = 0;
};

// The transmit thread's queue: the user-interface thread appends without waiting,
// blocks come out in order, and once closed the queue refuses and drops blocks.
class WriteQueue {
public:
    bool push(DataBlock&& block);
    // The next block, or an empty one when there is none; then the wake signal is
    // reset (under the lock, so that a block pushed afterwards always sets it again).
    DataBlock takeNext();
    void close();
    bool valid() const { return wake_.valid(); }
    const Signal& wake() const { return wake_; }
    // Bytes the port's write has taken so far; the transmit thread adds them.
    void noteWritten(std::size_t count) { written_.fetch_add(count, std::memory_order_release); }
    std::uint64_t written() const { return written_.load(std::memory_order_acquire); }

private:
    std::atomic<std::uint64_t> written_{0};
    std::mutex mutex_;
    std::deque<DataBlock> blocks_; // guarded by mutex_
    bool closed_ = false;          // guarded by mutex_
    Signal wake_;
};

// A thread object over std::thread with a virtual Execute(). It is configured first
// and started explicitly, like a thread created suspended.
class TThread {
public:
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts Execute() on a new thread; throws std::system_error when it cannot.
    void Start();
    // Best effort: 2 highest, 1 above normal, 0 normal. Never a reason to fail.
    void SetPriority(int priority) { priority_ = priority; }
    // Waits up to timeout for Execute() to return; true when it has.
    bool WaitFor(std::chrono::milliseconds timeout);
    // Waits until the thread is gone.
    void Join();

protected:
    virtual void Execute() = 0;

private:
    void run();

    std::thread thread_;
    int priority_ = 0;
    std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false; // guarded by mutex_
};

// Fields common to both threads, handed over before Start().
struct CommThreadLinks {
    CommPort* PortHandle = nullptr;
    const Signal* StopEvent = nullptr;
    NotifySink* NotifyWindow = nullptr;
};

class TReadThread : public TThread, public CommThreadLinks {
public:
    static constexpr std::size_t kReadSize = 2048;
    ~TReadThread() override { Join(); }

protected:
    void Execute() override;

    // Acts on the line events reported since the last look; false ends the loop.
    bool HandleCommEvent();
    // Reads what is there into the current read; false ends the loop.
    bool HandleReadEvent();
    // Copies a completed read and posts it; a read of 0 bytes ends the loop quietly.
    bool HandleReadData(const std::uint8_t* buffer, std::size_t count);

    bool ReceiveData(std::unique_ptr<std::uint8_t[]> block, std::size_t count);
    bool ReceiveError(std::uint32_t flags);
    bool ModemStateChange(std::uint32_t code);
    void PostHangupCall();

private:
    using Clock = std::chrono::steady_clock;

    // The read in progress, completed by the time-out rule.
    struct ReadOperation {
        std::size_t count = 0;
        Clock::time_point started;
        Clock::time_point lastByte;
    };
    // Milliseconds until the read's time-out rule may complete it; -1 for none.
    int msUntilDue(const CommTimeouts& t, Clock::time_point now) const;
    bool isDue(const CommTimeouts& t, Clock::time_point now) const;
    bool completeRead();
    // The I/O error rule: a closed port ends quietly, anything else posts a hang-up.
    void ioError(int error);

    std::array<std::uint8_t, kReadSize> buffer_{};
    ReadOperation read_;
};

class TWriteThread : public TThread, public CommThreadLinks {
public:
    WriteQueue Queue;
    ~TWriteThread() override { Join(); }

protected:
    void Execute() override;
    // Writes one block completely, counting what the port takes; false ends the loop.
    bool HandleWriteData(const std::uint8_t* data, std::size_t length);
    void PostHangupCall();
};

} // namespace cantavel
