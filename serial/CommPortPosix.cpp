// The port layer on POSIX: termios for the line settings, ioctl for the modem lines
// and line-event counters, poll() over an eventfd for waits that a stop request ends.

#include "CommPort.h"
#include "PosixTermios.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cantavel {

// ---------------------------------------------------------------------------------
// Signal: an eventfd whose counter stays non-zero from set() until reset(), so that
// every poll() on it returns at once while it is set.

Signal::Signal() {
    handle_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (handle_ < 0) {
        error_ = errno;
    }
}

Signal::~Signal() {
    if (handle_ >= 0) {
        ::close(handle_);
    }
}

void Signal::set() {
    const std::uint64_t one = 1;
    // A full counter (never reached here) would still leave the signal set.
    [[maybe_unused]] const ssize_t n = ::write(handle_, &one, sizeof one);
}

void Signal::reset() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(handle_, &value, sizeof value);
}

bool Signal::isSet() const {
    pollfd p{handle_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

int waitAny(const Signal& first, const Signal& second, int timeoutMs) {
    std::array<pollfd, 2> fds{{{first.handle(), POLLIN, 0}, {second.handle(), POLLIN, 0}}};
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), timeoutMs);
        if (n < 0 && errno == EINTR) {
            continue; // an interrupted wait without limit simply waits again
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            return 2;
        }
        // The first signal is checked first, so a stop request wins.
        if (fds[0].revents != 0) {
            return 0;
        }
        return 1;
    }
}

// ---------------------------------------------------------------------------------

std::string systemErrorText(int error) {
    std::array<char, 256> buffer{};
    return ::strerror_r(error, buffer.data(), buffer.size());
}

void applyThreadPriority(int priority) {
    if (priority > 0) {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), -priority);
    }
}

bool isClosedHandleError(int error) {
    return error == EBADF;
}

namespace {
// Written and read on the user-interface thread only (settings at start-up, opens).
std::map<std::string, std::string>& portPaths() {
    static std::map<std::string, std::string> paths;
    return paths;
}
} // namespace

void setPortPaths(const std::map<std::string, std::string>& paths) {
    portPaths() = paths;
}

