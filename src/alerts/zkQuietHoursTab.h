#pragma once

#include "config/zkQuietHours.h"

#include <QWidget>

class IWindowDesk;
class QCheckBox;
class QComboBox;
class QLabel;
class QTimeEdit;
struct TLayoutInfo;

// A window's quiet hours and screen-reader announcements, as a page of the window's dialogs:
// "Silence sounds and notifications from [20:00] to [09:30]" and "Announce new alerts:
// Off / Summary / Each". Load shows a setting, Save puts what is shown into one.
class TQuietHoursTab : public QWidget {
    Q_OBJECT
public:
    explicit TQuietHoursTab(QWidget* parent = nullptr);

    void Load(const TQuietSettings& quiet);
    void Save(TQuietSettings& quiet) const;
    // The same on a window record (its Quiet only).
    void Load(const TLayoutInfo& record);
    void Save(TLayoutInfo& record) const;

    QCheckBox* QuietCheckBox = nullptr;
    QTimeEdit* FromTimeEdit = nullptr;
    QTimeEdit* ToTimeEdit = nullptr;
    QLabel* SameTimeLabel = nullptr;
    QComboBox* AnnounceComboBox = nullptr;

private:
    void UpdateControls();
};

// "Quiet hours..." of a window's menu: the page alone in a dialog with OK and Cancel. True, and
// quiet changed, after OK. The desk (nullptr without one) knows a modal dialog is open.
bool RunQuietHoursDialog(QWidget* window, IWindowDesk* desk, TQuietSettings& quiet);
