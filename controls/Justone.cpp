#include "Justone.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMetaObject>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>

namespace cantavel {

namespace {
QString runtimeFolder() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = QDir::tempPath();
    }
    return dir;
}
} // namespace

TXJustOne::TXJustOne(QWidget* owner) : QObject(owner), owner_(owner) {
    SetSwitchToPrevious(true);
    RequestTerminate = [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    };
}

TXJustOne::~TXJustOne() {
    if (MutexHeld_) {
        server_.reset();
        MutexHandle.reset(); // unlocks: the next start is the first instance again
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

QString TXJustOne::keyFor(const QString& title) {
    // File and socket names cannot hold every character a title can; a hash of the
    // title (cut to 256 characters) and the user keeps each user's instances apart.
    const QByteArray digest =
        QCryptographicHash::hash(title.left(256).toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("cantavel-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(digest.left(16)));
}

QString TXJustOne::lockPath(const QString& key) {
    return runtimeFolder() + QLatin1Char('/') + key + QStringLiteral(".lock");
}

QString TXJustOne::serverName(const QString& key) {
    return runtimeFolder() + QLatin1Char('/') + key + QStringLiteral(".socket");
}

void TXJustOne::Loaded() {
    const QString key = keyFor(applicationTitle());
    MutexHeld_ = false;
    MutexHandle = std::make_unique<QLockFile>(lockPath(key));
    // Age alone never makes the lock stale; a lock whose process is gone (a crashed
    // first instance) is taken over.
    MutexHandle->setStaleLockTime(0);
    if (MutexHandle->tryLock(0)) {
        server_ = std::make_unique<QLocalServer>();
        QLocalServer::removeServer(serverName(key)); // a socket left by a crash
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        if (server_->listen(serverName(key))) {
            connect(server_.get(), &QLocalServer::newConnection, this, [this] {
                while (QLocalSocket* peer = server_->nextPendingConnection()) {
                    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                    connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                        if (peer->readAll().contains("raise")) {
                            bringOwnerToFront();
                            peer->write(kAnswer);
                            peer->flush();
                        }
                    });
                }
            });
        }
    } else {
        // Taken, or not to be had at all: either way this start ends.
        second_ = true;
        if (AlreadyExist) {
            AlreadyExist(this);
        }
        if (switchToPrevious_) {
            askPreviousToSwitch(key);
        }
        if (RequestTerminate) {
            RequestTerminate();
        }
    }
    MutexHeld_ = true;
}

void TXJustOne::askPreviousToSwitch(const QString& key) {
    QLocalSocket socket;
    socket.connectToServer(serverName(key));
    if (!socket.waitForConnected(1000)) {
        return; // nothing found: this start still ends, without a word
    }
    socket.write(kRequest);
    socket.waitForBytesWritten(1000);
    socket.waitForReadyRead(1000); // the first has acted (or the time is up)
    socket.disconnectFromServer();
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
}

} // namespace cantavel
