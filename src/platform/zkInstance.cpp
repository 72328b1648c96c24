#include "zkInstance.h"

#include "zkLocalPeers.h"
#include "zkPaths.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

TInstanceGuard::TInstanceGuard(const QString& installationDir, QObject* parent)
    : QObject(parent), Name(LockName(installationDir)) {}

TInstanceGuard::~TInstanceGuard() {
    if (Server)
        Server->close();
}

QString TInstanceGuard::LockName(const QString& dir) {
    QString name = dir;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

QString TInstanceGuard::LockPath(const QString& lockName) {
    return zkPaths::RuntimeDir() + QLatin1Char('/') + lockName + QStringLiteral(".lock");
}

QString TInstanceGuard::SocketPath(const QString& lockName) {
    return zkPaths::RuntimeSocketPath(lockName, QStringLiteral(".sock"), 'i');
}

bool TInstanceGuard::TryAcquire() {
    AcquireProblem.clear();
    if (zkPaths::RuntimeDir().isEmpty()) {
        AcquireProblem = zkPaths::RuntimeDirProblem();
        return false;
    }
    Lock = std::make_unique<QLockFile>(LockPath(Name));
    // Never stale by age: a client may run for weeks. A lock whose process has died is
    // still recognised as stale and taken over.
    Lock->setStaleLockTime(0);
    if (Lock->tryLock(0))
        return true;
    if (Lock->error() == QLockFile::LockFailedError)
        return false;
    // Running without the lock would let a second client share the store with this one.
    AcquireProblem = QStringLiteral("the lock %1 cannot be written").arg(LockPath(Name));
    return false;
}

bool TInstanceGuard::Listen() {
    const QString path = SocketPath(Name);
    // We hold the lock, so any socket file left here belongs to a dead client.
    QLocalServer::removeServer(path);
    Server = new QLocalServer(this);
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(Server, &QLocalServer::newConnection, this, &TInstanceGuard::onNewConnection);
    if (!Server->listen(path)) {
        qWarning("velquist: cannot listen on %s: %s", qPrintable(path),
                 qPrintable(Server->errorString()));
        return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

void TInstanceGuard::onNewConnection() {
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        // Only this user's launches may wake or end the client.
        if (!zkLocalPeers::PeerIsUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine(256).trimmed();
                if (line == "activate")
                    emit ActivationRequested();
                else if (line == "terminate")
                    emit TerminateRequested();
            }
            // A peer that sends endless junk without a newline is cut off.
            if (socket->bytesAvailable() > 4096)
                socket->abort();
        });
    }
}

bool TInstanceGuard::SendCommand(const QString& lockName, const QByteArray& command) {
    const QString path = SocketPath(lockName);
    // The running client may still be starting and not listen yet: try for a short while.
    QDeadlineTimer deadline(1500);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(path, QIODevice::WriteOnly);
        if (socket.waitForConnected(200)) {
            socket.write(command + '\n');
            socket.waitForBytesWritten(200);
            socket.disconnectFromServer();
            return true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}
