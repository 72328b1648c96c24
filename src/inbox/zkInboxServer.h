#pragma once

// The inbox's webhook: a small HTTP/1.1 server on the loopback addresses that takes alerts
// posted to /alerts/<token> (or /alerts with "Authorization: Bearer <token>") and hands them to
// the sink. It is written on plain sockets (platform/zkStreamSocket.h) because Qt HTTP Server 6.4
// (Debian 12) offers no way to cap the head size, body size, connection count or request time, and
// each of those is needed so that no sender can make the client hold unbounded memory or wait
// forever. Answers (bodies are JSON): 202 {"accepted": N, "unrouted": M}; 400 {"error": "..."};
// 401, 404, 405, 408, 411 (bodies without a Content-Length, chunked ones included, are not taken),
// 413, 429 (the sink is busy, or too many connections with the token), 431, 503 (the client is
// closing), 505. See docs/alert-inbox.md. A 202 adds "filtered": F when F of the alerts were
// refused by the rules of every window they went to.
//
// Anyone who can reach the port (another local user, anyone through a tunnel) can open
// connections, so connections that have not yet shown the token hold no slot a sender with it
// needs: they have a small budget of their own, where the oldest makes way for a newcomer, and
// must send a whole request head soon after they open. A connection whose request head
// carries the token moves to the budget of senders with the token, which strangers never
// reach.

#include "zkInboxHttp.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <vector>

class IAlertSink;
class QTimer;
class TStreamListener;

class TInboxServer : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 8731;
    static constexpr qsizetype MaxHeadBytes = 16 * 1024;
    static constexpr qint64 MaxBodyBytes = 1024 * 1024;
    // Connections that have shown the token.
    static constexpr int MaxConnections = 64;
    // Connections that have not (yet): past this, the oldest of them is closed for a new one.
    static constexpr int MaxUnprovenConnections = 32;
    // ... but not before it has been open this long: a sender whose request comes a moment
    // after its connection (through a tunnel, on a busy machine) is not pushed out by strangers
    // who connect again as fast as they are closed. Meanwhile new connections wait.
    static constexpr int FreshConnectionChanceMs = 250;
    // Connections the kernel completes and keeps, with what they send, while accepting waits.
    // The usual 50 is soon filled by a stranger's reconnects; past it the owner's handshake or its
    // request is dropped and resent a second or more later, after its chance has gone.
    static constexpr int ListenBacklog = 1024;
    // Until it has shown the token, a connection must send each whole request head within this
    // time of opening or of its last answer.
    static constexpr int DefaultHeadTimeoutMs = 2000;
    // A request must arrive whole within this time of its first byte.
    static constexpr int DefaultRequestTimeoutMs = 10000;
    // A connection with no request under way is closed after this long.
    static constexpr int DefaultIdleTimeoutMs = 30000;

    explicit TInboxServer(QObject* parent = nullptr);
    ~TInboxServer() override;

    // Listens on 127.0.0.1 and, when the machine has it, ::1, on one port (0: any free port),
    // in place of the port listened on before and its connections. False with Problem()
    // telling why when 127.0.0.1 cannot be had; what listened before then goes on as it was.
    bool Listen(quint16 port = DefaultPort);
    void Close();
    bool IsListening() const;
    // The port listened on (the one chosen, for port 0); 0 when not listening.
    quint16 Port() const { return BoundPort; }
    // Why the last Listen failed, for the user: "port 8731 is in use by another program".
    QString Problem() const { return ProblemText; }

    // The secret every request must carry; empty refuses every request (401).
    void SetToken(const QString& token);
    void SetSink(IAlertSink* sink) { Sink = sink; }
    // While closing, requests are answered 503 and the sink is not called.
    void SetClosing(bool closing) { ClosingDown = closing; }
    void SetRequestTimeoutMs(int ms) { RequestTimeoutMs = ms; }
    void SetIdleTimeoutMs(int ms) { IdleTimeoutMs = ms; }
    void SetHeadTimeoutMs(int ms) { HeadTimeoutMs = ms; }
    void SetFreshConnectionChanceMs(int ms) { FreshChanceMs = ms; }
    int ConnectionCount() const { return int(Connections.size()); }
    // Of those, the ones that have not shown the token.
    int UnprovenCount() const;

    // Why a listener cannot be had on 127.0.0.1:port right now ("port 8731 is in use by
    // another program"); empty when it can. Binds for a moment and lets go.
    static QString PortProblem(quint16 port);

private:
    class TConnection;

    void OnNewConnection(TStreamListener* server);
    // Room among the strangers' connections for one more; false while the oldest of them is
    // still within its first moment.
    bool MakeRoomForStranger();
    void PauseAccepting(int ms);
    void OnReadyRead(TConnection* c);
    // Handles at once what the sender has sent but the event loop has not read yet.
    void TakeWaitingInput(TConnection* c);
    void ReadLoop(TConnection* c);
    // Handles the request at the start of the buffer if it is whole; true when one was handled
    // and the connection stays open for more.
    bool HandleBuffered(TConnection* c);
    void HandleRequest(TConnection* c, const THttpRequestHead& head, const QByteArray& body);
    void Respond(TConnection* c, int status, const QByteArray& json, bool close,
                 const QByteArray& extraHeaders = QByteArray());
    void RespondError(TConnection* c, int status, const QString& message, bool close,
                      const QByteArray& extraHeaders = QByteArray());
    void RespondBusy(TConnection* c);
    void OnTimeout(TConnection* c);
    // The timer while no request is under way, and from a request's first byte.
    void WaitForRequest(TConnection* c);
    void BeginRequest(TConnection* c);
    // A connection whose head carries the token joins the senders with the token; false when
    // they are all busy with requests.
    bool Prove(TConnection* c);
    // After the answer is out: no more writing, and what the sender still sends is read and
    // dropped for a moment, so that closing does not reset the connection under the answer.
    void ShutDownWriting(TConnection* c);
    void RemoveConnection(TConnection* c);
    bool TokenMatches(const QByteArray& token) const;

    TStreamListener* V4 = nullptr;
    TStreamListener* V6 = nullptr;
    quint16 BoundPort = 0;
    QString ProblemText;
    QByteArray TokenDigest; // SHA-256 of the token; empty: no token
    IAlertSink* Sink = nullptr;
    bool ClosingDown = false;
    int RequestTimeoutMs = DefaultRequestTimeoutMs;
    int IdleTimeoutMs = DefaultIdleTimeoutMs;
    int HeadTimeoutMs = DefaultHeadTimeoutMs;
    int FreshChanceMs = FreshConnectionChanceMs;
    std::vector<TConnection*> Connections;
    QTimer* AcceptAgain = nullptr;
};
