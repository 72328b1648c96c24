#pragma once

// The options dialog's "Updates" page: when the update check runs, and a check at once.

#include "options/zkOptionsPage.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimeEdit;
class TUpdateForm;

class TUpdatesPage : public QWidget, public IOptionsPage {
    Q_OBJECT
public:
    explicit TUpdatesPage(IOptionsHost* host, QWidget* parent = nullptr);

    QCheckBox* UpdateAtStartupCheckBox = nullptr;
    QCheckBox* UpdateAtTimeCheckBox = nullptr;
    QRadioButton* DailyNYMidnightRadioButton = nullptr;
    QRadioButton* DailyLocalTimeRadioButton = nullptr;
    QTimeEdit* DailyTimePicker = nullptr;
    QLabel* DailyLocalTimeLabel = nullptr;
    QRadioButton* WeeklyRadioButton = nullptr;
    QComboBox* WeekdayComboBox = nullptr;
    QLabel* WeeklyAtLabel = nullptr;
    QTimeEdit* WeeklyTimePicker = nullptr;
    QLabel* WeeklyLocalTimeLabel = nullptr;
    QRadioButton* MonthlyRadioButton = nullptr;
    QComboBox* DayComboBox = nullptr;
    QLabel* MonthlyDayAtLabel = nullptr;
    QTimeEdit* MonthlyTimePicker = nullptr;
    QLabel* MonthlyLocalTimeLabel = nullptr;
    QPushButton* CheckNowButton = nullptr;

    void Load() override;
    void Save() override;
    void UpdateScheduleControls();
    void CheckNowButtonClick();

private:
    TUpdateForm* UpdateForm() const;

    IOptionsHost* Host = nullptr;
    QList<QWidget*> ScheduleControls;
};
