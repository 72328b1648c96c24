#pragma once

// The hosted components' surface: everything the client calls on the alert service's
// components and every event it handles. The client talks only to these interfaces (through
// the wrappers of zkComponentWrappers.h and CoConnectionControl); the simulated service of
// zkSim*.h is the embedded implementation, and tests hand in fakes via TComponentFactory.
//
// Rules that hold for every component:
// - A call that fails throws EComponentError carrying the component's message.
// - Events are Qt signals, raised on the user-interface thread.
// - Text is QString; booleans are bool; integers that the service defines as 32-bit are
//   int32_t, the account expiry is qint64 seconds since 1970-01-01.
// - Objects that cross the boundary without being hosted (IListOfLists, ISymbolListControl)
//   are shared: the holder keeps a std::shared_ptr and releases it by dropping it.
// - An IAlertData passed with an event stays valid at least until the handler returns;
//   copy what you need to keep.

#include <QDateTime>
#include <QFont>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QWidget;

// Where an alert came from: the service's strategy, a feed the service replays, the user's
// own programs or a message broker (alerts added with AddExternalAlerts).
enum class TAlertSource : uint8_t { Service, Feed, Inbox, Broker };

// One alert, as the alert component hands it over with OnNewAlert and OnAlertSelected.
class IAlertData {
public:
    virtual ~IAlertData() = default;
    virtual QString AlertSymbol() const = 0;
    // Non-zero: the alert must not trigger actions.
    virtual int32_t SkipFlag() const = 0;
    // What the list shows besides the symbol; the client itself needs only the two above.
    virtual QDateTime AlertTime() const = 0; // UTC
    virtual double Price() const = 0;
    virtual QString Description() const = 0;
    virtual TAlertSource Source() const { return TAlertSource::Service; }
    // The window's emphasis rule picked it out (its symbol is on the rule's list).
    virtual bool IsEmphasised() const { return false; }
};

// A plain alert value; the simulated service and the fakes both use it.
class TAlertData : public IAlertData {
public:
    TAlertData() = default;
    TAlertData(QString symbol, int32_t skipFlag, QDateTime time = QDateTime(), double price = 0,
               QString description = QString())
        : Symbol(std::move(symbol)), Skip(skipFlag), Time(std::move(time)), AlertPrice(price),
          Text(std::move(description)) {}
    QString AlertSymbol() const override { return Symbol; }
    int32_t SkipFlag() const override { return Skip; }
    QDateTime AlertTime() const override { return Time; }
    double Price() const override { return AlertPrice; }
    QString Description() const override { return Text; }
    TAlertSource Source() const override { return Origin; }
    bool IsEmphasised() const override { return Emphasised; }

    QString Symbol;
    int32_t Skip = 0;
    QDateTime Time;
    double AlertPrice = 0;
    QString Text;
    TAlertSource Origin = TAlertSource::Service;
    bool Emphasised = false;
};

// One symbol list of the account on the server.
class ISymbolListControl {
public:
    virtual ~ISymbolListControl() = default;
    virtual void InsertSymbol(const QString& symbol) = 0;
    // Removing a symbol the list does not hold leaves the list as it is.
    virtual void RemoveSymbol(const QString& symbol) = 0;
    virtual int32_t ServerListId() const = 0;
    virtual QString ListName() const = 0;
    virtual void SetListName(const QString& name) = 0;
    // BeginReplace, AddToReplacement..., FinishReplace: the list's symbols become exactly
    // those added since the begin.
    virtual void AddToReplacement(const QString& symbol) = 0;
    // Each of the symbols in turn, as AddToReplacement takes them; a component may take them
    // at once.
    virtual void AddAllToReplacement(const QStringList& symbols) {
        for (const QString& s : symbols)
            AddToReplacement(s);
    }
    virtual void BeginReplace() = 0;
    virtual void FinishReplace() = 0;
    // Starts fetching the symbols; Fetching is true until they (or a failure) arrive, then
    // SymbolsValid tells whether SymbolCount/SymbolAt can be read.
    virtual void FetchSymbols() = 0;
    virtual bool SymbolsValid() const = 0;
    virtual QString SymbolAt(int32_t index) const = 0;
    virtual int32_t SymbolCount() const = 0;
    virtual void RemoveList() = 0;
    virtual bool Fetching() const = 0;
};

