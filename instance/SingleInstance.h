#pragma once

// TXJustOne: keeps the program to one running instance per user, and lets a later
// start hand its file to the running one.
//
// Any process may bind any abstract socket name, and every user can read those names
// in /proc/net/unix, so a name that can be worked out beforehand is no guard: another
// user who binds it first runs this user's editor unguarded, and one who binds it with
// a full backlog keeps every start waiting. What nobody else can take is a file in a
// folder nobody else can write to, so the guard is a lock file there:
//
// - The folder is <home>/.local/state/cantavel, the home taken from the password
//   database: no environment variable moves it, so every start of the user meets the
//   same guard whatever its runtime, temporary or home variables say. It is made
//   0700 and must be a real folder of ours (not a link); the folders above it must
//   be ours or root's and writable by nobody else. Where the home cannot be used
//   (missing, not ours, read-only) /run/user/<uid> is, when it exists as a private
//   folder of ours; where neither can, the program runs without a guard and says so:
//   nobody else must be able to keep it from starting.
// - The lock file is named by a hash of the title, CANTAVEL_INSTANCE (a guard of its
//   own for tests and the demo) and the host name (a home shared over NFS serves
//   machines whose sockets cannot reach each other). The first instance holds
//   flock(LOCK_EX) on it for its whole life; the kernel releases it however the
//   holder ends. A start that finds the lock held is a later start.
// - The holder listens on a socket file beside the lock file, named in it: in the
//   private folder no other user can connect to it, let alone flood it (an abstract
//   socket can be reached by anyone who reads its name in /proc/net/unix). Where the
//   folder's path is too long for a socket's, the holder listens on an abstract
//   socket with a random name (128 bits) instead, so only this user learns it before
//   it is in use. Each side hangs up on a peer of another user (SO_PEERCRED).
// - A later start asks the holder over the socket and waits for one answer line,
//   trying again until about 3 s have passed (the holder may still be starting). A
//   holder that does not answer (stopped, hung) makes the start Unreachable, which
//   its owner reports rather than ending as if all were well.
//
// Requests and answers, one line each:
//   "raise\n"                        -> "raised\n"
//   "open <start time> /abs/path\n"  -> "queued\n" | "declined: superseded by /abs/path\n"
//                                      | "declined: closing\n"
// Paths are percent-encoded (but for their slashes): a name may hold a line's end.
// The start time is the steady clock's (CLOCK_MONOTONIC, the same for every process)
// in nanoseconds when the asking start ran its check: of the files handed over
// while the owner is busy, the one of the latest start wins.

#include <QObject>
#include <QString>
#include <QStringList>

#include <QByteArray>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QLocalSocket;
class QWidget;

namespace cantavel {

class TXJustOne : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool SwitchToPrevious READ SwitchToPrevious WRITE SetSwitchToPrevious)

