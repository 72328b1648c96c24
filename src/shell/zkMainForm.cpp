#include "zkMainForm.h"

#include "account/zkLoginForm.h"
#include "alerts/zkActions.h"
#include "alerts/zkActionsForm.h"
#include "alerts/zkAlertActions.h"
#include "alerts/zkAlertAnnouncer.h"
#include "alerts/zkAlertForm.h"
#include "alerts/zkAlertNotifications.h"
#include "components/zkComponentWrappers.h"
#include "components/zkComponents.h"
#include "components/zkConnectionConfig.h"
#include "config/zkConfig.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "desktop/zkWindowOrder.h"
#include "desktop/zkWindowPlace.h"
#include "desktop/zkWindowRing.h"
#include "history/zkAlertHistoryForm.h"
#include "history/zkHistoryStore.h"
#include "hub/zkAlertHub.h"
#include "linking/zkGenericConnectorForm.h"
#include "options/zkOptionsForm.h"
#include "platform/zkApplication.h"
#include "platform/zkLateStart.h"
#include "platform/zkOutsideText.h"
#include "platform/zkPrompts.h"
#include "platform/zkSecondTick.h"
#include "platform/zkShell.h"
#include "shell/zkAboutForm.h"
#include "shell/zkAccountStatusBar.h"
#include "shell/zkLayouts.h"
#include "shell/zkStartup.h"
#include "shell/zkTrayIcon.h"
#include "symbollists/zkSymbolListsDispatcher.h"
#include "symbollists/zkSymbolListsForm.h"
#include "updates/zkUpdateForm.h"
#include "urlhandler/zkURLHandler.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <utility>

namespace {
// Cancels every modal dialog that is open, the innermost first. Each one's event loop ends
// once control returns to it, and the command that opened it goes on as after Cancel.
void CancelModalDialogs() {
    QWidget* last = nullptr;
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == last)
            break; // it refused to go: leave it to the end of the event loops
        last = modal;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

constexpr int StatusBarXHeight = 27;
constexpr int ClientWidth = 210;
} // namespace

std::function<QDateTime()> TZentrikProMainForm::Clock = [] { return QDateTime::currentDateTime(); };

namespace {
QPointer<TAboutForm> TheAboutForm;
} // namespace
TAboutForm* AboutForm() {
    return TheAboutForm;
}
void SetAboutForm(TAboutForm* form) {
    TheAboutForm = form;
}

TZentrikProMainForm::TZentrikProMainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("ZentrikProMainForm"));
    // Single, non-resizable border with the system menu and the minimise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    CreateMenus();

    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    StatusBarX = new TStatusBarX(client);
    StatusBarX->setObjectName(QStringLiteral("StatusBarX"));
    AccountStatusStatusBar = new TAccountStatusBar(client);
    AccountStatusStatusBar->setObjectName(QStringLiteral("AccountStatusStatusBar"));
    AccountExpirationStatusBar = new TAccountStatusBar(client);
    AccountExpirationStatusBar->setObjectName(QStringLiteral("AccountExpirationStatusBar"));
    MuteStatusLabel = new QLabel(tr("Sounds muted"), client);
    MuteStatusLabel->setObjectName(QStringLiteral("MuteStatusLabel"));
    MuteStatusLabel->setToolTip(tr("Alert sounds are muted (Tools > Mute Sounds)"));
    MuteStatusLabel->setFixedHeight(TAccountStatusBar::HeightFor(MuteStatusLabel->font()));
    MuteStatusLabel->setContentsMargins(4, 0, 4, 0);
    MuteStatusLabel->setAutoFillBackground(true);
    MuteStatusLabel->hide();
    layout->addWidget(StatusBarX, 1);
    layout->addWidget(AccountStatusStatusBar);
    layout->addWidget(AccountExpirationStatusBar);
    // A line of its own, shown only while muted: beside the account texts it would cut them.
    layout->addWidget(MuteStatusLabel);
    setCentralWidget(client);
    connect(AccountStatusStatusBar, &TAccountStatusBar::Click, this,
            &TZentrikProMainForm::StatusBarClick);
    connect(AccountExpirationStatusBar, &TAccountStatusBar::Click, this,
            &TZentrikProMainForm::StatusBarClick);

    // Once a second, in the same wake-up as the status strip's clock.
    connect(&TSecondTick::Instance(), &TSecondTick::Second, this,
            &TZentrikProMainForm::URLHandlerTimerTimer);

    // An error in one step ends the creation there; the window still opens with what was done.
    ReportErrors([this] { FormCreate(); });
    // Whole-process tests only (VELQUIST_TEST_SAVE_LOOP, see zkLayouts.h).
    StartLayoutSaveLoopFromEnvironment(this);
    ChooseMenuItems(qEnvironmentVariable("VELQUIST_TEST_MENU_ITEM")
                        .split(QLatin1Char(','), Qt::SkipEmptyParts));
}

