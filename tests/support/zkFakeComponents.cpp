#include "zkFakeComponents.h"

#include "components/zkSimAlertModel.h"
#include "platform/zkErrors.h"

#include <QLabel>

#include <algorithm>

namespace {
QString BoolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
} // namespace

// --- TFakeListServer ----------------------------------------------------------------------

TFakeServerList* TFakeListServer::Find(int32_t id) {
    auto it = std::find_if(Lists.begin(), Lists.end(),
                           [id](const TFakeServerList& l) { return l.Id == id; });
    return it == Lists.end() ? nullptr : &*it;
}

TFakeServerList& TFakeListServer::FindOrCreate(int32_t id) {
    if (TFakeServerList* list = Find(id))
        return *list;
    Lists.push_back(TFakeServerList{id, QString(), {}, true, 0});
    return Lists.back();
}

void TFakeListServer::Call(const QString& entry, const QString& operation) {
    Log.append(entry);
    if (FailOnce.remove(operation))
        throw EComponentError(QStringLiteral("Fake failure of %1").arg(operation));
}

// --- TFakeListOfLists ---------------------------------------------------------------------

TFakeListOfLists::TFakeListOfLists(std::shared_ptr<TFakeListServer> server)
    : Server(std::move(server)) {}

void TFakeListOfLists::RequestLists() {
    Server->Call(QStringLiteral("RequestLists"), QStringLiteral("RequestLists"));
    Snapshot.clear();
    for (const TFakeServerList& list : Server->Lists)
        Snapshot.push_back(list.Id);
    Next = 0;
    if (Server->CompleteOnRequest)
        Server->Complete = true;
}

void TFakeListOfLists::RestartEnumeration() {
    Server->Call(QStringLiteral("RestartEnumeration"), QStringLiteral("RestartEnumeration"));
    Next = 0;
}

std::shared_ptr<ISymbolListControl> TFakeListOfLists::NextList() {
    if (Next >= Snapshot.size())
        return nullptr;
    return std::make_shared<TFakeSymbolList>(Server, Snapshot[Next++]);
}

bool TFakeListOfLists::Complete() const {
    return Server->Complete;
}

void TFakeListOfLists::SetComplete(bool complete) {
    Server->Call(QStringLiteral("SetComplete(%1)").arg(BoolText(complete)),
                 QStringLiteral("SetComplete"));
    Server->Complete = complete;
}

// --- TFakeSymbolList ----------------------------------------------------------------------

TFakeSymbolList::TFakeSymbolList(std::shared_ptr<TFakeListServer> server, int32_t id)
    : Server(std::move(server)), Id(id) {}

void TFakeSymbolList::InsertSymbol(const QString& symbol) {
    Server->Call(QStringLiteral("%1:InsertSymbol(%2)").arg(Id).arg(symbol),
                 QStringLiteral("InsertSymbol"));
    TFakeServerList& list = Server->FindOrCreate(Id);
    if (!list.Symbols.contains(symbol))
        list.Symbols.append(symbol);
}

void TFakeSymbolList::RemoveSymbol(const QString& symbol) {
    Server->Call(QStringLiteral("%1:RemoveSymbol(%2)").arg(Id).arg(symbol),
                 QStringLiteral("RemoveSymbol"));
    if (TFakeServerList* list = Server->Find(Id))
        list->Symbols.removeAll(symbol);
}

QString TFakeSymbolList::ListName() const {
    const TFakeServerList* list = Server->Find(Id);
    return list ? list->Name : QString();
}

void TFakeSymbolList::SetListName(const QString& name) {
    Server->Call(QStringLiteral("%1:SetListName(%2)").arg(Id).arg(name),
                 QStringLiteral("SetListName"));
    Server->FindOrCreate(Id).Name = name;
}

void TFakeSymbolList::AddToReplacement(const QString& symbol) {
    Server->Call(QStringLiteral("%1:AddToReplacement(%2)").arg(Id).arg(symbol),
                 QStringLiteral("AddToReplacement"));
    Replacement.append(symbol);
}

void TFakeSymbolList::BeginReplace() {
    Server->Call(QStringLiteral("%1:BeginReplace").arg(Id), QStringLiteral("BeginReplace"));
    Replacement.clear();
}

