#pragma once

// Stream sockets on plain POSIX calls, driven by the event loop through QSocketNotifier: the
// client's local sockets (single-instance guard, link and inbox sockets) and its loopback HTTP
// server. QtNetwork would do the same, but mapping it and the seven libraries it pulls in costs
// every start more than all of these sockets need.
//
// Like Qt's sockets, a connection buffers both ways: ReadyRead when more has been read from the
// kernel, BytesWritten when the write buffer drained further on the event loop, Disconnected once
// when the peer has closed (after ReadyRead for the last data) or the connection failed. Abort()
// and Close() end a connection without a signal. Every descriptor is close-on-exec, and writing
// to a peer that is gone never raises SIGPIPE.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <sys/types.h>

#include <optional>

class QSocketNotifier;

class TStreamSocket : public QObject {
    Q_OBJECT
public:
    // Takes over a connected descriptor (made non-blocking here).
    explicit TStreamSocket(int fd, QObject* parent = nullptr);
    ~TStreamSocket() override;

    // Connects to the local socket at path, waiting at most timeoutMs (also while the server's
    // backlog is full); nullptr when nobody serves it in that time.
    static TStreamSocket* ConnectLocal(const QString& path, int timeoutMs,
                                       QObject* parent = nullptr);

    bool IsOpen() const { return Fd >= 0; }
    int Descriptor() const { return Fd; }
    // The uid of the process at the other end (SO_PEERCRED); nullopt when the system cannot tell.
    std::optional<uid_t> PeerUid() const;

    // At most this much is held unread; reading from the kernel waits meanwhile, so a flood
    // stays in the sender's buffers. 0: no limit.
    void SetReadBufferSize(qint64 bytes);
    qint64 BytesAvailable() const { return ReadBuffer.size() - ReadStart; }
    QByteArray Read(qint64 maxBytes);
    bool CanReadLine() const;
    // The next line with its "\n", or at most maxBytes of it.
    QByteArray ReadLine(qint64 maxBytes);
    // Reads what the kernel holds now, as the event loop would (ReadyRead, Disconnected).
    void ReadNow();

    // Queues the bytes and hands what the kernel takes to it at once; the rest goes out on the
    // event loop.
    void Write(const QByteArray& data);
    qint64 BytesToWrite() const { return WriteBuffer.size() - WriteStart; }
    // Hands the kernel what it takes now; true when something was written.
    bool Flush();
    // Blocks until the write buffer is empty; false on timeout or a lost connection.
    bool WaitForBytesWritten(int timeoutMs);
    // No more writing; the peer reads the end of the stream after what it has.
    void ShutdownWrite();
    // Closes at once, dropping what is buffered either way. No signal.
    void Abort();

signals:
    void ReadyRead();
    void BytesWritten(qint64 bytes);
    void Disconnected();

private:
    void OnReadable();
    void OnWritable();
    // Reads from the kernel into the buffer; true when bytes came. Notes end of stream or error.
    bool FillReadBuffer();
    // Writes from the buffer; the count written, -1 on a lost connection.
    qint64 DrainWriteBuffer();
    void UpdateNotifiers();
    // Reports the end of the connection once, from the event loop when called from a write.
    void Lost(bool queued);
    void ReportLost();

    int Fd = -1;
    QSocketNotifier* ReadNotifier = nullptr;
    QSocketNotifier* WriteNotifier = nullptr;
    QByteArray ReadBuffer;
    qsizetype ReadStart = 0;
    qint64 ReadLimit = 0;
    QByteArray WriteBuffer;
    qsizetype WriteStart = 0;
    bool AtEnd = false;     // the peer closed, or reading failed
    bool LostNoted = false; // Disconnected is due or emitted
    bool WriteShut = false;
};

// A listening stream socket: a local socket file of this user only, or TCP on a loopback
// address. NewConnection when connections wait; NextPendingConnection takes them.
class TStreamListener : public QObject {
    Q_OBJECT
public:
    enum class TError { None, AddressInUse, Other };

    explicit TStreamListener(QObject* parent = nullptr);
    ~TStreamListener() override;

    // A local socket at path with the file mode 0600 from the moment it can be connected to.
    // A file at path is not replaced: remove a stale one first.
    bool ListenLocal(const QString& path, int backlog = 50);
    // TCP on 127.0.0.1 (or ::1, IPv6 only) and port; 0 takes any free port.
    bool ListenLoopback(bool ipv6, quint16 port, int backlog = 50);
    // Stops listening; a local socket's file is removed.
    void Close();
    bool IsListening() const { return Fd >= 0; }
    quint16 Port() const { return BoundPort; }
    TError Error() const { return LastError; }
    QString ErrorString() const { return ErrorText; }

    // Accepts from the kernel when none is held; the connection is then taken by the next call.
    bool HasPendingConnection();
    // nullptr when none waits. The socket's parent is this listener.
    TStreamSocket* NextPendingConnection();
    // While paused, connections wait in the kernel's backlog.
    void PauseAccepting();
    void ResumeAccepting();

signals:
    void NewConnection();

private:
    bool Fail(int error, const QString& what);
    int AcceptOne();

    int Fd = -1;
    int Pending = -1; // accepted, not yet taken
    QByteArray LocalPath;
    quint16 BoundPort = 0;
    QSocketNotifier* Notifier = nullptr;
    TError LastError = TError::None;
    QString ErrorText;
};
