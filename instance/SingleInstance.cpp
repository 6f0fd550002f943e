#include "SingleInstance.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace cantavel {

namespace {

using Clock = std::chrono::steady_clock;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

struct Folder {
    UniqueFd fd;
    QString path;
};

std::optional<TXJustOne::Places>& placesForTesting() {
    static std::optional<TXJustOne::Places> places;
    return places;
}

TXJustOne::Places currentPlaces() {
    return placesForTesting() ? *placesForTesting() : TXJustOne::defaultPlaces();
}

QString described(const QString& path, int error) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder whose entries only this user and root can change.
bool trustedOnTheWay(const struct stat& folder) {
    return S_ISDIR(folder.st_mode) && (folder.st_uid == ::geteuid() || folder.st_uid == 0) &&
           (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool privateFolder(const struct stat& folder) {
    return S_ISDIR(folder.st_mode) && folder.st_uid == ::geteuid() &&
           (folder.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// <home>/.local/state/cantavel, made where missing. The folders on the way may be
// links (a home or a .local kept elsewhere); the last one is opened without
// following one, so that what was checked is what is used.
std::optional<Folder> homeFolder(const QString& home, QString& why) {
    if (!home.startsWith(QLatin1Char('/'))) {
        why = QStringLiteral("no home folder");
        return std::nullopt;
    }
    UniqueFd at(::open(QFile::encodeName(home).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!at || ::fstat(at.get(), &st) != 0) {
        why = described(home, errno);
        return std::nullopt;
    }
    if (!trustedOnTheWay(st)) {
        why = QStringLiteral("%1 can be changed by another user").arg(home);
        return std::nullopt;
    }
    QString path = home;
    const std::array<const char*, 3> steps = {".local", "state", "cantavel"};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const bool last = i + 1 == steps.size();
        path += QLatin1Char('/') + QLatin1String(steps[i]);
        if (::mkdirat(at.get(), steps[i], 0700) != 0 && errno != EEXIST) {
            why = described(path, errno);
            return std::nullopt;
        }
        UniqueFd next(::openat(at.get(), steps[i],
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC | (last ? O_NOFOLLOW : 0)));
        if (!next || ::fstat(next.get(), &st) != 0) {
            why = described(path, errno);
            return std::nullopt;
        }
        if (last && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && !privateFolder(st) &&
            ::fchmod(next.get(), 0700) == 0) {
            st.st_mode = (st.st_mode & ~07777) | 0700;
        }
        if (last ? !privateFolder(st) : !trustedOnTheWay(st)) {
            why = last ? QStringLiteral("%1 is not a private folder of the user").arg(path)
                       : QStringLiteral("%1 can be changed by another user").arg(path);
            return std::nullopt;
        }
        at = std::move(next);
    }
    return Folder{std::move(at), path};
}

// The runtime folder is made by the system at login; it is used only as it is.
std::optional<Folder> runtimeFolder(const QString& path, QString& why) {
    if (!path.startsWith(QLatin1Char('/'))) {
        why = QStringLiteral("no runtime folder");
        return std::nullopt;
    }
    UniqueFd fd(::open(QFile::encodeName(path).constData(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        why = described(path, errno);
        return std::nullopt;
    }
    if (!privateFolder(st)) {
        why = QStringLiteral("%1 is not a private folder of the user").arg(path);
        return std::nullopt;
    }
    return Folder{std::move(fd), path};
}

std::optional<Folder> openFolder(bool home, const TXJustOne::Places& places, QString& why) {
    return home ? homeFolder(places.home, why) : runtimeFolder(places.runtime, why);
}

enum class Lock { Ours, Theirs, Failed };

// Opens the lock file and tries to take it. Taken, it must still be the file its
// name leads to: a holder that ends cleanly removes the file while it holds it, so a
// start that waited on the removed file tries again with the new one.
Lock takeLock(const Folder& folder, const QByteArray& name, UniqueFd& file, QString& why) {
    const QString path = folder.path + QLatin1Char('/') + QFile::decodeName(name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        UniqueFd fd(::openat(folder.fd.get(), name.constData(),
                             O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        struct stat own {};
        if (!fd || ::fstat(fd.get(), &own) != 0) {
            why = described(path, errno);
            return Lock::Failed;
        }
        if (!S_ISREG(own.st_mode) || own.st_uid != ::geteuid()) {
            why = QStringLiteral("%1 is not a file of the user's").arg(path);
            return Lock::Failed;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                file = std::move(fd);
                return Lock::Theirs;
            }
            if (errno == EINTR) {
                continue;
            }
            why = described(path, errno);
            return Lock::Failed;
        }
        struct stat named {};
        if (::fstatat(folder.fd.get(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            sameFile(own, named)) {
            file = std::move(fd);
            return Lock::Ours;
        }
    }
    why = QStringLiteral("%1 keeps being replaced").arg(path);
    return Lock::Failed;
}

// Removes the lock file while still holding it (the file descriptor), when the
// name still leads to it.
void removeHeld(const Folder& folder, const QByteArray& name, int file) {
    struct stat own {};
    struct stat named {};
    if (::fstat(file, &own) == 0 &&
        ::fstatat(folder.fd.get(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        sameFile(own, named)) {
        ::unlinkat(folder.fd.get(), name.constData(), 0);
    }
}

QByteArray hexHash(const QByteArray& data, qsizetype digits) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().left(digits);
}

QByteArray hostName() {
    std::array<char, HOST_NAME_MAX + 1> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) {
        return {};
    }
    return QByteArray(name.data());
}

// Lock files start with this and the host's tag, so that one host's editors never
// touch another's files in a shared home.
QByteArray lockFilePrefix() {
    return "cantavel-" + hexHash(hostName(), 8) + '-';
}

// The socket file beside a lock file: "x.lock" -> "x.sock".
QByteArray socketFileName(const QByteArray& lockName) {
    return lockName.chopped(static_cast<qsizetype>(std::strlen(".lock"))) + ".sock";
}

// Lock files that killed instances of this host left, which nobody holds, go at a
// clean exit (the guards of tests and scripts are many). Each is removed only while
// held here, so a start taking it at the same moment finds it gone and takes a new
// one (see takeLock).
void removeStale(const Folder& folder, const QByteArray& own) {
    const int copy = ::fcntl(folder.fd.get(), F_DUPFD_CLOEXEC, 0);
    DIR* listing = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!listing) {
        if (copy >= 0) {
            ::close(copy);
        }
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, &::closedir);
    const QByteArray prefix = lockFilePrefix();
    std::vector<QByteArray> names;
    std::vector<QByteArray> sockets;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != own && name.startsWith(prefix) && name.endsWith(".lock") && names.size() < 64) {
            names.push_back(name);
        } else if (name.startsWith(prefix) && name.endsWith(".sock") && sockets.size() < 64) {
            sockets.push_back(name);
        }
    }
    // A socket file outlives its lock file only when its holder was killed and the
    // lock file removed since: a holder makes the lock file first and removes it last.
    for (const QByteArray& name : sockets) {
        struct stat st {};
        const QByteArray lock = name.chopped(5) + ".lock";
        if (::fstatat(folder.fd.get(), lock.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT &&
            ::fstatat(folder.fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid()) {
            ::unlinkat(folder.fd.get(), name.constData(), 0);
        }
    }
    for (const QByteArray& name : names) {
        UniqueFd fd(::openat(folder.fd.get(), name.constData(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            ::unlinkat(folder.fd.get(), socketFileName(name).constData(), 0);
            removeHeld(folder, name, fd.get());
        }
    }
}

constexpr char kServerPrefix[] = "cantavel-";
constexpr qsizetype kServerDigits = 32; // 128 bits

QByteArray randomServerName() {
    std::array<quint32, kServerDigits / 8> bits{};
    QRandomGenerator::system()->fillRange(bits.data(), bits.size());
    return kServerPrefix + QByteArray(reinterpret_cast<const char*>(bits.data()),
                                      static_cast<qsizetype>(sizeof bits))
                               .toHex();
}

// The socket the holder listens on, beside its lock file in the private folder: no
// other user can reach it there, let alone flood it. A folder too deep for a socket's
// path makes it an abstract socket with a random name instead, which anyone may
// connect to but only this user learns before it is in use. Empty for that case.
QByteArray socketPathIn(const Folder& folder, const QByteArray& lockName) {
    const QByteArray path = QFile::encodeName(folder.path) + '/' + socketFileName(lockName);
    return path.size() < static_cast<qsizetype>(sizeof(sockaddr_un::sun_path)) ? path
                                                                               : QByteArray();
}

// The socket the holder wrote into the lock file: its path in the folder, or a random
// abstract name; empty while there is none yet (or the file holds anything else).
QByteArray serverNameIn(int file, const QByteArray& socketPath) {
    std::array<char, 256> buffer{};
    const ssize_t size = ::pread(file, buffer.data(), buffer.size(), 0);
    const QByteArray text(buffer.data(), size > 0 ? size : 0);
    if (!text.endsWith('\n')) {
        return {};
    }
    const QByteArray name = text.chopped(1);
    if (!socketPath.isEmpty() && name == socketPath) {
        return name;
    }
    const QByteArray prefix(kServerPrefix);
    if (name.size() != prefix.size() + kServerDigits || !name.startsWith(prefix)) {
        return {};
    }
    for (const char c : name.mid(prefix.size())) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return {};
        }
    }
    return name;
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

struct Asked {
    enum { Answered, TryAgain, Silent } kind;
    QByteArray answer;
    QString why;
};

// One request to the holder's socket: its answer line, or why there is none. The
// holder takes no request after the deadline, and its answer to one taken just
// before may still be on its way.
Asked ask(const QByteArray& server, const QByteArray& request, Clock::time_point deadline) {
    const Clock::time_point answerBy = deadline + std::chrono::milliseconds(250);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        return {Asked::TryAgain, {}, QString::fromLocal8Bit(std::strerror(errno))};
    }
    // A path names a socket file; anything else an abstract socket (a leading NUL).
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t at = server.startsWith('/') ? 0 : 1;
    std::memcpy(address.sun_path + at, server.constData(), static_cast<std::size_t>(server.size()));
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + at + server.size() + (1 - at));
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return {Asked::TryAgain,
                {},
                errno == EAGAIN ? QStringLiteral("its socket accepts no connection")
                                : QStringLiteral("its socket: %1")
                                      .arg(QString::fromLocal8Bit(std::strerror(errno)))};
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        peer.uid != ::geteuid()) {
        return {Asked::TryAgain, {}, QStringLiteral("another user's process holds its socket")};
    }
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd.get(), request.constData() + sent,
                                 static_cast<std::size_t>(request.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd ready{fd.get(), POLLOUT, 0};
            if (::poll(&ready, 1, millisecondsUntil(deadline)) == 0) {
                return {Asked::Silent, {}, QStringLiteral("it took no request")};
            }
        } else if (n < 0 && errno != EINTR) {
            return {Asked::TryAgain, {}, QStringLiteral("it hung up")};
        }
    }
    QByteArray answer;
    for (;;) {
        pollfd ready{fd.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, millisecondsUntil(answerBy));
        if (polled == 0) {
            return {Asked::Silent, {}, QStringLiteral("no answer to the request")};
        }
        std::array<char, 4096> buffer{};
        const ssize_t n = polled > 0 ? ::recv(fd.get(), buffer.data(), buffer.size(), 0) : -1;
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return {Asked::TryAgain, {}, QStringLiteral("it hung up without an answer")};
        }
        answer.append(buffer.data(), n);
        if (const qsizetype end = answer.indexOf('\n'); end >= 0) {
            return {Asked::Answered, answer.left(end + 1), {}};
        }
        if (answer.size() > 4 * TXJustOne::kMaxRequest) { // never a well-formed answer
            return {Asked::Answered, answer, {}};
        }
    }
}

} // namespace

struct TXJustOne::Held {
    Folder folder;
    QByteArray fileName;
    UniqueFd file;
    std::unique_ptr<QLocalServer> server;
};

TXJustOne::TXJustOne(QWidget* owner) : QObject(owner), owner_(owner) {
    SetSwitchToPrevious(true);
    RequestTerminate = [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    };
}

TXJustOne::~TXJustOne() {
    if (held_) {
        held_->server.reset();
        if (serverName_.startsWith(QLatin1Char('/'))) { // its socket file goes first
            ::unlinkat(held_->folder.fd.get(), socketFileName(held_->fileName).constData(), 0);
        }
        removeStale(held_->folder, held_->fileName);
        removeHeld(held_->folder, held_->fileName, held_->file.get());
        held_.reset(); // releases the lock: the next start is the first instance again
    }
}

QString TXJustOne::applicationTitle() {
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return {};
    }
    const QString title = app->property("ApplicationTitle").toString();
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

TXJustOne::Places TXJustOne::defaultPlaces() {
    Places places;
    const uid_t uid = ::geteuid();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        places.home = QFile::decodeName(found->pw_dir);
    }
    places.runtime = QStringLiteral("/run/user/%1").arg(uid);
    return places;
}

void TXJustOne::setPlacesForTesting(std::optional<Places> places) {
    placesForTesting() = std::move(places);
}

QString TXJustOne::lockFileName(const QString& title) {
    const QByteArray host = hostName();
    const QByteArray named =
        title.left(256).toUtf8() + '\0' + qgetenv("CANTAVEL_INSTANCE") + '\0' + host;
    return QString::fromLatin1(lockFilePrefix() + hexHash(named, 32) + ".lock");
}

QString TXJustOne::guardFolder() {
    const Places places = currentPlaces();
    for (const bool home : {true, false}) {
        QString why;
        if (const std::optional<Folder> folder = openFolder(home, places, why)) {
            return folder->path;
        }
    }
    return {};
}

bool TXJustOne::isSameUser(const QLocalSocket& socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    const auto fd = static_cast<int>(socket.socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::geteuid();
}

void TXJustOne::Loaded() {
    MutexHeld_ = false;
    // This start's time: the running instance opens the latest start's file. Taken
    // here rather than when the owner began to build itself, so that a slow build of
    // the window (a loaded machine, a debugger) does not use up the time to ask.
    startedAt_ =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    // The running instance ignores a request older than this (see answer()).
    const auto deadline = Clock::time_point(std::chrono::nanoseconds(startedAt_)) +
                          std::chrono::milliseconds(kReachMs);
    const Places places = currentPlaces();
    const QByteArray lockName = QFile::encodeName(lockFileName(applicationTitle()));

    // The home's folder, else the runtime folder: the first where the lock file can
    // be had and the holder's socket offered. A folder where the holder cannot offer
    // one (a full disk) is let go, so that every start moves on to the same next one.
    QStringList whyNot;
    bool decided = false;
    for (const bool home : {true, false}) {
        QString why;
        std::optional<Folder> folder = openFolder(home, places, why);
        auto held = std::make_unique<Held>();
        held->fileName = lockName;
        Lock lock = folder ? takeLock(*folder, lockName, held->file, why) : Lock::Failed;
        if (lock == Lock::Failed) {
            whyNot << why;
            continue;
        }
        held->folder = std::move(*folder);
        lockPath_ = held->folder.path + QLatin1Char('/') + QFile::decodeName(lockName);
        if (lock == Lock::Theirs) {
            const Asking asking = askHolder(*held, deadline, why);
            if (asking == Asking::Decided) {
                decided = true; // asked (or not to ask): the outcome is set
                break;
            }
            lock = asking == Asking::LockIsOurs ? Lock::Ours : Lock::Failed;
        }
        if (lock == Lock::Ours && offer(*held, why)) {
            held_ = std::move(held);
            connect(held_->server.get(), &QLocalServer::newConnection, this, &TXJustOne::serve);
            outcome_ = Outcome::First;
            decided = true;
            break;
        }
        if (lock == Lock::Ours) {
            removeHeld(held->folder, lockName, held->file.get());
        }
        whyNot << why;
    }
    if (!decided) {
        // Better two editors than none: nobody else may keep this one from starting.
        outcome_ = Outcome::Unguarded;
        resultText_ = whyNot.join(QStringLiteral("; "));
        lockPath_.clear();
    }
    second_ = outcome_ != Outcome::First && outcome_ != Outcome::Unguarded;
    if (second_) {
        if (AlreadyExist) {
            AlreadyExist(this);
        }
        if (RequestTerminate) {
            RequestTerminate();
        }
    }
    MutexHeld_ = true;
}

// The lock is another's: asks its holder, and goes on asking while it is starting (no
// socket named yet) or gone (the lock is free again) until the time is up.
TXJustOne::Asking TXJustOne::askHolder(Held& held, std::chrono::steady_clock::time_point deadline,
                                       QString& why) {
    if (!switchToPrevious_) {
        outcome_ = Outcome::NotAsked;
        return Asking::Decided;
    }
    const QByteArray socketPath = socketPathIn(held.folder, held.fileName);
    for (;;) {
        const QByteArray server = serverNameIn(held.file.get(), socketPath);
        if (server.isEmpty()) {
            why = QStringLiteral("the lock file names no socket yet");
        } else {
            const Asked asked = ask(server, requestFor(fileToOpen_, startedAt_), deadline);
            if (asked.kind == Asked::Answered) {
                takeAnswer(asked.answer);
                return Asking::Decided;
            }
            why = asked.why;
            if (asked.kind == Asked::Silent) {
                break;
            }
        }
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QString lockWhy;
        const Lock lock = takeLock(held.folder, held.fileName, held.file, lockWhy);
        if (lock != Lock::Theirs) {
            why = lockWhy;
            return lock == Lock::Ours ? Asking::LockIsOurs : Asking::LockFailed;
        }
    }
    outcome_ = Outcome::Unreachable; // not answered in time
    resultText_ = why;
    return Asking::Decided;
}

void TXJustOne::takeAnswer(const QByteArray& answer) {
    const QByteArray superseded = QByteArray(kDeclined) + kSuperseded;
    if (answer == kAnswer || answer == kQueued) {
        outcome_ = Outcome::HandedOver;
    } else if (answer == QByteArray(kDeclined) + kClosing + '\n') {
        outcome_ = Outcome::Closing;
    } else if (answer.startsWith(superseded + '/') && answer.endsWith('\n')) {
        outcome_ = Outcome::Declined;
        resultText_ = QFile::decodeName(
            QByteArray::fromPercentEncoding(answer.mid(superseded.size()).chopped(1)));
    } else {
        outcome_ = Outcome::Unreachable;
        resultText_ = QStringLiteral("its answer was not understood");
    }
}

// The first instance: a socket only this user can reach (or, failing that, of a name
// nobody can foresee), named in the lock file. False, and why, when either fails.
bool TXJustOne::offer(Held& held, QString& why) {
    const QByteArray path = socketPathIn(held.folder, held.fileName);
    auto server = std::make_unique<QLocalServer>();
    QByteArray name = path;
    if (!path.isEmpty()) {
        // Holding the lock, any socket file left there is a killed holder's.
        QLocalServer::removeServer(QFile::decodeName(path));
        if (!server->listen(QFile::decodeName(path))) {
            why = QStringLiteral("%1: %2").arg(QFile::decodeName(path), server->errorString());
            return false;
        }
    } else {
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        for (int attempt = 0; attempt < 3 && !server->isListening(); ++attempt) {
            name = randomServerName();
            (void)server->listen(QString::fromLatin1(name));
        }
        if (!server->isListening()) {
            why = QStringLiteral("no socket could be offered: %1").arg(server->errorString());
            return false;
        }
    }
    const QByteArray line = name + '\n';
    if (::ftruncate(held.file.get(), 0) != 0 ||
        ::pwrite(held.file.get(), line.constData(), static_cast<std::size_t>(line.size()), 0) !=
            line.size()) {
        // A lock whose socket nobody can learn would turn every later start away.
        why = described(lockPath_, errno);
        return false;
    }
    held.server = std::move(server);
    serverName_ = QFile::decodeName(name);
    return true;
}

void TXJustOne::serve() {
    while (QLocalSocket* peer = held_->server->nextPendingConnection()) {
        answer(peer);
    }
}

std::optional<TXJustOne::Request> TXJustOne::parseRequest(const QByteArray& line) {
    if (line == kRequest) {
        return Request{};
    }
    const QByteArray open(kOpenRequest);
    if (line.size() > kMaxRequest || !line.startsWith(open) || !line.endsWith('\n')) {
        return std::nullopt;
    }
    const qsizetype space = line.indexOf(' ', open.size());
    if (space < 0) {
        return std::nullopt;
    }
    const QByteArray time = line.mid(open.size(), space - open.size());
    bool number = !time.isEmpty() && (time.size() == 1 || time[0] != '0');
    for (const char c : time) {
        number = number && c >= '0' && c <= '9';
    }
    const qint64 startedAt = number ? time.toLongLong(&number) : 0;
    // The path is percent-encoded: a name may hold a line's end.
    // Only the form a start sends is taken: a name that is not UTF-8 would come out
    // as another name, and a path written two ways would be two files.
    const QByteArray encoded = line.mid(space + 1, line.size() - space - 2);
    const QString path = QFile::decodeName(QByteArray::fromPercentEncoding(encoded));
    if (!number || !path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)) ||
        encodedPath(path) != encoded) {
        return std::nullopt;
    }
    return Request{path, startedAt};
}

QByteArray TXJustOne::encodedPath(const QString& path) {
    return QFile::encodeName(path).toPercentEncoding("/");
}

QByteArray TXJustOne::requestFor(const QString& fileToOpen, qint64 startedAt) {
    if (fileToOpen.isEmpty()) {
        return kRequest;
    }
    return kOpenRequest + QByteArray::number(std::max<qint64>(0, startedAt)) + ' ' +
           encodedPath(fileToOpen) + '\n';
}

TXJustOne::HandOverReply TXJustOne::HandOver(const QString& path, qint64 startedAt) {
    if (!waiting_.isEmpty()) {
        if (path == waiting_) { // it opens either way
            waitingStartedAt_ = std::max(waitingStartedAt_, startedAt);
            return {};
        }
        if (startedAt < waitingStartedAt_) {
            passOver(path);
            return {waiting_};
        }
        passOver(waiting_);
    }
    waiting_ = path;
    waitingStartedAt_ = startedAt;
    if (OnHandOver) {
        OnHandOver();
    }
    return {};
}

void TXJustOne::passOver(const QString& path) {
    ++passedOver_;
    if (passedOverNamed_.size() < kMaxNamed) {
        passedOverNamed_ << path;
    }
}

TXJustOne::HandedOver TXJustOne::TakeHandedOver() {
    waitingStartedAt_ = 0;
    return {std::exchange(waiting_, {}), std::exchange(passedOver_, 0),
            std::exchange(passedOverNamed_, {})};
}

// A request from a later start of the same user, answered at once; anyone else,
// anything that is not one well-formed request, and a client that keeps silent are
// hung up on. Nothing here waits or opens a dialog: this runs in whatever event
// loop is running, a dialog's or a Device command's included.
void TXJustOne::answer(QLocalSocket* peer) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    if (!isSameUser(*peer)) {
        peer->abort();
        return;
    }
    auto* patience = new QTimer(peer);
    patience->setSingleShot(true);
    connect(patience, &QTimer::timeout, peer, &QLocalSocket::abort);
    patience->start(RequestTimeoutMs);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer, patience] {
        if (!peer->canReadLine()) {
            if (peer->bytesAvailable() > kMaxRequest) {
                peer->abort();
            }
            return;
        }
        const std::optional<Request> request = parseRequest(peer->readLine(kMaxRequest + 1));
        if (!request || peer->bytesAvailable() > 0) {
            peer->abort();
            return;
        }
        patience->stop();
        // A start gives up kReachMs after it began and says its file was not handed
        // over; a request that waited longer (this instance was stopped, say) must
        // not open it after all.
        const qint64 age =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count() -
            request->startedAt;
        if (!request->file.isEmpty() && age > qint64(kReachMs) * 1'000'000) {
            peer->abort();
            return;
        }
        QByteArray reply = kAnswer;
        if (!request->file.isEmpty() && closing_) {
            reply = QByteArray(kDeclined) + kClosing + '\n'; // it would never be opened
        } else if (!request->file.isEmpty()) {
            const HandOverReply handed = HandOver(request->file, request->startedAt);
            reply = handed.queued() ? QByteArray(kQueued)
                                    : kDeclined + QByteArray(kSuperseded) +
                                          encodedPath(handed.supersededBy) + '\n';
        }
        bringOwnerToFront();
        peer->write(reply);
        peer->disconnectFromServer(); // once the answer is out
    });
}

void TXJustOne::bringOwnerToFront() {
    if (!owner_) {
        return;
    }
    QWidget* window = owner_->window();
    if (window->isMinimized()) {
        window->showNormal();
    } else {
        window->raise();
    }
    window->activateWindow();
    // A question the window has open stays above it (without a window manager
    // nothing else keeps it there), or the window looks frozen.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != window) {
        modal->raise();
        modal->activateWindow();
    }
}

} // namespace cantavel
