#include "zkQuietHours.h"

#include "zkSettings.h"

namespace {

const QString kQuietFrom = QStringLiteral("QuietFrom");
const QString kQuietTo = QStringLiteral("QuietTo");
const QString kAnnounce = QStringLiteral("Announce");

} // namespace

bool TQuietSettings::IsQuietAt(QTime time) const {
    if (!HasQuietHours() || !time.isValid())
        return false;
    // In milliseconds, so the last minute is quiet up to its end and To's own minute is not.
    const int at = time.msecsSinceStartOfDay();
    const int from = From * 60000;
    const int to = To * 60000;
    if (From < To)
        return at >= from && at < to;
    return at >= from || at < to; // across midnight
}

QString QuietTimeText(int minutes) {
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

bool ParseQuietTime(const QString& text, int16_t& minutes) {
    const QString t = text.trimmed();
    const qsizetype colon = t.indexOf(QLatin1Char(':'));
    if (colon < 1 || colon > 2 || t.size() != colon + 3)
        return false;
    // Digits only: toInt would take signs and blanks.
    for (qsizetype i = 0; i < t.size(); ++i)
        if (i != colon && (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')))
            return false;
    const int h = t.left(colon).toInt();
    const int m = t.mid(colon + 1).toInt();
    if (h > 23 || m > 59)
        return false;
    minutes = int16_t(h * 60 + m);
    return true;
}

QString AnnounceModeText(TAnnounceMode mode) {
    switch (mode) {
    case TAnnounceMode::Off:
        return QStringLiteral("Off");
    case TAnnounceMode::Summary:
        return QStringLiteral("Summary");
    case TAnnounceMode::Each:
        break;
    }
    return QStringLiteral("Each");
}

bool ParseAnnounceMode(const QString& text, TAnnounceMode& mode) {
    for (const TAnnounceMode m : {TAnnounceMode::Off, TAnnounceMode::Summary, TAnnounceMode::Each})
        if (text.trimmed().compare(AnnounceModeText(m), Qt::CaseInsensitive) == 0) {
            mode = m;
            return true;
        }
    return false;
}

void ReadQuietSettings(const TSettingsStore& store, const QString& path, TQuietSettings& settings) {
    TQuietSettings read;
    int16_t from = 0, to = 0;
    if (ParseQuietTime(ReadStringValue(store, path, kQuietFrom, QString()), from) &&
        ParseQuietTime(ReadStringValue(store, path, kQuietTo, QString()), to)) {
        read.From = from;
        read.To = to;
    }
    ParseAnnounceMode(ReadStringValue(store, path, kAnnounce, QString()), read.Announce);
    settings = read;
}

void WriteQuietSettings(const TSettingsStore& store, const QString& path,
                        const TQuietSettings& settings) {
    // A file's section is written whole (its writers erase it first); the per-user store keeps
    // what an earlier record left unless it is taken out.
    const auto drop = [&](const QString& name) {
        if (!store.isIniFile())
            DeleteStoredValue(store, path, name);
    };
    if (settings.HasQuietHours()) {
        WriteStringValue(store, path, kQuietFrom, QuietTimeText(settings.From));
        WriteStringValue(store, path, kQuietTo, QuietTimeText(settings.To));
    } else {
        drop(kQuietFrom);
        drop(kQuietTo);
    }
    if (settings.Announce != TAnnounceMode::Each)
        WriteStringValue(store, path, kAnnounce, AnnounceModeText(settings.Announce));
    else
        drop(kAnnounce);
}
