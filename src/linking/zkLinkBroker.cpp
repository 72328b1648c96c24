#include "zkLinkBroker.h"

#include "platform/zkInstance.h"
#include "platform/zkLocalPeers.h"
#include "platform/zkPaths.h"
#include "platform/zkStreamSocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr qint64 ReadChunkBytes = 64 * 1024;

const QByteArray LinkCommand = QByteArrayLiteral("LINK ");
const QByteArray UnlinkCommand = QByteArrayLiteral("UNLINK ");
// The last line a program hears when the client closes its links on purpose; a connection
// that ends without it was lost (the client died, or dropped the program).
const QByteArray ClosingLine = QByteArrayLiteral("CLOSING\n");

// A symbol is one line on the wire; a line break inside it must not start a line of its own.
QByteArray SymbolLine(const QString& symbol) {
    QByteArray line;
    line.reserve(symbol.size() + 8);
    line.append("SYMBOL ");
    line.append(symbol.toUtf8());
    for (qsizetype i = 7; i < line.size(); ++i)
        if (line[i] == '\n' || line[i] == '\r')
            line[i] = ' ';
    line.append('\n');
    return line;
}

} // namespace

TLinkBroker::TLinkBroker(QObject* parent) : QObject(parent) {
    FlushTimer.setSingleShot(true);
    FlushTimer.setTimerType(Qt::PreciseTimer);
    connect(&FlushTimer, &QTimer::timeout, this, &TLinkBroker::FlushOutgoing);
}

TLinkBroker::~TLinkBroker() {
    Close();
}

QString TLinkBroker::SocketPath(const QString& lockName) {
    return zkPaths::RuntimeSocketPath(lockName, QStringLiteral(".links"), 'l');
}

QString TLinkBroker::DefaultSocketPath() {
    return SocketPath(TInstanceGuard::LockName(QDir::currentPath()));
}

bool TLinkBroker::Listen(const QString& path) {
    Close();
    if (path.isEmpty())
        return false;
    QString problem;
    Server = zkLocalPeers::ListenPrivate(path, this, &problem);
    if (!Server) {
        qWarning("velquist: external linking is off: %s", qPrintable(problem));
        return false;
    }
    connect(Server, &TStreamListener::NewConnection, this, &TLinkBroker::OnNewConnection);
    ServerPath = path;
    return true;
}

void TLinkBroker::Close() {
    const bool hadLinks = !Links.isEmpty();
    // What is still waiting goes out first, then the goodbye; both are in the kernel's buffer
    // before the connection is cut, so the program reads them all.
    // A write to a program that is gone ends its connection at once, which removes its peer:
    // go by a list of the sockets, not through the peers.
    std::vector<QPointer<TStreamSocket>> sockets;
    for (const std::unique_ptr<TPeer>& peer : Peers)
        sockets.emplace_back(peer->Socket);
    for (const QPointer<TStreamSocket>& socket : sockets) {
        TPeer* peer = socket ? PeerOf(socket) : nullptr;
        if (!peer || !socket->IsOpen())
            continue;
        socket->Write(std::exchange(peer->Outgoing, QByteArray()) + ClosingLine);
        if (socket && PeerOf(socket))
            socket->Flush();
    }
    while (!Peers.empty())
        RemovePeer(Peers.back().get());
    if (Server) {
        Server->Close(); // removes the socket file
        delete Server;
        Server = nullptr;
    }
    ServerPath.clear();
    if (hadLinks)
        emit LinksChanged();
}

bool TLinkBroker::IsListening() const {
    return Server && Server->IsListening();
}

void TLinkBroker::OnNewConnection() {
    while (TStreamSocket* socket = Server->NextPendingConnection()) {
        auto peer = std::make_unique<TPeer>();
        peer->Socket = socket;
        peer->Id = NextPeerId++;
        // What a program sends is taken in pieces, so a flood never piles up here.
        socket->SetReadBufferSize(ReadChunkBytes);
        connect(socket, &TStreamSocket::ReadyRead, this, [this, socket] {
            if (TPeer* p = PeerOf(socket))
                OnReadyRead(p);
        });
        connect(socket, &TStreamSocket::Disconnected, this, [this, socket] {
            if (TPeer* p = PeerOf(socket))
                RemovePeer(p);
        });
        Peers.push_back(std::move(peer));
        if (!zkLocalPeers::PeerIsUser(socket->Descriptor())) {
            qWarning("velquist: refused a program of another user on the link socket");
            RemovePeer(Peers.back().get());
            continue;
        }
    }
}

void TLinkBroker::OnReadyRead(TPeer* peer) {
    TStreamSocket* socket = peer->Socket;
    while (socket->BytesAvailable() > 0) {
        const QByteArray chunk = socket->Read(ReadChunkBytes);
        if (chunk.isEmpty())
            break;
        const bool goOn = peer->Lines.Feed(chunk, [&](const QByteArray& line, bool tooLong) {
            if (tooLong)
                return true; // too long to be a command: it goes unread
            HandleLine(peer, line);
            // A handler of LinksChanged may have ended this program's connection.
            return PeerOf(socket) == peer;
        });
        if (!goOn)
            return;
    }
}

