#include "zkPaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QList>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zkPaths {

namespace {

// sockaddr_un holds 108 bytes including the terminating zero; the longest name the runtime
// folder gets is "/l-<16 hex>.links" (a socket named after a hash, for long folder names).
constexpr int MaxSocketPathBytes = 107;
constexpr int LongestSocketNameBytes = 25;

std::optional<uid_t> FakeUid;

QString fromEnvOr(const char* name, const QString& fallback) {
    const QByteArray value = qgetenv(name);
    // XDG says relative values are invalid and must be ignored.
    if (!value.isEmpty() && value.startsWith('/'))
        return QString::fromLocal8Bit(value);
    return fallback;
}

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The folder beside the store it guards. It does not depend on XDG_RUNTIME_DIR nor on which
// folders exist in /tmp at the moment, so every launch of one installation with one store
// finds the same lock, whatever environment it was started from.
QString StoreRunDir() {
    return ConfigDir() + QStringLiteral("/run");
}

// The stand-in when the store's folder cannot hold it (a file in its place, another user's):
// /tmp/velquist-$UID. Named by the user alone, like the folder it stands in for: a launch from
// a desktop and one from a terminal (XDG_RUNTIME_DIR set, different or missing) must meet at
// the same lock.
QString SystemRunDir() {
    // Whole-process tests keep their stand-in apart from the machine's /tmp.
    const QString tmp = fromEnvOr("VELQUIST_TEST_TMP_DIR", QStringLiteral("/tmp"));
    return tmp + QStringLiteral("/velquist-%1").arg(getuid());
}

// SecurePrivateDir, and the sockets of the folder must fit their address.
QString UsableForSockets(const QString& path) {
    if (QFile::encodeName(path).size() + LongestSocketNameBytes > MaxSocketPathBytes)
        return QStringLiteral("its path is too long for a local socket");
    return SecurePrivateDir(path);
}

QString UsableStoreRunDir(bool forSockets) {
    if (!EnsurePrivateDir(ConfigDir()))
        return QStringLiteral("its folder cannot be created");
    return forSockets ? UsableForSockets(StoreRunDir()) : SecurePrivateDir(StoreRunDir());
}

// Each refusal is told once per process, not at every look-up.
void WarnOnce(const QString& text) {
    static QSet<QString> told;
    if (told.contains(text))
        return;
    told.insert(text);
    std::fprintf(stderr, "velquist: %s\n", text.toLocal8Bit().constData());
}

// The folder chosen and, when none is safe, why; worked out afresh at each look-up (a few
// system calls), so a test that changes the environment gets the folder it asked for.
QString ResolveDir(bool forSockets, QString* problem) {
    const QString preferred = StoreRunDir();
    const QString refused = UsableStoreRunDir(forSockets);
    if (refused.isEmpty())
        return preferred;
    const QString fallback = SystemRunDir();
    const QString fallbackRefused =
        forSockets ? UsableForSockets(fallback) : SecurePrivateDir(fallback);
    if (fallbackRefused.isEmpty()) {
        WarnOnce(QStringLiteral("the folder %1 is not safe to use (%2); using %3 instead")
                     .arg(preferred, refused, fallback));
        return fallback;
    }
    if (problem)
        *problem =
            QStringLiteral("%1: %2\n%3: %4").arg(preferred, refused, fallback, fallbackRefused);
    return QString();
}

} // namespace

QString InstallationDir() {
    QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        dir = QDir::currentPath();
    return dir;
}

bool EnsurePrivateDir(const QString& path, QString* problem) {
    const auto fail = [problem](const QString& text) {
        if (problem)
            *problem = text;
        return false;
    };
    const QByteArray name = QFile::encodeName(QDir::cleanPath(path));
    struct stat st = {};
    if (::stat(name.constData(), &st) != 0) {
        // Missing: made with its missing parents (which the umask decides as usual); the
        // first that cannot be made says why, such as a parent that cannot be written.
        QList<QByteArray> missing{name};
        for (QByteArray up = name; up.lastIndexOf('/') > 0;) {
            up.truncate(up.lastIndexOf('/'));
            if (::stat(up.constData(), &st) == 0)
                break;
            missing.prepend(up);
        }
        for (const QByteArray& folder : missing)
            if (::mkdir(folder.constData(), folder == name ? 0700 : 0777) != 0 && errno != EEXIST)
                return fail(QStringLiteral("cannot be created: %1").arg(SystemError(errno)));
        if (::stat(name.constData(), &st) != 0)
            return fail(QStringLiteral("cannot be created: %1").arg(SystemError(errno)));
    }
    if (!S_ISDIR(st.st_mode))
        return fail(QStringLiteral("cannot be created: a file is in its place"));
    // Changed only when it is not private yet: a private folder on a read-only disk is usable
    // for reading, and what cannot be written there is said by whoever writes.
    if ((st.st_mode & 07777) != 0700 && ::chmod(name.constData(), 0700) != 0)
        return fail(QStringLiteral("cannot be made private: %1").arg(SystemError(errno)));
    return true;
}

QString SecurePrivateDir(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("it cannot be created: %1").arg(SystemError(errno));
    struct stat before = {};
    if (::lstat(name.constData(), &before) != 0)
        return SystemError(errno);
    if (S_ISLNK(before.st_mode))
        return QStringLiteral("it is a symbolic link");
    if (!S_ISDIR(before.st_mode))
        return QStringLiteral("it is not a folder");
    // Checked and changed through one descriptor, so what is checked is what is changed.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return SystemError(errno);
    QString problem;
    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        problem = SystemError(errno);
    else if (st.st_dev != before.st_dev || st.st_ino != before.st_ino)
        problem = QStringLiteral("it was replaced while being checked");
    else if (st.st_uid != UserUid())
        problem = QStringLiteral("it belongs to another user (uid %1)").arg(st.st_uid);
    else if ((st.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0)
        problem = QStringLiteral("it cannot be made private: %1").arg(SystemError(errno));
    ::close(fd);
    if (problem.isEmpty() && ::access(name.constData(), W_OK | X_OK) != 0)
        problem = QStringLiteral("it cannot be written: %1").arg(SystemError(errno));
    return problem;
}

QString ConfigDir() {
    return fromEnvOr("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config")) +
           QStringLiteral("/velquist");
}

QString DataDir() {
    return fromEnvOr("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share")) +
           QStringLiteral("/velquist");
}

QString RuntimeDir() {
    return ResolveDir(true, nullptr);
}

QString RuntimeDirProblem() {
    QString problem;
    ResolveDir(true, &problem);
    return problem;
}

QString LockDir() {
    return ResolveDir(false, nullptr);
}

QString LockDirProblem() {
    QString problem;
    ResolveDir(false, &problem);
    return problem;
}

uid_t UserUid() {
    return FakeUid ? *FakeUid : ::geteuid();
}

void SetUserUidForTesting(std::optional<uid_t> uid) {
    FakeUid = uid;
}

QString RuntimeSocketPath(const QString& lockName, const QString& extension, char hashPrefix) {
    const QString dir = RuntimeDir();
    if (dir.isEmpty())
        return QString(); // no safe folder: nothing to listen on or to reach
    const QString plain = dir + QLatin1Char('/') + lockName + extension;
    if (QFile::encodeName(plain).size() <= MaxSocketPathBytes)
        return plain;
    const QByteArray hash =
        QCryptographicHash::hash(lockName.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return dir + QLatin1Char('/') + QLatin1Char(hashPrefix) + QLatin1Char('-') +
           QString::fromLatin1(hash) + extension;
}

} // namespace zkPaths
