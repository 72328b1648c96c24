#include "zkLayoutSettings.h"

#include "zkSettings.h"

#include <QDir>

namespace {
QString settingsKey() {
    return SettingsKeyPath() + QStringLiteral("\\Settings");
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
    settings.SaveLayoutName =
        ReadStringValue(store, key, QStringLiteral("SaveLayoutName"), defaults.SaveLayoutName);
    settings.LoadOnStart =
        ReadBoolValue(store, key, QStringLiteral("LoadOnStart"), defaults.LoadOnStart);
    settings.LoadLayoutName =
        ReadStringValue(store, key, QStringLiteral("LoadLayoutName"), defaults.LoadLayoutName);
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