std::optional<TLinkBroker::TCommand> TLinkBroker::ParseLine(const QByteArray& rawLine) {
    QByteArray line = rawLine;
    if (line.endsWith('\r'))
        line.chop(1);
    // Anything but the two commands with a name is ignored.
    if (line.startsWith(LinkCommand) && line.size() > LinkCommand.size())
        return TCommand{true, QString::fromUtf8(line.mid(LinkCommand.size()))};
    if (line.startsWith(UnlinkCommand) && line.size() > UnlinkCommand.size())
        return TCommand{false, QString::fromUtf8(line.mid(UnlinkCommand.size()))};
    return std::nullopt;
}

void TLinkBroker::HandleLine(TPeer* peer, const QByteArray& line) {
    const std::optional<TCommand> command = ParseLine(line);
    if (!command)
        return;
    if (command->Link)
        Link(peer, command->ListName);
    else
        Unlink(peer, command->ListName);
}

void TLinkBroker::Link(TPeer* peer, const QString& listName) {
    if (peer->Lists.contains(listName) || peer->Lists.size() >= MaxLinksPerProgram)
        return;
    peer->Lists.insert(listName);
    Links[listName].push_back(peer);
    emit LinksChanged();
}

void TLinkBroker::Unlink(TPeer* peer, const QString& listName) {
    if (!peer->Lists.remove(listName))
        return;
    const auto found = Links.find(listName);
    if (found != Links.end()) {
        std::vector<TPeer*>& linked = found.value();
        linked.erase(std::remove(linked.begin(), linked.end(), peer), linked.end());
        if (linked.empty())
            Links.erase(found);
    }
    emit LinksChanged();
}

void TLinkBroker::RemovePeer(TPeer* peer) {
    const auto at =
        std::find_if(Peers.begin(), Peers.end(),
                     [peer](const std::unique_ptr<TPeer>& p) { return p.get() == peer; });
    if (at == Peers.end())
        return;
    std::unique_ptr<TPeer> owned = std::move(*at);
    Peers.erase(at);
    const bool linked = !owned->Lists.isEmpty();
    for (const QString& listName : std::as_const(owned->Lists)) {
        const auto found = Links.find(listName);
        if (found == Links.end())
            continue;
        std::vector<TPeer*>& programs = found.value();
        programs.erase(std::remove(programs.begin(), programs.end(), peer), programs.end());
        if (programs.empty())
            Links.erase(found);
    }
    TStreamSocket* socket = owned->Socket;
    socket->disconnect(this);
    socket->Abort();
    socket->deleteLater();
    if (linked)
        emit LinksChanged();
}

TLinkBroker::TPeer* TLinkBroker::PeerOf(TStreamSocket* socket) const {
    for (const std::unique_ptr<TPeer>& p : Peers)
        if (p->Socket == socket)
            return p.get();
    return nullptr;
}

qint64 TLinkBroker::UnreadBytes(const TPeer* peer) {
    // What waits with us for the program. The kernel's socket buffer holds some more, but it
    // does not tell that share in bytes of data (it counts its own bookkeeping too), so a
    // program is dropped only once it is surely past the limit.
    return peer->Outgoing.size() + peer->Socket->BytesToWrite();
}

void TLinkBroker::Send(const QString& listName, const QString& symbol) {
    const auto found = Links.constFind(listName);
    if (found == Links.constEnd())
        return;
    const QByteArray line = SymbolLine(symbol);
    std::vector<TPeer*> tooSlow;
    for (TPeer* peer : found.value()) {
        if (UnreadBytes(peer) + line.size() > MaxUnreadBytes) {
            tooSlow.push_back(peer);
            continue;
        }
        peer->Outgoing.append(line);
    }
    for (TPeer* peer : tooSlow) {
        qWarning("velquist: dropped linked program #%d: it left more than %lld bytes unread",
                 peer->Id, static_cast<long long>(MaxUnreadBytes));
        RemovePeer(peer);
    }
    // The first symbol after a quiet spell goes out at once; a stream of them goes out once a
    // millisecond, one write per program instead of one per symbol.
    if (FlushTimer.isActive())
        return;
    if (!SinceFlush.isValid() || SinceFlush.nsecsElapsed() >= qint64(CoalesceMs) * 1000000)
        FlushOutgoing();
    else
        FlushTimer.start(CoalesceMs);
}

void TLinkBroker::FlushOutgoing() {
    FlushTimer.stop();
    SinceFlush.start();
    for (const std::unique_ptr<TPeer>& peer : Peers) {
        if (peer->Outgoing.isEmpty())
            continue;
        peer->Socket->Write(peer->Outgoing);
        peer->Outgoing.clear();
    }
}

int32_t TLinkBroker::LinkCount(const QString& listName) const {
    const auto found = Links.constFind(listName);
    return found == Links.constEnd() ? 0 : int32_t(found.value().size());
}