void TFakeSymbolList::FinishReplace() {
    Server->Call(QStringLiteral("%1:FinishReplace").arg(Id), QStringLiteral("FinishReplace"));
    QStringList unique;
    for (const QString& s : Replacement)
        if (!unique.contains(s))
            unique.append(s);
    Server->FindOrCreate(Id).Symbols = unique;
    Replacement.clear();
}

void TFakeSymbolList::FetchSymbols() {
    Server->Call(QStringLiteral("%1:FetchSymbols").arg(Id), QStringLiteral("FetchSymbols"));
    const TFakeServerList* list = Server->Find(Id);
    Valid = list && list->SymbolsValid;
    Fetched = Valid ? list->Symbols : QStringList();
    PollsLeft = list ? list->FetchPolls : 0;
}

bool TFakeSymbolList::Fetching() const {
    if (PollsLeft <= 0)
        return false;
    --PollsLeft;
    return true;
}

QString TFakeSymbolList::SymbolAt(int32_t index) const {
    if (index < 0 || index >= Fetched.size())
        throw EComponentError(QStringLiteral("Symbol index %1 out of range").arg(index));
    return Fetched.at(index);
}

void TFakeSymbolList::RemoveList() {
    Server->Call(QStringLiteral("%1:RemoveList").arg(Id), QStringLiteral("RemoveList"));
    Server->Lists.erase(std::remove_if(Server->Lists.begin(), Server->Lists.end(),
                                       [this](const TFakeServerList& l) { return l.Id == Id; }),
                        Server->Lists.end());
}

// --- TFakeConnectionControl ---------------------------------------------------------------

TFakeConnectionControl::TFakeConnectionControl() : Server(std::make_shared<TFakeListServer>()) {}

TFakeConnectionControl::~TFakeConnectionControl() {
    if (OnDestroyed)
        OnDestroyed();
}

void TFakeConnectionControl::Check(const QString& operation) const {
    if (Failing.contains(operation))
        throw EComponentError(QStringLiteral("Fake failure of %1").arg(operation));
}

void TFakeConnectionControl::Write(const QString& operation, const QString& argument) {
    Check(operation);
    Log.append(QStringLiteral("%1(%2)").arg(operation, argument));
}

