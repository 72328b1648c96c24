#pragma once

#include "config/zkSettings.h"

#include <QDialog>

#include <cstdint>

class IConnectionControl;
class IOptionsHost;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTimeEdit;
class QTreeWidget;
class TBrokerPage;
class TUpdateForm;
struct TInboxSettings;
struct TLayoutSettings;

// The options dialog: four pages of preferences (General, Connection, Updates, Layouts),
// reloaded from the live objects and stores each time it is shown; Save writes all of them
// back and applies them at once, Cancel drops the edits.
class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsForm(IOptionsHost* host, QWidget* owner = nullptr);

    // --- navigation ---
    QTreeWidget* PagesTreeView = nullptr;
    QTabWidget* PagesControl = nullptr;
    QWidget* GeneralTabSheet = nullptr;
    QWidget* ConnectionTabSheet = nullptr;
    QWidget* UpdatesTabSheet = nullptr;
    QWidget* LayoutsTabSheet = nullptr;
    QWidget* InboxTabSheet = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CancelButton = nullptr;

    // --- General ---
    QRadioButton* ClickRadioButton = nullptr;
    QRadioButton* DoubleClickRadioButton = nullptr;
    QCheckBox* ContextHelpCheckBox = nullptr;
    QCheckBox* ShowGridLinesCheckBox = nullptr;
    QCheckBox* AnnounceAlertsCheckBox = nullptr;
    QGroupBox* TimeZoneGroupBox = nullptr;
    QRadioButton* AddOffsetRadioButton = nullptr;
    QRadioButton* SubtractOffsetRadioButton = nullptr;
    QLineEdit* HoursOffsetEdit = nullptr;
    // "Keep alert history for N days"
    QSpinBox* HistoryDaysSpinBox = nullptr;
    // "Theme:" follow the desktop, light or dark (indexes as TThemeChoice)
    QComboBox* ThemeComboBox = nullptr;

    // Alert Inbox page
    QCheckBox* InboxEnabledCheckBox = nullptr;
    QSpinBox* InboxPortSpinBox = nullptr;
    QLineEdit* InboxAddressEdit = nullptr;
    QPushButton* InboxCopyButton = nullptr;
    QLineEdit* InboxTokenEdit = nullptr;
    QPushButton* InboxNewTokenButton = nullptr;
    QCheckBox* InboxOpenWindowsCheckBox = nullptr;
    QLabel* InboxStatusLabel = nullptr;
    // Why the stored token could not be read when the page was loaded (the keyring locked).
    QString InboxTokenProblem;
    // Broker page (its controls are its own)
    TBrokerPage* BrokerPage = nullptr;
    QLineEdit* MinutesOffsetEdit = nullptr;

    // --- Connection ---
    QCheckBox* UseHTTPCheckBox = nullptr;
    QComboBox* ProxyTypeComboBox = nullptr;
    QLabel* SOCKSVersionLabel = nullptr;
    QLineEdit* SOCKSVersionEdit = nullptr;
    QLabel* HostLabel = nullptr;
    QLineEdit* HostEdit = nullptr;
    QLabel* PortLabel = nullptr;
    QLineEdit* PortEdit = nullptr;
    QLabel* UsernameLabel = nullptr;
    QLineEdit* UsernameEdit = nullptr;
    QLabel* PasswordLabel = nullptr;
    QLineEdit* PasswordEdit = nullptr;

    // --- Updates ---
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

    // --- Layouts ---
    QGroupBox* SaveGroupBox = nullptr;
    QGroupBox* OnExitRadioGroup = nullptr;
    QButtonGroup* OnExitButtons = nullptr; // ids 0 always, 1 never, 2 ask
    QLineEdit* SaveNameEdit = nullptr;
    QPushButton* SaveBrowseButton = nullptr;
    QPushButton* SameAsBelowButton = nullptr;
    QGroupBox* LoadGroupBox = nullptr;
    QCheckBox* LoadOnStartCheckBox = nullptr;
    QLineEdit* LoadNameEdit = nullptr;
    QPushButton* LoadBrowseButton = nullptr;
    QPushButton* SameAsAboveButton = nullptr;
    QPushButton* RestoreDefaultsButton = nullptr;

    // --- state besides the controls ---
    TConnectionSettings EditedConnection;
    int32_t HelpMode = 0;
    int32_t ShowGrid = 0;
    int32_t TimeOffset = 0; // minutes, signed

    void LoadAllPages();
    void SaveAllPages();
    void ShowPage(int Index);
    void LoadLayoutsPage(const TLayoutSettings& settings);
    void UpdateProxyControls();
    void UpdateScheduleControls();

    void PagesTreeViewChange();
    void CheckNowButtonClick();
    void SameAsBelowButtonClick();
    void SameAsAboveButtonClick();
    void RestoreDefaultsButtonClick();
    void SaveBrowseButtonClick();
    void LoadBrowseButtonClick();
    void SaveButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void LoadGeneralPage();
    void LoadConnectionPage();
    void LoadUpdatesPage();
    void SaveGeneralPage();
    void SaveConnectionPage();
    void SaveUpdatesPage();
    void SaveLayoutsPage();
    void LoadInboxPage();
    void SaveInboxPage();
    void SaveBrokerPage();
    TInboxSettings InboxPageSettings() const;
    // Puts the page's port to the running inbox before anything is saved; false, with the
    // reason, when a newly chosen port cannot be had (the inbox is then as it was).
    bool ApplyInboxPage(QString* problem);
    void UpdateInboxControls();
    bool ConnectionSettingsChanged();
    void BrowseLayout(bool forSave);

    IConnectionControl& Connection() const;
    TUpdateForm* UpdateForm() const;

    QWidget* BuildGeneralPage();
    QWidget* BuildConnectionPage();
    QWidget* BuildUpdatesPage();
    QWidget* BuildLayoutsPage();
    QWidget* BuildInboxPage();

    IOptionsHost* Host = nullptr;
    QList<QWidget*> ScheduleControls;
};

// The one options dialog, created at start-up after the main window (nullptr before).
TOptionsForm* OptionsForm();
