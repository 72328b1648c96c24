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
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace {

// Above this many symbols in all, a store's file is written on the writer thread.
constexpr qsizetype LargeStore = 50000;

// The simulated server's disk: list files are written on a thread of its own, in the order
// of the changes; a write whose file already has a newer one waiting is skipped. A new store
// waits for the writes before it reads its file, and the program's end for all of them.
class TListFileWriter {
public:
    static TListFileWriter& Instance() {
        static TListFileWriter writer;
        return writer;
    }
    ~TListFileWriter() {
        {
            const std::lock_guard<std::mutex> lock(Lock);
            Stopping = true;
        }
        Wake.notify_all();
        if (Thread.joinable())
            Thread.join();
    }
    void Post(const QString& path, std::function<void()> write) {
        const std::lock_guard<std::mutex> lock(Lock);
        Jobs.push_back({path, std::move(write)});
        if (!Thread.joinable())
            Thread = std::thread([this] { Run(); });
        Wake.notify_all();
    }
    bool Pending(const QString& path) {
        const std::lock_guard<std::mutex> lock(Lock);
        return Running == path ||
               std::any_of(Jobs.begin(), Jobs.end(), [&](const TJob& j) { return j.Path == path; });
    }
    bool Busy() {
        const std::lock_guard<std::mutex> lock(Lock);
        return !Jobs.empty() || !Running.isNull();
    }
    void Flush() {
        std::unique_lock<std::mutex> lock(Lock);
        Idle.wait(lock, [this] { return Jobs.empty() && Running.isNull(); });
    }

private:
    struct TJob {
        QString Path;
        std::function<void()> Write;
    };
    void Run() {
        std::unique_lock<std::mutex> lock(Lock);
        for (;;) {
            Wake.wait(lock, [this] { return Stopping || !Jobs.empty(); });
            if (Jobs.empty())
                return;
            TJob job = std::move(Jobs.front());
            Jobs.pop_front();
            const bool newer = std::any_of(Jobs.begin(), Jobs.end(),
                                           [&](const TJob& j) { return j.Path == job.Path; });
            Running = job.Path;
            lock.unlock();
            if (!newer)
                job.Write();
            job = TJob(); // what it holds is freed here too
            lock.lock();
            Running = QString();
            if (Jobs.empty())
                Idle.notify_all();
        }
    }

    std::mutex Lock;
    std::condition_variable Wake;
    std::condition_variable Idle;
    std::deque<TJob> Jobs;
    QString Running;
    bool Stopping = false;
    std::thread Thread;
};

void AppendUnique(QStringList& symbols, const QString& symbol) {
    if (!symbol.isEmpty() && !symbols.contains(symbol))
        symbols.append(symbol);
}

// QString::compare with letter case ignored, quicker for the ASCII part of the strings.
int CompareFolded(const QString& a, const QString& b) {
    const qsizetype n = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        char16_t ca = a.at(i).unicode();
        char16_t cb = b.at(i).unicode();
        if (ca >= 0x80 || cb >= 0x80)
            return QStringView(a).mid(i).compare(QStringView(b).mid(i), Qt::CaseInsensitive);
        if (ca >= u'A' && ca <= u'Z')
            ca += u'a' - u'A';
        if (cb >= u'A' && cb <= u'Z')
            cb += u'a' - u'A';
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// Whether the symbols hold no empty one and no repeat, told without a lookup for a list in
// ascending order (letter case ignored), which is how the client sends its lists.
bool StrictlyAscending(const QStringList& symbols) {
    for (qsizetype i = 0; i < symbols.size(); ++i) {
        if (symbols.at(i).isEmpty())
            return false;
        if (i > 0 && CompareFolded(symbols.at(i - 1), symbols.at(i)) >= 0)
            return false;
    }
    return true;
}

// The same for a whole list at once, without the quadratic search (lists of thousands).
QStringList UniqueSymbols(const QStringList& symbols) {
    if (StrictlyAscending(symbols))
        return symbols;
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

bool SimListWritesPending() {
    return TListFileWriter::Instance().Busy();
}

void FlushSimListWrites() {
    TListFileWriter::Instance().Flush();
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

namespace {

// A string as QJsonDocument writes it: printable ASCII as it is, anything else as Qt escapes
// and encodes it.
void AppendJsonString(QByteArray& json, const QString& s) {
    const qsizetype at = json.size();
    json.resize(at + s.size() + 2);
    char* out = json.data() + at;
    *out++ = '"';
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u >= 0x7f || u == u'"' || u == u'\\') {
            json.truncate(at);
            const QByteArray one = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
            json.append(one.constData() + 1, one.size() - 2); // without the brackets
            return;
        }
        *out++ = char(u);
    }
    *out = '"';
}

} // namespace

QByteArray SimListsText(const std::vector<TSimList>& lists) {
    // Written directly, in QJsonDocument's indented layout: building the document first costs
    // seconds for a list of a million symbols.
    qsizetype size = 64;
    for (const TSimList& list : lists) {
        size += 128 + list.Name.size() * 6;
        for (const QString& s : list.Symbols)
            size += s.size() + 20;
    }
    QByteArray json;
    json.reserve(size);
    json += "{\n    \"lists\": [\n";
    for (size_t i = 0; i < lists.size(); ++i) {
        const TSimList& list = lists[i];
        json += "        {\n            \"id\": ";
        json += QByteArray::number(list.Id);
        json += ",\n            \"name\": ";
        AppendJsonString(json, list.Name);
        json += ",\n            \"symbols\": [\n";
        for (qsizetype j = 0; j < list.Symbols.size(); ++j) {
            json += "                ";
            AppendJsonString(json, list.Symbols.at(j));
            json += j + 1 < list.Symbols.size() ? ",\n" : "\n";
        }
        json += "            ]\n        }";
        json += i + 1 < lists.size() ? ",\n" : "\n";
    }
    json += "    ]\n}\n";
    return json;
}

void TSimListStore::Load(bool seedSamples, TSimService* reporter) {
    TListFileWriter::Instance().Flush(); // what an earlier store of the file still writes
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

void TSimListStore::Save(std::vector<TSimList>& before) const {
    const QString dir = QFileInfo(Path).absolutePath();
    if (!QFileInfo::exists(dir)) {
        zkPaths::EnsurePrivateDir(QFileInfo(dir).absolutePath());
        zkPaths::EnsurePrivateDir(dir);
    }
    // A temporary file a crash leaves is named so start-up can clear it.
    auto replacement = std::make_shared<zkAtomicFile::TReplacement>();
    if (!replacement->Begin(Path, true))
        throw EComponentError(QStringLiteral("Unable to write to %1").arg(Path));
    qsizetype symbols = 0;
    for (const TSimList& list : Items)
        symbols += list.Symbols.size();
    TListFileWriter& writer = TListFileWriter::Instance();
    if (symbols <= LargeStore && !writer.Pending(Path)) {
        if (!replacement->Finish(SimListsText(Items)))
            throw EComponentError(QStringLiteral("Unable to write to %1").arg(Path));
        return;
    }
    // Written behind, and the lists it replaced freed there too: both take long for a
    // million symbols. The file could be created, so what remains can fail only for lack of
    // room or a failing disk, which is reported.
    writer.Post(Path, [replacement, items = Items, garbage = std::move(before), path = Path] {
        QString problem;
        if (!replacement->Finish(SimListsText(items), &problem))
            std::fprintf(stderr,
                         "velquist simulated service: symbol lists %s could not be written (%s)\n",
                         path.toLocal8Bit().constData(), problem.toLocal8Bit().constData());
    });
}

template <typename F> void TSimListStore::Change(F&& change) {
    std::vector<TSimList> before = Items;
    change();
    try {
        Save(before);
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

void TSimSymbolList::AddAllToReplacement(const QStringList& symbols) {
    if (!Replacement)
        throw EComponentError(QStringLiteral("No replacement has been begun"));
    if (Replacement->isEmpty())
        *Replacement = symbols; // shared, not copied one by one
    else
        *Replacement += symbols;
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
