#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Replacing a file whole, so a crash never leaves half a file: the bytes go to a temporary
// file beside it ("<name>.tmp-XXXXXX", created 0600 so nobody else can read it while it is
// written or after a crash left it), which is flushed, given the mode of the file it replaces
// (or the umask's default for a new file) without group and other write, and renamed over it. A
// symbolic link is followed: the file it points to is replaced.
namespace zkAtomicFile {

// False (with the system's reason in *problem) when the file could not be replaced; the old
// file is then untouched and no temporary file is left.
bool Write(const QString& path, const QByteArray& bytes, QString* problem = nullptr);

// As Write, but the new file is readable by the owner alone (0600), whatever the old one
// allowed: for files that hold secrets.
bool WritePrivate(const QString& path, const QByteArray& bytes, QString* problem = nullptr);

// True when the file (a symbolic link followed) already holds exactly these bytes, belongs to
// this user and has the mode a replacement would give it (0600 with ownerOnly): replacing it
// would change nothing, so a save may skip the write and its flush to the disk.
bool AlreadyHolds(const QString& path, const QByteArray& bytes, bool ownerOnly);

// One such replacement in two steps, so that the writing can happen later and on another
// thread: Begin creates the temporary file (a folder that cannot take it fails here, at once),
// Finish writes, flushes and renames it over the file. A replacement not finished is abandoned
// (its temporary file removed) when it ends. Each step reports the system's reason in *problem.
class TReplacement {
public:
    TReplacement() = default;
    TReplacement(const TReplacement&) = delete;
    TReplacement& operator=(const TReplacement&) = delete;
    ~TReplacement();

    bool Begin(const QString& path, bool ownerOnly, QString* problem = nullptr);
    bool Finish(const QByteArray& bytes, QString* problem = nullptr);
    void Abandon();

private:
    QString TargetPath;
    QByteArray Temporary;
    int Fd = -1;
    mode_t Mode = 0600;
};

// Temporary files of earlier writes of this file that a crash left behind. Write removes them
// after it succeeded (not those of replacements begun and not yet finished).
QStringList LeftTemporaries(const QString& path);

// Removes the temporary files a crash left in a folder (not in its subfolders): those of ours
// last changed at least minAgeSeconds ago, so that a write still under way keeps its own.
// Returns how many were removed.
int RemoveStaleTemporaries(const QString& dir, int minAgeSeconds = 600);

} // namespace zkAtomicFile
