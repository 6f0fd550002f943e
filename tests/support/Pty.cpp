#include "Pty.h"

#include <QStringList>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

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

QString Pty::unitLineMismatch() const {
    termios t{};
    if (::tcgetattr(master_, &t) != 0) {
        return QStringLiteral("no line settings");
    }
    QStringList wrong;
    if (::cfgetospeed(&t) != B9600 || ::cfgetispeed(&t) != B9600) {
        wrong << QStringLiteral("speed");
    }
    if ((t.c_cflag & CSIZE) != CS8) {
        wrong << QStringLiteral("data bits");
    }
    const std::pair<tcflag_t, const char*> cflags[] = {
        {PARENB, "parity"}, {CSTOPB, "two stop bits"}, {CRTSCTS, "RTS/CTS"}};
    for (const auto& [flag, name] : cflags) {
        if (t.c_cflag & flag) {
            wrong << QString::fromLatin1(name);
        }
    }
    const std::pair<tcflag_t, const char*> iflags[] = {
        {IXON, "XON/XOFF out"}, {IXOFF, "XON/XOFF in"}, {IXANY, "any byte restarts"}};
    for (const auto& [flag, name] : iflags) {
        if (t.c_iflag & flag) {
            wrong << QString::fromLatin1(name);
        }
    }
    return wrong.join(QStringLiteral(", "));
}

void Pty::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

int Pty::readSome(QByteArray& into, int limit, int timeoutMs) {
    if (master_ < 0) {
        return -1;
    }
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return 0;
    }
    std::array<char, 4096> buffer{};
    const ssize_t n =
        ::read(master_, buffer.data(), std::min<std::size_t>(buffer.size(), std::size_t(limit)));
    if (n > 0) {
        into.append(buffer.data(), n);
        total_ += n;
        return 1;
    }
    // EIO: nobody holds the slave side
    return n < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

QByteArray Pty::read(int count, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    QByteArray data = held_.left(count);
    held_.remove(0, data.size());
    while (data.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || readSome(data, int(count - data.size()), int(left)) < 0) {
            break;
        }
    }
    return data;
}

QByteArray Pty::drain(std::chrono::milliseconds quiet) {
    QByteArray data = std::exchange(held_, {});
    while (readSome(data, 4096, static_cast<int>(quiet.count())) > 0) {
    }
    return data;
}

bool Pty::catchUp(qint64 total, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    while (total_ < total && master_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        if (readSome(held_, 4096, int(left)) < 0) {
            return false;
        }
    }
    return total_ >= total;
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
