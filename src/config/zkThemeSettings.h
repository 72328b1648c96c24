#pragma once

#include "desktop/zkTheme.h"

class TSettingsStore;

// The colour theme the user chose ("Theme" under the settings key: "System", "Light" or
// "Dark"; a missing or unknown value reads as System, following the desktop).
TThemeChoice ReadThemeChoice(const TSettingsStore& store);
void WriteThemeChoice(const TSettingsStore& store, TThemeChoice choice);
