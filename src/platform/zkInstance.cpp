#include "zkInstance.h"

#include "zkLocalPeers.h"
#include "zkPaths.h"
#include "zkStreamSocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TInstanceGuard::TInstanceGuard(const QString& installationDir, QObject* parent)
    : QObject(parent), Name(LockName(installationDir)) {}

TInstanceGuard::~TInstanceGuard() {
    if (Server)
        Server->Close();
    if (LockFd >= 0) {
        // Gone before it is unlocked: a launch meanwhile never finds an unlocked file to take.
        ::unlink(QFile::encodeName(LockFilePath).constData());
        ::close(LockFd);
    }
}

QString TInstanceGuard::LockName(const QString& dir) {
    QString name = dir;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

QString TInstanceGuard::LockPath(const QString& lockName) {
    return zkPaths::LockDir() + QLatin1Char('/') + lockName + QStringLiteral(".lock");
}

namespace {

struct TFileStamp {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    timespec Changed = {};
    bool operator==(const TFileStamp& o) const {
        return Device == o.Device && Inode == o.Inode && Size == o.Size &&
               Changed.tv_sec == o.Changed.tv_sec && Changed.tv_nsec == o.Changed.tv_nsec;
    }
};

std::optional<TFileStamp> StampOf(const QByteArray& path) {
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return TFileStamp{st.st_dev, st.st_ino, st.st_size, st.st_ctim};
}

// A lock file from which no owner can be read (empty, "x", another account's unreadable file)
// can belong to no client: a client writes its owner right after creating the file. Such a
// file is removed, but only when it stayed the same while a launch that has just created it
// would have written its owner. True when the file is gone (the lock can be tried again).
bool RemoveOwnerlessLock(QLockFile& lock, const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    qint64 pid = 0;
    QString host, app;
    const std::optional<TFileStamp> before = StampOf(name);
    if (!before)
        return !QFileInfo::exists(path);
    if (lock.getLockInfo(&pid, &host, &app))
        return false;
    QThread::msleep(300);
    if (lock.getLockInfo(&pid, &host, &app) || StampOf(name) != before)
        return false;
    if (::unlink(name.constData()) != 0)
        return false;
    std::fprintf(stderr, "velquist: removed the lock file %s: it named no running client\n",
                 name.constData());
    return true;
}

// What is at the lock's path when it is not a regular file ("a folder", "a symbolic link"...),
// else empty. Not followed through a link.
QString NotALockFile(const QString& path) {
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder");
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("a symbolic link");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("a socket");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("a named pipe");
    return QStringLiteral("a device file");
}

// The owner's lines QLockFile writes and reads back (process id, program name, host, machine,
// boot), so that it, in a client of any version, finds this lock held or stale as its own.
QByteArray LockOwnerText() {
    const qint64 pid = QCoreApplication::applicationPid();
    // The name it compares with the running process's: the file name of /proc/PID/exe.
    QByteArray exe(4096, 0);
    const ssize_t length = ::readlink("/proc/self/exe", exe.data(), size_t(exe.size()));
    exe.truncate(length > 0 ? qsizetype(length) : 0);
    if (exe.endsWith(" (deleted)"))
        exe.chop(10);
    return QByteArray::number(pid) + '\n' + QFileInfo(QFile::decodeName(exe)).fileName().toUtf8() +
           '\n' + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n' +
           QSysInfo::bootUniqueId() + '\n';
}

// Creates the lock file, locked and with its owner in it, or returns -1 (one is there, or it
// could not be made). QLockFile would also wait for the disk to store it before start-up goes on (a
// millisecond here, far more on a slow disk); a lock file lost with the machine is held by nobody.
int CreateLockFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    const QByteArray owner = LockOwnerText();
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::write(fd, owner.constData(), size_t(owner.size())) == ssize_t(owner.size()))
        return fd;
    ::unlink(name.constData());
    ::close(fd);
    return -1;
}

} // namespace

