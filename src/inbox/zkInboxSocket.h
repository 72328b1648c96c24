#pragma once

// The inbox's local socket, for programs of the same user on this machine (velquist-alert).
// Protocol (docs/alert-inbox.md): lines of UTF-8 text ending in "\n". Each line a program sends
// is one alert object or a JSON array of them, read as the webhook reads a JSON body; blank
// lines are skipped. Every other line gets one answer line, in order:
//   "OK <n>"        the n alerts of the line are the client's
//   "OK <n> unrouted <m>"  ... and m of them are in no window (only in the history)
//   "OK <n> filtered <f>"  ... and f of them every window they went to refused by its rules
//                          (both counts may follow, unrouted first)
//   "DRYRUN <json>"  the answer to a line "DRYRUN <alerts>": where the alerts would go now,
//                    nothing taken: [{"symbol": S, "windows": [{"window": W, "opens": B,
//                    "refused": R}]}], R empty for a window that would show it
//   "ERROR <why>"   nothing of the line was taken (bad input, too many alerts, line too long)
//   "BUSY"          the client cannot take them now; send the line again later
//   "CLOSING"       the client is closing; nothing more is taken

#include "platform/zkLineReader.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class IAlertSink;
class TStreamListener;
class TStreamSocket;

class TInboxSocket : public QObject {
    Q_OBJECT
public:
    // Longer lines are answered "ERROR" as a whole, without being kept.
    static constexpr qsizetype MaxLineBytes = 64 * 1024;
    // Programs connected at a time; more are turned away at once.
    static constexpr int MaxPrograms = 64;
    // A program that leaves more answers than this unread is dropped.
    static constexpr qint64 MaxUnreadBytes = qint64(1) << 20;

    explicit TInboxSocket(QObject* parent = nullptr);
    ~TInboxSocket() override;

    // "<runtime folder>/<lock name>.inbox", or a short hash of the lock name when that path
    // would pass the 107-byte limit of Unix sockets.
    static QString SocketPath(const QString& lockName);
    // The socket of the installation in the current directory.
    static QString DefaultSocketPath();

    // Starts listening, replacing a socket file that nobody serves any more. False, with
    // Problem() telling why, when the socket cannot be made or another client serves it.
    bool Listen(const QString& path);
    void Close();
    bool IsListening() const;
    QString Path() const { return ServerPath; }
    QString Problem() const { return ProblemText; }

    void SetSink(IAlertSink* sink) { Sink = sink; }
    // While closing, every line is answered "CLOSING" and the sink is not called.
    void SetClosing(bool closing) { ClosingDown = closing; }
    int ProgramCount() const { return int(Peers.size()); }

private:
    struct TPeer {
        TStreamSocket* Socket = nullptr;
        TLineReader Lines{MaxLineBytes};
    };

    void OnNewConnection();
    void OnReadyRead(TPeer* peer);
    QByteArray Answer(const QByteArray& line);
    QByteArray DryRunAnswer(const QByteArray& alerts);
    void RemovePeer(TPeer* peer);
    TPeer* PeerOf(TStreamSocket* socket) const;

    TStreamListener* Server = nullptr;
    QString ServerPath;
    QString ProblemText;
    IAlertSink* Sink = nullptr;
    bool ClosingDown = false;
    std::vector<std::unique_ptr<TPeer>> Peers;
};
