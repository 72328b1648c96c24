#include "zkHistoryStore.h"

#include "platform/zkPaths.h"
#include "platform/zkSqliteFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names whose numbers the writer remembers, per kind; past it, it starts over.
constexpr qsizetype MaxCachedNames = 20000;
// A prefix of several symbols is searched through their index when it holds fewer matches
// than this (all of them are sorted by time); otherwise through the time index, where one
// alert in 200 or more then matches.
constexpr int IndexPlanBound = 50000;

// The file is a document of this program: alerts refer to their window and symbol by number
// (a few bytes an alert instead of the names), and the three indexes answer the history
// window's searches: by time, by symbol and by window, each ordered by time. Ids grow for
// ever (AUTOINCREMENT), so an emptied history never hands out an Id seen before.
const char* const SchemaSql = R"sql(
CREATE TABLE IF NOT EXISTS windows(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS symbols(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS alerts(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  time INTEGER NOT NULL,
  window INTEGER NOT NULL,
  symbol INTEGER NOT NULL,
  price REAL NOT NULL,
  description TEXT NOT NULL,
  source,
  refused TEXT
);
CREATE INDEX IF NOT EXISTS alerts_time ON alerts(time);
CREATE INDEX IF NOT EXISTS alerts_symbol ON alerts(symbol, time);
CREATE INDEX IF NOT EXISTS alerts_window ON alerts(window, time);
CREATE TABLE IF NOT EXISTS broker_messages(key INTEGER PRIMARY KEY, time INTEGER NOT NULL);
)sql";

// Added after the first files were made: older files get it when the writer opens them, and a
// reader of an older file reads every alert as shown. An older version reads past it.
const char* const RefusedColumnSql = "ALTER TABLE alerts ADD COLUMN refused TEXT";

// Written into the file's header: this program's alert history ("VQHS").
constexpr uint32_t HistoryApplicationId = 0x56514853;

// The file itself is at fault (as opposed to the disk, the folder or a lock): damaged, a link,
// or not a history at all. It is set aside.
class EHistoryDamage : public EHistoryError {
public:
    explicit EHistoryDamage(const QString& text,
                            THistoryStore::TAside kind = THistoryStore::TAside::Damaged)
        : EHistoryError(text), Kind(kind) {}
    QString className() const override { return QStringLiteral("EHistoryDamage"); }
    THistoryStore::TAside Kind;
};

// Another program holds the file's lock: worth trying again.
ZK_DECLARE_ERROR(EHistoryBusy, EHistoryError)

bool IsDamageCode(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

[[noreturn]] void Fail(sqlite3* db, int rc, const QString& what) {
    const QString detail = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    const QString text = QStringLiteral("%1: %2").arg(what, detail);
    if (IsDamageCode(rc))
        throw EHistoryDamage(text);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
        throw EHistoryBusy(text);
    throw EHistoryError(text);
}

// One prepared statement, finalized when the scope ends.
class TStatement {
public:
    TStatement(sqlite3* db, const QByteArray& sql) : Db(db) {
        const int rc = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &S, nullptr);
        if (rc != SQLITE_OK)
            Fail(db, rc, QStringLiteral("reading the alert history"));
    }
    ~TStatement() { sqlite3_finalize(S); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
    // True for a row, false when done; raises on an error.
    bool Step() {
        const int rc = sqlite3_step(S);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            Fail(Db, rc, QStringLiteral("reading the alert history"));
        return false;
    }
    sqlite3_stmt* operator*() const { return S; }

private:
    sqlite3* Db;
    sqlite3_stmt* S = nullptr;
};

QString ColumnText(sqlite3_stmt* s, int column) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                             sqlite3_column_bytes(s, column));
}

