#include "zkUpdatesPage.h"

#include "desktop/zkAccessibility.h"
#include "options/zkOptionsHost.h"
#include "platform/zkApplication.h"
#include "updates/zkUpdateCheck.h"
#include "updates/zkUpdateForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QVBoxLayout>

using namespace zkOptionsPage;

namespace {

QTimeEdit* TimePicker(QWidget* parent, const char* name) {
    auto* picker = Named(new QTimeEdit(QTime(20, 0), parent), name);
    picker->setDisplayFormat(QStringLiteral("HH:mm"));
    return picker;
}

} // namespace

TUpdatesPage::TUpdatesPage(IOptionsHost* host, QWidget* parent) : QWidget(parent), Host(host) {
    setObjectName(QStringLiteral("UpdatesTabSheet"));
    QWidget* p = this;
    UpdateAtStartupCheckBox =
        Named(new QCheckBox(tr("Check for updates at application startup"), p),
              "UpdateAtStartupCheckBox");
    UpdateAtTimeCheckBox = Named(new QCheckBox(tr("Check for updates at the following time:"), p),
                                 "UpdateAtTimeCheckBox");
    // However the box changes (a click, the keyboard, a screen reader's toggle, a load).
    connect(UpdateAtTimeCheckBox, &QCheckBox::toggled, this, [this] { UpdateScheduleControls(); });

    DailyNYMidnightRadioButton = Named(new QRadioButton(tr("Daily, at midnight New York time"), p),
                                       "DailyNYMidnightRadioButton");
    DailyLocalTimeRadioButton =
        Named(new QRadioButton(tr("Daily, at "), p), "DailyLocalTimeRadioButton");
    DailyTimePicker = TimePicker(p, "DailyTimePicker");
    DailyLocalTimeLabel = Label(tr("local time"), p, "DailyLocalTimeLabel");
    WeeklyRadioButton = Named(new QRadioButton(tr("Weekly,  every "), p), "WeeklyRadioButton");
    WeekdayComboBox = Named(new QComboBox(p), "WeekdayComboBox");
    WeekdayComboBox->addItems({tr("Monday"), tr("Tuesday"), tr("Wednesday"), tr("Thursday"),
                               tr("Friday"), tr("Saturday"), tr("Sunday")});
    WeeklyAtLabel = Label(tr("at "), p, "WeeklyAtLabel");
    WeeklyTimePicker = TimePicker(p, "WeeklyTimePicker");
    WeeklyLocalTimeLabel = Label(tr("local time"), p, "WeeklyLocalTimeLabel");
    MonthlyRadioButton = Named(new QRadioButton(tr("Montly,  every "), p), "MonthlyRadioButton");
    DayComboBox = Named(new QComboBox(p), "DayComboBox");
    for (int day = 1; day <= 31; ++day)
        DayComboBox->addItem(QString::number(day));
    MonthlyDayAtLabel = Label(tr(" day at "), p, "MonthlyDayAtLabel");
    MonthlyTimePicker = TimePicker(p, "MonthlyTimePicker");
    MonthlyLocalTimeLabel = Label(tr("local time"), p, "MonthlyLocalTimeLabel");
    CheckNowButton = Named(new QPushButton(tr("Check Now"), p), "CheckNowButton");
    DailyTimePicker->setAccessibleName(tr("Daily update time"));
    WeeklyTimePicker->setAccessibleName(tr("Weekly update time"));
    MonthlyTimePicker->setAccessibleName(tr("Monthly update time"));
    zkAccessibility::SetLabel(WeekdayComboBox, tr("Day of the week"));
    zkAccessibility::SetLabel(DayComboBox, tr("Day of the month"));
    connect(CheckNowButton, &QPushButton::clicked, this,
            [this] { ReportErrors([this] { CheckNowButtonClick(); }); });

    ScheduleControls = {
        DailyNYMidnightRadioButton, DailyLocalTimeRadioButton, DailyTimePicker, DailyLocalTimeLabel,
        WeeklyRadioButton,          WeekdayComboBox,           WeeklyAtLabel,   WeeklyTimePicker,
        WeeklyLocalTimeLabel,       MonthlyRadioButton,        DayComboBox,     MonthlyDayAtLabel,
        MonthlyTimePicker,          MonthlyLocalTimeLabel};

    auto row = [](std::initializer_list<QWidget*> widgets) {
        auto* line = new QHBoxLayout;
        line->setContentsMargins(20, 0, 0, 0);
        for (QWidget* w : widgets)
            line->addWidget(w);
        line->addStretch(1);
        return line;
    };
    auto* layout = new QVBoxLayout(p);
    layout->addWidget(UpdateAtStartupCheckBox);
    layout->addSpacing(6);
    layout->addWidget(UpdateAtTimeCheckBox);
    layout->addLayout(row({DailyNYMidnightRadioButton}));
    layout->addLayout(row({DailyLocalTimeRadioButton, DailyTimePicker, DailyLocalTimeLabel}));
    layout->addLayout(row({WeeklyRadioButton, WeekdayComboBox, WeeklyAtLabel, WeeklyTimePicker,
                           WeeklyLocalTimeLabel}));
    layout->addLayout(row({MonthlyRadioButton, DayComboBox, MonthlyDayAtLabel, MonthlyTimePicker,
                           MonthlyLocalTimeLabel}));
    layout->addSpacing(12);
    layout->addWidget(CheckNowButton, 0, Qt::AlignLeft);
    layout->addStretch(1);
}

