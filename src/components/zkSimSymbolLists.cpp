#include "zkSimSymbolLists.h"

#include "platform/zkAtomicFile.h"
#include "platform/zkErrors.h"
#include "platform/zkPaths.h"
#include "zkSimService.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimer>

#include <algorithm>

namespace {

void AppendUnique(QStringList& symbols, const QString& symbol) {
    if (!symbol.isEmpty() && !symbols.contains(symbol))
        symbols.append(symbol);
}

// The same for a whole list at once, without the quadratic search (lists of thousands).
QStringList UniqueSymbols(const QStringList& symbols) {
    QStringList unique;
    QSet<QString> seen;
    unique.reserve(symbols.size());
    for (const QString& s : symbols)
        if (!s.isEmpty() && !seen.contains(s)) {
            seen.insert(s);
            unique.append(s);
        }
    return unique;
}

std::vector<TSimList> SampleLists() {
    return {
        {1,
         QStringLiteral("Tech Leaders"),
         {QStringLiteral("AAPL"), QStringLiteral("MSFT"), QStringLiteral("NVDA"),
          QStringLiteral("GOOGL"), QStringLiteral("META"), QStringLiteral("AMZN")}},
        {2,
         QStringLiteral("Energy"),
         {QStringLiteral("XOM"), QStringLiteral("CVX"), QStringLiteral("COP"),
          QStringLiteral("SLB"), QStringLiteral("OXY")}},
        {3,
         QStringLiteral("Banks"),
         {QStringLiteral("JPM"), QStringLiteral("BAC"), QStringLiteral("WFC"), QStringLiteral("C"),
          QStringLiteral("GS"), QStringLiteral("MS")}},
    };
}

} // namespace

// --- TSimListStore ------------------------------------------------------------------------

TSimListStore::TSimListStore(QString fileName, bool seedSamples, TSimService* reporter)
    : Path(std::move(fileName)) {
    Load(seedSamples, reporter);
}

std::vector<TSimList> ParseSimLists(const QByteArray& text, QString* problem) {
    std::vector<TSimList> lists;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = error.errorString();
        return lists;
    }
    if (!doc.isObject() || !doc.object().value(QLatin1String("lists")).isArray()) {
        *problem = QStringLiteral("no \"lists\" array");
        return lists;
    }
    QSet<int32_t> ids;
    for (const QJsonValue& v : doc.object().value(QLatin1String("lists")).toArray()) {
        const QJsonObject o = v.toObject();
        if (!o.value(QLatin1String("id")).isDouble())
            continue;
        TSimList list;
        list.Id = o.value(QLatin1String("id")).toInt();
        if (ids.contains(list.Id))
            continue;
        ids.insert(list.Id);
        list.Name = o.value(QLatin1String("name")).toString();
        QStringList symbols;
        for (const QJsonValue& s : o.value(QLatin1String("symbols")).toArray())
            symbols.append(s.toString());
        list.Symbols = UniqueSymbols(symbols);
        lists.push_back(std::move(list));
    }
    return lists;
}