void BindText(sqlite3_stmt* s, int index, const QByteArray& text) {
    sqlite3_bind_text(s, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

// Sources are kept as small numbers; a source this version does not know is kept as text.
const QString SourceNames[] = {QStringLiteral("service"), QStringLiteral("feed"),
                               QStringLiteral("inbox")};

void BindSource(sqlite3_stmt* s, int index, const QString& source) {
    for (int i = 0; i < int(std::size(SourceNames)); ++i)
        if (source == SourceNames[i]) {
            sqlite3_bind_int(s, index, i);
            return;
        }
    BindText(s, index, source.toUtf8());
}

QString ColumnSource(sqlite3_stmt* s, int column) {
    if (sqlite3_column_type(s, column) == SQLITE_INTEGER) {
        const int i = sqlite3_column_int(s, column);
        return i >= 0 && i < int(std::size(SourceNames)) ? SourceNames[i] : QString();
    }
    return ColumnText(s, column);
}

// ASCII letters fold; everything else compares as it is (symbols are ASCII in practice).
char16_t FoldAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
}

bool HasPrefixFolded(const QString& text, const QString& prefix) {
    if (text.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i)
        if (FoldAscii(text[i].unicode()) != FoldAscii(prefix[i].unicode()))
            return false;
    return true;
}

// Moves the file and SQLite's files beside it aside, named for why; returns the new name
// (empty on failure).
QString MoveAside(const QString& fileName, THistoryStore::TAside kind) {
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    const QString tag = kind == THistoryStore::TAside::Linked    ? QStringLiteral(".link-")
                        : kind == THistoryStore::TAside::Foreign ? QStringLiteral(".foreign-")
                                                                 : QStringLiteral(".damaged-");
    return zkSqliteFile::SetAside(fileName, tag, stamp);
}

QByteArray IdList(const std::vector<qint64>& ids) {
    QByteArray list;
    list.reserve(qsizetype(ids.size()) * 6);
    for (qint64 id : ids) {
        if (!list.isEmpty())
            list += ',';
        list += QByteArray::number(id);
    }
    return list;
}

} // namespace

// ---------------------------------------------------------------------------------------------

bool THistoryFilter::Matches(const THistoryAlert& alert) const {
    if (FromMs && alert.TimeMs < *FromMs)
        return false;
    if (ToMs && alert.TimeMs > *ToMs)
        return false;
    if (Window && alert.Window != *Window)
        return false;
    return SymbolPrefix.isEmpty() || HasPrefixFolded(alert.Symbol, SymbolPrefix);
}

QString THistoryStore::DefaultPath() {
    return zkPaths::DataDir() + QStringLiteral("/history.sqlite3");
}

bool THistoryStore::IsDamage(const EHistoryError& error) {
    return dynamic_cast<const EHistoryDamage*>(&error) != nullptr;
}

bool THistoryStore::IsBusy(const EHistoryError& error) {
    return dynamic_cast<const EHistoryBusy*>(&error) != nullptr;
}

QString THistoryStore::SetAsideFile(const QString& path) {
    return MoveAside(path, TAside::Damaged);
}

