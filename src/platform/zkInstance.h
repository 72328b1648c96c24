#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One client per installation folder. The lock is a QLockFile in the runtime folder named
// after the installation folder (every "/" turned into "_"); beside it a local socket takes
// the commands of later launches: "activate" (bring the running client forward) and
// "terminate" (close without a question).
class TInstanceGuard : public QObject {
    Q_OBJECT
public:
    explicit TInstanceGuard(const QString& installationDir, QObject* parent = nullptr);
    ~TInstanceGuard() override;

    // "/opt/velquist" -> "_opt_velquist"; nothing else changes.
    static QString LockName(const QString& dir);
    // The activation socket's path; a path past the Unix socket limit uses a short hash.
    static QString SocketPath(const QString& lockName);
    // The runtime folder file for the lock itself.
    static QString LockPath(const QString& lockName);

    const QString& lockName() const { return Name; }

    // Takes the lock (a stale lock of a dead process is taken over). False: another client
    // of this installation holds it, or, with Problem() not empty, the lock cannot be had at
    // all (no safe runtime folder, lock file not writable); the client must not run then.
    bool TryAcquire();
    const QString& Problem() const { return AcquireProblem; }
    // Starts listening for commands of later launches; call after TryAcquire succeeded.
    bool Listen();

    // Sends a command to the client holding the lock and returns without waiting for it to
    // react. False when no client could be reached.
    static bool SendCommand(const QString& lockName, const QByteArray& command);

signals:
    void ActivationRequested();
    void TerminateRequested();

private:
    void onNewConnection();

    QString Name;
    QString AcquireProblem;
    std::unique_ptr<QLockFile> Lock;
    QLocalServer* Server = nullptr;
};
