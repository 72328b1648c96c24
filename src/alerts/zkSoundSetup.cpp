#include "zkSoundSetup.h"

#include "config/zkSettings.h"

#include <QDir>

namespace {

// Takes the text before the first comma and leaves what follows it in rest; without a comma the
// whole text is the field and nothing is left.
QString TakeField(QString& rest) {
    const qsizetype comma = rest.indexOf(QLatin1Char(','));
    QString field;
    if (comma < 0) {
        field = rest;
        rest.clear();
    } else {
        field = rest.left(comma);
        rest = rest.mid(comma + 1);
    }
    return field;
}

uint16_t ToWord(const QString& field, uint16_t fallback) {
    int32_t value = 0;
    if (!TryParseIntegerText(field, value))
        return fallback;
    return uint16_t(uint32_t(value));
}

} // namespace

TSoundSetup ParseSoundSetup(const QString& text) {
    TSoundSetup setup;
    const QString source = text.isEmpty() ? DefaultSoundName : text;
    if (source == DefaultSoundName)
        return setup;
    QString rest = source;
    setup.FileName = TakeField(rest);
    setup.Volume = ToWord(TakeField(rest), 50);
    setup.Balance = ToWord(TakeField(rest), 50);
    return setup;
}

QString FormatSoundSetup(const TSoundSetup& setup) {
    if (setup.FileName == DefaultSoundName)
        return DefaultSoundName;
    return setup.FileName + QLatin1Char(',') + QString::number(setup.Volume) + QLatin1Char(',') +
           QString::number(setup.Balance);
}

QString SoundsDir() {
    return QDir::currentPath() + QStringLiteral("/Sounds");
}

QString EnsureSoundsDir() {
    const QString dir = SoundsDir();
    QDir().mkpath(dir);
    return dir;
}