std::optional<TInstanceGuard::TCommand> TInstanceGuard::ParseCommand(const QByteArray& line) {
    if (line == "activate")
        return TCommand{TCommand::Activate, QString()};
    if (line == "terminate")
        return TCommand{TCommand::Terminate, QString()};
    if (!line.startsWith("link "))
        return std::nullopt;
    const auto decoded =
        QByteArray::fromBase64Encoding(line.mid(5), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    QString link = QString::fromUtf8(*decoded);
    // The link came as one argument: a line break or NUL in it is not ours to pass on.
    for (const QChar c : link)
        if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            return std::nullopt;
    return TCommand{TCommand::Link, link};
}

QByteArray TInstanceGuard::LinkCommand(const QString& link) {
    return "link " + link.toUtf8().toBase64();
}

QString TInstanceGuard::SocketPath(const QString& lockName) {
    return zkPaths::RuntimeSocketPath(lockName, QStringLiteral(".sock"), 'i');
}

bool TInstanceGuard::TryAcquire() {
    AcquireProblem.clear();
    Holder = 0;
    const QString dir = zkPaths::LockDir();
    if (dir.isEmpty()) {
        AcquireProblem = zkPaths::LockDirProblem();
        return false;
    }
    const QString path = dir + QLatin1Char('/') + Name + QStringLiteral(".lock");
    if (LockFd < 0) {
        LockFd = CreateLockFile(path);
        if (LockFd >= 0) {
            LockFilePath = path;
            return true;
        }
    } else if (LockFilePath == path) {
        return true;
    }
    // One is there already (or it could not be made): QLockFile tells a live holder from a dead
    // one, and says what went wrong.
    Lock = std::make_unique<QLockFile>(path);
    // Never stale by age: a client may run for weeks. A lock whose process has died is
    // still recognised as stale and taken over.
    Lock->setStaleLockTime(0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Lock->tryLock(0))
            return true;
        if (Lock->error() != QLockFile::LockFailedError)
            break;
        // Something else in the lock file's place is no client's lock: say what it is rather
        // than blame a client that does not run (and leave it, it may be someone's).
        const QString other = NotALockFile(path);
        if (!other.isEmpty()) {
            AcquireProblem = QStringLiteral("in the place of its single-instance lock, %1, there "
                                            "is %2, not a lock file; no other Velquist holds it. "
                                            "Move it away and start Velquist again.")
                                 .arg(path, other);
            return false;
        }
        if (attempt == 0 && RemoveOwnerlessLock(*Lock, path))
            continue;
        QString host, app;
        if (!Lock->getLockInfo(&Holder, &host, &app))
            Holder = 0;
        return false;
    }
    // Running without the lock would let a second client share the store with this one.
    AcquireProblem = QStringLiteral("the lock %1 cannot be written").arg(path);
    return false;
}

bool TInstanceGuard::Listen() {
    const QString path = SocketPath(Name);
    // We hold the lock, so any socket file left here belongs to a dead client.
    ::unlink(QFile::encodeName(path).constData());
    Server = new TStreamListener(this);
    connect(Server, &TStreamListener::NewConnection, this, &TInstanceGuard::onNewConnection);
    if (!Server->ListenLocal(path)) {
        qWarning("velquist: cannot listen on %s: %s", qPrintable(path),
                 qPrintable(Server->ErrorString()));
        return false;
    }
    return true;
}

void TInstanceGuard::onNewConnection() {
    while (TStreamSocket* socket = Server->NextPendingConnection()) {
        // Only this user's launches may wake or end the client.
        if (!zkLocalPeers::PeerIsUser(socket->Descriptor())) {
            socket->Abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &TStreamSocket::Disconnected, socket, &QObject::deleteLater);
        connect(socket, &TStreamSocket::ReadyRead, this, [this, socket] {
            while (socket->CanReadLine()) {
                QByteArray line = socket->ReadLine(MaxCommandBytes + 2);
                if (!line.endsWith('\n')) {
                    // Longer than any command: the rest of it goes unread, not as a command.
                    while (!line.isEmpty() && !line.endsWith('\n'))
                        line = socket->ReadLine(MaxCommandBytes + 2);
                    continue;
                }
                const std::optional<TCommand> command = ParseCommand(line.trimmed());
                if (!command)
                    continue;
                if (command->Kind == TCommand::Activate)
                    emit ActivationRequested();
                else if (command->Kind == TCommand::Terminate)
                    emit TerminateRequested();
                else
                    emit LinkReceived(command->LinkText);
            }
            // A peer that sends endless junk without a newline is cut off.
            if (socket->BytesAvailable() > MaxCommandBytes) {
                socket->Abort();
                socket->deleteLater();
            }
        });
    }
}

bool TInstanceGuard::SendCommand(const QString& lockName, const QByteArray& command) {
    const QString path = SocketPath(lockName);
    // The running client may still be starting and not listen yet: try for a short while.
    QDeadlineTimer deadline(1500);
    while (true) {
        if (std::unique_ptr<TStreamSocket> socket{TStreamSocket::ConnectLocal(path, 200)}) {
            socket->Write(command + '\n');
            socket->WaitForBytesWritten(200);
            return true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}