std::string resolvePortName(const std::string& name) {
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (const std::string& key : {name, upper}) {
        if (const auto it = portPaths().find(key); it != portPaths().end()) {
            return it->second;
        }
    }
    if (name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'M' &&
        std::all_of(name.begin() + 3, name.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) &&
        name.size() < 9) {
        const int number = std::stoi(name.substr(3));
        if (number >= 1) {
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return name;
}

namespace {

// The rates termios has a code for; any other rate is refused.
constexpr std::pair<std::uint32_t, speed_t> kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

speed_t speedFor(std::uint32_t baud, bool& ok) {
    for (const auto& [rate, code] : kSpeeds) {
        if (rate == baud) {
            ok = true;
            return code;
        }
    }
    ok = false;
    return B0;
}

// Raw binary transfer: no line editing, echo, signals or translations. With
// O_NONBLOCK and VMIN 1 a read with nothing to take fails with EAGAIN, so a read
// of 0 bytes means the device hung up.
void makeRaw(termios& t) {
    t.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

int retryOnInterrupt(int (*call)(int, int), int fd, int arg) {
    int r = 0;
    do {
        r = call(fd, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

class PosixCommPort final : public CommPort {
public:
    PosixCommPort(int fd, bool tty) : fd_(fd), tty_(tty) {
        if (!tty_) {
            return;
        }
        serial_icounter_struct counts{};
        if (::ioctl(fd_, TIOCGICOUNT, &counts) == 0) {
            countersWork_ = true;
            counts_ = counts;
        }
        int bits = 0;
        if (::ioctl(fd_, TIOCMGET, &bits) == 0) {
            modemWorks_ = true;
            modemBits_ = bits;
        }
    }

    ~PosixCommPort() override {
        if (tty_) {
            ::ioctl(fd_, TIOCNXCL);
        }
        ::close(fd_); // also releases the flock
    }

    bool isCharacterDevice() const override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode);
    }

    // Linux sizes its tty queues itself; what can be checked is that the device is
    // a terminal that takes serial settings at all.
    bool setupBuffers(std::size_t, std::size_t) override {
        termios t{};
        return ::tcgetattr(fd_, &t) == 0;
    }

    void purge(unsigned flags) override {
        // Pending operations are ended by the threads' own stop waits; what remains
        // is to drop what the driver holds.
        const bool output = (flags & (PurgeAbortWrites | PurgeClearOutput)) != 0;
        const bool input = (flags & (PurgeAbortReads | PurgeClearInput)) != 0;
        if (output && input) {
            ::tcflush(fd_, TCIOFLUSH);
        } else if (output) {
            ::tcflush(fd_, TCOFLUSH);
        } else if (input) {
            ::tcflush(fd_, TCIFLUSH);
        }
    }

    // Applies the settings; see toTermios for what maps to what. A setting the
    // driver cannot take at all refuses the whole set and leaves the port as it was.
    bool setState(const LineState& s) override {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0 || !toTermios(s, t)) {
            return false;
        }
        if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
            return false;
        }
        // DTR and RTS: raised unless disabled (handshake and toggle modes have no
        // Linux counterpart; the line is raised so that the far end sees us).
        setModemLine(TIOCM_DTR, s.dtrControl != 1);
        if (s.rtsControl != 2) {
            setModemLine(TIOCM_RTS, s.rtsControl != 1);
        }
        return true;
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        const std::lock_guard lock(timeoutsMutex_);
        timeouts_ = timeouts;
        return true;
    }

    CommTimeouts timeouts() const override {
        const std::lock_guard lock(timeoutsMutex_);
        return timeouts_;
    }

    bool modemStatus(std::uint32_t& bits) override {
        int lines = 0;
        if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
            return false;
        }
        bits = 0;
        if (lines & TIOCM_CTS)
            bits |= kModemCts;
        if (lines & TIOCM_DSR)
            bits |= kModemDsr;
        if (lines & TIOCM_RI)
            bits |= kModemRing;
        if (lines & TIOCM_CD)
            bits |= kModemCarrier;
        return true;
    }

    bool outputQueued(std::size_t& bytes) override {
        int queued = 0;
        if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) {
            return false;
        }
        bytes = static_cast<std::size_t>(queued);
        return true;
    }

    Wake wait(const Signal& stop, bool forWrite, int timeoutMs) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::array<pollfd, 2> fds{{{stop.handle(), POLLIN, 0},
                                   {fd_, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}}};
        for (;;) {
            int left = timeoutMs;
            if (timeoutMs > 0) {
                left = static_cast<int>(std::max<long long>(
                    0,
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count()));
            }
            const int n = ::poll(fds.data(), fds.size(), left);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return Wake::Failed;
            }
            if (n == 0) {
                return Wake::Timeout;
            }
            if (fds[0].revents != 0) {
                return Wake::Stop;
            }
            const short r = fds[1].revents;
            if (r & POLLNVAL) {
                return Wake::Closed;
            }
            // Data still buffered is read before a hang-up is reported.
            if (r & (forWrite ? POLLOUT : POLLIN)) {
                return Wake::Ready;
            }
            return Wake::HangUp; // POLLHUP or POLLERR: the device went away
        }
    }

    IoResult read(std::uint8_t* buffer, std::size_t size) override {
        IoResult r;
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) {
            r.count = static_cast<std::size_t>(n);
        } else if (n == 0) {
            r.endOfFile = size > 0;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            r.wouldBlock = true;
        } else {
            r.error = errno;
        }
        return r;
    }

    IoResult write(const std::uint8_t* data, std::size_t size) override {
        IoResult r;
        const ssize_t n = ::write(fd_, data, size);
        if (n > 0) {
            r.count = static_cast<std::size_t>(n);
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            r.wouldBlock = true;
        } else {
            r.error = errno;
        }
        return r;
    }

    bool takeLineEvents(LineEvents& events, int& error) override {
        events = {};
        if (countersWork_) {
            serial_icounter_struct now{};
            if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) {
                error = errno;
                return false;
            }
            if (now.buf_overrun != counts_.buf_overrun)
                events.errors |= kLineReceiveOverflow;
            if (now.overrun != counts_.overrun)
                events.errors |= kLineOverrun;
            if (now.parity != counts_.parity)
                events.errors |= kLineParity;
            if (now.frame != counts_.frame)
                events.errors |= kLineFraming;
            if (now.brk != counts_.brk)
                events.errors |= kLineBreak;
            events.carrierChanged = now.dcd != counts_.dcd;
            events.ring = now.rng != counts_.rng;
            counts_ = now;
            return true;
        }
        if (modemWorks_) {
            int bits = 0;
            if (::ioctl(fd_, TIOCMGET, &bits) != 0) {
                error = errno;
                return false;
            }
            events.carrierChanged = ((bits ^ modemBits_) & TIOCM_CD) != 0;
            events.ring = (bits & TIOCM_RI) != 0 && (modemBits_ & TIOCM_RI) == 0;
            modemBits_ = bits;
        }
        return true;
    }

    // No driver wakes poll() for modem or error changes, so they are looked at every
    // 50 ms where the driver reports them at all; a pseudo-terminal has none and
    // waits without a timer.
    int lineEventPeriodMs() const override { return countersWork_ || modemWorks_ ? 50 : -1; }

