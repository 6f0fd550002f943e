#include "Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace cantavel::testing {

Pty::Pty() {
    int slave = -1;
    std::array<char, 256> name{};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master_, &slave, name.data(), &raw, nullptr) != 0) {
        master_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name.data());
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    // Only the program under test holds the slave side.
    ::close(slave);
}

Pty::~Pty() {
    closeMaster();
}

void Pty::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

QByteArray Pty::read(int count, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    QByteArray data;
    std::array<char, 4096> buffer{};
    while (data.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        const ssize_t n = ::read(
            master_, buffer.data(),
            std::min<std::size_t>(buffer.size(), static_cast<std::size_t>(count - data.size())));
        if (n > 0) {
            data.append(buffer.data(), n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break; // EIO: nobody holds the slave side
        }
    }
    return data;
}

QByteArray Pty::drain(std::chrono::milliseconds quiet) {
    QByteArray data;
    std::array<char, 4096> buffer{};
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) {
            return data;
        }
        const ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n > 0) {
            data.append(buffer.data(), n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return data;
        }
    }
}

bool Pty::write(const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n =
            ::write(master_, data.constData() + done, static_cast<std::size_t>(data.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
    return true;
}

} // namespace cantavel::testing
