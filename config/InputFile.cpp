#include "InputFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantavel {

namespace {

bool accepted(mode_t mode, InputFile::Accept accept) {
    return S_ISREG(mode) || (accept == InputFile::Accept::FileOrPipe && S_ISFIFO(mode));
}

// Opens `name` for reading only if it is what `accept` takes: the name is pinned
// without opening anything (O_PATH), looked at, and only then opened through the pin,
// so a device put in its place in between is never opened (opening a serial port
// raises its lines). The descriptor, or -1 with `error` the error number (0 when the
// name is there but refused for what it is). `st` holds the file's status.
int openAccepted(const QByteArray& name, InputFile::Accept accept, struct stat& st, int& error) {
    error = 0;
    // An O_PATH descriptor opens nothing: no device's open() runs, no FIFO waits.
    const int pinned = ::open(name.constData(), O_PATH | O_CLOEXEC);
    if (pinned < 0) {
        error = errno;
        return -1;
    }
    if (::fstat(pinned, &st) != 0) {
        error = errno;
        ::close(pinned);
        return -1;
    }
    if (!accepted(st.st_mode, accept)) {
        ::close(pinned);
        return -1;
    }
    // Opened through the pinned descriptor: the same file, whatever the name now
    // stands for. Without O_NONBLOCK a FIFO's open would wait for a writer.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(pinned);
    int fd = ::open(self.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // No /proc: the name again, checked once more below.
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }
    if (fd < 0) {
        error = errno;
        ::close(pinned);
        return -1;
    }
    ::close(pinned);
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !accepted(opened.st_mode, accept) ||
        opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) {
        error = opened.st_mode == 0 ? errno : 0;
        st = opened;
        ::close(fd);
        return -1;
    }
    st = opened;
    return fd;
}

} // namespace

QString notAFileReason(unsigned mode) {
    if (S_ISDIR(mode)) {
        return systemReason(EISDIR);
    }
    const char* what = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "not a file";
    return QStringLiteral("Not a regular file (%1)").arg(QLatin1String(what));
}

InputFile::InputFile(const QString& path, Accept accept) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0) {
        error_ = name.isEmpty() ? ENOENT : errno;
        result_ = FileResult::failure(systemReason(error_));
        if (error_ == ENOENT && path.contains(QChar::ReplacementCharacter)) {
            // Names reach the program as text: bytes that are not UTF-8 are lost on
            // the way, and the name no longer leads to the file.
            result_.reason += QStringLiteral("; a name that is not valid UTF-8 cannot be "
                                             "opened: rename the file");
        }
        return;
    }
    if (!accepted(st.st_mode, accept)) {
        result_ = FileResult::failure(notAFileReason(st.st_mode));
        return;
    }
    fd_ = openAccepted(name, accept, st, error_);
    if (fd_ < 0) {
        result_ =
            FileResult::failure(error_ != 0 ? systemReason(error_) : notAFileReason(st.st_mode));
        return;
    }
    if (S_ISREG(st.st_mode)) {
        size_ = st.st_size;
        return;
    }
    // A stream is read as one: each read waits for what its writer sends.
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        error_ = errno;
        result_ = FileResult::failure(systemReason(error_));
        ::close(std::exchange(fd_, -1));
    }
}

InputFile::~InputFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

FileResult InputFile::read(qint64 limit, QByteArray& into) {
    if (fd_ < 0) {
        return result_.ok ? FileResult::failure(systemReason(EBADF)) : result_;
    }
    const qsizetype start = into.size();
    // A regular file says how much there was (a file in /proc says 0, and a file may
    // grow); the buffer grows as the bytes come.
    constexpr qint64 kChunk = 64 * 1024;
    qint64 room = std::min(limit, std::max(size_ + 1, kChunk));
    into.resize(start + room);
    qint64 total = 0;
    while (total < limit) {
        if (total == room) {
            room = std::min(limit, room + std::max(room, kChunk));
            into.resize(start + room);
        }
        const ssize_t n =
            ::read(fd_, into.data() + start + total, static_cast<size_t>(room - total));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            into.resize(start + total);
            return FileResult::failure(systemReason(error));
        }
        if (n == 0) {
            break;
        }
        total += n;
    }
    into.resize(start + total);
    return {};
}

} // namespace cantavel