THistoryStore::THistoryStore(const QString& path, TMode mode, int busyTimeoutMs)
    : FilePath(path), BusyMs(busyTimeoutMs) {
    try {
        if (mode == TMode::ReadOnly) {
            // A reader never creates the file, nor moves a damaged one: the client does that.
            if (!QFileInfo::exists(path))
                throw EHistoryError(QStringLiteral("there is no alert history at %1").arg(path));
            Open(false);
            return;
        }
        // The client's own data folder is made private; another folder (tests, benchmarks) is
        // only created when missing.
        const QString folder = QFileInfo(path).absolutePath();
        const bool own = folder == QFileInfo(zkPaths::DataDir()).absoluteFilePath();
        QString problem;
        if ((own || !QFileInfo(folder).isDir()) && !zkPaths::EnsurePrivateDir(folder, &problem))
            throw EHistoryError(QStringLiteral("the folder %1 %2").arg(folder, problem));
        try {
            Open(true);
        } catch (const EHistoryDamage& error) {
            // Moved while the connection is still open: closing it would delete the -wal
            // beside the damaged file, which may hold the newest alerts.
            SetAside = MoveAside(path, error.Kind);
            SetAsideWhy = error.Kind;
            SetAsideProblem = error.message();
            // Another program's file is left as it was found: no checkpoint into it when
            // its connection closes.
            if (Db && error.Kind != TAside::Damaged)
                sqlite3_db_config(Db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
            Close();
            if (SetAside.isEmpty())
                throw EHistoryError(
                    QStringLiteral("%1 (it could not be set aside)").arg(error.message()));
            Open(true);
        }
    } catch (...) {
        Close(); // no destructor runs for a constructor that raises
        throw;
    }
}

THistoryStore::~THistoryStore() {
    Close();
}

void THistoryStore::Close() {
    if (Db)
        sqlite3_close_v2(Db);
    Db = nullptr;
    Windows.clear();
    Symbols.clear();
}

void THistoryStore::RaiseFileProblem(const zkSqliteFile::TProblem& problem, bool write) {
    using zkSqliteFile::TFault;
    switch (problem.Fault) {
    case TFault::None:
        return;
    case TFault::Linked:
    case TFault::NotAFile:
    case TFault::Foreign: {
        const QString text =
            problem.Fault == TFault::Foreign
                ? QStringLiteral("%1 is not an alert history: %2").arg(FilePath, problem.Text)
                : problem.Text;
        // Only the writer sets a file aside; a reader says what it found.
        if (!write)
            throw EHistoryError(text);
        throw EHistoryDamage(text,
                             problem.Fault == TFault::Linked ? TAside::Linked : TAside::Foreign);
    }
    case TFault::Failed:
        if (problem.Code != 0)
            Fail(Db, problem.Code, QStringLiteral("opening %1").arg(FilePath));
        throw EHistoryError(problem.Text);
    }
}

void THistoryStore::Open(bool write) {
    const QByteArray name = QFile::encodeName(FilePath);
    // Neither the file nor SQLite's files beside it may be links. Created by us, private
    // whatever the umask; SQLite gives -wal and -shm the mode of the database file.
    RaiseFileProblem(zkSqliteFile::Prepare(FilePath, write, write), write);
    const int flags = (write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(name.constData(), &Db, flags, nullptr);
    if (rc != SQLITE_OK)
        Fail(Db, rc, QStringLiteral("opening %1").arg(FilePath));
    RaiseFileProblem(zkSqliteFile::CheckOpened(Db, FilePath), write);
    sqlite3_busy_timeout(Db, BusyMs);
    // Nothing is written before the file is known to be a history: another program's
    // database must not get our tables, nor be switched to a write-ahead log.
    RaiseFileProblem(
        zkSqliteFile::CheckOwnership(Db, HistoryApplicationId,
                                     {"windows", "symbols", "alerts", "alerts_time",
                                      "broker_messages", "alerts_symbol", "alerts_window"}),
        write);
    // SQLite's 2 MB page cache holds little of a file of millions of alerts: a day's rows of
    // one symbol lie on thousands of pages, and the writer adds to the symbol index's leaves
    // of thousands of symbols. Memory is taken only as pages are read.
    sqlite3_exec(Db, write ? "PRAGMA cache_size=-16384" : "PRAGMA cache_size=-32768", nullptr,
                 nullptr, nullptr);
    const auto exec = [this](const char* sql) {
        const int rc = sqlite3_exec(Db, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            Fail(Db, rc, QStringLiteral("opening %1").arg(FilePath));
    };
    if (write) {
        bool tables = false;
        {
            // Finalized at once: a statement left open would hold a read transaction.
            TStatement count(Db, "SELECT count(*) FROM sqlite_master WHERE type='table'");
            tables = count.Step() && sqlite3_column_int(*count, 0) > 0;
        }
        // Tables of our names but of another shape are another program's too.
        if (tables)
            CheckShape();
        exec("PRAGMA journal_mode=WAL");
        // A commit reaches the log at once; a crash of the program loses nothing committed,
        // and a power cut at worst the last commits.
        exec("PRAGMA synchronous=NORMAL");
        rc = sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            Fail(Db, rc, QStringLiteral("opening %1").arg(FilePath));
        rc = sqlite3_exec(Db, SchemaSql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
            // Tables of these names but another shape: not our file.
            if ((rc & 0xff) == SQLITE_ERROR)
                throw EHistoryDamage(QStringLiteral("%1 is not an alert history: %2")
                                         .arg(FilePath, QString::fromUtf8(sqlite3_errmsg(Db))));
            Fail(Db, rc, QStringLiteral("opening %1").arg(FilePath));
        }
        if (!ColumnExists("refused")) {
            rc = sqlite3_exec(Db, RefusedColumnSql, nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK) {
                sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
                Fail(Db, rc, QStringLiteral("opening %1").arg(FilePath));
            }
        }
        exec(("PRAGMA application_id=" + QByteArray::number(HistoryApplicationId)).constData());
        exec("COMMIT");
    }
    CheckShape();
    HasRefused = ColumnExists("refused");
}

bool THistoryStore::ColumnExists(const char* column) {
    sqlite3_stmt* s = nullptr;
    const QByteArray sql = QByteArray("SELECT ") + column + " FROM alerts LIMIT 0";
    const int rc = sqlite3_prepare_v2(Db, sql.constData(), -1, &s, nullptr);
    sqlite3_finalize(s);
    return rc == SQLITE_OK;
}

void THistoryStore::CheckShape() {
    // Reading every column of each table checks the file is a history of this shape.
    for (const char* sql :
         {"SELECT id, name FROM windows LIMIT 0", "SELECT id, name FROM symbols LIMIT 0",
          "SELECT id, time, window, symbol, price, description, source "
          "FROM alerts LIMIT 0"}) {
        sqlite3_stmt* s = nullptr;
        const int rc = sqlite3_prepare_v2(Db, sql, -1, &s, nullptr);
        sqlite3_finalize(s);
        if (rc != SQLITE_OK) {
            const QString text = QStringLiteral("%1 is not an alert history: %2")
                                     .arg(FilePath, QString::fromUtf8(sqlite3_errmsg(Db)));
            if (IsDamageCode(rc))
                throw EHistoryDamage(text);
            if ((rc & 0xff) == SQLITE_ERROR)
                throw EHistoryDamage(text, TAside::Foreign);
            Fail(Db, rc, text);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

qint64 THistoryStore::NameId(QHash<QString, qint64>& cache, const char* table,
                             const QString& name) {
    const auto found = cache.constFind(name);
    if (found != cache.constEnd())
        return *found;
    const QByteArray utf8 = name.toUtf8();
    qint64 id = 0;
    {
        TStatement select(Db, QByteArray("SELECT id FROM ") + table + " WHERE name=?1");
        BindText(*select, 1, utf8);
        if (select.Step())
            id = sqlite3_column_int64(*select, 0);
    }
    if (id == 0) {
        TStatement insert(Db, QByteArray("INSERT INTO ") + table + "(name) VALUES(?1)");
        BindText(*insert, 1, utf8);
        const int rc = sqlite3_step(*insert);
        if (rc != SQLITE_DONE)
            Fail(Db, rc, QStringLiteral("writing the alert history"));
        id = sqlite3_last_insert_rowid(Db);
    }
    // Symbols never seen again (a sender making up a new one for every alert) would otherwise
    // pile up here for as long as the client runs.
    if (cache.size() >= MaxCachedNames)
        cache.clear();
    cache.insert(name, id);
    return id;
}

void THistoryStore::InsertAlerts(const THistoryAlert* alerts, size_t count,
                                 std::vector<qint64>& ids) {
    TStatement insert(Db, "INSERT INTO alerts(time, window, symbol, price, description, "
                          "source, refused) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    for (size_t i = 0; i < count; ++i) {
        const THistoryAlert& alert = alerts[i];
        sqlite3_bind_int64(*insert, 1, alert.TimeMs);
        sqlite3_bind_int64(*insert, 2, NameId(Windows, "windows", alert.Window));
        sqlite3_bind_int64(*insert, 3, NameId(Symbols, "symbols", alert.Symbol));
        sqlite3_bind_double(*insert, 4, alert.Price);
        BindText(*insert, 5, alert.Description.toUtf8());
        BindSource(*insert, 6, alert.Source);
        if (alert.Refused.isEmpty())
            sqlite3_bind_null(*insert, 7);
        else
            BindText(*insert, 7, alert.Refused.toUtf8());
        const int rc = sqlite3_step(*insert);
        if (rc != SQLITE_DONE)
            Fail(Db, rc, QStringLiteral("writing the alert history"));
        sqlite3_reset(*insert);
        ids.push_back(sqlite3_last_insert_rowid(Db));
    }
}

void THistoryStore::InTransaction(const std::function<void()>& work) {
    int rc = sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        Fail(Db, rc, QStringLiteral("writing the alert history"));
    try {
        work();
        rc = sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            Fail(Db, rc, QStringLiteral("writing the alert history"));
    } catch (...) {
        sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
        // Names inserted in the rolled-back transaction are gone again.
        Windows.clear();
        Symbols.clear();
        throw;
    }
}

void THistoryStore::Append(std::vector<THistoryAlert>& alerts) {
    if (alerts.empty())
        return;
    std::vector<qint64> ids;
    ids.reserve(alerts.size());
    InTransaction([&] { InsertAlerts(alerts.data(), alerts.size(), ids); });
    for (size_t i = 0; i < alerts.size(); ++i)
        alerts[i].Id = ids[i];
}

std::vector<bool> THistoryStore::AppendMessages(const std::vector<quint64>& keys,
                                                const std::vector<size_t>& counts,
                                                std::vector<THistoryAlert>& alerts, qint64 nowMs) {
    std::vector<bool> fresh(keys.size(), false);
    std::vector<qint64> ids;
    ids.reserve(alerts.size());
    InTransaction([&] {
        TStatement remember(Db, "INSERT OR IGNORE INTO broker_messages(key, time) VALUES(?1, ?2)");
        size_t first = 0;
        for (size_t m = 0; m < keys.size(); ++m) {
            sqlite3_bind_int64(*remember, 1, qint64(keys[m]));
            sqlite3_bind_int64(*remember, 2, nowMs);
            const int rc = sqlite3_step(*remember);
            if (rc != SQLITE_DONE)
                Fail(Db, rc, QStringLiteral("writing the alert history"));
            sqlite3_reset(*remember);
            // Kept before: the broker delivered it again.
            fresh[m] = sqlite3_changes(Db) > 0;
            if (fresh[m])
                InsertAlerts(alerts.data() + first, counts[m], ids);
            first += counts[m];
        }
    });
    // Only the new messages' alerts stay, with their Ids.
    std::vector<THistoryAlert> kept;
    kept.reserve(ids.size());
    size_t first = 0;
    for (size_t m = 0; m < keys.size(); ++m) {
        if (fresh[m])
            for (size_t i = first; i < first + counts[m]; ++i)
                kept.push_back(std::move(alerts[i]));
        first += counts[m];
    }
    for (size_t i = 0; i < kept.size(); ++i)
        kept[i].Id = ids[i];
    alerts.swap(kept);
    return fresh;
}

qint64 THistoryStore::RemoveMessageKeysOlderThan(qint64 beforeMs) {
    TStatement remove(Db, "DELETE FROM broker_messages WHERE time<?1");
    sqlite3_bind_int64(*remove, 1, beforeMs);
    remove.Step();
    return sqlite3_changes64(Db);
}

qint64 THistoryStore::RemoveOlderThan(qint64 beforeMs) {
    // Removing everything (nothing is kept) empties the table at once rather than row by row.
    TStatement remove(Db, beforeMs == std::numeric_limits<qint64>::max()
                              ? "DELETE FROM alerts"
                              : "DELETE FROM alerts WHERE time<?1");
    sqlite3_bind_int64(*remove, 1, beforeMs);
    remove.Step();
    return sqlite3_changes64(Db);
}

// ---------------------------------------------------------------------------------------------
// Reading

// How a filter becomes SQL: the matching symbols' and window's numbers, and the conditions.
struct THistoryStore::TQuery {
    bool Empty = false;                           // nothing can match
    std::optional<std::vector<qint64>> SymbolIds; // none: any symbol
    std::optional<qint64> WindowId;
    qint64 From = std::numeric_limits<qint64>::min();
    qint64 To = std::numeric_limits<qint64>::max();
    std::optional<THistoryCursor> Before;

    // Every part but `skip` ("symbol" or "window"), as SQL over the alerts table.
    // Only numbers go into the text, so nothing a user typed can change the statement.
    QByteArray Where(const char* skip = "", const QByteArray& table = QByteArray()) const {
        QByteArray where =
            table + "time BETWEEN " + QByteArray::number(From) + " AND " + QByteArray::number(To);
        if (SymbolIds && std::strcmp(skip, "symbol") != 0)
            where += SymbolIds->size() == 1
                         ? " AND " + table + "symbol=" + QByteArray::number(SymbolIds->front())
                         : " AND " + table + "symbol IN (" + IdList(*SymbolIds) + ")";
        if (WindowId && std::strcmp(skip, "window") != 0)
            where += " AND " + table + "window=" + QByteArray::number(*WindowId);
        if (Before)
            where += " AND (" + table + "time, " + table + "id) < (" +
                     QByteArray::number(Before->TimeMs) + ", " + QByteArray::number(Before->Id) +
                     ")";
        return where;
    }
};

THistoryStore::TQuery THistoryStore::Prepare(const THistoryFilter& filter) {
    TQuery query;
    if (filter.FromMs)
        query.From = *filter.FromMs;
    if (filter.ToMs)
        query.To = *filter.ToMs;
    if (query.From > query.To)
        query.Empty = true;
    if (filter.Window) {
        TStatement select(Db, "SELECT id FROM windows WHERE name=?1");
        BindText(*select, 1, filter.Window->toUtf8());
        if (select.Step())
            query.WindowId = sqlite3_column_int64(*select, 0);
        else
            query.Empty = true;
    }
    if (!filter.SymbolPrefix.isEmpty()) {
        // A few thousand names: matched here, by the same rule as Matches(), rather than by
        // LIKE, whose wildcards and case rules would need escaping.
        std::vector<qint64> ids;
        TStatement select(Db, "SELECT id, name FROM symbols");
        while (select.Step())
            if (HasPrefixFolded(ColumnText(*select, 1), filter.SymbolPrefix))
                ids.push_back(sqlite3_column_int64(*select, 0));
        if (ids.empty())
            query.Empty = true;
        query.SymbolIds = std::move(ids);
    }
    return query;
}

// Which index a search walks, so that a page costs little whatever the filter:
// - one window: its index gives that window's alerts in time order, a subset of what the time
//   index would visit, in the same order; the other parts are checked on the way;
// - one symbol: the same with the symbol index;
// - a prefix of several symbols: their index entries must be sorted by time, so it pays only
//   for few matches (counted up to a bound, which costs little); with more, matches are
//   common enough that the time index (or the window's) fills a page soon.
// SQLite's own choice sorts every match of a common prefix.
const char* THistoryStore::ChooseIndex(const TQuery& query) {
    const auto bounded = [this, &query](const char* index, const char* skip) {
        TStatement count(Db, QByteArray("SELECT count(*) FROM (SELECT 1 FROM alerts INDEXED BY ") +
                                 index + " WHERE " + query.Where(skip) + " LIMIT " +
                                 QByteArray::number(IndexPlanBound) + ")");
        count.Step();
        return sqlite3_column_int64(*count, 0);
    };
    if (!query.SymbolIds)
        return query.WindowId ? "alerts_window" : "alerts_time";
    const bool ordered = query.SymbolIds->size() == 1;
    if (ordered && !query.WindowId)
        return "alerts_symbol";
    // Each counted alone: the other part is not in that index.
    const qint64 symbols = bounded("alerts_symbol", "window");
    if (query.WindowId) {
        const qint64 windows = bounded("alerts_window", "symbol");
        return symbols <= windows && (ordered || symbols < IndexPlanBound) ? "alerts_symbol"
                                                                           : "alerts_window";
    }
    return ordered || symbols < IndexPlanBound ? "alerts_symbol" : "alerts_time";
}

THistoryAlert THistoryStore::ReadAlert(sqlite3_stmt* s) {
    THistoryAlert alert;
    alert.Id = sqlite3_column_int64(s, 0);
    alert.TimeMs = sqlite3_column_int64(s, 1);
    alert.Window = ColumnText(s, 2);
    alert.Symbol = ColumnText(s, 3);
    alert.Price = sqlite3_column_double(s, 4);
    alert.Description = ColumnText(s, 5);
    alert.Source = ColumnSource(s, 6);
    alert.Refused = ColumnText(s, 7);
    return alert;
}

QByteArray THistoryStore::AlertColumns() const {
    return QByteArray("SELECT a.id, a.time, w.name, s.name, a.price, a.description, a.source, ") +
           (HasRefused ? "a.refused" : "NULL") +
           " FROM alerts a JOIN windows w ON w.id=a.window JOIN symbols s ON s.id=a.symbol ";
}

std::vector<THistoryAlert> THistoryStore::Page(const THistoryFilter& filter,
                                               const std::optional<THistoryCursor>& after,
                                               int limit) {
    std::vector<THistoryAlert> page;
    TQuery query = Prepare(filter);
    query.Before = after;
    if (query.Empty || limit <= 0)
        return page;
    if (after && after->TimeMs < query.To)
        query.To = after->TimeMs;
    if (query.From > query.To)
        return page;
    // Ids first, from the index alone where it can; then the few rows themselves.
    std::vector<qint64> ids;
    {
        TStatement select(Db, QByteArray("SELECT id FROM alerts INDEXED BY ") + ChooseIndex(query) +
                                  " WHERE " + query.Where() +
                                  " ORDER BY time DESC, id DESC LIMIT " +
                                  QByteArray::number(limit));
        while (select.Step())
            ids.push_back(sqlite3_column_int64(*select, 0));
    }
    TStatement row(Db, AlertColumns() + "WHERE a.id=?1");
    for (qint64 id : ids) {
        sqlite3_bind_int64(*row, 1, id);
        if (row.Step())
            page.push_back(ReadAlert(*row));
        sqlite3_reset(*row);
    }
    return page;
}

qint64 THistoryStore::Count(const THistoryFilter& filter) {
    const TQuery query = Prepare(filter);
    if (query.Empty)
        return 0;
    TStatement count(Db, QByteArray("SELECT count(*) FROM alerts INDEXED BY ") +
                             ChooseIndex(query) + " WHERE " + query.Where());
    count.Step();
    return sqlite3_column_int64(*count, 0);
}

qint64 THistoryStore::LastId() {
    TStatement select(Db, "SELECT max(id) FROM alerts");
    select.Step();
    return sqlite3_column_int64(*select, 0);
}

QStringList THistoryStore::WindowNames() {
    QStringList names;
    TStatement select(Db, "SELECT name FROM windows w WHERE EXISTS (SELECT 1 FROM alerts "
                          "INDEXED BY alerts_window WHERE window=w.id)");
    while (select.Step())
        names.append(ColumnText(*select, 0));
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}

void THistoryStore::ForEach(const THistoryFilter& filter,
                            const std::function<bool(const THistoryAlert&)>& sink) {
    // The names from memory rather than joined for each row: an export reads millions of rows
    // and a few thousand names. Read in the same transaction as the rows, so every row's names
    // are there.
    sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr);
    struct TEnd {
        sqlite3* Db;
        ~TEnd() { sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr); }
    } end{Db};
    const TQuery query = Prepare(filter);
    if (query.Empty)
        return;
    QHash<qint64, QString> windows, symbols;
    for (auto [table, names] : {std::pair{"windows", &windows}, std::pair{"symbols", &symbols}}) {
        TStatement select(Db, QByteArray("SELECT id, name FROM ") + table);
        while (select.Step())
            names->insert(sqlite3_column_int64(*select, 0), ColumnText(*select, 1));
    }
    TStatement select(Db, QByteArray("SELECT id, time, window, symbol, price, description, "
                                     "source, ") +
                              (HasRefused ? "refused" : "NULL") + " FROM alerts INDEXED BY " +
                              QByteArray(ChooseIndex(query)) + " WHERE " + query.Where() +
                              " ORDER BY time, id");
    THistoryAlert alert;
    while (select.Step()) {
        sqlite3_stmt* s = *select;
        alert.Id = sqlite3_column_int64(s, 0);
        alert.TimeMs = sqlite3_column_int64(s, 1);
        alert.Window = windows.value(sqlite3_column_int64(s, 2));
        alert.Symbol = symbols.value(sqlite3_column_int64(s, 3));
        alert.Price = sqlite3_column_double(s, 4);
        alert.Description = ColumnText(s, 5);
        alert.Source = ColumnSource(s, 6);
        alert.Refused = ColumnText(s, 7);
        if (!sink(alert))
            return;
    }
}

// ---------------------------------------------------------------------------------------------

QByteArray HistoryCsvHeader() {
    return QByteArrayLiteral("time,window,symbol,price,description,source\r\n");
}

namespace {
// "2026-12-09T14:30:05.123Z"; an export writes millions, so without QDateTime's formatting.
void AppendIsoTime(QByteArray& line, qint64 ms) {
    qint64 days = ms / 86400000;
    qint64 rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    const int n = std::snprintf(
        text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
        static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
        static_cast<long long>(rest / 3600000), static_cast<long long>(rest / 60000 % 60),
        static_cast<long long>(rest / 1000 % 60), static_cast<long long>(rest % 1000));
    line.append(text, n);
}

// Optional sign, digits with an optional fraction, an optional exponent: a spreadsheet reads it
// as the number it is, so a leading "-" or "+" there runs nothing.
bool IsPlainNumber(const QByteArray& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9')
        ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && text[i] >= '0' && text[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        qsizetype exponentDigits = 0;
        while (i < n && text[i] >= '0' && text[i] <= '9')
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return false;
    }
    return i == n;
}
} // namespace

void AppendHistoryCsvField(QByteArray& line, const QString& text) {
    QByteArray utf8 = text.toUtf8();
    // A spreadsheet runs a cell that starts like a formula ("=HYPERLINK(...)", "+cmd|...",
    // "@SUM(...)"); a leading apostrophe makes it text, and the apostrophe is not shown.
    if (!utf8.isEmpty() && QByteArrayView("=+-@\t\r").contains(utf8[0]) && !IsPlainNumber(utf8))
        utf8.prepend('\'');
    bool quote = false;
    for (const char c : utf8)
        if (c == '"' || c == ',' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    if (!quote) {
        line += utf8;
        return;
    }
    line += '"';
    for (const char c : utf8) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

QByteArray HistoryCsvLine(const THistoryAlert& alert) {
    QByteArray line;
    line.reserve(96);
    AppendIsoTime(line, alert.TimeMs);
    line += ',';
    AppendHistoryCsvField(line, alert.Window);
    line += ',';
    AppendHistoryCsvField(line, alert.Symbol);
    line += ',';
    // The shortest decimal that reads back as the same number, without an exponent.
    line += QByteArray::number(alert.Price, 'f', QLocale::FloatingPointShortest);
    line += ',';
    AppendHistoryCsvField(line, alert.Description);
    line += ',';
    AppendHistoryCsvField(line, alert.Source);
    line += "\r\n";
    return line;
}
