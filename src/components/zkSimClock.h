#pragma once

// The service clock: the market runs on New York time.

#include <QDateTime>
#include <QString>

enum class TSimMarketSession { PreMarket, Open, AfterHours, Closed };

// The New York wall-clock time of an instant (the zone database's rule, or the US daylight
// saving rule when the system has no zone data).
QDateTime SimNewYorkTime(const QDateTime& instant);
// Weekdays 04:00-09:30 pre-market, 09:30-16:00 open, 16:00-20:00 after hours; otherwise and
// at weekends closed. Holidays are not kept.
TSimMarketSession SimMarketSessionAt(const QDateTime& newYorkTime);
QString SimMarketSessionName(TSimMarketSession session);
