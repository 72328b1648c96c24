#include "zkLayoutSettings.h"

#include "zkSettings.h"

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

// The per-user store is shared by every installation of the user (a build folder run once, the
// installed copy). A layout file in the SavedWindows folder of another installation, present or
// long deleted, belongs to that one: this installation keeps the same file in its own folder.
// Layout files anywhere else were the user's choice and stay as they are.
QString OwnLayoutPath(const QString& path) {
    if (path.isEmpty())
        return path;
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (folder.fileName() != QLatin1String("SavedWindows"))
        return path;
    if (FolderKey(folder.absolutePath()) == FolderKey(QDir::currentPath()))
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
