#pragma once

#include <QString>
#include <QTime>

#include <cstdint>

class TSettingsStore;

// How a window's new alerts are told to screen readers: not at all, as a count every few
// seconds, or each alert (as windows always did, and still do unless told otherwise).
enum class TAnnounceMode : uint8_t { Off = 0, Summary = 1, Each = 2 };

// A window's quiet hours and announcements, kept with its record (QuietFrom, QuietTo, Announce).
// Quiet hours run from From up to, not including, To, in local wall time, and may run across
// midnight; From == To is no quiet hours at all.
struct TQuietSettings {
    int16_t From = 0; // minutes after midnight, 0-1439
    int16_t To = 0;
    TAnnounceMode Announce = TAnnounceMode::Each;

    bool HasQuietHours() const { return From != To; }
    // Whether a wall time lies within the quiet hours.
    bool IsQuietAt(QTime time) const;
    // The same for the local time now: read at each alert, so a changed clock or a change to or
    // from summer time counts from the next alert on.
    bool IsQuietNow() const { return IsQuietAt(QTime::currentTime()); }

    bool operator==(const TQuietSettings&) const = default;
};

// "20:00"; and back, false for anything that is not a time of day "H:MM" or "HH:MM".
QString QuietTimeText(int minutes);
bool ParseQuietTime(const QString& text, int16_t& minutes);
// "Off", "Summary", "Each"; and back (any letter case), false for anything else.
QString AnnounceModeText(TAnnounceMode mode);
bool ParseAnnounceMode(const QString& text, TAnnounceMode& mode);

// The keys at a record's path. A missing or unreadable value reads as the built-in setting (no
// quiet hours, each alert announced), not the default window's: a record without the keys was
// written without quiet hours, by this version or an earlier one. The two times count only
// together, so one bad time never makes other hours of the other.
void ReadQuietSettings(const TSettingsStore& store, const QString& path, TQuietSettings& settings);
// Writes only what differs from the built-in setting, so a record without quiet hours is stored
// as before they existed; in the per-user store, keys of an earlier write are removed.
void WriteQuietSettings(const TSettingsStore& store, const QString& path,
                        const TQuietSettings& settings);
