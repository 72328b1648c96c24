#pragma once

// The link broker: the local socket through which external programs link to the client's link
// lists. Protocol (docs/linking.md): lines of UTF-8 text ending in "\n". A program sends
// "LINK <list name>" and "UNLINK <list name>" (exact, case-sensitive names); the broker sends
// "SYMBOL <symbol>" for each symbol sent to a list the program is linked to, in order.

#include "platform/zkLineReader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class TStreamListener;
class TStreamSocket;

class TLinkBroker : public QObject {
    Q_OBJECT
public:
    // A program whose unread output (what the client holds for it, beyond what the kernel's
    // socket buffer took) passes this is dropped: the client never waits for one.
    static constexpr qint64 MaxUnreadBytes = qint64(1) << 20;
    // Longer lines from a program are ignored as a whole, without being kept.
    static constexpr qsizetype MaxLineBytes = 4096;
    // More lists than this per program are not linked.
    static constexpr qsizetype MaxLinksPerProgram = 1024;
    // Symbols that come faster than this apart go out together, in one write per program.
    static constexpr int CoalesceMs = 1;

    explicit TLinkBroker(QObject* parent = nullptr);
    ~TLinkBroker() override;

    // "<runtime folder>/<lock name>.links", or a short hash of the lock name when that path
    // would pass the 107-byte limit of Unix sockets.
    static QString SocketPath(const QString& lockName);
    // The socket of the installation in the current directory.
    static QString DefaultSocketPath();

    // One line a program sent (without its "\n"): "LINK <list>" or "UNLINK <list>", an
    // optional "\r" before the line end; nullopt for anything else.
    struct TCommand {
        bool Link = true;
        QString ListName;
    };
    static std::optional<TCommand> ParseLine(const QByteArray& line);

    // Starts listening, replacing a socket file that nobody serves any more. False (with a
    // warning) when the socket cannot be made or another client is listening on it.
    bool Listen(const QString& path);
    void Close();
    bool IsListening() const;
    QString Path() const { return ServerPath; }

    // Hands the symbol to every program linked to the list; never blocks.
    void Send(const QString& listName, const QString& symbol);
    // Programs linked to the list now.
    int32_t LinkCount(const QString& listName) const;
    // Programs connected now, linked or not.
    int32_t ProgramCount() const { return int32_t(Peers.size()); }

signals:
    // A program linked, unlinked, left or was dropped.
    void LinksChanged();

private:
    struct TPeer {
        TStreamSocket* Socket = nullptr;
        int Id = 0;
        TLineReader Lines{MaxLineBytes};
        QSet<QString> Lists;
        QByteArray Outgoing; // lines not yet handed to the socket
    };

    void OnNewConnection();
    void OnReadyRead(TPeer* peer);
    void HandleLine(TPeer* peer, const QByteArray& line);
    void Link(TPeer* peer, const QString& listName);
    void Unlink(TPeer* peer, const QString& listName);
    // Unlinks the program everywhere and closes its connection.
    void RemovePeer(TPeer* peer);
    TPeer* PeerOf(TStreamSocket* socket) const;
    static qint64 UnreadBytes(const TPeer* peer);
    // Hands every program's waiting lines to its socket.
    void FlushOutgoing();

    TStreamListener* Server = nullptr;
    QString ServerPath;
    std::vector<std::unique_ptr<TPeer>> Peers;
    // The programs linked to each list, in the order they linked.
    QHash<QString, std::vector<TPeer*>> Links;
    int NextPeerId = 1;
    QTimer FlushTimer;
    QElapsedTimer SinceFlush;
};
