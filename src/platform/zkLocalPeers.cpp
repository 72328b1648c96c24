#include "zkLocalPeers.h"

#include "zkPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>

namespace zkLocalPeers {

std::optional<uid_t> PeerUid(qintptr socketDescriptor) {
    if (socketDescriptor < 0)
        return std::nullopt;
    ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return std::nullopt;
    return credentials.uid;
}

bool PeerIsUser(const QLocalSocket& socket) {
    const std::optional<uid_t> uid = PeerUid(socket.socketDescriptor());
    return uid && *uid == zkPaths::UserUid();
}

QString SocketFileProblem(const QString& path) {
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISSOCK(st.st_mode))
        return QStringLiteral("it is not a socket");
    if (st.st_uid != zkPaths::UserUid())
        return QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
    return QString();
}

QStringList LiveSockets(const QString& extension) {
    const QDir dir(zkPaths::RuntimeDir());
    QStringList live;
    const QStringList files =
        dir.entryList({QLatin1Char('*') + extension}, QDir::System | QDir::Files, QDir::Name);
    for (const QString& file : files) {
        const QString path = dir.filePath(file);
        if (!SocketFileProblem(path).isEmpty())
            continue;
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) {
            live << path;
            probe.abort();
        }
    }
    return live;
}

QLocalServer* ListenPrivate(const QString& path, QObject* parent, QString* problem) {
    const QString dir = QFileInfo(path).absolutePath();
    const bool ready =
        dir == zkPaths::RuntimeDir() ? zkPaths::EnsurePrivateDir(dir) : QDir().mkpath(dir);
    if (!ready) {
        *problem = QStringLiteral("cannot create the folder of %1").arg(path);
        return nullptr;
    }
    if (QFileInfo::exists(path)) {
        // Only a socket that nobody serves is ours to replace.
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(200)) {
            probe.abort();
            *problem = QStringLiteral("another client serves %1").arg(path);
            return nullptr;
        }
        QLocalServer::removeServer(path);
    }
    auto* server = new QLocalServer(parent);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        *problem = QStringLiteral("cannot listen on %1: %2").arg(path, server->errorString());
        delete server;
        return nullptr;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return server;
}

} // namespace zkLocalPeers
