#include "SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMetaObject>
#include <QTimer>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

namespace cantavel {

TXJustOne::TXJustOne(QWidget* owner) : QObject(owner), owner_(owner) {
    SetSwitchToPrevious(true);
    RequestTerminate = [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    };
}

TXJustOne::~TXJustOne() {
    if (MutexHeld_) {
        MutexHandle.reset(); // frees the name: the next start is the first instance again
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
    // A socket name cannot hold every character a title can: a hash of the title
    // (cut to 256 characters) stands for it, beside the user's id.
    QByteArray named = title.left(256).toUtf8();
    if (const QByteArray instance = qgetenv("CANTAVEL_INSTANCE"); !instance.isEmpty()) {
        named += '\0' + instance;
    }
    const QByteArray digest = QCryptographicHash::hash(named, QCryptographicHash::Sha1).toHex();
    return QStringLiteral("cantavel-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(digest.left(16)));
}

bool TXJustOne::isSameUser(const QLocalSocket& socket) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    const auto fd = static_cast<int>(socket.socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::getuid();
}

void TXJustOne::Loaded() {
    const QString key = keyFor(applicationTitle());
    MutexHeld_ = false;
    // Any process may bind any abstract name, so the name alone proves nothing: a
    // holder counts as a running instance only when it runs as this user. A name
    // that cannot be had at all ends this start, as a taken one does.
    std::unique_ptr<QLocalSocket> previous; // the running instance, when there is one
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto server = std::make_unique<QLocalServer>();
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        if (server->listen(key)) {
            MutexHandle = std::move(server);
            break;
        }
        if (server->serverError() != QAbstractSocket::AddressInUseError) {
            second_ = true;
            break;
        }
        previous = std::make_unique<QLocalSocket>();
        previous->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        previous->connectToServer(key);
        if (!previous->waitForConnected(1000)) {
            previous.reset();
            second_ = attempt == 2; // the holder has just gone: claim the name again
            continue;
        }
        if (!isSameUser(*previous)) {
            previous.reset();
            qWarning("Another user's process holds the single-instance name %s; this "
                     "editor runs without the guard.",
                     qPrintable(key));
            break;
        }
        second_ = true;
        break;
    }
    if (MutexHandle) {
        connect(MutexHandle.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = MutexHandle->nextPendingConnection()) {
                answer(peer);
            }
        });
    }
    if (second_) {
        if (AlreadyExist) {
            AlreadyExist(this);
        }
        if (switchToPrevious_ && previous) {
            askPreviousToSwitch(*previous);
        }
        if (RequestTerminate) {
            RequestTerminate();
        }
    }
    MutexHeld_ = true;
}

std::optional<QString> TXJustOne::parseRequest(const QByteArray& line) {
    if (line == kRequest) {
        return QString();
    }
    const QByteArray open(kOpenRequest);
    if (line.size() > kMaxRequest || !line.startsWith(open) || !line.endsWith('\n')) {
        return std::nullopt;
    }
    const QByteArray path = line.mid(open.size(), line.size() - open.size() - 1);
    if (!path.startsWith('/') || path.contains('\0') || path.contains('\n')) {
        return std::nullopt;
    }
    return QFile::decodeName(path);
}

QByteArray TXJustOne::requestFor(const QString& fileToOpen) {
    if (fileToOpen.isEmpty()) {
        return kRequest;
    }
    return kOpenRequest + QFile::encodeName(fileToOpen) + '\n';
}

// A request from a later start of the same user; anyone else, anything that is not
// one well-formed request, and a client that keeps silent are hung up on. Nothing
// here waits: the window goes on while a client dawdles.
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
        const std::optional<QString> request = parseRequest(peer->readLine(kMaxRequest + 1));
        if (!request || peer->bytesAvailable() > 0) {
            peer->abort();
            return;
        }
        patience->stop();
        bringOwnerToFront();
        peer->write(kAnswer);
        peer->flush();
        if (!request->isEmpty()) {
            // Handled once this socket's own event is over: opening a file may ask
            // the operator (a nested event loop), and the socket may be gone by then.
            QTimer::singleShot(0, this, [this, path = *request] {
                if (OnOpenFile) {
                    OnOpenFile(path);
                }
            });
        }
    });
}

void TXJustOne::askPreviousToSwitch(QLocalSocket& previous) {
    previous.write(requestFor(fileToOpen_));
    previous.waitForBytesWritten(1000);
    previous.waitForReadyRead(1000); // the first has acted (or the time is up)
    previous.disconnectFromServer();
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
