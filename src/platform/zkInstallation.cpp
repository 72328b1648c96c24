#include "zkInstallation.h"

#include "zkPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace zkInstallation {

namespace {
QString SystemConfigOverride;

QString SystemConfigDir() {
    return SystemConfigOverride.isEmpty() ? QStringLiteral("/etc/velquist") : SystemConfigOverride;
}
} // namespace

QString SharedDataDirFor(const QString& programDir) {
    const QString dir = QDir::cleanPath(programDir + QStringLiteral("/../share/velquist"));
    // Known by the Settings.ini the package puts there: "~/.local/bin/../share/velquist" is the
    // data folder of a user who installed a folder installation into ~/.local/bin.
    return QFileInfo::exists(dir + QStringLiteral("/Settings.ini")) ? dir : QString();
}

QString SharedDataDir() {
    return SharedDataDirFor(zkPaths::InstallationDir());
}

bool IsSharedFor(const QString& programDir) {
    if (SharedDataDirFor(programDir).isEmpty())
        return false;
    const QByteArray folder = QFile::encodeName(programDir);
    return ::access(folder.constData(), W_OK) != 0 ||
           !QFileInfo::exists(programDir + QStringLiteral("/Settings.ini"));
}

bool IsShared() {
    return IsSharedFor(zkPaths::InstallationDir());
}

QString WorkingDir() {
    return IsShared() ? zkPaths::DataDir() : zkPaths::InstallationDir();
}

QString SettingsIniPathFor(const QString& programDir) {
    if (!IsSharedFor(programDir))
        return QStringLiteral("Settings.ini");
    const QString machine = SystemConfigDir() + QStringLiteral("/Settings.ini");
    if (QFileInfo::exists(machine))
        return machine;
    return SharedDataDirFor(programDir) + QStringLiteral("/Settings.ini");
}

QString SettingsIniPath() {
    return SettingsIniPathFor(zkPaths::InstallationDir());
}

QString DataFile(const QString& name) {
    return IsShared() ? SharedDataDir() + QLatin1Char('/') + name : name;
}

QString ModuleFileFor(const QString& programDir, const QString& name) {
    const QString beside = programDir + QLatin1Char('/') + name;
    if (QFileInfo::exists(beside))
        return beside;
    const QString packaged =
        QDir::cleanPath(programDir + QStringLiteral("/../lib/velquist/") + name);
    return QFileInfo::exists(packaged) ? packaged : beside;
}

QString ModuleFile(const QString& name) {
    return ModuleFileFor(zkPaths::InstallationDir(), name);
}

QString PrepareWorkingDirFrom(const QString& sharedDir, const QString& workingDir) {
    if (!zkPaths::EnsurePrivateDir(workingDir))
        return QStringLiteral("the folder %1 cannot be created").arg(workingDir);
    const QDir working(workingDir);
    // A folder with SavedWindows has been used: what the user removed stays removed.
    if (working.exists(QStringLiteral("SavedWindows")))
        return QString();
    for (const QString& sub : {QStringLiteral("Sounds"), QStringLiteral("SavedWindows")}) {
        const QDir from(sharedDir + QLatin1Char('/') + sub);
        if (!working.mkpath(sub))
            return QStringLiteral("the folder %1 cannot be created").arg(working.filePath(sub));
        const QStringList names = from.entryList(QDir::Files);
        for (const QString& name : names) {
            const QString target = working.filePath(sub + QLatin1Char('/') + name);
            if (QFileInfo::exists(target))
                continue;
            QFile source(from.filePath(name));
            if (!source.copy(target))
                return QStringLiteral("%1 cannot be copied to %2: %3")
                    .arg(from.filePath(name), target, source.errorString());
            // The copy keeps the package's read-only mode; the user's copy is theirs to change.
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        }
    }
    return QString();
}

QString PrepareWorkingDir() {
    if (!IsShared())
        return QString();
    return PrepareWorkingDirFrom(SharedDataDir(), zkPaths::DataDir());
}

void SetSystemConfigDirForTesting(const QString& dir) {
    SystemConfigOverride = dir;
}

} // namespace zkInstallation
