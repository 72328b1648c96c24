#include "zkSimClock.h"

#include <QTimeZone>

namespace {

// Second Sunday of March 02:00 to first Sunday of November 02:00, local standard time.
bool UsDaylightSaving(const QDateTime& utc) {
    const int year = utc.date().year();
    auto nthSunday = [year](int month, int n) {
        QDate d(year, month, 1);
        while (d.dayOfWeek() != Qt::Sunday)
            d = d.addDays(1);
        return d.addDays(7 * (n - 1));
    };
    const QDateTime start(nthSunday(3, 2), QTime(7, 0), Qt::UTC); // 02:00 EST
    const QDateTime end(nthSunday(11, 1), QTime(6, 0), Qt::UTC);  // 02:00 EDT
    return utc >= start && utc < end;
}

} // namespace

QDateTime SimNewYorkTime(const QDateTime& instant) {
    static const QTimeZone zone("America/New_York");
    const QDateTime utc = instant.toUTC();
    if (zone.isValid())
        return utc.toTimeZone(zone);
    const int offset = UsDaylightSaving(utc) ? -4 * 3600 : -5 * 3600;
    return utc.toOffsetFromUtc(offset);
}

TSimMarketSession SimMarketSessionAt(const QDateTime& newYorkTime) {
    const int day = newYorkTime.date().dayOfWeek();
    if (day == Qt::Saturday || day == Qt::Sunday)
        return TSimMarketSession::Closed;
    const QTime t = newYorkTime.time();
    if (t >= QTime(4, 0) && t < QTime(9, 30))
        return TSimMarketSession::PreMarket;
    if (t >= QTime(9, 30) && t < QTime(16, 0))
        return TSimMarketSession::Open;
    if (t >= QTime(16, 0) && t < QTime(20, 0))
        return TSimMarketSession::AfterHours;
    return TSimMarketSession::Closed;
}

QString SimMarketSessionName(TSimMarketSession session) {
    switch (session) {
    case TSimMarketSession::PreMarket:
        return QStringLiteral("Pre-market");
    case TSimMarketSession::Open:
        return QStringLiteral("Open");
    case TSimMarketSession::AfterHours:
        return QStringLiteral("After hours");
    case TSimMarketSession::Closed:
        break;
    }
    return QStringLiteral("Closed");
}
