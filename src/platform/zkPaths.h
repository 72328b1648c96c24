#pragma once

#include <QString>

#include <sys/types.h>

#include <optional>

// Where things live on Linux: the installation folder (the executable's), the per-user store
// folder, the per-user data folder and the runtime folder for locks and sockets.
namespace zkPaths {

// Folder holding the executable; the working directory after start-up.
QString InstallationDir();
// $XDG_CONFIG_HOME/velquist (default ~/.config/velquist); created 0700 on demand.
QString ConfigDir();
// $XDG_DATA_HOME/velquist (default ~/.local/share/velquist); created 0700 on demand.
QString DataDir();
// The folder for the instance lock: "run" in ConfigDir(), beside the store it guards, so one
// installation with one store has one lock whatever XDG_RUNTIME_DIR says or which folders
// come and go in /tmp. It is taken only when SecurePrivateDir accepts it; otherwise (said
// once on stderr) /tmp/velquist-$UID stands in under the same check, whatever XDG_RUNTIME_DIR
// says too (tests only: VELQUIST_TEST_TMP_DIR stands for /tmp). Empty when neither is safe;
// LockDirProblem() then tells why.
QString LockDir();
QString LockDirProblem();
// The folder for the sockets: as LockDir(), but a folder whose sockets' paths would pass the
// limit of a socket address is passed over.
QString RuntimeDir();
QString RuntimeDirProblem();
// Creates the folder (and parents) and restricts it to the user. Returns false on failure,
// with why in problem ("cannot be created: ...", "cannot be made private: ...").
bool EnsurePrivateDir(const QString& path, QString* problem = nullptr);
// Makes sure the folder is one only this user can enter: creates it 0700 when missing (its
// parent must exist), refuses a symbolic link, anything but a folder, a folder of another
// user or one that cannot be written, and takes group and other access away from a folder of
// ours. Empty text when the folder is safe, else why not.
QString SecurePrivateDir(const QString& path);

// The user whose files we trust: the effective uid, or what a test pretends it is, so that
// folders and sockets of "another user" can be tried without a second account.
uid_t UserUid();

// "<runtime folder>/<lock name><extension>" for a socket of the installation named by
// lockName, or "<runtime folder>/<hashPrefix>-<16 hex of SHA-256(lock name)><extension>" when
// the plain path would pass the 107-byte limit of Unix socket addresses. Empty when there is no
// safe runtime folder. The extension (".sock", ".links", ".inbox") is at most 6 bytes.
QString RuntimeSocketPath(const QString& lockName, const QString& extension, char hashPrefix);
void SetUserUidForTesting(std::optional<uid_t> uid);

} // namespace zkPaths
