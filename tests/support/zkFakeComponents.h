#pragma once

// Fakes of the hosted components for any suite. Every fake keeps its properties in public
// fields, logs what is called on it, and offers Raise... helpers that fire its events as the
// real component would. Install them with
//
//     auto factory = std::make_shared<TFakeComponentFactory>();
//     TScopedComponentFactory scope(factory);
//     TZentrikWindowX window;                        // hosts a TFakeZentrikWindowX
//     factory->AlertWindows.last()->RaiseNewAlert("AAPL");
//
// and the previous factory comes back when the scope ends.

#include "components/zkComponents.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// --- symbol lists -------------------------------------------------------------------------

struct TFakeServerList {
    int32_t Id = 0;
    QString Name;
    QStringList Symbols;
    bool SymbolsValid = true;
    int FetchPolls = 0; // reads of Fetching that still answer true after FetchSymbols
};

// The "server" behind TFakeListOfLists and TFakeSymbolList. Log lines look like
// "RequestLists", "SetComplete(false)", "7:SetListName(Gappers)", "7:BeginReplace",
// "7:AddToReplacement(AAPL)", "7:FinishReplace", "7:InsertSymbol(X)", "7:RemoveList".
class TFakeListServer {
public:
    std::vector<TFakeServerList> Lists;
    QStringList Log;
    bool CompleteOnRequest = true; // RequestLists makes Complete true at once
    bool Complete = false;
    // Operation names (as logged, without the id) that throw EComponentError once.
    QSet<QString> FailOnce;

    TFakeServerList* Find(int32_t id);
    TFakeServerList& FindOrCreate(int32_t id);
    void Call(const QString& entry, const QString& operation);
};

class TFakeListOfLists : public IListOfLists {
public:
    explicit TFakeListOfLists(std::shared_ptr<TFakeListServer> server);
    void RequestLists() override;
    void RestartEnumeration() override;
    std::shared_ptr<ISymbolListControl> NextList() override;
    bool Complete() const override;
    void SetComplete(bool complete) override;

    std::shared_ptr<TFakeListServer> Server;
    std::vector<int32_t> Snapshot; // ids of the latest completed request
    size_t Next = 0;
};

class TFakeSymbolList : public ISymbolListControl {
public:
    TFakeSymbolList(std::shared_ptr<TFakeListServer> server, int32_t id);
    void InsertSymbol(const QString& symbol) override;
    void RemoveSymbol(const QString& symbol) override;
    int32_t ServerListId() const override { return Id; }
    QString ListName() const override;
    void SetListName(const QString& name) override;
    void AddToReplacement(const QString& symbol) override;
    void BeginReplace() override;
    void FinishReplace() override;
    void FetchSymbols() override;
    bool SymbolsValid() const override { return Valid; }
    QString SymbolAt(int32_t index) const override;
    int32_t SymbolCount() const override { return int32_t(Fetched.size()); }
    void RemoveList() override;
    bool Fetching() const override;

    std::shared_ptr<TFakeListServer> Server;
    int32_t Id;
    bool Valid = false;
    QStringList Fetched;
    QStringList Replacement;
    mutable int PollsLeft = 0;
};

// --- connection ---------------------------------------------------------------------------

class TFakeConnectionControl : public IConnectionControl {
public:
    TFakeConnectionControl();
    ~TFakeConnectionControl() override;

    // State, readable and writable by tests.
    QString FUserName, FPassword, FServerURL, FProxyPassword, FProxyServer, FProxyUsername;
    int32_t FProxyPort = 0, FMinTimeout = 0;
    QString FApiDir, FVendorId, FExportPrefix, FDevelopmentUsername, FDevelopmentPassword,
        FAdditionalSamplesUrl;
    bool FSafeSamples = false, FSafeConfig = false;
    int32_t FConnectionStatus = 0;
    qint64 FAccountExpiration = 0;
    QString FSocksHost, FSocksUsername, FSocksPassword;
    int32_t FSocksVersion = 0, FSocksPort = 0, FUseHttpTunnel = 0;
    int32_t FHelpMode = 0, FTimeOffset = 0, FShowGrid = 0;
    QIcon FApplicationIcon;
    int ResetCount = 0;

    // Every write and operation in order: "SetUserName(DEMO)", "SetPropertyByName(ShowGrid=1)",
    // "ResetConnection", "GetSymbolList(3)". Reads are not logged.
    QStringList Log;
    // Values put by name, in order of arrival (name as given).
    QList<QPair<QString, QString>> PropertiesByName;
    // Names (compared without case) that SetPropertyByName rejects with EComponentError.
    QSet<QString> RejectedProperties;
    // Method names ("SetUserName", "SetApplicationIcon", "ConnectionStatus" for the read, ...)
    // that throw EComponentError("Fake failure of <name>") on every call.
    QSet<QString> Failing;

