#include "zkLayoutSettings.h"

#include "zkSettings.h"
#include "platform/zkPaths.h"

#include <QDir>
#include <QFileInfo>

namespace {
QString settingsKey() {
    return SettingsValuesPath();
}

QString FolderKey(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) : canonical;
}

// A client works in this folder: its program is beside it (a folder installation), or it is the
// users' working folder of a system installation.
bool IsInstallationFolder(const QString& folder) {
    return QFileInfo(folder + QStringLiteral("/velquist")).isFile() ||
           FolderKey(folder) == FolderKey(zkPaths::DataDir());
}

// The per-user store is shared by every installation of the user (a build folder run once, the
// installed copy). A layout file in the SavedWindows folder of another installation, present or
// long deleted, belongs to that one: this installation keeps the same file in its own folder.
// Layout files anywhere else were the user's choice and stay as they are, also in a folder of
// theirs that happens to be named SavedWindows.
QString OwnLayoutPath(const QString& path) {
    if (path.isEmpty())
        return path;
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (folder.fileName() != QLatin1String("SavedWindows"))
        return path;
    const QString installation = folder.absolutePath();
    if (FolderKey(installation) == FolderKey(QDir::currentPath()))
        return path;
    if (folder.exists() && !IsInstallationFolder(installation))
        return path;
    return SavedWindowsDir() + QLatin1Char('/') + file.fileName();
}
} // namespace

QString SavedWindowsDir() {
    return QDir::currentPath() + QStringLiteral("/SavedWindows");
}

QString DefaultLayoutFileName() {
    return SavedWindowsDir() + QStringLiteral("/DEFAULT_LAYOUT.zkl");
}

void SetLayoutDefaults(TLayoutSettings& settings) {
    settings.SaveOnExit = 2;
    settings.SaveLayoutName = DefaultLayoutFileName();
    settings.LoadOnStart = true;
    settings.LoadLayoutName = DefaultLayoutFileName();
}

void ReadLayoutSettings(TLayoutSettings& settings, const TLayoutSettings& defaults) {
    const TSettingsStore store = TSettingsStore::Registry();
    const QString key = settingsKey();
    settings.SaveOnExit =
        ReadIntegerValue(store, key, QStringLiteral("SaveOnExit"), defaults.SaveOnExit);
    settings.SaveLayoutName = OwnLayoutPath(
        ReadStringValue(store, key, QStringLiteral("SaveLayoutName"), defaults.SaveLayoutName));
    settings.LoadOnStart =
        ReadBoolValue(store, key, QStringLiteral("LoadOnStart"), defaults.LoadOnStart);
    settings.LoadLayoutName = OwnLayoutPath(
        ReadStringValue(store, key, QStringLiteral("LoadLayoutName"), defaults.LoadLayoutName));
}

void WriteLayoutSettings(const TLayoutSettings& settings) {
    const TSettingsStore store = TSettingsStore::Registry();
    const QString key = settingsKey();
    TSettingsBatch batch(store);
    WriteIntegerValue(store, key, QStringLiteral("SaveOnExit"), settings.SaveOnExit);
    WriteStringValue(store, key, QStringLiteral("SaveLayoutName"), settings.SaveLayoutName);
    WriteBoolValue(store, key, QStringLiteral("LoadOnStart"), settings.LoadOnStart);
    WriteStringValue(store, key, QStringLiteral("LoadLayoutName"), settings.LoadLayoutName);
    batch.Commit();
}
