#pragma once

// Records what arrives at a pseudo-terminal's master on a thread of its own, with
// the time of arrival, while the test's own thread is busy in the code under test.

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace cantavel::testing {

class LineRecorder {
public:
    using Clock = std::chrono::steady_clock;
    struct Chunk {
        Clock::time_point at;
        QByteArray bytes;
    };

    explicit LineRecorder(int masterFd);
    ~LineRecorder();
    LineRecorder(const LineRecorder&) = delete;
    LineRecorder& operator=(const LineRecorder&) = delete;

    QByteArray bytes() const;
    // How many bytes have arrived so far (cheaper than bytes().size()).
    qsizetype size() const { return size_; }
    std::vector<Chunk> chunks() const;
    // The time the byte at this offset arrived.
    Clock::time_point arrivalOf(qsizetype offset) const;

private:
    void run();

    int master_;
    std::atomic<bool> stop_{false};
    std::atomic<qsizetype> size_{0};
    mutable std::mutex mutex_;
    std::vector<Chunk> chunks_; // guarded by mutex_
    std::thread thread_;
};

} // namespace cantavel::testing