// The account's collection of symbol lists.
class IListOfLists {
public:
    virtual ~IListOfLists() = default;
    // Starts fetching the lists; Complete turns true once they are available.
    virtual void RequestLists() = 0;
    virtual void RestartEnumeration() = 0;
    // Each list of the latest request once, in the server's order; nullptr after the last.
    virtual std::shared_ptr<ISymbolListControl> NextList() = 0;
    virtual bool Complete() const = 0;
    virtual void SetComplete(bool complete) = 0;
};

// The connection component: one per process, created with CoConnectionControl::Create().
class IConnectionControl {
public:
    virtual ~IConnectionControl() = default;

    virtual QString UserName() const = 0;
    virtual void SetUserName(const QString& name) = 0;
    virtual QString Password() const = 0;
    virtual void SetPassword(const QString& password) = 0;
    // An object for any id, also one the server does not hold yet (writing its name or
    // adding symbols creates the list); nullptr when the component has none to give.
    virtual std::shared_ptr<ISymbolListControl> GetSymbolList(int32_t listId) = 0;
    virtual void ResetConnection() = 0;
    virtual void SetServerURL(const QString& url) = 0;

    virtual QString ProxyPassword() const = 0;
    virtual void SetProxyPassword(const QString& value) = 0;
    virtual int32_t ProxyPort() const = 0;
    virtual void SetProxyPort(int32_t value) = 0;
    virtual QString ProxyServer() const = 0;
    virtual void SetProxyServer(const QString& value) = 0;
    virtual QString ProxyUsername() const = 0;
    virtual void SetProxyUsername(const QString& value) = 0;

    virtual std::shared_ptr<IListOfLists> ListOfLists() = 0;

    virtual void SetApiDir(const QString& value) = 0;
    virtual void SetVendorId(const QString& value) = 0;
    virtual void SetExportPrefix(const QString& value) = 0;
    virtual void SetDevelopmentUsername(const QString& value) = 0;
    virtual void SetDevelopmentPassword(const QString& value) = 0;
    virtual void SetMinTimeout(int32_t value) = 0;

    // 0 not connected or connecting, 1 connected, 2 another user connected, 3 bad user name,
    // 4 bad password, 5 account expired.
    virtual int32_t ConnectionStatus() const = 0;
    // Seconds since 1970-01-01; 0 when unknown.
    virtual qint64 AccountExpiration() const = 0;

    virtual void SetAdditionalSamplesUrl(const QString& value) = 0;
    virtual void SetSafeSamples(bool value) = 0;
    virtual void SetSafeConfig(bool value) = 0;

    virtual QString SocksHost() const = 0;
    virtual int32_t SocksVersion() const = 0;
    virtual int32_t SocksPort() const = 0;
    virtual QString SocksUsername() const = 0;
    virtual QString SocksPassword() const = 0;
    // Non-zero: tunnel through HTTP port 80.
    virtual int32_t UseHttpTunnel() const = 0;

    virtual int32_t HelpMode() const = 0;
    virtual void SetHelpMode(int32_t value) = 0;
    virtual int32_t TimeOffset() const = 0; // minutes, signed
    virtual void SetTimeOffset(int32_t value) = 0;
    virtual int32_t ShowGrid() const = 0;
    virtual void SetShowGrid(int32_t value) = 0;

    virtual void SetApplicationIcon(const QIcon& icon) = 0;

    // Puts a property by its name (an INI key) with its text. Names compare without regard to
    // case. An unknown name or a value that does not convert throws EComponentError.
    virtual void SetPropertyByName(const QString& name, const QString& text) = 0;
};

// The visual components. Each is a QObject with its events as signals; Widget() is what the
// wrapper shows in its area (nullptr for an implementation without a face, e.g. a fake).
// The component owns its widget; the wrapper only reparents it.