TZentrikProMainForm::~TZentrikProMainForm() {
    FormDestroy();
}

void TZentrikProMainForm::FormCreate() {
    // 1. Size: the component strip 27 pixels high above the two bars, 210 wide.
    Terminating = false;
    StatusBarX->setFixedHeight(StatusBarXHeight);
    centralWidget()->setFixedWidth(ClientWidth);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // 2.
    FirstActivation = true;
    HelpURLs.clear();
    ModalDialogOpen = false;
    SoundsSuspended = false;

    // 3.
    SetApplicationTitle(tr("Velquist"));
    setWindowTitle(ApplicationTitle());

    // 4.
    LoadApplicationIcon();

    // 5. The idle step runs whenever the event queue has run dry.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] {
                static bool running = false;
                if (running)
                    return;
                running = true;
                ReportErrors([this] { ProcessPendingActions(*this); });
                running = false;
            });

    // 6.
    InstallWindowRing([self = QPointer<TZentrikProMainForm>(this)] {
        if (self)
            self->ShowFirstHelpEntry();
    });
    FormRing().Position = -1;
    FormRing().Rebuild();

    // 7.
    Connection = CoConnectionControl::Create();
    Connection->SetApplicationIcon(QApplication::windowIcon());

    // 8.
    StartSymbolListDispatcher(Connection.get());

    // 9. Companions, created once and shown or hidden from then on.
    SymbolListsForm = new TSymbolListsForm(this);
    ConnectorForm = new TGenericConnectorForm(this);
    // What showing it does at once, without the show: its main list's connector exists, so
    // linked programs find it. Its windows need no native window here (links go through the
    // link broker's socket), and laying it out would cost start-up for a window seldom opened.
    ConnectorForm->FormShow();
    LoginForm = new TLoginForm(this, this);
    CreateAlertHub();
    qApp->installEventFilter(this);
    SeesAllEvents = true;

    // 10.
    LoginForm->LoadStoredCredentials(*Connection);

    // 11.
    SetConfigDefaults(ConfigInfo());
    LoadConfig(ConfigInfo());

    // 12.
    TLayoutSettings defaults;
    SetLayoutDefaults(defaults);
    LayoutSettings = defaults;
    ReadLayoutSettings(LayoutSettings, defaults);
    ShowAlertState();
    SetAlertAnnouncementsEnabled(ReadAnnounceAlerts(TSettingsStore::Registry()));

    // Before the first window opens, so its first alert is kept.
    AlertHub->StartRecorder(THistoryStore::DefaultPath());

    // 13.
    ApplyConfig(ConfigInfo(), *Connection, this);

    // 14. A bad key must never stop the client: the list is discarded unseen.
    QStringList errors;
    ApplyIniSectionByName(SettingsIniPath(), QStringLiteral("ActiveX"), *Connection, &errors);
    ApplyIniSectionByName(QString::fromLatin1(LocalIniName()), QStringLiteral("Settings"),
                          *Connection, &errors);

    // The tray icon once the first windows are up: finding the desktop's tray (over the session
    // bus or the X server) and drawing the icon's pictures need not hold the first window up.
    zkLateStart::AfterFirstIdle(this, [this] { ReportErrors([this] { CreateTrayIcon(); }); });

    // 15.
    UpdateForm = new TUpdateForm(this);

    // 16.
    BuildHelpMenu();

    // 17.
    SetDefaultWindowRecord();
    LoadDefaultWindowRecord();

    // 18.
    CreateDefaultActionLists();
    LoadDefaultActionLists();
    ConnectorForm->EnsureListsForActions(LayoutDefaultActions());

    // 19.
    OpenStartupLayout(*this);
    // Once the layout's inbox windows are open, so the first alerts find them.
    AlertHub->StartSources();

    // 20.
    RefreshAccountStatus();

    // 21. Posted, so the dialog opens once the message loop runs.
    const QString user = Connection->UserName();
    bool ask = user.isEmpty();
    if (!ask)
        ask = Connection->Password().isEmpty() && user != QLatin1String("DEMO");
    if (ask)
        QMetaObject::invokeMethod(LoginMenuItem, &QAction::trigger, Qt::QueuedConnection);
}

