#pragma once

// TXJustOne: keeps the program to one running instance per user. The first instance
// claims a name keyed by the application title and the user: a Linux abstract
// socket, which the kernel releases when its owner ends, however it ends. A second
// start finds the name taken by a process of the same user, asks it over the socket
// to bring its main window to the front, and ends without showing a window. Nothing
// in the environment moves the name (no runtime or temporary folder), so every start
// of the same user meets the same guard; only CANTAVEL_INSTANCE, set on purpose,
// gives a guard of its own (tests and the demo run beside the operator's editor).

#include <QObject>
#include <QString>

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
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
    // In the first instance: a later start handed over a file (an absolute path).
    std::function<void(const QString& path)> OnOpenFile;
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

    // True when Loaded found another instance: the owner must not be shown, and the
    // application has been asked to end.
    bool IsSecondInstance() const { return second_; }
    bool MutexHeld() const { return MutexHeld_; }

    // The key: the application title (at most 256 characters), per user; it is the
    // name of the abstract socket (QLocalSocket::AbstractNamespaceOption).
    static QString keyFor(const QString& title);
    // Whether the process at the other end of a connected local socket runs as this
    // user (its credentials as the kernel reports them).
    static bool isSameUser(const QLocalSocket& socket);
    // The title the guard keys on: the application's "ApplicationTitle" property,
    // else its name.
    static QString applicationTitle();

    // What a second start sends, and what the first answers once it has acted. A
    // start with a file sends "open " and the file's absolute path on one line.
    static constexpr const char* kRequest = "raise\n";
    static constexpr const char* kOpenRequest = "open ";
    static constexpr const char* kAnswer = "raised\n";
    // The longest request: a path as long as a path can be, and the word before it.
    static constexpr qsizetype kMaxRequest = 4096 + 8;
    // A client that has not sent a whole request in this time is hung up on.
    static constexpr int kRequestTimeoutMs = 2000;

    // A request line (with its "\n") as it arrived: the file to open (empty for a
    // plain request to come to the front), or nothing when it is not well formed.
    static std::optional<QString> parseRequest(const QByteArray& line);
    static QByteArray requestFor(const QString& fileToOpen);

private:
    void bringOwnerToFront();
    void answer(QLocalSocket* peer);
    void askPreviousToSwitch(QLocalSocket& previous);

    QWidget* owner_;
    bool switchToPrevious_ = true;
    bool MutexHeld_ = false;
    bool second_ = false;
    QString fileToOpen_;
    // The claimed name: a listening socket, held for as long as the guard lives.
    std::unique_ptr<QLocalServer> MutexHandle;
};

} // namespace cantavel