public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    // The window brought to the front when a later start asks for it is the owner's.
    explicit TXJustOne(QWidget* owner);
    ~TXJustOne() override;

    TNotifyEvent AlreadyExist;
    // In the first instance: a file handed over by a later start waits; the owner
    // takes it with TakeHandedOver when it is free to open it. Called from the
    // socket's event: the owner must not open dialogs from here.
    std::function<void()> OnHandOver;
    // How long a client may take to send its request before it is hung up on.
    int RequestTimeoutMs = kRequestTimeoutMs;
    // In a later start: the file to hand over instead of a plain request to come to
    // the front. Set before Loaded.
    void SetFileToOpen(const QString& path) { fileToOpen_ = path; }
    // How a second instance asks the application to end: by default a quit queued
    // for when the event loop starts.
    std::function<void()> RequestTerminate;

    bool SwitchToPrevious() const { return switchToPrevious_; }
    void SetSwitchToPrevious(bool value) { switchToPrevious_ = value; }

    // The check, run once while the owning window is being built.
    void Loaded();

    enum class Outcome {
        First,       // this start holds the guard
        Unguarded,   // no private folder or lock could be had: runs without a guard
        HandedOver,  // the running instance took the request (raised, or file queued)
        Declined,    // the running instance declined the file: a later start's wins
        Unreachable, // another instance holds the guard and did not answer in time
        NotAsked,    // another instance holds the guard; SwitchToPrevious is off
        Closing,     // the running instance declined the file: it is closing
    };
    Outcome Result() const { return outcome_; }
    // Declined: the file that superseded this start's. Unguarded, Unreachable: why.
    const QString& ResultText() const { return resultText_; }

    // True when Loaded found another instance: the owner must not be shown, and the
    // application has been asked to end.
    bool IsSecondInstance() const { return second_; }
    bool MutexHeld() const { return MutexHeld_; }
    // The lock file held or asked about; empty when unguarded.
    const QString& LockPath() const { return lockPath_; }
    // The socket the first instance listens on: a path, or an abstract name.
    const QString& ServerName() const { return serverName_; }

    // A file handed over by a later start that began at `startedAt`: queued (it
    // supersedes the one waiting), or declined because the waiting one began later.
    struct HandOverReply {
        QString supersededBy; // empty when queued
        bool queued() const { return supersededBy.isEmpty(); }
    };
    HandOverReply HandOver(const QString& path, qint64 startedAt);
    // What waits, taken away: the latest start's file (empty when none) and the
    // files handed over beside it that will not be opened, the first few by name.
    struct HandedOver {
        QString newest;
        qint64 others = 0;
        QStringList othersNamed;
    };
    bool HasHandedOver() const { return !waiting_.isEmpty(); }
    HandedOver TakeHandedOver();
    static constexpr qsizetype kMaxNamed = 20;

    // The lock file's name for a title (its first 256 characters), CANTAVEL_INSTANCE
    // and this host.
    static QString lockFileName(const QString& title);
    // The private folder the guard uses, made when missing; empty when none will do.
    static QString guardFolder();
    // Where the guard looks for its folder. Tests point it at folders of their own;
    // nothing else does, so that no environment can move the guard.
    struct Places {
        QString home;    // the private folder is <home>/.local/state/cantavel
        QString runtime; // else this folder itself
    };
    static Places defaultPlaces();
    static void setPlacesForTesting(std::optional<Places> places);

    // Whether the process at the other end of a connected local socket runs as this
    // user (its credentials as the kernel reports them).
    static bool isSameUser(const QLocalSocket& socket);
    // The title the guard keys on: the application's "ApplicationTitle" property,
    // else its name.
    static QString applicationTitle();

    static constexpr const char* kRequest = "raise\n";
    static constexpr const char* kOpenRequest = "open ";
    static constexpr const char* kAnswer = "raised\n";
    static constexpr const char* kQueued = "queued\n";
    static constexpr const char* kDeclined = "declined: ";
    static constexpr const char* kSuperseded = "superseded by "; // and the file that does
    static constexpr const char* kClosing = "closing";
    // The longest request: a path as long as a path can be, a time and the words.
    static constexpr qsizetype kMaxRequest = 4096 + 32;
    // A client that has not sent a whole request in this time is hung up on.
    static constexpr int kRequestTimeoutMs = 2000;
    // How long a later start tries to reach the running instance.
    static constexpr int kReachMs = 3000;

    struct Request {
        QString file;         // empty for a plain request to come to the front
        qint64 startedAt = 0; // when the asking start ran its check
        friend bool operator==(const Request&, const Request&) = default;
    };
    // A request line (with its "\n") as it arrived, or nothing when it is not well
    // formed.
    static std::optional<Request> parseRequest(const QByteArray& line);
    static QByteArray requestFor(const QString& fileToOpen, qint64 startedAt);
    // A path as requests and answers carry it: percent-encoded but for its slashes.
    static QByteArray encodedPath(const QString& path);

    // While the owner closes, files handed over are declined: they would never open.
    void SetClosing(bool closing) { closing_ = closing; }

private:
    struct Held;
    enum class Asking { Decided, LockIsOurs, LockFailed };
    Asking askHolder(Held& held, std::chrono::steady_clock::time_point deadline, QString& why);
    void takeAnswer(const QByteArray& answer);
    bool offer(Held& held, QString& why);
    void bringOwnerToFront();
    void answer(QLocalSocket* peer);
    void serve();
    void passOver(const QString& path);

    QWidget* owner_;
    bool switchToPrevious_ = true;
    bool MutexHeld_ = false;
    bool second_ = false;
    bool closing_ = false;
    qint64 startedAt_ = 0; // when Loaded began (steady clock, ns)
    QString fileToOpen_;
    Outcome outcome_ = Outcome::First;
    QString resultText_;
    QString lockPath_;
    QString serverName_;
    // The first instance's lock file, its folder and its listening socket.
    std::unique_ptr<Held> held_;
    // Files handed over: the latest start's waits; others are counted.
    QString waiting_;
    qint64 waitingStartedAt_ = 0;
    qint64 passedOver_ = 0;
    QStringList passedOverNamed_;
};

} // namespace cantavel
