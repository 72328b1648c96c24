#pragma once

#include "zkKeepRules.h"
#include "zkQuietHours.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>

class TSettingsStore;

// One alert window as it is remembered: place, size, state, font, the three configuration
// texts of its alert component, and its quiet hours and announcements. Stored in alert-window
// files, the default window file and layouts, always with the same keys (see WriteWindowRecord).
struct TLayoutInfo {
    int32_t Top = 0;
    int32_t Left = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    uint8_t WindowState = 0; // 0 normal, 1 minimised, 2 maximised
    uint8_t FontCharset = 1; // Windows character set; 1 is the system default
    int32_t FontColor = 0;   // 0x00BBGGRR, or 0xFF0000nn for system colour nn
    int32_t FontHeight = 0;  // pixels; negative: character height without internal leading
    QString FontName;
    uint8_t FontPitch = 0; // 0 default, 1 variable, 2 fixed
    int32_t FontSize = 0;  // points
    bool FontBold = false;
    bool FontItalic = false;
    bool FontUnderline = false;
    bool FontStrikeOut = false;
    QString DataConfig;
    QString WindowConfig;
    QString WindowFileName;
    QString StrategyConfig;
    // Which alerts from outside the window keeps; stored only when there are any, and read
    // as none (not the default record's) when missing.
    TKeepRules KeepRules;
    // Quiet hours and screen-reader announcements; defaults for records written before them.
    TQuietSettings Quiet;

    bool operator==(const TLayoutInfo&) const = default;
};

// The section of an alert-window file that holds the record and the window's actions.
QString AlertWindowSectionName();
// The default window file's name (compared exactly) and its full path,
// "<current directory>/SavedWindows/DEFAULT_WINDOW.zka".
inline const char* DefaultWindowFile() {
    return "DEFAULT_WINDOW.zka";
}
QString DefaultWindowFileName();
// Creates the saved-windows folder when it is missing.
void EnsureSavedWindowsDir();
// True when the file exists and has a section "AlertWindow".
bool HasAlertWindowSection(const QString& fileName);

// The process's default window record: the template of new windows and the default of every
// key missing when a record is read.
TLayoutInfo& DefaultWindowRecord();
// Puts the built-in values into the default window record.
void SetDefaultWindowRecord();
// Reads DEFAULT_WINDOW.zka (when it exists with a section "AlertWindow") over the default
// window record; keys the file lacks keep the record's current values.
void LoadDefaultWindowRecord();

// Reads the record stored at a path (INI section or per-user key); every key defaults to the
// default window record's field, but for the quiet hours and announcements (see
// ReadQuietSettings).
void ReadWindowRecord(const TSettingsStore& store, const QString& path, TLayoutInfo& record);
// Writes the record's keys in their stored order; alert-window files leave out WindowFileName.
void WriteWindowRecord(const TSettingsStore& store, const QString& path, const TLayoutInfo& record,
                       bool includeFileName);

// --- the record's font and colour as Qt holds them ---
// The font with the record's height, name, pitch and size put on it (in that order, so the
// size decides when both are given), and each style flag that is set added.
QFont ApplyRecordFont(QFont font, const TLayoutInfo& record);
// Puts the font's height, name, pitch, size and styles into the record. Qt knows no character
// set, so FontCharset is left alone; the record's FontPitch is the prior pitch, kept when the
// font does not say otherwise (Qt cannot tell "variable" from "default").
void StoreFontInRecord(const QFont& font, TLayoutInfo& record);
// Windows colour value to QColor; system colours come from the application palette.
QColor ColorFromFontColor(int32_t value);
// QColor back to a colour value. When the colour is what `previous` already stands for,
// `previous` is returned, so a system colour that was not changed stays a system colour.
int32_t FontColorFromColor(const QColor& color, int32_t previous);
