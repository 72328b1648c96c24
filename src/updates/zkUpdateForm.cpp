#include "zkUpdateForm.h"

#include "components/zkComponentWrappers.h"
#include "config/zkConfig.h"
#include "platform/zkApplication.h"
#include "platform/zkPrompts.h"
#include "platform/zkSecondTick.h"
#include "platform/zkShell.h"
#include "updates/zkUpdateCheck.h"

#include <QApplication>

#include <cstdio>
#include <utility>

namespace {
// The schedule's windows are 30 seconds long: one check in each.
constexpr qint64 CheckIntervalMs = 30000;
} // namespace

std::function<QDateTime()> TUpdateForm::Clock = [] { return QDateTime::currentDateTimeUtc(); };
std::function<QTimeZone()> TUpdateForm::Zone = [] { return QTimeZone::systemTimeZone(); };

TUpdateForm::TUpdateForm(QWidget* owner) : QWidget(owner, Qt::Window) {
    setObjectName(QStringLiteral("UpdateForm"));
    NetRequestX = new TGenericNetRequestX(this);
    connect(NetRequestX, &TGenericNetRequestX::OnResult, this,
            [this](QObject*, const QString& result) { NetRequestXResult(result); });
    FormCreate();
}

TUpdateForm::~TUpdateForm() = default;

void TUpdateForm::FormCreate() {
    RequestInFlight = false;
    UpdateDeclined = false;
    ManualCheck = false;
    LoadSchedule();
    // The first check 30 seconds or less from now, as a 30-second timer started now would.
    CheckedHalfMinute = Clock().toMSecsSinceEpoch() / CheckIntervalMs;
    connect(&TSecondTick::Instance(), &TSecondTick::Second, this,
            [this] { ReportErrors([this] { SecondTick(); }); });
}

void TUpdateForm::SecondTick() {
    const qint64 halfMinute = Clock().toMSecsSinceEpoch() / CheckIntervalMs;
    if (halfMinute == CheckedHalfMinute)
        return;
    CheckedHalfMinute = halfMinute;
    UpdateTimerTimer();
}

QString TUpdateForm::ScheduleKey() {
    return SettingsKeyPath() + QStringLiteral("\\Settings\\Updates");
}

void TUpdateForm::LoadSchedule() {
    ReadUpdateSchedule(TSettingsStore::Registry(), ScheduleKey(), Schedule);
}

void TUpdateForm::SaveSchedule() {
    WriteUpdateSchedule(TSettingsStore::Registry(), ScheduleKey(), Schedule);
}

int32_t TUpdateForm::LocalUtcOffset() {
    return UtcOffsetMinutes(Zone(), Clock());
}

void TUpdateForm::CheckSchedule(bool AtStartup) {
    if (AtStartup && Schedule.UpdateAtStartup) {
        RequestUpdateInfo(false);
        return;
    }
    const QDateTime instant = Clock();
    const QTimeZone zone = Zone();
    const QDateTime now = zone.isValid() ? instant.toTimeZone(zone) : instant.toLocalTime();
    if (ScheduledCheckDue(Schedule, now, UtcOffsetMinutes(zone, instant)))
        RequestUpdateInfo(false);
}

void TUpdateForm::RequestUpdateInfo(bool Manual) {
    // Also while a request is out, so that its answer is then reported as asked for.
    ManualCheck = Manual;
    if (RequestInFlight)
        return;
    RequestInFlight = true;
    // Without an address, or after a failed send, no answer will come: we stay "in flight"
    // and ask no more until the next start.
    const QString url = ConfigInfo().CheckUpdateURL;
    if (url.isEmpty())
        return;
    // The net request would read a local file (file:) or any other scheme it knows: an update
    // address is a web address, nothing else.
    if (!IsWebPageAddress(url)) {
        static bool told = false;
        if (!std::exchange(told, true))
            std::fprintf(stderr,
                         "velquist: CheckUpdateURL %s is not an http or https address; updates "
                         "are not checked\n",
                         url.toLocal8Bit().constData());
        return;
    }
    try {
        NetRequestX->SendRequest(url);
    } catch (const std::exception&) {
    }
}

void TUpdateForm::UpdateTimerTimer() {
    if (RequestInFlight || UpdateDeclined)
        return;
    CheckSchedule(false);
}

void TUpdateForm::NetRequestXResult(const QString& Result) {
    // Cleared however this ends, so one failed message box does not stop every later check.
    struct TDone {
        bool& Flag;
        ~TDone() { Flag = false; }
    } done{RequestInFlight};

    QString page;
    const bool newer = OffersNewerBuild(Result, ConfigInfo().BuildVersion, &page);
    // Titled like every other message of the client: the application title.
    const QString caption = ApplicationTitle();
    if (newer) {
        const zkPrompts::TAnswer answer = zkPrompts::MessageBox(
            tr("A new version of the application is available online.") + QLatin1Char('\n') +
                tr("Do you want to go on the site and download it now?"),
            caption, zkPrompts::TIcon::Information, zkPrompts::TButtons::YesNo, parentWidget());
        // The page is a web address (checked above), which the shell opens as it is.
        if (answer == zkPrompts::TAnswer::Yes)
            zkShell::OpenDocument(page);
        else
            UpdateDeclined = true;
    } else if (ManualCheck) {
        zkPrompts::MessageBox(tr("You have the most recent version of the software.") +
                                  QLatin1Char('\n') + tr("Update is not required."),
                              caption, zkPrompts::TIcon::Information, zkPrompts::TButtons::OK,
                              parentWidget());
    }
}
