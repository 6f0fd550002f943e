#include "SafeSave.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <dirent.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
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
    int release() { return std::exchange(fd_, -1); }
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

// How long a device or pipe may take no bytes at all before a save gives up on it.
std::atomic<int> stallMs{static_cast<int>(kStallLimit.count())};

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
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A device or pipe that is full: wait for room, but not for ever.
                pollfd room{fd, POLLOUT, 0};
                const int ready = ::poll(&room, 1, stallMs.load());
                if (ready == 0) {
                    return ETIMEDOUT;
                }
                if (ready < 0 && errno != EINTR) {
                    return errno;
                }
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
// wait for a FIFO's reader (a FIFO nobody reads is refused at once); writing waits
// for the reader to take the bytes, but a target that takes nothing for the stall
// limit (a terminal nobody reads) fails the save rather than holding the window.
FileResult writeInPlace(const QByteArray& target, Source& source) {
    Fd fd(::open(target.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return FileResult::failure(systemReason(errno));
    }
    if (const int error = writeAll(fd.get(), source)) {
        if (::isatty(fd.get())) {
            ::tcflush(fd.get(), TCOFLUSH); // or closing waits for the terminal to drain
        }
        return FileResult::failure(
            error == ETIMEDOUT
                ? QStringLiteral("It took nothing for %1 s: a device or pipe that nobody reads")
                      .arg(stallMs.load() / 1000.0)
                : systemReason(error));
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

// A save's temporary file is named after its target, with a random part and a check
// on it: ".live.cfg.k2j8x0q3vz-3fa9c1". The check marks the name as one this program
// made, so that a file of the user's that merely looks alike is never taken for one.
// While the save runs it holds an flock on the file; a temporary that is marked and
// no longer held was left by a save that was killed, and the next save of the same
// file removes it.
constexpr int kRandomChars = 10;
constexpr int kCheckChars = 6;

QByteArray temporaryCheck(const QByteArray& random) {
    return QCryptographicHash::hash("cantavel temporary " + random, QCryptographicHash::Sha256)
        .toHex()
        .left(kCheckChars);
}

// The part of the temporaries' names before the random part: ".live.cfg.". Long
// names are cut so that a temporary's name stays within a file name's limit.
QByteArray temporaryPrefix(const QByteArray& target) {
    return "." + target.mid(target.lastIndexOf('/') + 1).left(200) + '.';
}

bool isMarkedTemporary(const QByteArray& name, const QByteArray& prefix) {
    if (name.size() != prefix.size() + kRandomChars + 1 + kCheckChars || !name.startsWith(prefix) ||
        name[prefix.size() + kRandomChars] != '-') {
        return false;
    }
    const QByteArray random = name.mid(prefix.size(), kRandomChars);
    return name.endsWith(temporaryCheck(random));
}

// Removes the temporaries of earlier saves of target that were killed before they
// could clean up: marked, this user's, and held by no save.
void removeAbandonedTemporaries(const QByteArray& target) {
    const QByteArray prefix = temporaryPrefix(target);
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folderOf(target).constData()),
                                                     &::closedir);
    if (!folder) {
        return;
    }
    const int dirFd = ::dirfd(folder.get());
    while (const dirent* entry = ::readdir(folder.get())) {
        const QByteArray name(entry->d_name);
        if (!isMarkedTemporary(name, prefix)) {
            continue;
        }
        // A temporary takes its target's mode, which may allow no reading.
        int opened = -1;
        for (const int access : {O_RDONLY, O_WRONLY}) {
            opened = ::openat(dirFd, entry->d_name,
                              access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (opened >= 0 || errno != EACCES) {
                break;
            }
        }
        Fd fd(opened);
        struct stat held {};
        struct stat named {};
        if (fd.get() < 0 || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
            held.st_uid != ::geteuid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        // Still the file that was locked (not replaced since): remove it while the
        // lock is held, so that a save starting now never loses its own temporary.
        if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            ::unlinkat(dirFd, entry->d_name, 0);
        }
    }
}

// A temporary file beside the target, made anew (never an existing one), with the
// mode a new file gets from the umask, marked and held for as long as the save runs.
int createTemporary(const QByteArray& target, QByteArray& temporary) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const QByteArray prefix = folderOf(target) + '/' + temporaryPrefix(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray random(kRandomChars, '0');
        for (char& c : random) {
            c = kDigits[QRandomGenerator::global()->bounded(36)];
        }
        temporary = prefix + random + '-' + temporaryCheck(random);
        Fd fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                     0666));
        if (fd.get() < 0 && errno == EEXIST) {
            continue;
        }
        if (fd.get() < 0) {
            return -1;
        }
        // Another save may have found it unheld in the moment between its making and
        // this lock, and removed it: then it is made anew.
        struct stat st {};
        while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
        if (::fstat(fd.get(), &st) == 0 && st.st_nlink > 0) {
            return fd.release();
        }
    }
    errno = EEXIST;
    return -1;
}

