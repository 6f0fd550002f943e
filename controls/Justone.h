#pragma once

// TXJustOne: keeps the program to one running instance per user and desktop. The
// first instance holds a lock keyed by the application title and listens on a local
// socket of the same key; a second start finds the lock taken, asks the first to
// bring its main window to the front, and ends without showing a window.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;
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

    // The key: the application title (at most 256 characters), per user. Where the
    // lock and the socket live: the user's runtime folder.
    static QString keyFor(const QString& title);
    static QString lockPath(const QString& key);
    static QString serverName(const QString& key);
    // The title the guard keys on: the application's "ApplicationTitle" property,
    // else its name.
    static QString applicationTitle();

    // What a second start sends, and what the first answers once it has acted.
    static constexpr const char* kRequest = "raise\n";
    static constexpr const char* kAnswer = "raised\n";

private:
    void bringOwnerToFront();
    void askPreviousToSwitch(const QString& key);

    QWidget* owner_;
    bool switchToPrevious_ = true;
    bool MutexHeld_ = false;
    bool second_ = false;
    std::unique_ptr<QLockFile> MutexHandle;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace cantavel
