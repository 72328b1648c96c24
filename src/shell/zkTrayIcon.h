#pragma once

// The client's icon in the desktop's system tray (a status notifier or XEmbed tray, whichever
// Qt finds): the connection state in its icon, the account and the alerts the user has not
// seen in its tooltip, a left click for the main window, and a menu of three items. Where the
// desktop has no tray nothing shows; Qt adds the icon should a tray appear later.

#include <QIcon>
#include <QObject>
#include <QString>

class IAlertHub;
class QAction;
class QMenu;
class QSystemTrayIcon;

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    enum class TState { NotConnected, Connecting, Connected };

    // The hub (nullptr: none) keeps the unseen alerts and takes the mute item; it must outlive
    // the icon.
    explicit TTrayIcon(IAlertHub* hub, QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Puts the state, the account text (" Connected as ..." without the quotes) and the hub's
    // count of unseen alerts into the icon and its tooltip; changes only what differs.
    void Update(TState state, const QString& account);
    void SetMuted(bool muted);

    // "Velquist — Connected as DEMO — 12 new alerts"; no count part while there is none.
    static QString TooltipText(const QString& title, const QString& account, int newAlerts);
    // The application's icon with a dot in the state's colour.
    static QIcon StateIcon(const QIcon& base, TState state);

    QSystemTrayIcon* Icon() const { return Tray; }
    QMenu* Menu() const { return TrayMenu; }
    QAction* ShowAllWindowsMenuItem = nullptr;
    QAction* MuteSoundsMenuItem = nullptr;
    QAction* ExitMenuItem = nullptr;

signals:
    void MainWindowRequested();
    void ShowAllWindowsRequested();
    void ExitRequested();

private:
    IAlertHub* const Hub;
    QSystemTrayIcon* Tray = nullptr;
    QMenu* TrayMenu = nullptr;
    bool HaveState = false;
    TState State = TState::NotConnected;
    QString Tooltip;
};