QString userName(uid_t uid) {
    const passwd* user = ::getpwuid(uid);
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid) {
    const group* entry = ::getgrgid(gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(gid);
}

// The saved file keeps the old one's owner, group and mode, or it is not saved: a
// save must not change who may read or write the file. Empty when they are kept;
// otherwise why not.
QString identityNotKept(int fd, const struct stat& old) {
    const mode_t mode = old.st_mode & 07777;
    if (::fchmod(fd, mode) != 0) {
        return systemReason(errno);
    }
    if (::geteuid() == 0) {
        // Root can give the file back to its owner; where the file system will not,
        // the save goes on as it always has.
        if (::fchown(fd, old.st_uid, old.st_gid) == 0) {
            [[maybe_unused]] const int again = ::fchmod(fd, mode); // chown clears set-id bits
        }
        return {};
    }
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        return systemReason(errno);
    }
    if (now.st_uid != old.st_uid) {
        return QStringLiteral("It belongs to %1; saving it would make it yours")
            .arg(userName(old.st_uid));
    }
    // A group of the user's own can be kept (chown clears set-id bits: mode again).
    if (now.st_gid != old.st_gid &&
        (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 || ::fchmod(fd, mode) != 0 ||
         ::fstat(fd, &now) != 0 || now.st_gid != old.st_gid)) {
        return QStringLiteral("Its group %1 could not be kept").arg(groupName(old.st_gid));
    }
    if ((now.st_mode & 07777) != mode) {
        return QStringLiteral("Its permissions %1 could not be kept")
            .arg(mode, 4, 8, QLatin1Char('0'));
    }
    return {};
}

FileResult replaceByRename(const QByteArray& target, const struct stat* existing, Source& source) {
    removeAbandonedTemporaries(target);
    QByteArray temporary;
    Fd fd(createTemporary(target, temporary));
    if (fd.get() < 0) {
        return FileResult::failure(systemReason(errno));
    }
    if (existing) {
        if (const QString why = identityNotKept(fd.get(), *existing); !why.isEmpty()) {
            ::unlink(temporary.constData());
            return FileResult::failure(why);
        }
    }
    int error = writeAll(fd.get(), source);
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
    // The rename would replace a file that a plain write may not change (read-only,
    // another user's): the file's own protection holds.
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
        return FileResult::failure(systemReason(errno));
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

bool isSameFile(const QString& a, const QString& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::chrono::milliseconds stallLimit() {
    return std::chrono::milliseconds(stallMs.load());
}

void setStallLimitForTesting(std::chrono::milliseconds limit) {
    stallMs.store(static_cast<int>(limit.count()));
}

FileResult copyToStream(int targetFd, int sourceFd) {
    FdSource source(sourceFd);
    if (const int error = writeAll(targetFd, source)) {
        return FileResult::failure(systemReason(error));
    }
    return {};
}

} // namespace cantavel