void TUpdatesPage::Load() {
    TUpdateForm* update = UpdateForm();
    if (!update)
        return;
    update->LoadSchedule();
    const TUpdateSchedule& s = update->Schedule;
    UpdateAtStartupCheckBox->setChecked(s.UpdateAtStartup);
    UpdateAtTimeCheckBox->setChecked(s.UpdateAtTime);
    if (s.UpdateAtTime) {
        QTimeEdit* picker = nullptr;
        switch (s.UpdateSchedule) {
        case 2:
            DailyLocalTimeRadioButton->setChecked(true);
            picker = DailyTimePicker;
            break;
        case 3:
            WeeklyRadioButton->setChecked(true);
            WeekdayComboBox->setCurrentIndex(s.UpdateDayOfWeek - 1);
            picker = WeeklyTimePicker;
            break;
        case 4:
            MonthlyRadioButton->setChecked(true);
            DayComboBox->setCurrentIndex(s.UpdateDayNumber - 1);
            picker = MonthlyTimePicker;
            break;
        default:
            DailyNYMidnightRadioButton->setChecked(true);
            break;
        }
        if (picker)
            picker->setTime(QTime::fromMSecsSinceStartOfDay(int(TimeOfDayMs(s.UpdateTime))));
    }
    UpdateScheduleControls();
}

void TUpdatesPage::UpdateScheduleControls() {
    const bool enabled = UpdateAtTimeCheckBox->isChecked();
    for (QWidget* w : std::as_const(ScheduleControls))
        w->setEnabled(enabled);
}

void TUpdatesPage::CheckNowButtonClick() {
    if (TUpdateForm* update = UpdateForm())
        update->RequestUpdateInfo(true);
}

void TUpdatesPage::Save() {
    TUpdateSchedule s;
    s.UpdateAtStartup = UpdateAtStartupCheckBox->isChecked();
    s.UpdateAtTime = UpdateAtTimeCheckBox->isChecked();
    s.UpdateSchedule = 1;
    s.UpdateTime = 1000.0;
    s.UpdateDayNumber = 1;
    s.UpdateDayOfWeek = 1;
    auto timeOf = [](const QTimeEdit* picker) {
        return DateTimeOnDay1000(picker->time().msecsSinceStartOfDay());
    };
    if (s.UpdateAtTime) {
        if (DailyLocalTimeRadioButton->isChecked()) {
            s.UpdateSchedule = 2;
            s.UpdateTime = timeOf(DailyTimePicker);
        } else if (WeeklyRadioButton->isChecked()) {
            s.UpdateSchedule = 3;
            s.UpdateDayOfWeek = WeekdayComboBox->currentIndex() + 1;
            s.UpdateTime = timeOf(WeeklyTimePicker);
        } else if (MonthlyRadioButton->isChecked()) {
            s.UpdateSchedule = 4;
            s.UpdateTime = timeOf(MonthlyTimePicker);
            s.UpdateDayNumber = DayComboBox->currentIndex() + 1;
        }
    }
    if (TUpdateForm* update = UpdateForm()) {
        update->Schedule = s;
        update->SaveSchedule();
    }
}

TUpdateForm* TUpdatesPage::UpdateForm() const {
    return Host ? Host->OptionsUpdateForm() : nullptr;
}
