#include "zkSqliteFile.h"

#include <QFile>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zkSqliteFile {

namespace {

TProblem Problem(TFault fault, const QString& text, int code = 0) {
    return TProblem{fault, text, code};
}

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// One file of the database: refused when it is a link or not a plain file; made (the database
// only) and given 0600 through a descriptor that does not follow links.
TProblem PrepareOne(const QByteArray& file, bool main, bool create, bool makePrivate) {
    const QString name = QFile::decodeName(file);
    struct stat st = {};
    if (::lstat(file.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return Problem(TFault::Linked, QStringLiteral("%1 is a symbolic link").arg(name));
        if (!S_ISREG(st.st_mode))
            return Problem(TFault::NotAFile, QStringLiteral("%1 is not a plain file").arg(name));
        if (!makePrivate && !(main && create))
            return {};
    } else if (errno != ENOENT) {
        return Problem(TFault::Failed, QStringLiteral("%1: %2").arg(name, SystemError(errno)));
    } else if (!(main && create)) {
        return {};
    }
    // The database is opened for writing, so a file that cannot be written is said here; the
    // others only need a descriptor to change their mode.
    const int flags = (main ? O_RDWR : O_RDONLY) | (main && create ? O_CREAT : 0) | O_NOFOLLOW |
                      O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(file.constData(), flags, 0600);
    if (fd < 0) {
        if (errno == ELOOP)
            return Problem(TFault::Linked, QStringLiteral("%1 is a symbolic link").arg(name));
        if (errno == ENOENT && !main)
            return {}; // gone since
        return Problem(TFault::Failed,
                       QStringLiteral("%1 cannot be written: %2").arg(name, SystemError(errno)));
    }
    TProblem problem;
    if (::fstat(fd, &st) != 0)
        problem = Problem(TFault::Failed, QStringLiteral("%1: %2").arg(name, SystemError(errno)));
    else if (!S_ISREG(st.st_mode))
        problem = Problem(TFault::NotAFile, QStringLiteral("%1 is not a plain file").arg(name));
    else if (makePrivate && (st.st_mode & 07777) != 0600)
        ::fchmod(fd, 0600); // a file of another user keeps its mode; opening it says the rest
    ::close(fd);
    return problem;
}

} // namespace

TProblem Prepare(const QString& path, bool create, bool makePrivate) {
    const QByteArray file = QFile::encodeName(path);
    if (TProblem problem = PrepareOne(file, true, create, makePrivate))
        return problem;
    for (const char* suffix : Companions)
        if (TProblem problem = PrepareOne(file + suffix, false, false, makePrivate))
            return problem;
    return {};
}

TProblem CheckOpened(sqlite3* db, const QString& path) {
    const char* opened = sqlite3_db_filename(db, "main");
    const QByteArray file = QFile::encodeName(path);
    struct stat here = {}, there = {};
    if (!opened || ::lstat(file.constData(), &here) != 0 || ::stat(opened, &there) != 0)
        return {}; // nothing to compare; what follows says what is missing
    if (S_ISLNK(here.st_mode) || here.st_dev != there.st_dev || here.st_ino != there.st_ino)
        return Problem(
            TFault::Linked,
            QStringLiteral("%1 was replaced by a link while it was being opened").arg(path));
    return {};
}

TProblem CheckOwnership(sqlite3* db, uint32_t ours, std::initializer_list<const char*> names) {
    const auto failed = [db](int rc) {
        return Problem(TFault::Failed, QString::fromUtf8(sqlite3_errmsg(db)), rc);
    };
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA application_id", -1, &s, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        return failed(rc);
    }
    rc = sqlite3_step(s);
    const uint32_t id = rc == SQLITE_ROW ? uint32_t(sqlite3_column_int64(s, 0)) : 0;
    sqlite3_finalize(s);
    if (rc != SQLITE_ROW)
        return failed(rc);
    if (id == ours)
        return {};
    if (id != 0)
        return Problem(TFault::Foreign,
                       QStringLiteral("it is another program's database (application id %1)")
                           .arg(QStringLiteral("0x%1").arg(id, 8, 16, QLatin1Char('0'))));
    // No id: a new file, or one written before the id was. Its tables tell.
    rc = sqlite3_prepare_v2(db, "SELECT type, name FROM sqlite_master", -1, &s, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(s);
        return failed(rc);
    }
    TProblem problem;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const char* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        if (!name || std::strncmp(name, "sqlite_", 7) == 0)
            continue; // SQLite's own: sequences, statistics, automatic indexes
        bool known = false;
        for (const char* our : names)
            known = known || std::strcmp(name, our) == 0;
        if (!known) {
            problem =
                Problem(TFault::Foreign,
                        QStringLiteral("it is another program's database (it holds the %1 \"%2\")")
                            .arg(QString::fromUtf8(
                                     reinterpret_cast<const char*>(sqlite3_column_text(s, 0))),
                                 QString::fromUtf8(name)));
            break;
        }
    }
    if (!problem && rc != SQLITE_DONE)
        problem = failed(rc);
    sqlite3_finalize(s);
    return problem;
}

QString SetAside(const QString& path, const QString& tag, const QString& stamp) {
    const QByteArray from = QFile::encodeName(path);
    QString target = path + tag + stamp;
    struct stat st = {};
    for (int n = 2; ::lstat(QFile::encodeName(target).constData(), &st) == 0; ++n)
        target = path + tag + stamp + QStringLiteral("-%1").arg(n);
    const QByteArray to = QFile::encodeName(target);
    // rename() moves a link itself, never what it leads to.
    if (::rename(from.constData(), to.constData()) != 0)
        return QString();
    for (const char* suffix : Companions)
        if (::lstat((from + suffix).constData(), &st) == 0)
            ::rename((from + suffix).constData(), (to + suffix).constData());
    return target;
}

} // namespace zkSqliteFile
