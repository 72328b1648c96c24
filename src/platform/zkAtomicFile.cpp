#include "zkAtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace zkAtomicFile {

namespace {

const QString TemporaryInfix = QStringLiteral(".tmp-");
// mkstemp's six letters and digits after the infix.
constexpr qsizetype SuffixLength = 6;

// The name of the file a temporary of ours was to replace, when name is one: that name, the
// infix and mkstemp's six letters or digits; empty otherwise. Checked by hand: a pattern or a
// directory name filter would compile a regular expression on each call, on the start-up path.
QStringView TemporaryTarget(const QString& name) {
    const qsizetype suffixAt = name.size() - SuffixLength;
    const qsizetype targetSize = suffixAt - TemporaryInfix.size();
    if (targetSize < 1 ||
        QStringView(name).mid(targetSize, TemporaryInfix.size()) != TemporaryInfix)
        return {};
    for (qsizetype i = suffixAt; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')))
            return {};
    }
    return QStringView(name).left(targetSize);
}

// The umask, read without changing it (changing it would race with other threads).
mode_t CurrentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
        }
    }
    return 022;
}

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        at += written;
        left -= written;
    }
    return true;
}

// The file a write replaces: the target of a symbolic link, else the path itself.
QString Target(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.isEmpty())
            return target;
    }
    return path;
}

// Temporary files of replacements begun and not yet finished: not left behind by a crash,
// so not removed as such.
std::mutex OpenTemporariesLock;
QSet<QString> OpenTemporaries;

} // namespace

bool AlreadyHolds(const QString& path, const QByteArray& bytes, bool ownerOnly) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st = {};
    bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                st.st_size == off_t(bytes.size()) &&
                (ownerOnly ? (st.st_mode & 07777) == 0600 : (st.st_mode & 022) == 0);
    // Compared in pieces: the file may be large, and most differ early.
    char buffer[16384];
    qsizetype at = 0;
    while (same && at < bytes.size()) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || at + got > bytes.size() ||
            std::memcmp(buffer, bytes.constData() + at, size_t(got)) != 0)
            same = false;
        else
            at += got;
    }
    ::close(fd);
    return same;
}

TReplacement::~TReplacement() {
    Abandon();
}

bool TReplacement::Begin(const QString& path, bool ownerOnly, QString* problem) {
    Abandon();
    TargetPath = Target(path);
    const QByteArray target = QFile::encodeName(TargetPath);
    QByteArray temporary = target + TemporaryInfix.toLatin1() + "XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // mode 0600
    if (fd < 0) {
        if (problem)
            *problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat existing = {};
    // Never writable by group or others, whatever the umask or the old file allowed: a
    // window's or layout's file names programs to run.
    Mode = ownerOnly                                    ? mode_t(0600)
           : ::stat(target.constData(), &existing) == 0 ? (existing.st_mode & 07777 & ~mode_t(022))
                                                        : (0666 & ~CurrentUmask() & ~mode_t(022));
    Fd = fd;
    Temporary = temporary;
    const std::lock_guard<std::mutex> lock(OpenTemporariesLock);
    OpenTemporaries.insert(QFile::decodeName(Temporary));
    return true;
}

bool TReplacement::Finish(const QByteArray& bytes, QString* problem) {
    if (Fd < 0) {
        if (problem)
            *problem = QString::fromLocal8Bit(std::strerror(EBADF));
        return false;
    }
    bool ok = WriteAll(Fd, bytes) && ::fsync(Fd) == 0 && ::fchmod(Fd, Mode) == 0;
    int error = ok ? 0 : errno;
    if (::close(Fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    Fd = -1;
    if (ok && ::rename(Temporary.constData(), QFile::encodeName(TargetPath).constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok)
        ::unlink(Temporary.constData());
    {
        const std::lock_guard<std::mutex> lock(OpenTemporariesLock);
        OpenTemporaries.remove(QFile::decodeName(Temporary));
    }
    Temporary.clear();
    if (!ok) {
        if (problem)
            *problem = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    for (const QString& left : LeftTemporaries(TargetPath)) {
        const std::lock_guard<std::mutex> lock(OpenTemporariesLock);
        if (!OpenTemporaries.contains(left))
            QFile::remove(left);
    }
    return true;
}

void TReplacement::Abandon() {
    if (Fd < 0)
        return;
    ::close(Fd);
    Fd = -1;
    ::unlink(Temporary.constData());
    const std::lock_guard<std::mutex> lock(OpenTemporariesLock);
    OpenTemporaries.remove(QFile::decodeName(Temporary));
    Temporary.clear();
}

bool Write(const QString& path, const QByteArray& bytes, QString* problem) {
    TReplacement replacement;
    return replacement.Begin(path, false, problem) && replacement.Finish(bytes, problem);
}

bool WritePrivate(const QString& path, const QByteArray& bytes, QString* problem) {
    TReplacement replacement;
    return replacement.Begin(path, true, problem) && replacement.Finish(bytes, problem);
}

QStringList LeftTemporaries(const QString& path) {
    const QFileInfo info(Target(path));
    const QString target = info.fileName();
    QStringList found;
    const QDir dir = info.absoluteDir();
    for (const QString& name :
         dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted)) {
        // Only what we could have left: a plain file of ours.
        const QString full = dir.filePath(name);
        struct stat st = {};
        if (TemporaryTarget(name) == target &&
            ::lstat(QFile::encodeName(full).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            found << full;
    }
    return found;
}

int RemoveStaleTemporaries(const QString& dir, int minAgeSeconds) {
    const QDir folder(dir);
    const QStringList names =
        folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    const time_t now = ::time(nullptr);
    int removed = 0;
    for (const QString& name : names) {
        const QByteArray full = QFile::encodeName(folder.filePath(name));
        struct stat st = {};
        // Only what we could have left: a plain file of ours, and no write still under way.
        if (TemporaryTarget(name).isEmpty() || ::lstat(full.constData(), &st) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || now - st.st_mtime < minAgeSeconds)
            continue;
        if (::unlink(full.constData()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace zkAtomicFile
