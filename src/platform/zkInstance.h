#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class TStreamListener;

// One client per installation folder. The lock is a lock file as QLockFile makes and reads it,
// in the lock folder (zkPaths::LockDir), named after the installation folder (every "/" turned
// into "_"); a local socket in the runtime folder takes the commands of later launches, one a
// line: "activate" (bring the running client forward), "terminate" (close without a question)
// and "link <base64 of the UTF-8 link>" (a link for the URL handler, for a launch that cannot
// reach the running client's store).
class TInstanceGuard : public QObject {
    Q_OBJECT
public:
    explicit TInstanceGuard(const QString& installationDir, QObject* parent = nullptr);
    ~TInstanceGuard() override;

    // "/opt/velquist" -> "_opt_velquist"; nothing else changes.
    static QString LockName(const QString& dir);
    // The activation socket's path; a path past the Unix socket limit uses a short hash.
    static QString SocketPath(const QString& lockName);
    // The lock folder's file for the lock itself.
    static QString LockPath(const QString& lockName);

    struct TCommand {
        enum TKind { Activate, Terminate, Link } Kind = Activate;
        QString LinkText;
    };
    // One line of the socket (without its line end); nullopt for anything else.
    static std::optional<TCommand> ParseCommand(const QByteArray& line);
    static QByteArray LinkCommand(const QString& link);
    // The longest command line taken; a peer that sends more without a line end is cut off.
    static constexpr qsizetype MaxCommandBytes = 256 * 1024;

    const QString& lockName() const { return Name; }

    // Takes the lock. A lock of a dead process is taken over, and so is a lock file that names
    // no owner at all (empty, damaged, unreadable): it would block every start. A running
    // client's lock is never taken over, however old. False: another client of this
    // installation holds it, or, with Problem() not empty, the lock cannot be had at all (no
    // safe folder, lock file not writable); the client must not run then.
    bool TryAcquire();
    const QString& Problem() const { return AcquireProblem; }
    // After a failed TryAcquire: the holder's process id as the lock file names it (0: none).
    qint64 HolderPid() const { return Holder; }
    // Starts listening for commands of later launches; call after TryAcquire succeeded.
    bool Listen();

    // Sends a command to the client holding the lock and returns without waiting for it to
    // react. False when no client could be reached.
    static bool SendCommand(const QString& lockName, const QByteArray& command);

signals:
    void ActivationRequested();
    void TerminateRequested();
    void LinkReceived(const QString& link);

private:
    void onNewConnection();

    QString Name;
    QString AcquireProblem;
    qint64 Holder = 0;
    // The lock made here (QLockFile's, when it took over a dead holder's).
    int LockFd = -1;
    QString LockFilePath;
    std::unique_ptr<QLockFile> Lock;
    TStreamListener* Server = nullptr;
};
