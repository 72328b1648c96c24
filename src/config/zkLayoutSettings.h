#pragma once

#include <QString>

#include <cstdint>

// The layout choices: what closing saves and what start-up opens.
struct TLayoutSettings {
    int32_t SaveOnExit = 2; // 0 always save, 1 never, 2 ask
    QString SaveLayoutName; // empty: the per-user store
    bool LoadOnStart = true;
    QString LoadLayoutName;
};

// "<current directory>/SavedWindows".
QString SavedWindowsDir();
// "<current directory>/SavedWindows/DEFAULT_LAYOUT.zkl".
QString DefaultLayoutFileName();

void SetLayoutDefaults(TLayoutSettings& settings);
// Reads the four choices from the per-user key "\Settings", each defaulting to the given value.
// A layout file in another installation's SavedWindows folder reads as the same file in ours.
void ReadLayoutSettings(TLayoutSettings& settings, const TLayoutSettings& defaults);
void WriteLayoutSettings(const TLayoutSettings& settings);