class IZentrikWindowX : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QWidget* Widget() = 0;

    virtual QString DataConfig() const = 0;
    virtual void SetDataConfig(const QString& value) = 0;
    virtual QString WindowConfig() const = 0;
    virtual void SetWindowConfig(const QString& value) = 0;
    virtual QString StrategyConfig() const = 0;
    virtual void SetStrategyConfig(const QString& value) = 0;
    virtual QFont Font() const = 0;
    virtual void SetFont(const QFont& font) = 0;
    // Windows-style colour 0x00BBGGRR.
    virtual int32_t FontColor() const = 0;
    virtual void SetFontColor(int32_t color) = 0;
    virtual bool NotifyOnEachAlert() const = 0;
    virtual void SetNotifyOnEachAlert(bool value) = 0;
    virtual bool NotifyOnWindowNameChanged() const = 0;
    virtual void SetNotifyOnWindowNameChanged(bool value) = 0;
    virtual bool NotifyOnAccountStatusChanged() const = 0;
    virtual void SetNotifyOnAccountStatusChanged(bool value) = 0;
    // Bit 1: a click selects, bit 2: a double click selects (3 both).
    virtual int32_t AllowAlertSelectionType() const = 0;
    virtual void SetAllowAlertSelectionType(int32_t value) = 0;
    virtual QString WindowName() const = 0;
    // Kind of the latest selection: 1 click, 2 double click (0 before any).
    virtual int32_t AlertSelectionType() const = 0;
    virtual QString SuggestedFileName() const = 0;
    // Appends an entry to the context menu; "-" makes a separator.
    virtual void AddCustomMenuItem(const QString& text, int32_t id) = 0;
    // Alerts that came from outside the service (the user's own programs, through the alert
    // inbox), newest last: shown and raised with OnNewAlert like the component's own, whatever
    // the connection's state.
    virtual void AddExternalAlerts(const QList<TAlertData>& alerts) = 0;
    // Makes the list's row of that alert (same time, symbol, price and description; the newest
    // such row) the selected and current one, scrolled into view, without raising
    // OnAlertSelected: the user did not pick it. False when the list no longer holds it.
    virtual bool SelectAlert(const IAlertData& alert) = 0;
    // The alert of the list's selected row, for the keyboard's Enter; nullptr when no row is
    // selected (or the component has no list to select in).
    virtual std::shared_ptr<IAlertData> SelectedAlert() const { return nullptr; }

signals:
    void OnNewAlert(IAlertData* alert);
    void OnAlertSelected(IAlertData* alert);
    void OnCustomMenuItem(const QString& text, int32_t id);
    void OnWindowNameChanged();
    void OnAccountStatusChanged();
};

// True when an alert window's DataConfig makes it a window of the alert inbox ("Src=inbox"):
// it shows alerts from the user's own programs only. The first "Src" key counts, its value
// percent-decoded, as with every key of a DataConfig.
bool IsInboxDataConfig(const QString& dataConfig);

class IStatusBarX : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QWidget* Widget() = 0;
};

class IGenericNetRequestX : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QWidget* Widget() = 0;
    // Starts an asynchronous GET; exactly one OnResult follows for each request started.
    virtual void SendRequest(const QString& url) = 0;

signals:
    // The whole response body, or empty text when the request failed.
    void OnResult(const QString& result);
};

class IZentrikGenericConnector2X : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual QWidget* Widget() = 0;
    virtual QString Symbol() const = 0;
    virtual void SetSymbol(const QString& symbol) = 0;
    virtual bool AutoSave() const = 0;
    virtual void SetAutoSave(bool value) = 0;
    // Number of external programs linked to this connector's list.
    virtual int32_t LinkCount() const = 0;
    // Sends the current Symbol to the linked programs.
    virtual void SendSymbol() = 0;
    virtual void InitializeConnector() = 0;
    // Not part of the service's own surface: the name of the link list this connector serves,
    // so a link broker can route it. Implementations without routing ignore it.
    virtual QString LinkName() const { return QString(); }
    virtual void SetLinkName(const QString&) {}
};

// Creates the components. One factory is current per process; by default it is the simulated
// service. Tests install their own (see tests/support/zkFakeComponents.h) and restore the
// previous one afterwards. A factory may throw EComponentError when it cannot create one.
class TComponentFactory {
public:
    virtual ~TComponentFactory() = default;
    virtual std::unique_ptr<IConnectionControl> CreateConnectionControl() = 0;
    virtual std::unique_ptr<IZentrikWindowX> CreateZentrikWindowX() = 0;
    virtual std::unique_ptr<IStatusBarX> CreateStatusBarX() = 0;
    virtual std::unique_ptr<IGenericNetRequestX> CreateGenericNetRequestX() = 0;
    virtual std::unique_ptr<IZentrikGenericConnector2X> CreateZentrikGenericConnector2X() = 0;

    static TComponentFactory& Current();
    // nullptr goes back to the simulated service. Returns the factory that was current.
    static std::shared_ptr<TComponentFactory> SetCurrent(std::shared_ptr<TComponentFactory> f);
};

// Creates the connection component through the current factory. The caller owns it (the main
// window, from its creation to its destruction).
struct CoConnectionControl {
    static std::unique_ptr<IConnectionControl> Create();
};
