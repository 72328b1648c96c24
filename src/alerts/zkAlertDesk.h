#pragma once

#include <QList>

class IAccountDesk;
class IAlertLog;
class IAlertPublisher;
class IWindowDesk;
class TActionsForm;
class TAlertForm;
class TAlertNotifier;
class TGenericConnectorForm;

// What alert windows, their actions and the commands that open them need of the desk that
// owns them (the main window implements it). It lives with the alert windows because it names
// them, as the options dialog's host does; the shell hands it to each window it creates.
class IAlertDesk {
public:
    virtual ~IAlertDesk() = default;

    // The alert windows the desk owns, in creation order. A window is listed from the end of
    // its construction to the start of its destruction, never half-made or half-gone.
    virtual QList<TAlertForm*> AlertWindows() const = 0;
    // A window made with this desk tells it when it is whole and when its destruction begins.
    virtual void AlertWindowReady(TAlertForm&) {}
    virtual void AlertWindowGone(TAlertForm&) {}
    // A new window from the default window record and actions, placed by the window system.
    virtual TAlertForm* NewAlertWindow() = 0;
    // The connector window that serves the link lists; nullptr while there is none.
    virtual TGenericConnectorForm* ConnectorWindow() const = 0;
    // The shared Actions dialog, built when first asked for; nullptr where the desk has none.
    virtual TActionsForm* ActionsDialog() = 0;
    // Where the windows' desktop notifications go; nullptr while there is none.
    virtual TAlertNotifier* AlertNotifications() const = 0;
    // A window took a new alert that runs its actions (the desk counts those the user has
    // not seen yet).
    virtual void CountNewAlert() = 0;
    // Where every alert a window takes is kept; nullptr while nothing keeps them.
    virtual IAlertLog* AlertLog() const { return nullptr; }
    // Where "Publish to the broker" sends alerts; nullptr while nothing takes them.
    virtual IAlertPublisher* AlertPublisher() const { return nullptr; }

    virtual IWindowDesk& Windows() = 0;
    virtual IAccountDesk& Account() = 0;
};
