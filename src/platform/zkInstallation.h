#pragma once

#include <QString>

// Two kinds of installation. A folder installation (scripts/install.sh, the build folder, a
// copied folder) keeps everything beside the program and works in that folder. A system
// installation (the Debian package: programs in <prefix>/bin, read-only data in
// <prefix>/share/velquist) cannot be written by its users: each user works in their own data
// folder, seeded from the shared data at the first start.
namespace zkInstallation {

// "<prefix>/share/velquist" for the program in "<prefix>/bin" when that folder holds the
// package's Settings.ini, else empty.
QString SharedDataDir();
QString SharedDataDirFor(const QString& programDir);
// A system installation: there is shared data, and the program's folder is not one to work in
// (it cannot be written, or it has no Settings.ini beside the program as every folder
// installation has; the latter also keeps root out of /usr/bin).
bool IsShared();
bool IsSharedFor(const QString& programDir);
// The folder the client works in: the user's data folder (zkPaths::DataDir) for a system
// installation, else the program's folder.
QString WorkingDir();
// The Settings.ini to read. A folder installation: the one in the working folder. A system
// installation: /etc/velquist/Settings.ini when the machine has one, else the shared data's.
QString SettingsIniPath();
QString SettingsIniPathFor(const QString& programDir);
// A read-only file of the installation (the splash picture): the name itself, in the working
// folder of a folder installation, or the file in the shared data folder of a system one.
QString DataFile(const QString& name);
// A module the client opens late (velquist-http.so): beside the program in a folder
// installation or the build tree, else in "<prefix>/lib/velquist" for the program in
// "<prefix>/bin" (the Debian package). The path beside the program when neither exists.
QString ModuleFile(const QString& name);
QString ModuleFileFor(const QString& programDir, const QString& name);
// Prepares the user's working folder of a system installation: creates it (0700) and, when it has
// no SavedWindows folder yet, copies the shared starter windows and sounds into it, never over a
// file of the user. Empty text on success (and for a folder installation), else why not.
QString PrepareWorkingDir();
QString PrepareWorkingDirFrom(const QString& sharedDir, const QString& workingDir);

void SetSystemConfigDirForTesting(const QString& dir);

} // namespace zkInstallation