#define ZK_FAKE_TEXT(Name)                                                                         \
    QString TFakeConnectionControl::Name() const {                                                 \
        Check(QStringLiteral(#Name));                                                              \
        return F##Name;                                                                            \
    }                                                                                              \
    void TFakeConnectionControl::Set##Name(const QString& value) {                                 \
        Write(QStringLiteral("Set" #Name), value);                                                 \
        F##Name = value;                                                                           \
    }
#define ZK_FAKE_INT(Name)                                                                          \
    int32_t TFakeConnectionControl::Name() const {                                                 \
        Check(QStringLiteral(#Name));                                                              \
        return F##Name;                                                                            \
    }                                                                                              \
    void TFakeConnectionControl::Set##Name(int32_t value) {                                        \
        Write(QStringLiteral("Set" #Name), QString::number(value));                                \
        F##Name = value;                                                                           \
    }
#define ZK_FAKE_WRITE_TEXT(Name)                                                                   \
    void TFakeConnectionControl::Set##Name(const QString& value) {                                 \
        Write(QStringLiteral("Set" #Name), value);                                                 \
        F##Name = value;                                                                           \
    }
#define ZK_FAKE_READ(Type, Name)                                                                   \
    Type TFakeConnectionControl::Name() const {                                                    \
        Check(QStringLiteral(#Name));                                                              \
        return F##Name;                                                                            \
    }

ZK_FAKE_TEXT(UserName)
ZK_FAKE_TEXT(Password)
ZK_FAKE_TEXT(ProxyPassword)
ZK_FAKE_INT(ProxyPort)
ZK_FAKE_TEXT(ProxyServer)
ZK_FAKE_TEXT(ProxyUsername)
ZK_FAKE_WRITE_TEXT(ServerURL)
ZK_FAKE_WRITE_TEXT(ApiDir)
ZK_FAKE_WRITE_TEXT(VendorId)
ZK_FAKE_WRITE_TEXT(ExportPrefix)
ZK_FAKE_WRITE_TEXT(DevelopmentUsername)
ZK_FAKE_WRITE_TEXT(DevelopmentPassword)
ZK_FAKE_WRITE_TEXT(AdditionalSamplesUrl)
ZK_FAKE_READ(int32_t, ConnectionStatus)
ZK_FAKE_READ(qint64, AccountExpiration)
ZK_FAKE_READ(QString, SocksHost)
ZK_FAKE_READ(int32_t, SocksVersion)
ZK_FAKE_READ(int32_t, SocksPort)
ZK_FAKE_READ(QString, SocksUsername)
ZK_FAKE_READ(QString, SocksPassword)
ZK_FAKE_READ(int32_t, UseHttpTunnel)
ZK_FAKE_INT(HelpMode)
ZK_FAKE_INT(TimeOffset)
ZK_FAKE_INT(ShowGrid)

void TFakeConnectionControl::SetMinTimeout(int32_t value) {
    Write(QStringLiteral("SetMinTimeout"), QString::number(value));
    FMinTimeout = value;
}

void TFakeConnectionControl::SetSafeSamples(bool value) {
    Write(QStringLiteral("SetSafeSamples"), BoolText(value));
    FSafeSamples = value;
}

void TFakeConnectionControl::SetSafeConfig(bool value) {
    Write(QStringLiteral("SetSafeConfig"), BoolText(value));
    FSafeConfig = value;
}

void TFakeConnectionControl::SetApplicationIcon(const QIcon& icon) {
    Write(QStringLiteral("SetApplicationIcon"),
          icon.isNull() ? QStringLiteral("null") : QStringLiteral("icon"));
    FApplicationIcon = icon;
}

void TFakeConnectionControl::ResetConnection() {
    Check(QStringLiteral("ResetConnection"));
    Log.append(QStringLiteral("ResetConnection"));
    ++ResetCount;
}

std::shared_ptr<ISymbolListControl> TFakeConnectionControl::GetSymbolList(int32_t listId) {
    Write(QStringLiteral("GetSymbolList"), QString::number(listId));
    if (NoSymbolLists || !Server)
        return nullptr;
    return std::make_shared<TFakeSymbolList>(Server, listId);
}

std::shared_ptr<IListOfLists> TFakeConnectionControl::ListOfLists() {
    Check(QStringLiteral("ListOfLists"));
    if (NoListOfLists || !Server)
        return nullptr;
    if (!Lists)
        Lists = std::make_shared<TFakeListOfLists>(Server);
    return Lists;
}

void TFakeConnectionControl::SetPropertyByName(const QString& name, const QString& text) {
    Write(QStringLiteral("SetPropertyByName"), name + QLatin1Char('=') + text);
    for (const QString& rejected : RejectedProperties)
        if (rejected.compare(name, Qt::CaseInsensitive) == 0)
            throw EComponentError(QStringLiteral("Unknown property \"%1\"").arg(name));
    PropertiesByName.append({name, text});
}

// --- visual fakes -------------------------------------------------------------------------

void TFakeZentrikWindowX::SetDataConfig(const QString& value) {
    FDataConfig = value;
    if (!NameFromDataConfig)
        return;
    bool found = false;
    const QString name = SimQueryValue(value, QStringLiteral("WN"), &found);
    if (found && name != FWindowName) {
        FWindowName = name;
        if (FNotifyOnWindowNameChanged)
            emit OnWindowNameChanged();
    }
}

void TFakeZentrikWindowX::AddCustomMenuItem(const QString& text, int32_t id) {
    MenuItems.append(TMenuItem{text, id});
}

void TFakeZentrikWindowX::AddExternalAlerts(const QList<TAlertData>& alerts) {
    for (const TAlertData& alert : alerts) {
        FExternalAlerts.append(alert);
        TAlertData copy = alert;
        if (FNotifyOnEachAlert)
            emit OnNewAlert(&copy);
    }
}

void TFakeZentrikWindowX::RaiseNewAlert(const QString& symbol, int32_t skipFlag) {
    TAlertData alert(symbol, skipFlag, QDateTime::currentDateTimeUtc());
    if (FNotifyOnEachAlert)
        emit OnNewAlert(&alert);
}

void TFakeZentrikWindowX::RaiseAlertSelected(const QString& symbol, int32_t selectionType) {
    FAlertSelectionType = selectionType;
    TAlertData alert(symbol, 0, QDateTime::currentDateTimeUtc());
    if (FAllowAlertSelectionType & selectionType)
        emit OnAlertSelected(&alert);
}

void TFakeZentrikWindowX::RaiseCustomMenuItem(int32_t id) {
    for (const TMenuItem& item : MenuItems)
        if (item.Id == id) {
            emit OnCustomMenuItem(item.Text, id);
            return;
        }
    emit OnCustomMenuItem(QString(), id);
}

void TFakeZentrikWindowX::RaiseWindowNameChanged(const QString& newName) {
    FWindowName = newName;
    if (FNotifyOnWindowNameChanged)
        emit OnWindowNameChanged();
}

void TFakeZentrikWindowX::RaiseAccountStatusChanged() {
    if (FNotifyOnAccountStatusChanged)
        emit OnAccountStatusChanged();
}

void TFakeNetRequestX::SendRequest(const QString& url) {
    if (FailSend)
        throw EComponentError(QStringLiteral("Fake failure of SendRequest"));
    Requests.append(url);
}

// --- factory ------------------------------------------------------------------------------

TFakeComponentFactory::TFakeComponentFactory()
    : LiveConnection(std::make_shared<TFakeConnectionControl*>(nullptr)) {}

TFakeComponentFactory::~TFakeComponentFactory() = default;

std::unique_ptr<IConnectionControl> TFakeComponentFactory::CreateConnectionControl() {
    if (FailCreation)
        throw EComponentError(QStringLiteral("Class not registered"));
    auto connection = std::make_unique<TFakeConnectionControl>();
    connection->Server = Server;
    std::weak_ptr<TFakeConnectionControl*> live = LiveConnection;
    TFakeConnectionControl* raw = connection.get();
    connection->OnDestroyed = [live, raw] {
        if (auto slot = live.lock(); slot && *slot == raw)
            *slot = nullptr;
    };
    *LiveConnection = raw;
    if (PrepareConnection)
        PrepareConnection(*connection);
    return connection;
}

std::unique_ptr<IZentrikWindowX> TFakeComponentFactory::CreateZentrikWindowX() {
    if (FailCreation)
        throw EComponentError(QStringLiteral("Class not registered"));
    auto window = std::make_unique<TFakeZentrikWindowX>();
    AlertWindows.append(window.get());
    if (PrepareAlertWindow)
        PrepareAlertWindow(*window);
    return window;
}

std::unique_ptr<IStatusBarX> TFakeComponentFactory::CreateStatusBarX() {
    if (FailCreation)
        throw EComponentError(QStringLiteral("Class not registered"));
    auto bar = std::make_unique<TFakeStatusBarX>();
    StatusBars.append(bar.get());
    return bar;
}

std::unique_ptr<IGenericNetRequestX> TFakeComponentFactory::CreateGenericNetRequestX() {
    if (FailCreation)
        throw EComponentError(QStringLiteral("Class not registered"));
    auto request = std::make_unique<TFakeNetRequestX>();
    NetRequests.append(request.get());
    return request;
}

std::unique_ptr<IZentrikGenericConnector2X>
TFakeComponentFactory::CreateZentrikGenericConnector2X() {
    if (FailCreation)
        throw EComponentError(QStringLiteral("Class not registered"));
    auto connector = std::make_unique<TFakeConnector>();
    if (ConnectorFaces)
        connector->Face = new QLabel(QStringLiteral("No program linked."));
    Connectors.append(connector.get());
    return connector;
}

TScopedComponentFactory::TScopedComponentFactory(std::shared_ptr<TComponentFactory> factory)
    : Previous(TComponentFactory::SetCurrent(std::move(factory))) {}

TScopedComponentFactory::~TScopedComponentFactory() {
    TComponentFactory::SetCurrent(std::move(Previous));
}
