#pragma once

#include "config/zkSettings.h"

#include <QDateTime>
#include <QTimeZone>
#include <QWidget>

#include <functional>

class TGenericNetRequestX;

// The hidden update window: asks the configured address for the current build at start-up,
// on the user's schedule and on demand, and offers the download page when that build is newer
// than ours. It is never shown; it only hosts the net-request component and the schedule's
// checks.
class TUpdateForm : public QWidget {
    Q_OBJECT
public:
    explicit TUpdateForm(QWidget* owner);
    ~TUpdateForm() override;

    TUpdateSchedule Schedule;
    bool RequestInFlight = false;
    bool UpdateDeclined = false;
    bool ManualCheck = false;
    TGenericNetRequestX* NetRequestX = nullptr;

    void LoadSchedule();
    void SaveSchedule();
    void CheckSchedule(bool AtStartup);
    void RequestUpdateInfo(bool Manual);
    void UpdateTimerTimer();
    void NetRequestXResult(const QString& Result);
    // The local zone's offset from UTC now, in minutes (negative west of UTC).
    static int32_t LocalUtcOffset();

    // The per-user key of the schedule.
    static QString ScheduleKey();

    // The instant and the zone the schedule is judged by; tests replace them.
    static std::function<QDateTime()> Clock;
    static std::function<QTimeZone()> Zone;

private:
    void FormCreate();
    // The schedule's timer: every 30 seconds, at the seconds :00 and :30 of Clock(), in the
    // wake-up of the clock's second that an idle desk has anyway. A tick that comes late still
    // checks, once.
    void SecondTick();
    qint64 CheckedHalfMinute = 0; // the last 30-second span of Clock() the timer checked in
};