    // What ListOfLists and GetSymbolList hand out; null Lists or NoSymbolLists give none.
    std::shared_ptr<TFakeListServer> Server;
    bool NoListOfLists = false;
    bool NoSymbolLists = false;
    std::shared_ptr<TFakeListOfLists> Lists;

    std::function<void()> OnDestroyed;

    QString UserName() const override;
    void SetUserName(const QString& name) override;
    QString Password() const override;
    void SetPassword(const QString& password) override;
    std::shared_ptr<ISymbolListControl> GetSymbolList(int32_t listId) override;
    void ResetConnection() override;
    void SetServerURL(const QString& url) override;
    QString ProxyPassword() const override;
    void SetProxyPassword(const QString& value) override;
    int32_t ProxyPort() const override;
    void SetProxyPort(int32_t value) override;
    QString ProxyServer() const override;
    void SetProxyServer(const QString& value) override;
    QString ProxyUsername() const override;
    void SetProxyUsername(const QString& value) override;
    std::shared_ptr<IListOfLists> ListOfLists() override;
    void SetApiDir(const QString& value) override;
    void SetVendorId(const QString& value) override;
    void SetExportPrefix(const QString& value) override;
    void SetDevelopmentUsername(const QString& value) override;
    void SetDevelopmentPassword(const QString& value) override;
    void SetMinTimeout(int32_t value) override;
    int32_t ConnectionStatus() const override;
    qint64 AccountExpiration() const override;
    void SetAdditionalSamplesUrl(const QString& value) override;
    void SetSafeSamples(bool value) override;
    void SetSafeConfig(bool value) override;
    QString SocksHost() const override;
    int32_t SocksVersion() const override;
    int32_t SocksPort() const override;
    QString SocksUsername() const override;
    QString SocksPassword() const override;
    int32_t UseHttpTunnel() const override;
    int32_t HelpMode() const override;
    void SetHelpMode(int32_t value) override;
    int32_t TimeOffset() const override;
    void SetTimeOffset(int32_t value) override;
    int32_t ShowGrid() const override;
    void SetShowGrid(int32_t value) override;
    void SetApplicationIcon(const QIcon& icon) override;
    void SetPropertyByName(const QString& name, const QString& text) override;

private:
    void Write(const QString& operation, const QString& argument);
    void Check(const QString& operation) const;
};

// --- visual components --------------------------------------------------------------------

class TFakeZentrikWindowX : public IZentrikWindowX {
    Q_OBJECT
public:
    QWidget* Widget() override { return nullptr; }
    QString DataConfig() const override { return FDataConfig; }
    void SetDataConfig(const QString& value) override;
    QString WindowConfig() const override { return FWindowConfig; }
    void SetWindowConfig(const QString& value) override { FWindowConfig = value; }
    QString StrategyConfig() const override { return FStrategyConfig; }
    void SetStrategyConfig(const QString& value) override { FStrategyConfig = value; }
    QFont Font() const override { return FFont; }
    void SetFont(const QFont& font) override { FFont = font; }
    int32_t FontColor() const override { return FFontColor; }
    void SetFontColor(int32_t color) override { FFontColor = color; }
    bool NotifyOnEachAlert() const override { return FNotifyOnEachAlert; }
    void SetNotifyOnEachAlert(bool value) override { FNotifyOnEachAlert = value; }
    bool NotifyOnWindowNameChanged() const override { return FNotifyOnWindowNameChanged; }
    void SetNotifyOnWindowNameChanged(bool value) override { FNotifyOnWindowNameChanged = value; }
    bool NotifyOnAccountStatusChanged() const override { return FNotifyOnAccountStatusChanged; }
    void SetNotifyOnAccountStatusChanged(bool value) override {
        FNotifyOnAccountStatusChanged = value;
    }
    int32_t AllowAlertSelectionType() const override { return FAllowAlertSelectionType; }
    void SetAllowAlertSelectionType(int32_t value) override { FAllowAlertSelectionType = value; }
    QString WindowName() const override { return FWindowName; }
    int32_t AlertSelectionType() const override { return FAlertSelectionType; }
    QString SuggestedFileName() const override { return FSuggestedFileName; }
    void AddCustomMenuItem(const QString& text, int32_t id) override;
    // Keeps them in FExternalAlerts and raises OnNewAlert for each, as notified.
    void AddExternalAlerts(const QList<TAlertData>& alerts) override;
    // Records the symbol of each alert asked for; finds it when FSelectable says so.
    bool SelectAlert(const IAlertData& alert) override {
        FSelectedAlerts.append(alert.AlertSymbol());
        return FSelectable;
    }
    QStringList FSelectedAlerts;
    bool FSelectable = true;