void TZentrikProMainForm::FormActivate() {
    // Once only: a second press of Refresh from Server would cancel the first refresh.
    if (!FirstActivation)
        return;
    FirstActivation = false;
    FitToMonitor(this);
    // Each job on its own: a refresh the service refuses must not cost the update check.
    if (SymbolListsForm)
        ReportErrors([this] { SymbolListsForm->RefreshFromServerButtonClick(); });
    if (UpdateForm)
        ReportErrors([this] { UpdateForm->CheckSchedule(true); });
}

void TZentrikProMainForm::FormDestroy() {
    qApp->removeEventFilter(this);
    SeesAllEvents = false;
    delete TrayIcon;
    TrayIcon = nullptr;
    // Nothing may deliver into the alert windows once they start to go.
    if (AlertHub)
        AlertHub->StopSources();
    // Alert windows first: their components must not outlive the connection. Each leaves the
    // list as it goes, whatever its going takes with it.
    while (!AlertWindowList.isEmpty())
        delete AlertWindowList.constFirst();
    delete AlertHistoryForm;
    AlertHistoryForm = nullptr;
    // Its recorder writes what the windows recorded last.
    delete AlertHub;
    AlertHub = nullptr;
    delete SymbolListsForm;
    delete ConnectorForm;
    delete ActionsForm;
    delete UpdateForm;
    delete LoginForm;
    SymbolListsForm = nullptr;
    ConnectorForm = nullptr;
    ActionsForm = nullptr;
    UpdateForm = nullptr;
    LoginForm = nullptr;
    StopSymbolListDispatcher();
    Connection.reset();
    HelpURLs.clear();
}

void TZentrikProMainForm::RefreshSymbolLists() {
    if (SymbolListsForm)
        SymbolListsForm->AccountChanged();
}

void TZentrikProMainForm::BringWindowForward(QWidget* window, bool activate) {
    constexpr Qt::WindowStates notNormal =
        Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    // Every call goes to the window system. When the window is the one raised here last, has
    // not lost the activation since, is still shown, normal and active, and none of our windows
    // was raised, shown or hidden since, it is still in front and nothing would change. (What
    // another program does is only known here by the activation it takes.)
    if (window && window == LastForward && SeesAllEvents && !LastForwardDeactivated &&
        zkWindowOrder::StackingChanges() == LastForwardChanges && window->isVisible() &&
        !(window->windowState() & notNormal) && isVisible() && !(windowState() & notNormal) &&
        window->isActiveWindow())
        return;
    // The application has no window of its own here: restoring the main window restores it.
    // (Showing a window that is not hidden does nothing; asking costs Qt a look at the
    // platform's preferences at every alert.)
    if (windowState() & notNormal)
        setWindowState(windowState() & ~notNormal);
    if (isHidden())
        show();
    raise();
    if (!window)
        return;
    if (window->windowState() & notNormal)
        window->setWindowState(window->windowState() & ~notNormal);
    if (window->isHidden())
        window->show();
    window->raise();
    if (activate)
        window->activateWindow();
    FitToMonitor(window);
    LastForward = window;
    LastForwardChanges = zkWindowOrder::StackingChanges();
    LastForwardDeactivated = false;
}

