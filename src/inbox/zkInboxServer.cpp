#include "zkInboxServer.h"

#include "desk/zkAlertSink.h"
#include "platform/zkStreamSocket.h"
#include "zkInboxAlert.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#include <sys/ioctl.h>

namespace {

constexpr qint64 ReadChunkBytes = 64 * 1024;
// Answers waiting for a sender that pipelines requests but does not read: past this, its
// requests wait until it reads.
constexpr qint64 MaxUnwrittenBytes = 256 * 1024;
// How long a closed connection's leftover input is read and dropped.
constexpr int LingerMs = 2000;

const char* Reason(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 202:
        return "Accepted";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

QByteArray ErrorJson(const QString& message) {
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), message}})
        .toJson(QJsonDocument::Compact);
}

QByteArray Digest(const QByteArray& token) {
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

const QByteArray InboxPath = QByteArrayLiteral("/alerts");

// "/alerts" and "/alerts/<token>" take alerts; any other path is not ours.
bool IsInboxPath(const QByteArray& path) {
    return path == InboxPath || (path.startsWith(InboxPath + '/') && path.indexOf('/', 8) < 0);
}

// The token a request to an inbox path gives: in the path, else as "Authorization: Bearer".
QByteArray RequestToken(const THttpRequestHead& head) {
    if (!IsInboxPath(head.Path))
        return QByteArray();
    if (head.Path.size() > InboxPath.size())
        return QByteArray::fromPercentEncoding(head.Path.mid(InboxPath.size() + 1));
    const QByteArray& authorization = head.Authorization;
    if (authorization.size() > 7 && authorization.left(7).toLower() == "bearer ")
        return authorization.mid(7).trimmed();
    return QByteArray();
}

int RemainingMs(const QDeadlineTimer& deadline) {
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

// One sender's connection: what it sent that is not handled yet, and its one timer (idle,
// request or linger, by state, and until the token is shown, the head's deadline).
class TInboxServer::TConnection : public QObject {
public:
    enum class TState { Idle, InRequest, Paused, Lingering };

    explicit TConnection(TStreamSocket* socket) : Socket(socket) {
        socket->setParent(this);
        Timer.setSingleShot(true);
        Opened.start();
    }

    TStreamSocket* Socket;
    QByteArray Buffer;
    qsizetype Start = 0; // bytes of Buffer already handled
    qsizetype ScanFrom = 0;
    bool HaveHead = false;
    THttpRequestHead Head;
    qsizetype HeadBytes = 0;
    TState State = TState::Idle;
    bool Closing = false; // the last answer is sent; nothing more is handled
    bool Removed = false;
    bool Reading = false;           // inside OnReadyRead
    bool Paused = false;            // reading waits for the sender to read its answers
    bool Proven = false;            // a request head on it carried the token
    QDeadlineTimer HeadDeadline;    // not proven: the next whole head by then
    QDeadlineTimer RequestDeadline; // the request under way whole by then
    QTimer Timer;
    QElapsedTimer Opened;

    qsizetype Buffered() const { return Buffer.size() - Start; }
};

TInboxServer::TInboxServer(QObject* parent) : QObject(parent) {}

TInboxServer::~TInboxServer() {
    Close();
}

QString TInboxServer::PortProblem(quint16 port) {
    TStreamListener probe;
    if (probe.ListenLoopback(false, port))
        return QString();
    return probe.Error() == TStreamListener::TError::AddressInUse
               ? QStringLiteral("port %1 is in use by another program").arg(port)
               : QStringLiteral("port %1 cannot be used: %2").arg(port).arg(probe.ErrorString());
}

bool TInboxServer::Listen(quint16 port) {
    // The new port is had before the old one goes: a port in use leaves the working one.
    auto* v4 = new TStreamListener(this);
    if (!v4->ListenLoopback(false, port, ListenBacklog)) {
        ProblemText =
            v4->Error() == TStreamListener::TError::AddressInUse
                ? QStringLiteral("port %1 is in use by another program").arg(port)
                : QStringLiteral("port %1 cannot be used: %2").arg(port).arg(v4->ErrorString());
        delete v4;
        return false;
    }
    Close();
    V4 = v4;
    BoundPort = V4->Port();
    connect(V4, &TStreamListener::NewConnection, this, [this] { OnNewConnection(V4); });
    // "localhost" may resolve to ::1 first; a machine without IPv6 is served on 127.0.0.1 alone.
    V6 = new TStreamListener(this);
    if (V6->ListenLoopback(true, BoundPort, ListenBacklog)) {
        connect(V6, &TStreamListener::NewConnection, this, [this] { OnNewConnection(V6); });
    } else {
        if (V6->Error() == TStreamListener::TError::AddressInUse)
            qWarning("velquist: the alert inbox listens on 127.0.0.1 only: port %u of ::1 is in "
                     "use by another program",
                     unsigned(BoundPort));
        delete V6;
        V6 = nullptr;
    }
    ProblemText.clear();
    return true;
}

void TInboxServer::Close() {
    while (!Connections.empty())
        RemoveConnection(Connections.back());
    delete V4;
    V4 = nullptr;
    delete V6;
    V6 = nullptr;
    BoundPort = 0;
}

bool TInboxServer::IsListening() const {
    return V4 && V4->IsListening();
}

int TInboxServer::UnprovenCount() const {
    return int(std::count_if(Connections.begin(), Connections.end(),
                             [](const TConnection* c) { return !c->Proven; }));
}

void TInboxServer::SetToken(const QString& token) {
    TokenDigest = token.isEmpty() ? QByteArray() : Digest(token.toUtf8());
}

bool TInboxServer::TokenMatches(const QByteArray& token) const {
    if (TokenDigest.isEmpty())
        return false;
    // Digests of equal length compared without an early exit: the time taken tells nothing
    // about how much of a guess was right, nor about the token's length.
    const QByteArray given = Digest(token);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < TokenDigest.size(); ++i)
        difference |= static_cast<unsigned char>(TokenDigest[i] ^ given[i]);
    return difference == 0;
}

bool TInboxServer::MakeRoomForStranger() {
    // A stranger's connections make way for newer ones, the oldest first: however many are
    // held open, a new connection gets its chance to show the token. What the oldest has
    // sent is read before it goes: many connections accepted at once must not push out a
    // sender whose request with the token waits unread.
    while (UnprovenCount() >= MaxUnprovenConnections) {
        TConnection* oldest = *std::find_if(Connections.begin(), Connections.end(),
                                            [](const TConnection* o) { return !o->Proven; });
        if (!oldest->Reading)
            TakeWaitingInput(oldest);
        if (oldest->Removed || oldest->Proven)
            continue;
        const qint64 age = oldest->Opened.elapsed();
        if (age < FreshChanceMs) {
            PauseAccepting(int(FreshChanceMs - age) + 1);
            return false;
        }
        RemoveConnection(oldest);
    }
    return true;
}

void TInboxServer::PauseAccepting(int ms) {
    // What waits stays with the kernel (and the one connection a listener holds), its requests
    // in its buffers.
    for (TStreamListener* server : {V4, V6})
        if (server)
            server->PauseAccepting();
    if (!AcceptAgain) {
        AcceptAgain = new QTimer(this);
        AcceptAgain->setSingleShot(true);
        connect(AcceptAgain, &QTimer::timeout, this, [this] {
            for (TStreamListener* server : {V4, V6})
                if (server) {
                    server->ResumeAccepting();
                    OnNewConnection(server); // those already taken from the kernel
                }
        });
    }
    if (!AcceptAgain->isActive())
        AcceptAgain->start(ms);
}

void TInboxServer::OnNewConnection(TStreamListener* server) {
    while (server->HasPendingConnection()) {
        if (!MakeRoomForStranger())
            return;
        TStreamSocket* socket = server->NextPendingConnection();
        auto* c = new TConnection(socket);
        c->setParent(this);
        Connections.push_back(c);
        // No more than this is taken from the kernel, so a flood waits in the sender's
        // buffers, not in ours.
        socket->SetReadBufferSize(ReadChunkBytes);
        connect(socket, &TStreamSocket::ReadyRead, this, [this, c] { OnReadyRead(c); });
        connect(socket, &TStreamSocket::BytesWritten, this, [this, c] {
            if (c->Closing)
                ShutDownWriting(c);
            else if (c->Paused && c->Socket->BytesToWrite() <= MaxUnwrittenBytes / 2)
                OnReadyRead(c); // reading was held back while the answers piled up
            else if (c->Paused)
                c->Timer.start(IdleTimeoutMs); // it reads, if slowly
        });
        connect(socket, &TStreamSocket::Disconnected, this, [this, c] { RemoveConnection(c); });
        connect(&c->Timer, &QTimer::timeout, this, [this, c] { OnTimeout(c); });
        WaitForRequest(c);
        // A request sent right after connecting is often there already: with the token, the
        // connection leaves the strangers' budget before the next one is accepted.
        TakeWaitingInput(c);
    }
}

void TInboxServer::TakeWaitingInput(TConnection* c) {
    // A socket is read when the event loop says it may; what the kernel holds is fetched now
    // (and handled through ReadyRead).
    int waiting = 0;
    if (::ioctl(c->Socket->Descriptor(), FIONREAD, &waiting) == 0 && waiting > 0)
        c->Socket->ReadNow();
    else if (c->Socket->BytesAvailable() > 0)
        OnReadyRead(c);
}

void TInboxServer::OnReadyRead(TConnection* c) {
    // Writing an answer may emit signals that lead back here; the loop below goes on anyway.
    if (c->Reading)
        return;
    c->Reading = true;
    c->Paused = false;
    QPointer<TConnection> alive(c);
    ReadLoop(c);
    if (alive)
        c->Reading = false;
}

void TInboxServer::ReadLoop(TConnection* c) {
    QPointer<TConnection> alive(c);
    while (alive && !c->Removed) {
        if (c->Closing) {
            // Whatever still comes after the last answer is dropped.
            while (c->Socket->BytesAvailable() > 0 && !c->Socket->Read(ReadChunkBytes).isEmpty()) {
            }
            return;
        }
        if (c->Socket->BytesToWrite() > MaxUnwrittenBytes) {
            // Resumed by bytesWritten. The time the sender takes to read its answers is not
            // held against its request, but a sender that stops reading is let go.
            c->Paused = true;
            c->State = TConnection::TState::Paused;
            c->Timer.start(IdleTimeoutMs);
            return;
        }
        if (c->State == TConnection::TState::Paused)
            WaitForRequest(c);
        if (c->Buffered() > 0 && HandleBuffered(c))
            continue;
        if (!alive || c->Removed || c->Closing)
            continue;
        const QByteArray chunk = c->Socket->Read(ReadChunkBytes);
        if (chunk.isEmpty())
            return;
        if (c->Start > 0) {
            // ScanFrom counts from the first unhandled byte, which stays the first.
            c->Buffer.remove(0, c->Start);
            c->Start = 0;
        }
        if (c->State == TConnection::TState::Idle)
            BeginRequest(c);
        c->Buffer.append(chunk);
    }
}

bool TInboxServer::HandleBuffered(TConnection* c) {
    if (c->State == TConnection::TState::Idle)
        BeginRequest(c); // the first bytes of a request behind the one just handled
    const QByteArrayView pending = QByteArrayView(c->Buffer).sliced(c->Start);
    if (!c->HaveHead) {
        const char* problem = "";
        const zkInboxHttp::THeadStatus status = zkInboxHttp::ParseRequestHead(
            pending, MaxHeadBytes, c->ScanFrom, c->Head, c->HeadBytes, &problem);
        switch (status) {
        case zkInboxHttp::THeadStatus::Incomplete:
            return false;
        case zkInboxHttp::THeadStatus::TooLarge:
            c->Head = THttpRequestHead();
            RespondError(c, 431, QStringLiteral("the request head is over 16 KB"), true);
            return false;
        case zkInboxHttp::THeadStatus::BadVersion:
            RespondError(c, 505, QString::fromLatin1(problem), true);
            return false;
        case zkInboxHttp::THeadStatus::Bad:
            RespondError(c, 400, QString::fromLatin1(problem), true);
            return false;
        case zkInboxHttp::THeadStatus::Complete:
            break;
        }
        c->HaveHead = true;
        if (!c->Proven && TokenMatches(RequestToken(c->Head)) && !Prove(c)) {
            RespondError(c, 429, QStringLiteral("too many connections; try again shortly"), true,
                         QByteArrayLiteral("Retry-After: 1\r\n"));
            return false;
        }
        // The head is whole: what is left of the request's own time is the limit now.
        c->Timer.start(RemainingMs(c->RequestDeadline));
        if (c->Head.HasTransferEncoding) {
            RespondError(c, 411,
                         QStringLiteral("send the body with a Content-Length; chunked bodies are "
                                        "not accepted"),
                         true);
            return false;
        }
        if (c->Head.ContentLength > MaxBodyBytes) {
            RespondError(c, 413, QStringLiteral("the body is over 1 MB (1048576 bytes)"), true);
            return false;
        }
        if (c->Head.ExpectContinue && c->Head.MinorVersion >= 1 && c->Head.ContentLength > 0 &&
            pending.size() == c->HeadBytes)
            c->Socket->Write(QByteArrayLiteral("HTTP/1.1 100 Continue\r\n\r\n"));
    }
    const qint64 length = std::max<qint64>(0, c->Head.ContentLength);
    if (pending.size() < c->HeadBytes + length)
        return false;
    const QByteArray body = pending.sliced(c->HeadBytes, length).toByteArray();
    c->Start += c->HeadBytes + length;
    c->ScanFrom = 0;
    c->HaveHead = false;
    WaitForRequest(c);
    const THttpRequestHead head = c->Head;
    QPointer<TConnection> alive(c);
    HandleRequest(c, head, body);
    return alive && !c->Removed && !c->Closing;
}

void TInboxServer::HandleRequest(TConnection* c, const THttpRequestHead& head,
                                 const QByteArray& body) {
    if (!IsInboxPath(head.Path)) {
        RespondError(c, 404, QStringLiteral("not found; alerts go to /alerts/<token>"), false);
        return;
    }
    if (head.Method != "POST") {
        RespondError(c, 405, QStringLiteral("alerts are sent with POST"), false,
                     QByteArrayLiteral("Allow: POST\r\n"));
        return;
    }
    const QByteArray token = RequestToken(head);
    // Nothing of the request goes back: a wrong token is never echoed.
    if (token.isEmpty() || !TokenMatches(token)) {
        RespondError(c, 401, QStringLiteral("missing or wrong token"), false,
                     QByteArrayLiteral("WWW-Authenticate: Bearer\r\n"));
        return;
    }
    if (ClosingDown || !Sink) {
        RespondError(c, 503, QStringLiteral("the client is closing"), false);
        return;
    }
    if (Sink->IsBusy()) {
        RespondBusy(c);
        return;
    }
    TInboxParseResult parsed = zkInbox::ParseInboxBody(body, head.ContentType, head.Query);
    if (!parsed.Ok()) {
        const bool tooLarge = parsed.Error.Kind == TInboxError::TKind::TooLarge;
        RespondError(c, tooLarge ? 413 : 400, parsed.Error.Message, false);
        return;
    }
    const qsizetype count = parsed.Alerts.size();
    QPointer<TConnection> alive(c);
    const IAlertSink::TAnswer answer = Sink->OfferAlerts(std::move(parsed.Alerts));
    if (!alive || c->Removed)
        return;
    switch (answer.Offer) {
    case IAlertSink::TOffer::Accepted: {
        QByteArray body = QByteArrayLiteral("{\"accepted\":") + QByteArray::number(count) +
                          QByteArrayLiteral(",\"unrouted\":") + QByteArray::number(answer.Unrouted);
        // Only when there are some, so the usual answer stays what senders know.
        if (answer.Filtered > 0)
            body += QByteArrayLiteral(",\"filtered\":") + QByteArray::number(answer.Filtered);
        Respond(c, 202, body + '}', false);
        break;
    }
    case IAlertSink::TOffer::Busy:
        RespondBusy(c);
        break;
    case IAlertSink::TOffer::Closing:
        RespondError(c, 503, QStringLiteral("the client is closing"), false);
        break;
    }
}

void TInboxServer::RespondBusy(TConnection* c) {
    RespondError(c, 429, QStringLiteral("the client is busy; try again shortly"), false,
                 QByteArrayLiteral("Retry-After: 1\r\n"));
}

void TInboxServer::RespondError(TConnection* c, int status, const QString& message, bool close,
                                const QByteArray& extraHeaders) {
    Respond(c, status, ErrorJson(message), close, extraHeaders);
}

void TInboxServer::Respond(TConnection* c, int status, const QByteArray& json, bool close,
                           const QByteArray& extraHeaders) {
    // A head that could not be read leaves nothing to go by; such a connection is closed.
    const bool keepAlive = !close && c->Head.KeepAlive;
    QByteArray response;
    response.reserve(192 + json.size());
    response += "HTTP/1.1 " + QByteArray::number(status) + ' ' + Reason(status) + "\r\n";
    response += "Content-Type: application/json\r\nCache-Control: no-store\r\n";
    response += "Content-Length: " + QByteArray::number(json.size()) + "\r\n";
    response += extraHeaders;
    if (!keepAlive)
        response += "Connection: close\r\n";
    else if (c->Head.MinorVersion == 0)
        response += "Connection: keep-alive\r\n";
    response += "\r\n";
    if (c->Head.Method != "HEAD")
        response += json;
    if (!keepAlive) {
        c->Closing = true;
        c->State = TConnection::TState::Lingering;
        c->Timer.start(LingerMs);
    }
    // Into the kernel now (Write hands it what it takes): what is still buffered is dropped when
    // the sender has ended its side (a sender may shut down writing right after its request).
    c->Socket->Write(response);
    if (!keepAlive)
        ShutDownWriting(c);
}

void TInboxServer::ShutDownWriting(TConnection* c) {
    if (c->Removed || c->Socket->BytesToWrite() > 0)
        return; // again once the answer is out
    c->Socket->ShutdownWrite();
}

void TInboxServer::WaitForRequest(TConnection* c) {
    c->State = TConnection::TState::Idle;
    if (c->Proven) {
        c->Timer.start(IdleTimeoutMs);
        return;
    }
    c->HeadDeadline.setRemainingTime(HeadTimeoutMs);
    c->Timer.start(HeadTimeoutMs);
}

void TInboxServer::BeginRequest(TConnection* c) {
    c->State = TConnection::TState::InRequest;
    c->RequestDeadline.setRemainingTime(RequestTimeoutMs);
    // Dribbling the first bytes of a head does not buy a stranger more time.
    c->Timer.start(c->Proven ? RequestTimeoutMs
                             : std::min(RequestTimeoutMs, RemainingMs(c->HeadDeadline)));
}

bool TInboxServer::Prove(TConnection* c) {
    const auto proven = std::count_if(Connections.begin(), Connections.end(),
                                      [](const TConnection* o) { return o->Proven; });
    if (proven >= MaxConnections) {
        // A sender's connection that waits for nothing makes way; one busy with a request
        // does not.
        const auto spare = std::find_if(Connections.begin(), Connections.end(), [c](auto* o) {
            return o != c && o->Proven &&
                   (o->State == TConnection::TState::Idle ||
                    o->State == TConnection::TState::Lingering);
        });
        if (spare == Connections.end())
            return false;
        RemoveConnection(*spare);
    }
    c->Proven = true;
    return true;
}

void TInboxServer::OnTimeout(TConnection* c) {
    switch (c->State) {
    case TConnection::TState::InRequest:
        c->Head = THttpRequestHead(); // the answer closes, whatever the request asked
        RespondError(c, 408, QStringLiteral("the request did not arrive in time"), true);
        break;
    case TConnection::TState::Idle:
    case TConnection::TState::Paused:
    case TConnection::TState::Lingering:
        RemoveConnection(c);
        break;
    }
}

void TInboxServer::RemoveConnection(TConnection* c) {
    if (c->Removed)
        return;
    c->Removed = true;
    Connections.erase(std::remove(Connections.begin(), Connections.end(), c), Connections.end());
    c->Timer.stop();
    c->Socket->disconnect(this);
    c->Timer.disconnect(this);
    c->Socket->Abort();
    // Deleted later: this may run from inside the connection's own handlers.
    c->deleteLater();
}