    QString FDataConfig, FWindowConfig, FStrategyConfig;
    QList<TAlertData> FExternalAlerts;
    QFont FFont;
    int32_t FFontColor = 0;
    bool FNotifyOnEachAlert = false, FNotifyOnWindowNameChanged = false,
         FNotifyOnAccountStatusChanged = false;
    int32_t FAllowAlertSelectionType = 0;
    QString FWindowName;
    int32_t FAlertSelectionType = 0;
    QString FSuggestedFileName;
    struct TMenuItem {
        QString Text;
        int32_t Id;
    };
    QList<TMenuItem> MenuItems;
    // A DataConfig "WN=<name>" (the simulated service's form) also sets FWindowName and raises
    // OnWindowNameChanged when notified; other texts leave the name alone.
    bool NameFromDataConfig = true;

    // Each honours the Notify... and AllowAlertSelectionType flags like the real component.
    void RaiseNewAlert(const QString& symbol, int32_t skipFlag = 0);
    void RaiseAlertSelected(const QString& symbol, int32_t selectionType);
    void RaiseCustomMenuItem(int32_t id); // with the text it was added with
    void RaiseWindowNameChanged(const QString& newName);
    void RaiseAccountStatusChanged();
};

class TFakeStatusBarX : public IStatusBarX {
    Q_OBJECT
public:
    QWidget* Widget() override { return nullptr; }
};

class TFakeNetRequestX : public IGenericNetRequestX {
    Q_OBJECT
public:
    QWidget* Widget() override { return nullptr; }
    void SendRequest(const QString& url) override;
    QStringList Requests;
    bool FailSend = false; // SendRequest throws EComponentError
    void RaiseResult(const QString& text) { emit OnResult(text); }
};

class TFakeConnector : public IZentrikGenericConnector2X {
    Q_OBJECT
public:
    QWidget* Widget() override { return Face; }
    QWidget* Face = nullptr; // taken over by the wrapper that hosts it
    QString Symbol() const override { return FSymbol; }
    void SetSymbol(const QString& symbol) override { FSymbol = symbol; }
    bool AutoSave() const override { return FAutoSave; }
    void SetAutoSave(bool value) override { FAutoSave = value; }
    int32_t LinkCount() const override { return FLinkCount; }
    void SendSymbol() override { Sent.append(FSymbol); }
    void InitializeConnector() override { ++InitializeCount; }
    QString LinkName() const override { return FLinkName; }
    void SetLinkName(const QString& name) override { FLinkName = name; }

    QString FSymbol, FLinkName;
    bool FAutoSave = true;
    int32_t FLinkCount = 0;
    QStringList Sent;
    int InitializeCount = 0;
};

// --- factory ------------------------------------------------------------------------------

class TFakeComponentFactory : public TComponentFactory {
public:
    TFakeComponentFactory();
    ~TFakeComponentFactory() override;

    std::unique_ptr<IConnectionControl> CreateConnectionControl() override;
    std::unique_ptr<IZentrikWindowX> CreateZentrikWindowX() override;
    std::unique_ptr<IStatusBarX> CreateStatusBarX() override;
    std::unique_ptr<IGenericNetRequestX> CreateGenericNetRequestX() override;
    std::unique_ptr<IZentrikGenericConnector2X> CreateZentrikGenericConnector2X() override;

    // The connection made last, while it lives.
    TFakeConnectionControl* Connection() const { return *LiveConnection; }
    // Everything created, in order; entries turn null when the component is destroyed.
    QList<QPointer<TFakeZentrikWindowX>> AlertWindows;
    QList<QPointer<TFakeStatusBarX>> StatusBars;
    QList<QPointer<TFakeNetRequestX>> NetRequests;
    QList<QPointer<TFakeConnector>> Connectors;
    // Connectors made from here on show a face of their own (a label) in their wrapper.
    bool ConnectorFaces = false;
    // The symbol-list server new connections use.
    std::shared_ptr<TFakeListServer> Server = std::make_shared<TFakeListServer>();

    // Hooks to prepare each new component; and creation failures (EComponentError).
    std::function<void(TFakeConnectionControl&)> PrepareConnection;
    std::function<void(TFakeZentrikWindowX&)> PrepareAlertWindow;
    bool FailCreation = false;

private:
    std::shared_ptr<TFakeConnectionControl*> LiveConnection;
};

// Installs a factory for the life of the scope and puts the previous one back.
class TScopedComponentFactory {
public:
    explicit TScopedComponentFactory(std::shared_ptr<TComponentFactory> factory);
    ~TScopedComponentFactory();
    TScopedComponentFactory(const TScopedComponentFactory&) = delete;
    TScopedComponentFactory& operator=(const TScopedComponentFactory&) = delete;

private:
    std::shared_ptr<TComponentFactory> Previous;
};