QByteArray SimListsText(const std::vector<TSimList>& lists) {
    QJsonArray array;
    for (const TSimList& list : lists) {
        QJsonObject o;
        o.insert(QLatin1String("id"), list.Id);
        o.insert(QLatin1String("name"), list.Name);
        o.insert(QLatin1String("symbols"), QJsonArray::fromStringList(list.Symbols));
        array.append(o);
    }
    QJsonObject root;
    root.insert(QLatin1String("lists"), array);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

void TSimListStore::Load(bool seedSamples, TSimService* reporter) {
    QFile file(Path);
    if (!file.exists()) {
        if (seedSamples)
            Items = SampleLists();
        return;
    }
    QString problem;
    if (!file.open(QIODevice::ReadOnly))
        problem = file.errorString();
    else
        Items = ParseSimLists(file.readAll(), &problem);
    if (!problem.isEmpty()) {
        // Keep what was there, so the next save does not destroy the user's only copy.
        file.close();
        QFile::remove(Path + QStringLiteral(".corrupt"));
        QFile::copy(Path, Path + QStringLiteral(".corrupt"));
        if (reporter)
            reporter->ReportOnce(
                QStringLiteral("symbol lists %1 could not be read (%2); set aside as %1.corrupt")
                    .arg(Path, problem));
        Items.clear();
    }
}

void TSimListStore::Save() const {
    const QString dir = QFileInfo(Path).absolutePath();
    if (!QFileInfo::exists(dir)) {
        zkPaths::EnsurePrivateDir(QFileInfo(dir).absolutePath());
        zkPaths::EnsurePrivateDir(dir);
    }
    // A temporary file a crash leaves is named so start-up can clear it.
    if (!zkAtomicFile::WritePrivate(Path, SimListsText(Items)))
        throw EComponentError(QStringLiteral("Unable to write to %1").arg(Path));
}

template <typename F> void TSimListStore::Change(F&& change) {
    std::vector<TSimList> before = Items;
    change();
    try {
        Save();
    } catch (...) {
        Items = std::move(before);
        throw;
    }
}

const TSimList* TSimListStore::Find(int32_t id) const {
    auto it =
        std::find_if(Items.begin(), Items.end(), [id](const TSimList& l) { return l.Id == id; });
    return it == Items.end() ? nullptr : &*it;
}

TSimList& TSimListStore::FindOrCreate(int32_t id) {
    auto it =
        std::find_if(Items.begin(), Items.end(), [id](const TSimList& l) { return l.Id == id; });
    if (it != Items.end())
        return *it;
    Items.push_back(TSimList{id, QString(), {}});
    return Items.back();
}

void TSimListStore::SetName(int32_t id, const QString& name) {
    Change([&] { FindOrCreate(id).Name = name; });
}

void TSimListStore::Insert(int32_t id, const QString& symbol) {
    Change([&] { AppendUnique(FindOrCreate(id).Symbols, symbol); });
}

void TSimListStore::Remove(int32_t id, const QString& symbol) {
    const TSimList* list = Find(id);
    if (!list || !list->Symbols.contains(symbol))
        return;
    Change([&] { FindOrCreate(id).Symbols.removeAll(symbol); });
}

void TSimListStore::Replace(int32_t id, const QStringList& symbols) {
    Change([&] { FindOrCreate(id).Symbols = UniqueSymbols(symbols); });
}

void TSimListStore::Delete(int32_t id) {
    if (!Find(id))
        return;
    Change([&] {
        Items.erase(std::remove_if(Items.begin(), Items.end(),
                                   [id](const TSimList& l) { return l.Id == id; }),
                    Items.end());
    });
}

// --- TSimListOfLists ----------------------------------------------------------------------

TSimListOfLists::TSimListOfLists(std::shared_ptr<TSimService> service)
    : Service(std::move(service)), Guard(std::make_unique<QObject>()) {
    // A request made before the account is connected completes once it is.
    QObject::connect(Service.get(), &TSimService::StatusChanged, Guard.get(),
                     [this] { TryFinish(); });
}

TSimListOfLists::~TSimListOfLists() = default;

void TSimListOfLists::RequestLists() {
    ++Generation;
    Pending = true;
    Scheduled = false;
    TryFinish();
}

void TSimListOfLists::TryFinish() {
    if (!Pending || Scheduled || !Service->IsConnected())
        return;
    Scheduled = true;
    const unsigned generation = Generation;
    auto finish = [this, generation] {
        if (generation != Generation)
            return; // a later request took over
        Scheduled = false;
        std::shared_ptr<TSimListStore> store = Service->Lists();
        if (!store)
            return; // disconnected meanwhile: wait for the next connection
        Ids.clear();
        for (const TSimList& list : store->Lists())
            Ids.push_back(list.Id);
        NextIndex = 0;
        Pending = false;
        IsComplete = true;
    };
    // Without a delay the answer is there at once, as from a server that already had it.
    if (Service->ListDelayMs() <= 0)
        finish();
    else
        QTimer::singleShot(Service->ListDelayMs(), Guard.get(), finish);
}

void TSimListOfLists::RestartEnumeration() {
    NextIndex = 0;
}

std::shared_ptr<ISymbolListControl> TSimListOfLists::NextList() {
    if (NextIndex >= Ids.size())
        return nullptr;
    return std::make_shared<TSimSymbolList>(Service, Ids[NextIndex++]);
}

// --- TSimSymbolList -----------------------------------------------------------------------

TSimSymbolList::TSimSymbolList(std::shared_ptr<TSimService> service, int32_t id)
    : Service(std::move(service)), Guard(std::make_unique<QObject>()), Id(id) {}

TSimSymbolList::~TSimSymbolList() = default;

TSimListStore& TSimSymbolList::Store() const {
    std::shared_ptr<TSimListStore> store = Service->Lists();
    if (!store)
        throw EComponentError(QStringLiteral("Not connected to the server"));
    return *store; // the service keeps it for as long as it lives
}

void TSimSymbolList::InsertSymbol(const QString& symbol) {
    Store().Insert(Id, symbol);
}

void TSimSymbolList::RemoveSymbol(const QString& symbol) {
    Store().Remove(Id, symbol);
}

QString TSimSymbolList::ListName() const {
    std::shared_ptr<TSimListStore> store = Service->Lists();
    const TSimList* list = store ? store->Find(Id) : nullptr;
    return list ? list->Name : QString();
}

void TSimSymbolList::SetListName(const QString& name) {
    Store().SetName(Id, name);
}

void TSimSymbolList::BeginReplace() {
    Replacement = QStringList();
}

void TSimSymbolList::AddToReplacement(const QString& symbol) {
    if (!Replacement)
        throw EComponentError(QStringLiteral("No replacement has been begun"));
    Replacement->append(symbol);
}

void TSimSymbolList::FinishReplace() {
    // Finishing without a begin would silently empty the list.
    if (!Replacement)
        throw EComponentError(QStringLiteral("No replacement has been begun"));
    const QStringList symbols = *Replacement;
    Replacement.reset();
    Store().Replace(Id, symbols);
}

void TSimSymbolList::FetchSymbols() {
    IsFetching = true;
    Valid = false;
    Fetched.clear();
    auto finish = [this] {
        std::shared_ptr<TSimListStore> store = Service->Lists();
        const TSimList* list = store ? store->Find(Id) : nullptr;
        if (list) {
            Fetched = list->Symbols;
            Valid = true;
        }
        IsFetching = false;
    };
    if (Service->FetchDelayMs() <= 0)
        finish();
    else
        QTimer::singleShot(Service->FetchDelayMs(), Guard.get(), finish);
}

QString TSimSymbolList::SymbolAt(int32_t index) const {
    if (!Valid || index < 0 || index >= Fetched.size())
        throw EComponentError(QStringLiteral("Symbol index %1 out of range").arg(index));
    return Fetched.at(index);
}

int32_t TSimSymbolList::SymbolCount() const {
    return Valid ? int32_t(Fetched.size()) : 0;
}

void TSimSymbolList::RemoveList() {
    Store().Delete(Id);
}
