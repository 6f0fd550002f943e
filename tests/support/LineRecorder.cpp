#include "LineRecorder.h"

#include <poll.h>
#include <unistd.h>

#include <array>

namespace cantavel::testing {

LineRecorder::LineRecorder(int masterFd) : master_(masterFd), thread_([this] { run(); }) {}

LineRecorder::~LineRecorder() {
    stop_ = true;
    thread_.join();
}

void LineRecorder::run() {
    std::array<char, 4096> buffer{};
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) {
            if (p.revents & (POLLHUP | POLLERR)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5)); // slave closed
            }
            continue;
        }
        const ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n > 0) {
            const std::lock_guard lock(mutex_);
            chunks_.push_back({Clock::now(), QByteArray(buffer.data(), n)});
            size_ += n;
        }
    }
}

QByteArray LineRecorder::bytes() const {
    const std::lock_guard lock(mutex_);
    QByteArray all;
    for (const Chunk& c : chunks_) {
        all += c.bytes;
    }
    return all;
}

std::vector<LineRecorder::Chunk> LineRecorder::chunks() const {
    const std::lock_guard lock(mutex_);
    return chunks_;
}

LineRecorder::Clock::time_point LineRecorder::arrivalOf(qsizetype offset) const {
    const std::lock_guard lock(mutex_);
    qsizetype seen = 0;
    for (const Chunk& c : chunks_) {
        seen += c.bytes.size();
        if (offset < seen) {
            return c.at;
        }
    }
    return Clock::time_point::max();
}

} // namespace cantavel::testing