void TZentrikProMainForm::ShowAllWindows() {
    for (TAlertForm* w : AlertWindows())
        BringWindowForward(w, false);
    BringMainWindowForward();
}

TAlertForm* TZentrikProMainForm::NewAlertWindow() {
    // Another window's "Set window as default" may have changed them.
    LoadDefaultWindowRecord();
    LoadDefaultActionLists();
    // Its own creation gives it a parsed copy of DefaultWindowActions.
    auto* w = new TAlertForm(this, this);
    // Size, state, font and configuration from the default record; the place is the
    // window system's. (Moving it back after the record would not do: once framed, the frame
    // would be put at the record's place, over the main window and every earlier new window.)
    w->ApplyWindowRecord(DefaultWindowRecord(), false);
    w->show();
    FitToMonitor(w);
    return w;
}

void TZentrikProMainForm::AlertWindowReady(TAlertForm& window) {
    // Only the windows this owns (and so destroys with itself).
    if (window.parent() == this && !AlertWindowList.contains(&window))
        AlertWindowList.append(&window);
}

void TZentrikProMainForm::AlertWindowGone(TAlertForm& window) {
    AlertWindowList.removeOne(&window);
}

void TZentrikProMainForm::URLHandlerTimerTimer() {
    RefreshAccountStatus();
    PollURLHandler({this, LoginForm});
}

void TZentrikProMainForm::ActivateInstance() {
    // Restore, normal state, show, raise, activate; then make sure it is on a monitor.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    FitToMonitor(this);
}

void TZentrikProMainForm::ExitMenuItemClick() {
    // The tray's menu is not held back by the close question's box. A second close from inside
    // the first would be taken as done at once, and the program would end under the question
    // without saving.
    if (InClose) {
        ActivateInstance();
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->raise();
            modal->activateWindow();
        }
        return;
    }
    close();
}

void TZentrikProMainForm::WMTerminate() {
    Terminating = true;
    // A dialog's event loop is running below us: cancel the dialogs, so every command that
    // opened one ends normally once this returns.
    CancelModalDialogs();
    // The close question was one of them; the close under way now ends without asking.
    if (InCloseQuery)
        return;
    close();
}

void TZentrikProMainForm::CreateAlertHub() {
    AlertHub = new TAlertHub(*this, this);
    connect(AlertHub, &TAlertHub::ShownStateChanged, this, &TZentrikProMainForm::ShowAlertState);
    connect(AlertHub, &TAlertHub::RecorderFault, this, [this](const QString& text) {
        // The windows go on; the user hears of it once, never in the middle of a terminate.
        if (Terminating)
            fprintf(stderr, "velquist: %s\n", qPrintable(text));
        else
            zkPrompts::MessageBox(text, ApplicationTitle(), zkPrompts::TIcon::Warning,
                                  zkPrompts::TButtons::OK);
    });
}

IAlertPublisher* TZentrikProMainForm::AlertPublisher() const {
    return AlertHub ? AlertHub->AlertPublisher() : nullptr;
}

TAlertNotifier* TZentrikProMainForm::AlertNotifications() const {
    return AlertHub ? AlertHub->Notifier() : nullptr;
}

IAlertHub* TZentrikProMainForm::OptionsAlertHub() {
    return AlertHub;
}

IAlertLog* TZentrikProMainForm::AlertLog() const {
    return AlertHub ? AlertHub->AlertLog() : nullptr;
}

TAlertHistoryForm* TZentrikProMainForm::AlertHistoryWindow() {
    if (!AlertHistoryForm && AlertHub && AlertHub->Recorder())
        AlertHistoryForm = new TAlertHistoryForm(this, AlertHub->Recorder());
    return AlertHistoryForm;
}

void TZentrikProMainForm::EndSession() {
    if (AlertHub)
        AlertHub->Deliver();
    ReportErrors([this] { SaveLayout(*this, QString()); });
}

