#include "zkUpdateCheck.h"

#include <QUrl>

#include <cmath>

namespace {

constexpr int64_t MsPerDay = 86400000;
constexpr int64_t MsPerHour = 3600000;
constexpr int64_t WindowSeconds = 30;

// White space and control characters both go, so a CR before the line feed is harmless.
QStringView TrimControl(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

// Scheduled time of day at or just before the tick: due when t - s lies in (0, 30) seconds,
// the difference truncated to whole seconds.
bool InWindow(int64_t scheduledMs, int64_t nowMs) {
    return scheduledMs < nowMs && (nowMs - scheduledMs) / 1000 < WindowSeconds;
}

} // namespace

TUpdateResponse ParseUpdateResponse(const QString& response) {
    TUpdateResponse result;
    const qsizetype lf = response.indexOf(QLatin1Char('\n'));
    const QStringView all(response);
    const QStringView first = lf < 0 ? all : all.left(lf);
    if (lf >= 0)
        result.Page = TrimControl(all.mid(lf + 1)).toString();
    result.BuildValid = TryParseIntegerText(TrimControl(first).toString(), result.Build);
    return result;
}

bool IsWebPageAddress(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool OffersNewerBuild(const QString& response, const QString& buildVersion, QString* page) {
    if (response.isEmpty())
        return false;
    int32_t current = 0;
    if (!TryParseIntegerText(buildVersion, current))
        return false;
    const TUpdateResponse offer = ParseUpdateResponse(response);
    if (!offer.BuildValid || offer.Build <= current || !IsWebPageAddress(offer.Page))
        return false;
    if (page)
        *page = offer.Page;
    return true;
}

int64_t TimeOfDayMs(double dateTime) {
    if (!std::isfinite(dateTime))
        return 0;
    // The fraction counts from midnight also before 1899 (negative whole days).
    const double fraction = std::fabs(dateTime - std::trunc(dateTime));
    const int64_t ms = std::llround(fraction * double(MsPerDay));
    return ms >= MsPerDay ? 0 : ms;
}

double DateTimeOnDay1000(int64_t timeOfDayMs) {
    return 1000.0 + double(timeOfDayMs) / double(MsPerDay);
}

int32_t UtcOffsetMinutes(const QTimeZone& zone, const QDateTime& instant) {
    if (!zone.isValid())
        return 0;
    return zone.offsetFromUtc(instant) / 60;
}

int64_t NewYorkMidnightMs(int32_t utcOffsetMinutes) {
    int64_t start = int64_t(utcOffsetMinutes) * 60000 + 5 * MsPerHour;
    if (start < 0) {
        // West of UTC-5 the hour comes round the clock: -3:00 is 21:00. Only whole hours
        // count; between -1:00 and 0 (no zone has it) the time is taken round the clock too.
        const int64_t hours = -start / MsPerHour;
        start = hours > 0 ? (24 - hours) * MsPerHour : start + MsPerDay;
    }
    return start;
}

bool ScheduledCheckDue(const TUpdateSchedule& schedule, const QDateTime& localNow,
                       int32_t utcOffsetMinutes) {
    if (!schedule.UpdateAtTime)
        return false;
    const int64_t now = localNow.time().msecsSinceStartOfDay();
    const int64_t at = TimeOfDayMs(schedule.UpdateTime);
    switch (schedule.UpdateSchedule) {
    case 1:
        return InWindow(NewYorkMidnightMs(utcOffsetMinutes), now);
    case 2:
        return InWindow(at, now);
    case 3:
        return localNow.date().dayOfWeek() == schedule.UpdateDayOfWeek && InWindow(at, now);
    case 4:
        return localNow.date().day() == schedule.UpdateDayNumber && InWindow(at, now);
    default:
        return false;
    }
}
