#pragma once

#include "alerts/zkAlertDesk.h"
#include "config/zkLayoutSettings.h"
#include "desk/zkAccountDesk.h"
#include "desk/zkWindowDesk.h"
#include "options/zkOptionsHost.h"

#include <QColor>
#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class IConnectionControl;
class QAction;
class QLabel;
class QMenu;
class QTimer;
class TAboutForm;
class TAccountStatusBar;
class TActionsForm;
class TAlertForm;
class TAlertHistoryForm;
class TAlertHub;
class TGenericConnectorForm;
class TLoginForm;
class TStatusBarX;
class TSymbolListsForm;
class TTrayIcon;
class TUpdateForm;

// The client's small, always-present main window. It owns the connection component, the
// alert windows and the companion windows; closing it ends the program. The feature windows
// reach it only through the desk interfaces it implements, which it hands them when it
// creates them.
class TZentrikProMainForm : public QMainWindow,
                            public IOptionsHost,
                            public IAlertDesk,
                            public IWindowDesk,
                            public IAccountDesk {
    Q_OBJECT
public:
    explicit TZentrikProMainForm(QWidget* parent = nullptr);
    ~TZentrikProMainForm() override;

    // --- state ---
    std::unique_ptr<IConnectionControl> Connection;
    QStringList HelpURLs;
    bool FirstActivation = true;
    // How long after its first showing the main window runs the first activation's jobs even
    // when it has not been activated.
    static constexpr int FirstJobsAfterShowMs = 2000;
    bool ModalDialogOpen = false;
    bool SoundsSuspended = false;
    bool Terminating = false;
    TLayoutSettings LayoutSettings;

    // --- companions, created once by the main window and owned by it ---
    TSymbolListsForm* SymbolListsForm = nullptr;
    TActionsForm* ActionsForm = nullptr;
    TGenericConnectorForm* ConnectorForm = nullptr;
    TLoginForm* LoginForm = nullptr;
    TUpdateForm* UpdateForm = nullptr;
    // The outside sources, their router, the alert history's recorder, the notifications,
    // the unseen alerts and the mute switch.
    TAlertHub* AlertHub = nullptr;
    // The icon in the desktop's tray.
    TTrayIcon* TrayIcon = nullptr;
    // The alert history, made when first wanted.
    TAlertHistoryForm* AlertHistoryForm = nullptr;

    // --- controls ---
    TStatusBarX* StatusBarX = nullptr;
    TAccountStatusBar* AccountStatusStatusBar = nullptr;
    TAccountStatusBar* AccountExpirationStatusBar = nullptr;
    // Below the account bars while sounds are muted.
    QLabel* MuteStatusLabel = nullptr;
    QMenu* FileMenu = nullptr;
    QMenu* ToolsMenu = nullptr;
    QMenu* HelpMenu = nullptr;
    QAction* LoginMenuItem = nullptr;
    QAction* ResetConnectionMenuItem = nullptr;
    QAction* NewAlertWindowMenuItem = nullptr;
    QAction* LoadAlertWindowMenuItem = nullptr;
    QAction* SaveLayoutMenuItem = nullptr;
    QAction* RestoreLayoutMenuItem = nullptr;
    QAction* ExitMenuItem = nullptr;
    QAction* SymbolListsMenuItem = nullptr;
    QAction* ExternalLinkingMenuItem = nullptr;
    QAction* AlertHistoryMenuItem = nullptr;
    QAction* MuteSoundsMenuItem = nullptr;
    QAction* OptionsMenuItem = nullptr;
    QAction* HelpSeparator = nullptr;
    QAction* AboutMenuItem = nullptr;

    // --- the desk: what the feature windows use ---
    // IAccountDesk
    IConnectionControl* AccountConnection() override { return Connection.get(); }
    void RefreshAccountStatus() override;
    void RefreshSymbolLists() override;
    // IAlertDesk
    TAlertForm* NewAlertWindow() override;
    // The alert windows the main window owns, in creation order.
    QList<TAlertForm*> AlertWindows() const override { return AlertWindowList; }
    void AlertWindowReady(TAlertForm& window) override;
    void AlertWindowGone(TAlertForm& window) override;
    TGenericConnectorForm* ConnectorWindow() const override { return ConnectorForm; }
    TActionsForm* ActionsDialog() override;
    TAlertNotifier* AlertNotifications() const override;
    void CountNewAlert() override;
    IAlertLog* AlertLog() const override;
    IAlertPublisher* AlertPublisher() const override;
    IWindowDesk& Windows() override { return *this; }
    IAccountDesk& Account() override { return *this; }
    // IWindowDesk
    void BringWindowForward(QWidget* window, bool activate) override;
    void BringMainWindowForward() override { BringWindowForward(this, true); }
    bool ModalDialogIsOpen() const override { return ModalDialogOpen; }
    void SetModalDialogOpen(bool open) override { ModalDialogOpen = open; }
    bool SoundsAreSuspended() const override { return SoundsSuspended; }
    void SetSoundsSuspended(bool suspended) override { SoundsSuspended = suspended; }
    // "Mute Sounds", kept by the hub in the per-user store.
    bool SoundsAreMuted() const override;

    // The alert history window, made on first use (nullptr without a recorder).
    TAlertHistoryForm* AlertHistoryWindow();

    // Mutes or unmutes alert sounds: menu items, status strip and the per-user store follow;
    // sounds waiting to play are dropped.
    void SetSoundsMuted(bool muted);
    // Alerts that came while no client window was active; cleared when one is activated.
    int UnseenAlerts() const;
    // Restores, shows and raises every alert window, then the main window.
    void ShowAllWindows();
    // The tray icon's state and tooltip from the connection and the unseen alerts.
    void UpdateTrayIcon();
    // The mute switch and the unseen alerts as the hub has them, in the menu, strip and tray.
    void ShowAlertState();
    // Made at the first idle moment after the main window.
    void CreateTrayIcon();

    void BuildHelpMenu();
    // The first entry of the Help menu, as F1 opens it; nothing when none is configured.
    void ShowFirstHelpEntry();

    // A later launch of this installation asked for the running client.
    void ActivateInstance();
    // File > Exit and the tray's Exit: close, asking as SaveOnExit says. While a close is
    // under way (its question open), the question is brought forward instead.
    void ExitMenuItemClick();
    // Close without a question (SIGTERM, the "terminate" command), also while a dialog or the
    // close question is open: those are cancelled first.
    void WMTerminate();
    // The user's session ends: keep the desk in the per-user store.
    void EndSession();
    // The program's exit code once the window closed: 1 when a terminate could not save.
    int ExitCode() const { return TerminateSaveFailed ? 1 : 0; }

    // What the options dialog edits.
    IConnectionControl* OptionsConnection() override { return Connection.get(); }
    TUpdateForm* OptionsUpdateForm() override { return UpdateForm; }
    TLayoutSettings& OptionsLayoutSettings() override { return LayoutSettings; }
    IAlertHub* OptionsAlertHub() override;

    // The clock the account status reads; tests replace it.
    static std::function<QDateTime()> Clock;

signals:
    // The window has agreed to close; the program ends with it. Emitted from inside whatever
    // event loop is running, so the window must not be deleted before the loops have returned.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Kept as the windows come and go: the idle step asks for it far more often than that.
    QList<TAlertForm*> AlertWindowList;
    // The window BringWindowForward raised last, the stacking changes counted then, and
    // whether it lost the activation since.
    QPointer<QWidget> LastForward;
    quint64 LastForwardChanges = 0;
    bool LastForwardDeactivated = false;
    // Whether this watches the application's events (which tell it of that activation).
    bool SeesAllEvents = false;

    void FormCreate();
    void FormActivate();
    void FormDestroy();
    bool FormCloseQuery();
    void CreateMenus();
    void URLHandlerTimerTimer();
    // The alert hub and its notifications; the recorder, which says its faults.
    void CreateAlertHub();
    void StatusBarClick();
    void LoginMenuItemClick();
    void OptionsMenuItemClick();
    void AboutMenuItemClick();
    // Whole-process tests only: VELQUIST_TEST_MENU_ITEM=<item name>[,<item name>...] chooses
    // those menu items in turn once the event loop runs, says on stderr when each command is
    // under way and cancels each dialog but the last.
    void ChooseMenuItems(const QStringList& names);

    QList<QAction*> HelpItems; // the configured entries, in HelpURLs order
    bool InCloseQuery = false;
    bool InClose = false; // inside closeEvent, whatever box it shows
    bool TerminateSaveFailed = false;
    bool FirstJobsScheduled = false;
};

// The About window, once the Help menu has opened it.
TAboutForm* AboutForm();
void SetAboutForm(TAboutForm* form);
