#include "SafeSave.h"

#include <QFile>
#include <QRandomGenerator>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantavel {

namespace {

// Hands out the bytes to save piece by piece; an empty piece ends them.
class Source {
public:
    virtual ~Source() = default;
    // False with errno set when the bytes cannot be had.
    virtual bool next(const char*& data, std::size_t& size) = 0;
};

class ViewSource final : public Source {
public:
    explicit ViewSource(QByteArrayView data) : data_(data) {}
    bool next(const char*& data, std::size_t& size) override {
        data = data_.data();
        size = static_cast<std::size_t>(data_.size());
        data_ = {};
        return true;
    }

private:
    QByteArrayView data_;
};

class FdSource final : public Source {
public:
    explicit FdSource(int fd) : fd_(fd) {}
    bool next(const char*& data, std::size_t& size) override {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return false;
            }
            data = buffer_.data();
            size = static_cast<std::size_t>(n);
            return true;
        }
    }

private:
    int fd_;
    std::array<char, 64 * 1024> buffer_{};
};

// Closes a descriptor on every path that does not close it itself.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and says how that went: 0, or the error number. A close that was
    // interrupted has released the descriptor all the same (Linux).
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
    }

private:
    int fd_;
};

// Writes everything the source gives; 0, or the error number of the failed step.
int writeAll(int fd, Source& source) {
    for (;;) {
        const char* data = nullptr;
        std::size_t size = 0;
        if (!source.next(data, size)) {
            return errno != 0 ? errno : EIO;
        }
        if (size == 0) {
            return 0;
        }
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return errno;
            }
            if (n == 0) {
                return EIO; // a device that takes nothing and says nothing
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
}

// A device or a FIFO keeps its identity: it is written in place. Opening does not
// wait for a FIFO's reader (a FIFO nobody reads is refused at once); writing then
// waits for the reader to take the bytes.
FileResult writeInPlace(const QByteArray& target, Source& source) {
    Fd fd(::open(target.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return FileResult::failure(systemReason(errno));
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0) {
        return FileResult::failure(systemReason(errno));
    }
    if (const int error = writeAll(fd.get(), source)) {
        return FileResult::failure(systemReason(error));
    }
    if (const int error = fd.close()) {
        return FileResult::failure(systemReason(error));
    }
    return {};
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) {
        return ".";
    }
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

// A temporary file beside the target, made anew (never an existing one), with the
// mode a new file gets from the umask.
int createTemporary(const QByteArray& target, QByteArray& temporary) {
    const QByteArray folder = folderOf(target);
    // Cut long names so that the temporary name stays within a file name's limit.
    const QByteArray base = target.mid(target.lastIndexOf('/') + 1).left(200);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + "/." + base + '.' +
                    QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::open(temporary.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

FileResult replaceByRename(const QByteArray& target, const struct stat* existing, Source& source) {
    QByteArray temporary;
    Fd fd(createTemporary(target, temporary));
    if (fd.get() < 0) {
        return FileResult::failure(systemReason(errno));
    }
    int error = 0;
    if (existing) {
        // The saved file keeps the old one's permissions (and, for root, its owner).
        if (::fchmod(fd.get(), existing->st_mode & 07777) != 0) {
            error = errno;
        } else if (::geteuid() == 0) {
            [[maybe_unused]] const int ignored =
                ::fchown(fd.get(), existing->st_uid, existing->st_gid);
        }
    }
    if (error == 0) {
        error = writeAll(fd.get(), source);
    }
    // The data is on the disk before the name points at it; a file system that
    // cannot sync at all has nothing to report.
    if (error == 0 && ::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) {
        error = errno;
    }
    if (const int closed = fd.close(); error == 0) {
        error = closed;
    }
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.constData());
        return FileResult::failure(systemReason(error));
    }
    // The rename itself survives a crash once the folder is synced; a folder that
    // cannot be synced has still been renamed in, so this is not a failure.
    if (const int dir = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

// The file a symbolic link points at; the path itself when it is no link.
QByteArray followLink(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return path;
    }
    std::array<char, PATH_MAX> resolved{};
    if (::realpath(path.constData(), resolved.data())) {
        return QByteArray(resolved.data());
    }
    // A link to a file that does not exist yet: the file is made where it points.
    const ssize_t n = ::readlink(path.constData(), resolved.data(), resolved.size() - 1);
    if (n <= 0) {
        return path;
    }
    const QByteArray link(resolved.data(), n);
    return link.startsWith('/') ? link : folderOf(path) + '/' + link;
}

FileResult save(const QString& path, Source& source) {
    if (path.isEmpty()) {
        return FileResult::failure(systemReason(ENOENT));
    }
    const QByteArray target = followLink(QFile::encodeName(path));
    struct stat st {};
    if (::stat(target.constData(), &st) != 0) {
        if (errno != ENOENT) {
            return FileResult::failure(systemReason(errno));
        }
        return replaceByRename(target, nullptr, source);
    }
    if (S_ISDIR(st.st_mode)) {
        return FileResult::failure(systemReason(EISDIR));
    }
    if (!S_ISREG(st.st_mode)) {
        return writeInPlace(target, source);
    }
    return replaceByRename(target, &st, source);
}

} // namespace

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

FileResult saveFileSafely(const QString& path, QByteArrayView data) {
    ViewSource source(data);
    return save(path, source);
}

FileResult saveFileSafelyFrom(const QString& path, int sourceFd) {
    FdSource source(sourceFd);
    return save(path, source);
}

} // namespace cantavel