private:
    void setModemLine(int line, bool on) {
        ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line); // refused on ptys; that is fine
    }

    int fd_;
    bool tty_;
    // Read and written only on the receive thread, after construction.
    bool countersWork_ = false;
    bool modemWorks_ = false;
    serial_icounter_struct counts_{};
    int modemBits_ = 0;
    // Set by the user-interface thread, read by the receive thread.
    mutable std::mutex timeoutsMutex_;
    CommTimeouts timeouts_;
};

} // namespace

bool toTermios(const LineState& s, termios& t) {
    bool speedOk = false;
    const speed_t speed = speedFor(s.baudRate, speedOk);
    if (!speedOk || s.stopBits == 1 || s.stopBits > 2 || s.byteSize < 5 || s.byteSize > 8 ||
        s.parity > 4) {
        return false;
    }
    makeRaw(t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | INPCK | IGNPAR);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);

    static constexpr std::array<tcflag_t, 4> kSizes{CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[static_cast<std::size_t>(s.byteSize - 5)];
    switch (s.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (s.stopBits == 2) {
        t.c_cflag |= CSTOPB;
    }
    if (s.parityCheck) {
        t.c_iflag |= INPCK; // bytes with a parity error arrive as 0
    }
    if (s.outxCtsFlow || s.rtsControl == 2) {
        t.c_cflag |= CRTSCTS; // Linux has one switch for both directions
    }
    if (s.outX) {
        t.c_iflag |= IXON;
    }
    if (s.inX) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return true;
}

OpenResult openCommPort(const std::string& name) {
    OpenResult result;
    result.device = resolvePortName(name);
    int fd = -1;
    do {
        fd = ::open(result.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    // The lock keeps out every other opener, root included; TIOCEXCL in addition
    // keeps out programs that do not take the lock (except root's).
    if (retryOnInterrupt(::flock, fd, LOCK_EX | LOCK_NB) != 0) {
        result.error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return result;
    }
    const bool tty = ::isatty(fd) == 1;
    if (tty) {
        ::ioctl(fd, TIOCEXCL);
        termios t{};
        if (::tcgetattr(fd, &t) == 0) {
            makeRaw(t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    result.port = std::make_unique<PosixCommPort>(fd, tty);
    return result;
}

} // namespace cantavel
