#pragma once

// The desk both alert benchmarks run on: a main window on the simulated service, with alert
// windows whose components the benchmark feeds itself (no generator), each carrying a sound,
// a raise and a send to one link list.

#include "alerts/zkAlertForm.h"
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundPlayer.h"
#include "components/zkComponentWrappers.h"
#include "components/zkSimConnector.h"
#include "components/zkSimFactory.h"
#include "config/zkSettings.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace zkBenchDesk {

// An alert component that raises OnNewAlert when told to, and otherwise only keeps its
// properties: the bench feeds it, no generator does.
class TFedAlertWindow : public IZentrikWindowX {
public:
    QWidget* Widget() override { return nullptr; }
    QString DataConfig() const override { return Data; }
    void SetDataConfig(const QString& v) override { Data = v; }
    QString WindowConfig() const override { return Window; }
    void SetWindowConfig(const QString& v) override { Window = v; }
    QString StrategyConfig() const override { return Strategy; }
    void SetStrategyConfig(const QString& v) override { Strategy = v; }
    QFont Font() const override { return ListFont; }
    void SetFont(const QFont& f) override { ListFont = f; }
    int32_t FontColor() const override { return Color; }
    void SetFontColor(int32_t c) override { Color = c; }
    bool NotifyOnEachAlert() const override { return Each; }
    void SetNotifyOnEachAlert(bool v) override { Each = v; }
    bool NotifyOnWindowNameChanged() const override { return false; }
    void SetNotifyOnWindowNameChanged(bool) override {}
    bool NotifyOnAccountStatusChanged() const override { return false; }
    void SetNotifyOnAccountStatusChanged(bool) override {}
    int32_t AllowAlertSelectionType() const override { return 3; }
    void SetAllowAlertSelectionType(int32_t) override {}
    QString WindowName() const override { return QString(); }
    int32_t AlertSelectionType() const override { return 0; }
    QString SuggestedFileName() const override { return QString(); }
    void AddCustomMenuItem(const QString&, int32_t) override {}
    bool SelectAlert(const IAlertData&) override { return false; }
    void AddExternalAlerts(const QList<TAlertData>& alerts) override {
        for (TAlertData alert : alerts)
            Fire(&alert);
    }

    void Fire(IAlertData* alert) {
        if (Each)
            emit OnNewAlert(alert);
    }

private:
    QString Data, Window, Strategy;
    QFont ListFont;
    int32_t Color = 0;
    bool Each = false;
};

// The simulated connector without its face: what it draws is the component's cost, not the
// client's; sending and counting links go through the client's link broker all the same.
class TFacelessConnector : public IZentrikGenericConnector2X {
public:
    QWidget* Widget() override { return nullptr; }
    QString Symbol() const override { return Current; }
    void SetSymbol(const QString& symbol) override { Current = symbol; }
    bool AutoSave() const override { return false; }
    void SetAutoSave(bool) override {}
    int32_t LinkCount() const override {
        const std::shared_ptr<ISimConnectorLink> link = SimConnectorLink();
        return link ? link->LinkCount(Name) : 0;
    }
    void SendSymbol() override {
        if (const std::shared_ptr<ISimConnectorLink> link = SimConnectorLink())
            link->Send(Name, Current);
    }
    void InitializeConnector() override {}
    QString LinkName() const override { return Name; }
    void SetLinkName(const QString& name) override { Name = name; }

private:
    QString Current, Name;
};

class TBenchFactory : public TSimComponentFactory {
public:
    // With a face, the connectors draw what they send, as in the client; without, the
    // drawing is left out of the figures.
    explicit TBenchFactory(bool facelessConnectors) : Faceless(facelessConnectors) {}
    std::unique_ptr<IZentrikWindowX> CreateZentrikWindowX() override {
        return std::make_unique<TFedAlertWindow>();
    }
    std::unique_ptr<IZentrikGenericConnector2X> CreateZentrikGenericConnector2X() override {
        if (!Faceless)
            return TSimComponentFactory::CreateZentrikGenericConnector2X();
        return std::make_unique<TFacelessConnector>();
    }

private:
    bool Faceless;
};

TFedAlertWindow* Fed(TZentrikWindowX* wrapper) {
    return static_cast<TFedAlertWindow*>(wrapper->Component());
}

// Offscreen platform, quiet about the raises it cannot do, and private XDG folders in home.
inline void PrepareEnvironment(const QTemporaryDir& home) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform warns at every raise it cannot do; that is not the client's cost.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        if (!text.startsWith(QLatin1String("This plugin does not support")))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = home.path() + QLatin1Char('/') + QString::fromLatin1(name);
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(name, dir.toLocal8Bit());
    }
}

// The main window logged in as DEMO with `windows` fed alert windows (1,2,setup / 1,3 /
// 1,4,List), prompts scripted. Call after the QApplication exists.
inline TZentrikProMainForm* OpenDesk(const QTemporaryDir& home, int windows,
                                     bool facelessConnectors, std::vector<TFedAlertWindow*>& fed) {
    // A report (the history falling behind, say) must not wait for a click that never comes.
    zkPrompts::SetScripted(true);
    QDir::setCurrent(home.path());
    TComponentFactory::SetCurrent(std::make_shared<TBenchFactory>(facelessConnectors));
    WriteStringValue(TSettingsStore::Registry(), SettingsKeyPath() + QStringLiteral("\\Settings"),
                     QStringLiteral("UserName"), QStringLiteral("DEMO"));
    auto* main = new TZentrikProMainForm;
    new TSoundPlayForm(main);
    // A sound lasts a while: here a fifth of a second of (silent) beep, so the sound thread
    // starts a few times a second as it would with real sounds.
    SetBeepFunction([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); });
    main->show();
    for (int i = 0; i < windows; ++i) {
        TAlertForm* w = main->NewAlertWindow();
        w->SetActions(
            {QStringLiteral("1,2,setup"), QStringLiteral("1,3"), QStringLiteral("1,4,List")});
        main->ConnectorForm->EnsureListsForActions(w->Actions);
        fed.push_back(Fed(w->ZentrikWindowX));
    }
    return main;
}

} // namespace zkBenchDesk
