#include "zkInboxSocket.h"

#include "desk/zkAlertSink.h"
#include "zkInboxAlert.h"

#include "platform/zkInstance.h"
#include "platform/zkLocalPeers.h"
#include "platform/zkPaths.h"
#include "platform/zkStreamSocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace {

constexpr qint64 ReadChunkBytes = 64 * 1024;

} // namespace

TInboxSocket::TInboxSocket(QObject* parent) : QObject(parent) {}

TInboxSocket::~TInboxSocket() {
    Close();
}

QString TInboxSocket::SocketPath(const QString& lockName) {
    return zkPaths::RuntimeSocketPath(lockName, QStringLiteral(".inbox"), 'b');
}

QString TInboxSocket::DefaultSocketPath() {
    return SocketPath(TInstanceGuard::LockName(QDir::currentPath()));
}

bool TInboxSocket::Listen(const QString& path) {
    Close();
    ProblemText.clear();
    if (path.isEmpty()) {
        ProblemText = zkPaths::RuntimeDirProblem();
        if (ProblemText.isEmpty())
            ProblemText = QStringLiteral("no folder for the inbox socket");
        return false;
    }
    Server = zkLocalPeers::ListenPrivate(path, this, &ProblemText);
    if (!Server)
        return false;
    connect(Server, &TStreamListener::NewConnection, this, &TInboxSocket::OnNewConnection);
    ServerPath = path;
    return true;
}

void TInboxSocket::Close() {
    while (!Peers.empty())
        RemovePeer(Peers.back().get());
    if (Server) {
        Server->Close(); // removes the socket file
        delete Server;
        Server = nullptr;
    }
    ServerPath.clear();
}

bool TInboxSocket::IsListening() const {
    return Server && Server->IsListening();
}

void TInboxSocket::OnNewConnection() {
    while (TStreamSocket* socket = Server->NextPendingConnection()) {
        if (int(Peers.size()) >= MaxPrograms) {
            socket->Abort();
            socket->deleteLater();
            continue;
        }
        // Alerts are the user's; another user's program must not post them.
        if (!zkLocalPeers::PeerIsUser(socket->Descriptor())) {
            qWarning("velquist: refused a program of another user on the inbox socket");
            socket->Abort();
            socket->deleteLater();
            continue;
        }
        auto peer = std::make_unique<TPeer>();
        peer->Socket = socket;
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
    }
}

void TInboxSocket::OnReadyRead(TPeer* peer) {
    TStreamSocket* socket = peer->Socket;
    QPointer<TStreamSocket> guard(socket);
    while (guard && PeerOf(socket) == peer && socket->BytesAvailable() > 0) {
        const QByteArray chunk = socket->Read(ReadChunkBytes);
        if (chunk.isEmpty())
            break;
        QByteArray answers;
        const bool goOn = peer->Lines.Feed(chunk, [&](QByteArray line, bool tooLong) {
            if (tooLong) {
                answers +=
                    "ERROR the line is over " + QByteArray::number(MaxLineBytes) + " bytes\n";
                return true;
            }
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.trimmed().isEmpty())
                return true;
            answers += Answer(line);
            // The sink may have ended this connection (a nested event loop, Close()).
            return guard && PeerOf(socket) == peer;
        });
        if (!goOn)
            return;
        if (answers.isEmpty())
            continue;
        if (socket->BytesToWrite() + answers.size() > MaxUnreadBytes) {
            qWarning("velquist: dropped a program on the inbox socket: it left its answers "
                     "unread");
            RemovePeer(peer);
            return;
        }
        socket->Write(answers);
    }
}

QByteArray TInboxSocket::DryRunAnswer(const QByteArray& alerts) {
    TInboxParseResult parsed =
        zkInbox::ParseInboxBody(alerts, QByteArrayLiteral("application/json"), QByteArray());
    if (!parsed.Ok()) {
        QByteArray why = parsed.Error.Message.toUtf8();
        why.replace('\n', ' ');
        return "ERROR " + why + '\n';
    }
    const QList<QList<IAlertSink::TWindowVerdict>> verdicts = Sink->TryAlerts(parsed.Alerts);
    QJsonArray list;
    for (qsizetype i = 0; i < parsed.Alerts.size(); ++i) {
        QJsonArray windows;
        if (i < verdicts.size())
            for (const IAlertSink::TWindowVerdict& verdict : verdicts[i])
                windows.append(QJsonObject{{QStringLiteral("window"), verdict.Window},
                                           {QStringLiteral("opens"), verdict.Opens},
                                           {QStringLiteral("refused"), verdict.Refused}});
        list.append(QJsonObject{{QStringLiteral("symbol"), parsed.Alerts[i].Symbol},
                                {QStringLiteral("windows"), windows}});
    }
    return "DRYRUN " + QJsonDocument(list).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray TInboxSocket::Answer(const QByteArray& line) {
    if (ClosingDown || !Sink)
        return QByteArrayLiteral("CLOSING\n");
    // Not JSON, so never an alert line: where the alerts would go, nothing taken.
    if (line.startsWith("DRYRUN "))
        return DryRunAnswer(line.mid(7));
    if (Sink->IsBusy())
        return QByteArrayLiteral("BUSY\n");
    TInboxParseResult parsed =
        zkInbox::ParseInboxBody(line, QByteArrayLiteral("application/json"), QByteArray());
    if (!parsed.Ok()) {
        QByteArray why = parsed.Error.Message.toUtf8();
        why.replace('\n', ' ');
        return "ERROR " + why + '\n';
    }
    const qsizetype count = parsed.Alerts.size();
    const IAlertSink::TAnswer answer = Sink->OfferAlerts(std::move(parsed.Alerts));
    switch (answer.Offer) {
    case IAlertSink::TOffer::Accepted: {
        // The counts of alerts no window took or showed only when there are some, so
        // "OK <n>" stays the whole answer in the usual case.
        QByteArray ok = "OK " + QByteArray::number(count);
        if (answer.Unrouted > 0)
            ok += " unrouted " + QByteArray::number(answer.Unrouted);
        if (answer.Filtered > 0)
            ok += " filtered " + QByteArray::number(answer.Filtered);
        return ok + '\n';
    }
    case IAlertSink::TOffer::Busy:
        return QByteArrayLiteral("BUSY\n");
    case IAlertSink::TOffer::Closing:
        break;
    }
    return QByteArrayLiteral("CLOSING\n");
}

void TInboxSocket::RemovePeer(TPeer* peer) {
    const auto at =
        std::find_if(Peers.begin(), Peers.end(),
                     [peer](const std::unique_ptr<TPeer>& p) { return p.get() == peer; });
    if (at == Peers.end())
        return;
    std::unique_ptr<TPeer> owned = std::move(*at);
    Peers.erase(at);
    TStreamSocket* socket = owned->Socket;
    socket->disconnect(this);
    socket->Abort();
    socket->deleteLater();
}

TInboxSocket::TPeer* TInboxSocket::PeerOf(TStreamSocket* socket) const {
    for (const std::unique_ptr<TPeer>& p : Peers)
        if (p->Socket == socket)
            return p.get();
    return nullptr;
}
