#pragma once

// The widgets through which the client hosts the visual components. Each asks the current
// TComponentFactory for its implementation when it is constructed, shows the component's
// face filling its own area, and forwards properties, operations and events. Events are
// re-raised as the wrapper's signals with the wrapper as Sender; an error of the program's
// hierarchy that a handler raises goes to the general error report right there, so it never
// unwinds through the component.

#include "zkComponents.h"

#include <QWidget>

#include <memory>

class TZentrikWindowX : public QWidget {
    Q_OBJECT
public:
    explicit TZentrikWindowX(QWidget* parent = nullptr);
    ~TZentrikWindowX() override;

    QString DataConfig() const { return Impl->DataConfig(); }
    void SetDataConfig(const QString& value) { Impl->SetDataConfig(value); }
    QString WindowConfig() const { return Impl->WindowConfig(); }
    void SetWindowConfig(const QString& value) { Impl->SetWindowConfig(value); }
    QString StrategyConfig() const { return Impl->StrategyConfig(); }
    void SetStrategyConfig(const QString& value) { Impl->SetStrategyConfig(value); }
    QFont Font() const { return Impl->Font(); }
    void SetFont(const QFont& font) { Impl->SetFont(font); }
    int32_t FontColor() const { return Impl->FontColor(); }
    void SetFontColor(int32_t color) { Impl->SetFontColor(color); }
    bool NotifyOnEachAlert() const { return Impl->NotifyOnEachAlert(); }
    void SetNotifyOnEachAlert(bool value) { Impl->SetNotifyOnEachAlert(value); }
    bool NotifyOnWindowNameChanged() const { return Impl->NotifyOnWindowNameChanged(); }
    void SetNotifyOnWindowNameChanged(bool value) { Impl->SetNotifyOnWindowNameChanged(value); }
    bool NotifyOnAccountStatusChanged() const { return Impl->NotifyOnAccountStatusChanged(); }
    void SetNotifyOnAccountStatusChanged(bool value) {
        Impl->SetNotifyOnAccountStatusChanged(value);
    }
    int32_t AllowAlertSelectionType() const { return Impl->AllowAlertSelectionType(); }
    void SetAllowAlertSelectionType(int32_t value) { Impl->SetAllowAlertSelectionType(value); }
    QString WindowName() const { return Impl->WindowName(); }
    int32_t AlertSelectionType() const { return Impl->AlertSelectionType(); }
    QString SuggestedFileName() const { return Impl->SuggestedFileName(); }
    void AddCustomMenuItem(const QString& text, int32_t id) { Impl->AddCustomMenuItem(text, id); }
    void AddExternalAlerts(const QList<TAlertData>& alerts) { Impl->AddExternalAlerts(alerts); }
    bool SelectAlert(const IAlertData& alert) { return Impl->SelectAlert(alert); }
    std::shared_ptr<IAlertData> SelectedAlert() const { return Impl->SelectedAlert(); }

    // The hosted implementation (tests reach their fakes through it).
    IZentrikWindowX* Component() const { return Impl.get(); }

signals:
    void OnNewAlert(QObject* Sender, IAlertData* Alert);
    void OnAlertSelected(QObject* Sender, IAlertData* Alert);
    void OnCustomMenuItem(QObject* Sender, const QString& Display, int32_t ID);
    void OnWindowNameChanged(QObject* Sender);
    void OnAccountStatusChanged(QObject* Sender);

private:
    std::unique_ptr<IZentrikWindowX> Impl;
};

class TStatusBarX : public QWidget {
    Q_OBJECT
public:
    explicit TStatusBarX(QWidget* parent = nullptr);
    ~TStatusBarX() override;
    IStatusBarX* Component() const { return Impl.get(); }

private:
    std::unique_ptr<IStatusBarX> Impl;
};

class TGenericNetRequestX : public QWidget {
    Q_OBJECT
public:
    explicit TGenericNetRequestX(QWidget* parent = nullptr);
    ~TGenericNetRequestX() override;

    void SendRequest(const QString& url) { Impl->SendRequest(url); }
    IGenericNetRequestX* Component() const { return Impl.get(); }

signals:
    void OnResult(QObject* Sender, const QString& Result);

private:
    std::unique_ptr<IGenericNetRequestX> Impl;
};

class TZentrikGenericConnector2X : public QWidget {
    Q_OBJECT
public:
    explicit TZentrikGenericConnector2X(QWidget* parent = nullptr);
    ~TZentrikGenericConnector2X() override;

    QString Symbol() const { return Impl->Symbol(); }
    void SetSymbol(const QString& symbol) { Impl->SetSymbol(symbol); }
    bool AutoSave() const { return Impl->AutoSave(); }
    void SetAutoSave(bool value) { Impl->SetAutoSave(value); }
    int32_t LinkCount() const { return Impl->LinkCount(); }
    void SendSymbol() { Impl->SendSymbol(); }
    void InitializeConnector() { Impl->InitializeConnector(); }
    QString LinkName() const { return Impl->LinkName(); }
    void SetLinkName(const QString& name) { Impl->SetLinkName(name); }

    IZentrikGenericConnector2X* Component() const { return Impl.get(); }

private:
    std::unique_ptr<IZentrikGenericConnector2X> Impl;
};
