#include "zkLocalPeers.h"

#include "zkPaths.h"
#include "zkStreamSocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

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

bool PeerIsUser(qintptr socketDescriptor) {
    const std::optional<uid_t> uid = PeerUid(socketDescriptor);
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
        if (std::unique_ptr<TStreamSocket>(TStreamSocket::ConnectLocal(path, 500)))
            live << path;
    }
    return live;
}

TStreamListener* ListenPrivate(const QString& path, QObject* parent, QString* problem) {
    const QString dir = QFileInfo(path).absolutePath();
    const bool ready =
        dir == zkPaths::RuntimeDir() ? zkPaths::EnsurePrivateDir(dir) : QDir().mkpath(dir);
    if (!ready) {
        *problem = QStringLiteral("cannot create the folder of %1").arg(path);
        return nullptr;
    }
    if (QFileInfo::exists(path)) {
        // Only a socket that nobody serves is ours to replace.
        if (std::unique_ptr<TStreamSocket>(TStreamSocket::ConnectLocal(path, 200))) {
            *problem = QStringLiteral("another client serves %1").arg(path);
            return nullptr;
        }
        ::unlink(QFile::encodeName(path).constData());
    }
    auto* server = new TStreamListener(parent);
    if (!server->ListenLocal(path)) {
        *problem = QStringLiteral("cannot listen on %1: %2").arg(path, server->ErrorString());
        delete server;
        return nullptr;
    }
    return server;
}

} // namespace zkLocalPeers
