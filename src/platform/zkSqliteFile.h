#pragma once

// The SQLite files of this program's own (the alert history, the settings store) are opened
// without following links: a link in their place would have the program change the mode of
// another file, or take another program's database for its own and add its tables to it.
// What is in the place of such a file and is not one of ours is set aside by its owner, as a
// damaged file is.

#include <QString>

#include <cstdint>
#include <initializer_list>

struct sqlite3;

namespace zkSqliteFile {

enum class TFault {
    None,
    Linked,   // the file, or one of SQLite's files beside it, is a symbolic link
    NotAFile, // a folder, a pipe, a device... in its place
    Foreign,  // an SQLite database, but another program's
    Failed,   // the check itself failed (Code holds SQLite's result where it ran)
};

struct TProblem {
    TFault Fault = TFault::None;
    QString Text; // why, for a message: "it is a symbolic link", "database is locked"...
    int Code = 0; // SQLite's result, for Failed
    explicit operator bool() const { return Fault != TFault::None; }
};

// SQLite's own files beside a database: the write-ahead log, its index, the rollback journal.
inline constexpr const char* Companions[] = {"-wal", "-shm", "-journal"};

// Before SQLite opens `path`: the database and each of its companions that exists must be a
// plain file, not a link. With `create` the database file is made when missing; with
// `makePrivate` every one is given mode 0600. Both through descriptors opened without
// following links, so a link put in the place after the check is not followed either.
TProblem Prepare(const QString& path, bool create, bool makePrivate);

// After SQLite opened `path`: whether it opened that very file and not what a link put in its
// place since Prepare() leads to.
TProblem CheckOpened(sqlite3* db, const QString& path);

// Whether the open database is this program's kind of file: its application id is `ours`, or
// it is 0 (a new file, or one made before the id was written) and it holds no table, index,
// view or trigger but those named in `names` and SQLite's own. Reads only; a damaged file
// answers Failed with SQLite's code.
TProblem CheckOwnership(sqlite3* db, uint32_t ours, std::initializer_list<const char*> names);

// Renames the file and those of its companions that exist to "<path><tag><stamp>" and
// "<path><tag><stamp>-wal"... (a link is renamed itself, never what it leads to); returns the
// new name of the file, empty when it could not be moved. `stamp` is the time in some form.
QString SetAside(const QString& path, const QString& tag, const QString& stamp);

} // namespace zkSqliteFile
