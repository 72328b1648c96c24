#pragma once

#include <QString>

// Where things live on Linux: the installation folder (the executable's), the per-user store
// folder, the per-user data folder and the runtime folder for locks and sockets.
namespace zkPaths {

// Folder holding the executable; the working directory after start-up.
QString InstallationDir();
// $XDG_CONFIG_HOME/velquist (default ~/.config/velquist); created 0700 on demand.
QString ConfigDir();
// $XDG_DATA_HOME/velquist (default ~/.local/share/velquist); created 0700 on demand.
QString DataDir();
// $XDG_RUNTIME_DIR/velquist, or /tmp/velquist-$UID when there is no runtime folder; 0700.
QString RuntimeDir();
// Creates the folder (and parents) and restricts it to the user. Returns false on failure.
bool EnsurePrivateDir(const QString& path);

} // namespace zkPaths
