#pragma once

// The options dialog's "General" page: the gesture that sends an alert to linked windows,
// context help, grid lines, announcements, the theme, the display time offset and how long the
// alert history is kept.

#include "options/zkOptionsPage.h"

#include <QWidget>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class IAlertHub;

class TGeneralPage : public QWidget, public IOptionsPage {
    Q_OBJECT
public:
    explicit TGeneralPage(IOptionsHost* host, QWidget* parent = nullptr);

    QRadioButton* ClickRadioButton = nullptr;
    QRadioButton* DoubleClickRadioButton = nullptr;
    QCheckBox* ContextHelpCheckBox = nullptr;
    QCheckBox* ShowGridLinesCheckBox = nullptr;
    QCheckBox* AnnounceAlertsCheckBox = nullptr;
    QGroupBox* TimeZoneGroupBox = nullptr;
    QRadioButton* AddOffsetRadioButton = nullptr;
    QRadioButton* SubtractOffsetRadioButton = nullptr;
    QLineEdit* HoursOffsetEdit = nullptr;
    QLineEdit* MinutesOffsetEdit = nullptr;
    // "Keep alert history for N days"
    QSpinBox* HistoryDaysSpinBox = nullptr;
    // "Theme:" follow the desktop, light or dark (indexes as TThemeChoice)
    QComboBox* ThemeComboBox = nullptr;

    // The values as last loaded or saved.
    int32_t HelpMode = 0;
    int32_t ShowGrid = 0;
    int32_t TimeOffset = 0; // minutes, signed

    void Load() override;
    void Save() override;

private:
    // The alert history's recorder, which takes a new kept period at once.
    IAlertHub* Hub() const;

    IOptionsHost* Host = nullptr;
};