bool TZentrikProMainForm::FormCloseQuery() {
    // Alerts a sender was told the client took are in their windows before the layout is saved.
    if (AlertHub)
        AlertHub->Deliver();
    // During a terminate nobody may be there to answer a box: what cannot be saved is said on
    // stderr and in the exit code, and the program ends all the same.
    const auto save = [this](auto&& step) {
        if (!Terminating) {
            step();
            return;
        }
        try {
            step();
        } catch (const std::exception& e) {
            fprintf(stderr, "velquist: %s\n", e.what());
            TerminateSaveFailed = true;
        }
    };
    // The store first: it holds the desk's choices even when the layout file cannot be written.
    save([this] { WriteLayoutSettings(LayoutSettings); });
    auto terminate = [&] {
        if (LayoutSettings.SaveOnExit != 1)
            save([this] { SaveLayout(*this, LayoutSettings.SaveLayoutName); });
        return true;
    };
    if (Terminating)
        return terminate();
    switch (LayoutSettings.SaveOnExit) {
    case 0:
        SaveLayout(*this, LayoutSettings.SaveLayoutName);
        return true;
    case 1:
        return true;
    default:
        break;
    }
    const zkPrompts::TAnswer answer = [this] {
        InCloseQuery = true;
        struct TClear {
            bool& Flag;
            ~TClear() { Flag = false; }
        } clear{InCloseQuery};
        return zkPrompts::MessageBox(tr("Do you want to save layout?"), ApplicationTitle(),
                                     zkPrompts::TIcon::Question, zkPrompts::TButtons::YesNoCancel,
                                     this);
    }();
    if (AlertHub)
        AlertHub->Deliver(); // some may have come while the question was open
    // A terminate that came while the question was open cancelled it and decides instead.
    if (Terminating)
        return terminate();
    switch (answer) {
    case zkPrompts::TAnswer::Yes:
        SaveLayout(*this, LayoutSettings.SaveLayoutName);
        return true;
    case zkPrompts::TAnswer::No:
        return true;
    default:
        return false;
    }
}

void TZentrikProMainForm::closeEvent(QCloseEvent* event) {
    InClose = true;
    struct TClear {
        bool& Flag;
        ~TClear() { Flag = false; }
    } clear{InClose};
    bool allow = false;
    // A failed save keeps the program running, so the user can save elsewhere.
    ReportErrors([&] { allow = FormCloseQuery(); });
    if (!allow) {
        event->ignore();
        return;
    }
    // A symbol list load waiting for the server must stop now.
    SetSymbolListsTerminating(true);
    // Alerts the sources took are in their windows; later senders hear that it is closing.
    if (AlertHub)
        AlertHub->Close();
    event->accept();
    emit Closed();
}

void TZentrikProMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ReportErrors([this] { FormActivate(); });
    // A new theme: the bars that show the button text colour take the new one.
    if (event->type() == QEvent::PaletteChange)
        ReportErrors([this] { RefreshAccountStatus(); });
    // A new desktop font: the muted line is as tall as the account bars.
    if (event->type() == QEvent::FontChange)
        MuteStatusLabel->setFixedHeight(TAccountStatusBar::HeightFor(MuteStatusLabel->font()));
}

void TZentrikProMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // A window manager need not activate a new window (focus-stealing prevention, the user
    // busy in another program, a start-up window of ours taking the focus), and the first
    // activation may then come late or never: the jobs run shortly after the first showing
    // all the same, whichever comes first.
    if (!FirstActivation || std::exchange(FirstJobsScheduled, true))
        return;
    QTimer::singleShot(FirstJobsAfterShowMs, this, [this] {
        if (!Terminating)
            ReportErrors([this] { FormActivate(); });
    });
}

void TZentrikProMainForm::keyReleaseEvent(QKeyEvent* event) {
    HandleRingKeys(event);
    QMainWindow::keyReleaseEvent(event);
}

bool TZentrikProMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate && watched == LastForward && LastForward)
        LastForwardDeactivated = true;
    // Key preview: keys released in any child control reach the shared key routine once.
    if (event->type() == QEvent::KeyRelease && watched != this && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this &&
        watched == QApplication::focusWidget()) {
        if (HandleRingKeys(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
