#pragma once

// The parts of the update check that need no window: reading the update address's answer and
// deciding whether a scheduled check is due. Kept apart so tests and the fuzz target reach
// them without a user interface.

#include "config/zkSettings.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cstdint>

// The answer of the update address: the current build number on the first line, the download
// page on the rest.
struct TUpdateResponse {
    bool BuildValid = false; // the first line holds an integer
    int32_t Build = 0;
    QString Page; // trimmed; empty when the answer has no second part
};
TUpdateResponse ParseUpdateResponse(const QString& response);

// Only a web page may be opened on the answer's word: anything else (a file, a program, a
// script address) could run something local.
bool IsWebPageAddress(const QString& address);

// Whether the answer offers a newer build than ours (the "BuildVersion" text) with a page to
// fetch it from; the page in *page when it does. Unreadable numbers mean no.
bool OffersNewerBuild(const QString& response, const QString& buildVersion,
                      QString* page = nullptr);

// Milliseconds since midnight of a stored date-time (whole days plus the fraction of a day).
int64_t TimeOfDayMs(double dateTime);
// The stored form of a time of day on day 1000, as the schedule keeps it.
double DateTimeOnDay1000(int64_t timeOfDayMs);

// The zone's offset from UTC at that instant, in minutes east of UTC; 0 for an invalid zone.
int32_t UtcOffsetMinutes(const QTimeZone& zone, const QDateTime& instant);

// The local time of day at which New York's midnight (05:00 UTC all year) falls, in ms.
int64_t NewYorkMidnightMs(int32_t utcOffsetMinutes);

// Whether a timed check is due at the local date and time now (the start-up check aside):
// the scheduled time lies before now by less than 30 whole seconds, on the right weekday or
// day of the month.
bool ScheduledCheckDue(const TUpdateSchedule& schedule, const QDateTime& localNow,
                       int32_t utcOffsetMinutes);
