// What the main window shows of the account, the alerts and the mute switch: the account bars,
// the muted line, the tray icon.

#include "zkMainForm.h"

#include "components/zkComponents.h"
#include "config/zkConfig.h"
#include "hub/zkAlertHub.h"
#include "platform/zkApplication.h"
#include "platform/zkOutsideText.h"
#include "platform/zkShell.h"
#include "shell/zkAccountStatusBar.h"
#include "shell/zkTrayIcon.h"

#include <QAction>
#include <QLabel>

void TZentrikProMainForm::RefreshAccountStatus() {
    static const QColor Green(0, 128, 0);
    static const QColor Red(255, 0, 0);
    static const QColor Yellow(255, 255, 0);
    const QColor buttonText = palette().color(QPalette::ButtonText);
    // A creation that failed before the connection existed leaves nothing to show.
    if (!Connection)
        return;

    const int32_t state = Connection->ConnectionStatus();
    auto set = [this](const QString& text, const QColor& color) {
        AccountStatusStatusBar->SetPanelText(text);
        AccountStatusStatusBar->SetTextColor(color);
    };
    switch (state) {
    case 0: {
        const QString user = Connection->UserName();
        if (user.isEmpty())
            set(tr(" Not connected"), buttonText);
        else
            set(tr(" Connecting as \"%1\"...").arg(user), buttonText);
        break;
    }
    case 1:
        set(tr(" Connected as \"%1\"").arg(Connection->UserName()), Green);
        break;
    case 2:
        set(tr(" Another user connected as \"%1\"").arg(Connection->UserName()), Red);
        break;
    case 3:
        set(tr(" Bad user name, please re-login"), Red);
        break;
    case 4:
        set(tr(" Bad password, please re-login"), Red);
        break;
    case 5:
        set(tr(" Your account expired"), Red);
        break;
    default:
        break; // unknown states leave the bar as it was
    }

    // The expiry counts as local time, as the service states it. The bar is set once, to what
    // it shows now: each change is an event for screen readers, and this runs every second.
    QString expiryText;
    QColor expiryColor;
    const qint64 expiry = Connection->AccountExpiration();
    const QDateTime now = Clock();
    const qint64 nowLocal = now.toSecsSinceEpoch() + now.offsetFromUtc();
    const qint64 left = expiry - nowLocal;
    if (left > 0 && left < 86400000 && Connection->ConnectionStatus() == 1) {
        const qint64 days = (left + 86399) / 86400;
        if (left < 86400) {
            expiryText = tr(" Your account expires in less than one day");
            expiryColor = Red;
        } else {
            expiryText = tr(" Your account expires in %1 days").arg(days);
            expiryColor = left <= 259200 ? Red : left <= 864000 ? Yellow : Green;
        }
    }
    AccountExpirationStatusBar->SetPanelText(expiryText);
    if (expiryColor.isValid())
        AccountExpirationStatusBar->SetTextColor(expiryColor);
    AccountStatusStatusBar->setToolTip(zkOutsideText::ToolTip(AccountStatusStatusBar->PanelText()));
    AccountExpirationStatusBar->setToolTip(
        zkOutsideText::ToolTip(AccountExpirationStatusBar->PanelText()));
    UpdateTrayIcon();
}

void TZentrikProMainForm::CreateTrayIcon() {
    // Shown where the desktop has a tray.
    if (TrayIcon)
        return;
    TrayIcon = new TTrayIcon(AlertHub, this);
    TrayIcon->SetMuted(SoundsAreMuted());
    connect(TrayIcon, &TTrayIcon::MainWindowRequested, this,
            [this] { ReportErrors([this] { BringMainWindowForward(); }); });
    connect(TrayIcon, &TTrayIcon::ShowAllWindowsRequested, this,
            [this] { ReportErrors([this] { ShowAllWindows(); }); });
    connect(TrayIcon, &TTrayIcon::ExitRequested, this, [this] { ExitMenuItemClick(); });
    UpdateTrayIcon();
}

void TZentrikProMainForm::UpdateTrayIcon() {
    if (!TrayIcon || !Connection)
        return;
    const int32_t state = Connection->ConnectionStatus();
    const QString user = Connection->UserName();
    TTrayIcon::TState shown = TTrayIcon::TState::NotConnected;
    QString account;
    if (state == 1) {
        shown = TTrayIcon::TState::Connected;
        account = tr("Connected as %1").arg(user);
    } else if (state == 0 && !user.isEmpty()) {
        shown = TTrayIcon::TState::Connecting;
        account = tr("Connecting as %1...").arg(user);
    } else if (state == 0) {
        account = tr("Not connected");
    } else {
        // The account bar says what is wrong.
        account = AccountStatusStatusBar->PanelText().trimmed();
    }
    TrayIcon->Update(shown, account);
}

void TZentrikProMainForm::CountNewAlert() {
    if (AlertHub)
        AlertHub->CountNewAlert();
}

int TZentrikProMainForm::UnseenAlerts() const {
    return AlertHub ? AlertHub->UnseenAlerts() : 0;
}

bool TZentrikProMainForm::SoundsAreMuted() const {
    return AlertHub && AlertHub->SoundsMuted();
}

void TZentrikProMainForm::SetSoundsMuted(bool muted) {
    if (AlertHub)
        AlertHub->SetSoundsMuted(muted); // which shows it
}

void TZentrikProMainForm::ShowAlertState() {
    const bool muted = SoundsAreMuted();
    MuteSoundsMenuItem->setChecked(muted);
    if (TrayIcon)
        TrayIcon->SetMuted(muted);
    MuteStatusLabel->setVisible(muted);
    UpdateTrayIcon();
}

void TZentrikProMainForm::StatusBarClick() {
    if (!Connection)
        return;
    switch (Connection->ConnectionStatus()) {
    case 2:
        Connection->ResetConnection();
        break;
    case 3:
    case 4:
        LoginMenuItem->trigger();
        break;
    case 5:
        OpenLink(ConfigInfo().SignupURL);
        break;
    default:
        break;
    }
}
