#pragma once

#include <QString>
#include <QtGlobal>

#include <sys/types.h>

#include <optional>

class QLocalSocket;

// Who is at the other end of a local socket. The lock, activation and link sockets carry
// commands and symbols between processes of one user; another user's process must not be
// able to pose as either end.
namespace zkLocalPeers {

// The uid of the process at the other end of a connected socket (SO_PEERCRED); nullopt when
// the system cannot tell.
std::optional<uid_t> PeerUid(qintptr socketDescriptor);
// True when the connected socket's peer is a process of this user (zkPaths::UserUid()).
bool PeerIsUser(const QLocalSocket& socket);
// Empty when the file at path is a socket owned by this user; else why not.
QString SocketFileProblem(const QString& path);

} // namespace zkLocalPeers
