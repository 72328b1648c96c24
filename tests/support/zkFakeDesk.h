#pragma once

// A desk without a main window, for tests of feature windows: it owns the alert windows it
// opens, has no companions unless a test gives it some, and counts what was asked of it.

#include "alerts/zkAlertDesk.h"
#include "alerts/zkAlertForm.h"
#include "desk/zkAccountDesk.h"
#include "desk/zkWindowDesk.h"

#include <QPointer>

#include <memory>
#include <vector>

class TFakeDesk : public IAlertDesk, public IWindowDesk, public IAccountDesk {
public:
    ~TFakeDesk() override {
        for (const QPointer<TAlertForm>& w : Owned)
            delete w.data();
    }

    QList<TAlertForm*> AlertWindows() const override {
        QList<TAlertForm*> list;
        for (const QPointer<TAlertForm>& w : Owned)
            if (w)
                list << w.data();
        return list;
    }
    TAlertForm* NewAlertWindow() override {
        auto* w = new TAlertForm(nullptr, this);
        Owned.append(w);
        ++NewWindows;
        return w;
    }
    TGenericConnectorForm* ConnectorWindow() const override { return Connectors; }
    TActionsForm* ActionsDialog() override { return nullptr; }
    TAlertNotifier* AlertNotifications() const override { return Notifier; }
    void CountNewAlert() override { ++NewAlerts; }
    IAlertLog* AlertLog() const override { return Log; }
    IAlertPublisher* AlertPublisher() const override { return Publisher; }
    IWindowDesk& Windows() override { return *this; }
    IAccountDesk& Account() override { return *this; }

    void BringWindowForward(QWidget* window, bool) override { Forward << window; }
    void BringMainWindowForward() override { Forward << nullptr; }
    bool ModalDialogIsOpen() const override { return Modal; }
    void SetModalDialogOpen(bool open) override { Modal = open; }
    bool SoundsAreSuspended() const override { return Suspended; }
    void SetSoundsSuspended(bool suspended) override { Suspended = suspended; }
    bool SoundsAreMuted() const override { return Muted; }

    IConnectionControl* AccountConnection() override { return nullptr; }
    void RefreshAccountStatus() override { ++StatusRefreshes; }
    void RefreshSymbolLists() override {}

    QList<QPointer<TAlertForm>> Owned;
    TGenericConnectorForm* Connectors = nullptr;
    QList<QWidget*> Forward;
    TAlertNotifier* Notifier = nullptr;
    IAlertLog* Log = nullptr;
    IAlertPublisher* Publisher = nullptr;
    bool Modal = false, Suspended = false, Muted = false;
    int NewWindows = 0, StatusRefreshes = 0, NewAlerts = 0;
};
