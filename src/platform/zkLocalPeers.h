#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <sys/types.h>

#include <optional>

class QObject;
class TStreamListener;

// Who is at the other end of a local socket. The lock, activation and link sockets carry
// commands and symbols between processes of one user; another user's process must not be
// able to pose as either end.
namespace zkLocalPeers {

// The uid of the process at the other end of a connected socket (SO_PEERCRED); nullopt when
// the system cannot tell.
std::optional<uid_t> PeerUid(qintptr socketDescriptor);
// True when the connected socket's peer is a process of this user (zkPaths::UserUid()).
bool PeerIsUser(qintptr socketDescriptor);
// Empty when the file at path is a socket owned by this user; else why not.
QString SocketFileProblem(const QString& path);

// The sockets in the runtime folder whose names end in extension (".links", ".inbox") that
// are this user's and answer now, in name order.
QStringList LiveSockets(const QString& extension);

// A server on a socket file of this user only, at path: its folder made (private when it is
// the runtime folder), a socket file nobody serves any more replaced. nullptr with *problem
// saying why (in English, for a message) when another process serves it or it cannot be made.
TStreamListener* ListenPrivate(const QString& path, QObject* parent, QString* problem);

} // namespace zkLocalPeers
