#include "zkThemeSettings.h"

#include "zkSettings.h"

namespace {
const QString ThemeName = QStringLiteral("Theme");
} // namespace

TThemeChoice ReadThemeChoice(const TSettingsStore& store) {
    return zkTheme::ChoiceFromText(
        ReadStringValue(store, SettingsValuesPath(), ThemeName, QString()));
}

void WriteThemeChoice(const TSettingsStore& store, TThemeChoice choice) {
    WriteStringValue(store, SettingsValuesPath(), ThemeName, zkTheme::TextOfChoice(choice));
}
