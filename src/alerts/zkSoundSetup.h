#pragma once

#include <QString>

#include <cstdint>

// The word that stands for the standard system beep instead of a wave file.
inline const QString DefaultSoundName = QStringLiteral("<Default>");

// A sound setup: which wave file to play, how loud and where between the speakers.
struct TSoundSetup {
    QString FileName = DefaultSoundName; // full path of a wave file, or "<Default>"
    uint16_t Volume = 50;                // percent, 0-100
    uint16_t Balance = 50;               // 0 fully left, 50 centred, 100 fully right
};

// Reads sound setup text: "file,volume,balance", or "<Default>" (an empty text counts as
// "<Default>"). Each number converts on its own, so a bad volume keeps the balance; a field that
// is missing or not an integer reads as 50. Numbers keep their low 16 bits, as stored.
TSoundSetup ParseSoundSetup(const QString& text);

// The text form of a setup: "<Default>" for the beep, otherwise "file,volume,balance".
QString FormatSoundSetup(const TSoundSetup& setup);

// "<current directory>/Sounds", where the sound files are looked for and chosen from.
QString SoundsDir();
// Creates the sounds folder when it is missing; returns its path.
QString EnsureSoundsDir();
