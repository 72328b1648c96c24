#include "zkUserStore.h"

#include "platform/zkErrors.h"
#include "platform/zkPaths.h"
#include "platform/zkSqliteFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int BusyTimeoutMs = 5000;
// Written into the file's header: this program's settings store ("VQST").
constexpr uint32_t StoreApplicationId = 0x56515354;
// Attempts at taking the write lock; each waits up to the busy timeout.
constexpr int WriteAttempts = 4;
// Setting up a new store (WAL mode, tables) while other processes do the same: SQLite answers
// "locked" at once, without its busy handler, where waiting could deadlock, so these attempts
// wait a little themselves, at most about 4 s in all.
constexpr int SetupAttempts = 40;

void BackOff(int attempt) {
    const int ms = std::min(attempt, 10) * 10 + int(QRandomGenerator::global()->bounded(10));
    QThread::msleep(ulong(ms));
}
constexpr qsizetype MaxValueNameLength = 16383;
constexpr int64_t RootKeyId = 1;

const char* const SchemaSql = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  path TEXT NOT NULL UNIQUE
);
CREATE INDEX IF NOT EXISTS keys_parent ON keys(parent);
CREATE TABLE IF NOT EXISTS vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  kind INTEGER NOT NULL,
  data,
  UNIQUE(key, folded)
);
INSERT OR IGNORE INTO keys(id, parent, name, path) VALUES(1, 0, '', '');
)sql";

// Key paths are kept folded and normalised ("\software\velquist client"; the root is ""), so
// one unique index finds a key, and a key's whole subtree is the range [path "\", path "]").
const char* const StatementSql[] = {
    "SELECT id FROM keys WHERE path=?1",
    "SELECT v.kind, v.data FROM keys k JOIN vals v ON v.key=k.id WHERE k.path=?1 AND v.folded=?2",
    "INSERT INTO keys(parent, name, path) VALUES(?1, ?2, ?3)",
    ("INSERT INTO vals(key, name, folded, kind, data) VALUES(?1, ?2, ?3, ?4, ?5) "
     "ON CONFLICT(key, folded) DO UPDATE SET kind=excluded.kind, data=excluded.data"),
    "DELETE FROM vals WHERE key=(SELECT id FROM keys WHERE path=?1) AND folded=?2",
    "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE path=?1 OR (path>=?2 AND path<?3))",
    "DELETE FROM keys WHERE (path=?1 AND id<>1) OR (path>=?2 AND path<?3)",
    "SELECT name FROM keys WHERE parent=(SELECT id FROM keys WHERE path=?1) ORDER BY id",
    "SELECT name, kind, data FROM vals WHERE key=(SELECT id FROM keys WHERE path=?1) ORDER BY id",
};

// Resets a statement when the scope ends, so it never holds a read snapshot open.
struct TReset {
    sqlite3_stmt* Statement;
    ~TReset() {
        sqlite3_reset(Statement);
        sqlite3_clear_bindings(Statement);
    }
};

void BindText(sqlite3_stmt* statement, int index, const QByteArray& text) {
    sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_STATIC);
}

// Paths and names are folded on every call, so plain ASCII, by far the common case, is
// lower-cased in one pass without Unicode tables.
QByteArray FoldedPath(const QString& path) {
    QByteArray folded(path.size() + 1, Qt::Uninitialized);
    char* out = folded.data();
    bool separator = true;
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u >= 0x80) {
            QString slow;
            for (const QStringView part : QStringView(path).tokenize(u'\\', Qt::SkipEmptyParts)) {
                slow += u'\\';
                slow += part;
            }
            return slow.toCaseFolded().toUtf8();
        }
        if (u == u'\\') {
            separator = true;
            continue;
        }
        if (separator)
            *out++ = '\\';
        separator = false;
        *out++ = char(u >= u'A' && u <= u'Z' ? u + 32 : u);
    }
    folded.truncate(out - folded.constData());
    return folded;
}

QByteArray FoldedName(const QString& name) {
    QByteArray folded(name.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name[i].unicode();
        if (u >= 0x80)
            return name.toCaseFolded().toUtf8();
        folded[i] = char(u >= u'A' && u <= u'Z' ? u + 32 : u);
    }
    return folded;
}

// Whether every name in the path can be a key's name.
bool ValidKeyPath(const QString& path) {
    for (const QStringView part : QStringView(path).tokenize(u'\\', Qt::SkipEmptyParts))
        if (part.size() > TUserStore::MaxKeyNameLength)
            return false;
    return true;
}

QByteArray EncodeStrings(const QStringList& strings) {
    QByteArray bytes;
    for (const QString& s : strings) {
        bytes += s.toUtf8();
        bytes += '\0';
    }
    return bytes;
}

QStringList DecodeStrings(const QByteArray& bytes) {
    QStringList strings;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\0', start);
        if (end < 0)
            end = bytes.size();
        strings.append(QString::fromUtf8(bytes.constData() + start, end - start));
        start = end + 1;
    }
    return strings;
}

TValueKind KnownKind(int kind) {
    switch (TValueKind(kind)) {
    case TValueKind::Sz:
    case TValueKind::ExpandSz:
    case TValueKind::Binary:
    case TValueKind::Dword:
    case TValueKind::MultiSz:
    case TValueKind::Qword:
        return TValueKind(kind);
    default:
        return TValueKind::None;
    }
}

TStoreValue ColumnValue(sqlite3_stmt* statement, int kindColumn, int dataColumn) {
    TStoreValue value;
    value.Kind = KnownKind(sqlite3_column_int(statement, kindColumn));
    const auto bytes = [&] {
        const void* data = sqlite3_column_blob(statement, dataColumn);
        return QByteArray(static_cast<const char*>(data),
                          sqlite3_column_bytes(statement, dataColumn));
    };
    switch (value.Kind) {
    case TValueKind::Dword:
        value.Number = int32_t(sqlite3_column_int64(statement, dataColumn));
        break;
    case TValueKind::Qword:
        value.Number = sqlite3_column_int64(statement, dataColumn);
        break;
    case TValueKind::Sz:
    case TValueKind::ExpandSz: {
        const auto* text =
            reinterpret_cast<const char*>(sqlite3_column_text(statement, dataColumn));
        value.Text = QString::fromUtf8(text, sqlite3_column_bytes(statement, dataColumn));
        break;
    }
    case TValueKind::Binary:
        value.Bytes = bytes();
        break;
    case TValueKind::MultiSz:
        value.Strings = DecodeStrings(bytes());
        break;
    case TValueKind::None:
        break;
    }
    return value;
}

bool BindValue(sqlite3_stmt* statement, int index, const TStoreValue& value) {
    switch (value.Kind) {
    case TValueKind::Dword:
        sqlite3_bind_int64(statement, index, int32_t(value.Number));
        return true;
    case TValueKind::Qword:
        sqlite3_bind_int64(statement, index, value.Number);
        return true;
    case TValueKind::Sz:
    case TValueKind::ExpandSz: {
        const QByteArray text = value.Text.toUtf8();
        sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        return true;
    }
    case TValueKind::Binary:
    case TValueKind::MultiSz: {
        const QByteArray bytes =
            value.Kind == TValueKind::Binary ? value.Bytes : EncodeStrings(value.Strings);
        if (bytes.isEmpty())
            sqlite3_bind_zeroblob(statement, index, 0);
        else
            sqlite3_bind_blob(statement, index, bytes.constData(), int(bytes.size()),
                              SQLITE_TRANSIENT);
        return true;
    }
    case TValueKind::None:
        break;
    }
    return false;
}

bool IsDamage(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

void Report(const QString& message) {
    std::fprintf(stderr, "velquist: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Moves a store file that cannot be used (damaged, a link, another program's database) and
// SQLite's files beside it out of the way; returns the new name, or an empty one when it
// could not be moved. A link is moved itself, never what it leads to.
QString MoveAside(const QString& fileName) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    return zkSqliteFile::SetAside(fileName, QStringLiteral(".corrupt-"), stamp);
}

std::mutex InstanceLock;
std::unique_ptr<TUserStore> TheInstance;
// A store is opened inside Instance(), under InstanceLock: the notice has a lock of its own.
std::mutex SetAsideLock;
QString SetAsideFile;

} // namespace

// ---------------------------------------------------------------------------------------------

QString ValueKindName(TValueKind kind) {
    switch (kind) {
    case TValueKind::Sz:
        return QStringLiteral("sz");
    case TValueKind::ExpandSz:
        return QStringLiteral("expand_sz");
    case TValueKind::Binary:
        return QStringLiteral("binary");
    case TValueKind::Dword:
        return QStringLiteral("dword");
    case TValueKind::MultiSz:
        return QStringLiteral("multi_sz");
    case TValueKind::Qword:
        return QStringLiteral("qword");
    case TValueKind::None:
        break;
    }
    return QString();
}

TValueKind ValueKindFromName(const QString& name) {
    for (TValueKind kind : {TValueKind::Sz, TValueKind::ExpandSz, TValueKind::Binary,
                            TValueKind::Dword, TValueKind::MultiSz, TValueKind::Qword})
        if (name.compare(ValueKindName(kind), Qt::CaseInsensitive) == 0)
            return kind;
    return TValueKind::None;
}

TStoreValue TStoreValue::Dword(int32_t value) {
    TStoreValue v;
    v.Kind = TValueKind::Dword;
    v.Number = value;
    return v;
}

TStoreValue TStoreValue::Qword(int64_t value) {
    TStoreValue v;
    v.Kind = TValueKind::Qword;
    v.Number = value;
    return v;
}

TStoreValue TStoreValue::Sz(const QString& text) {
    TStoreValue v;
    v.Kind = TValueKind::Sz;
    v.Text = text;
    return v;
}

TStoreValue TStoreValue::ExpandSz(const QString& text) {
    TStoreValue v;
    v.Kind = TValueKind::ExpandSz;
    v.Text = text;
    return v;
}

TStoreValue TStoreValue::Binary(const QByteArray& bytes) {
    TStoreValue v;
    v.Kind = TValueKind::Binary;
    v.Bytes = bytes;
    return v;
}

TStoreValue TStoreValue::MultiSz(const QStringList& strings) {
    TStoreValue v;
    v.Kind = TValueKind::MultiSz;
    v.Strings = strings;
    return v;
}

bool TStoreValue::operator==(const TStoreValue& other) const {
    return Kind == other.Kind && Number == other.Number && Text == other.Text &&
           Strings == other.Strings && Bytes == other.Bytes;
}

// ---------------------------------------------------------------------------------------------

TUserStore::TUserStore(const QString& fileName) : FileName(fileName) {
    QString problem;
    bool damaged = false;
    if (Open(&problem, &damaged))
        return;
    Close();
    if (damaged) {
        const QString aside = MoveAside(FileName);
        if (!aside.isEmpty()) {
            QString again;
            if (Open(&again, &damaged)) {
                Report(QStringLiteral("the settings store %1 could not be read (%2); it was moved "
                                      "to %3 and an empty store was started.")
                           .arg(FileName, problem, aside));
                std::lock_guard<std::mutex> lock(SetAsideLock);
                SetAsideFile = aside;
                return;
            }
            Close();
            problem = again;
        }
    }
    Report(QStringLiteral("the settings store %1 cannot be used (%2); settings are kept in "
                          "memory until the program ends.")
               .arg(FileName, problem));
    MemoryReason = problem;
    OpenInMemory();
}

TUserStore::~TUserStore() {
    if (Db && Depth > 0)
        sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
    Close();
}

QString TUserStore::TakeSetAsideFile() {
    std::lock_guard<std::mutex> lock(SetAsideLock);
    return std::exchange(SetAsideFile, QString());
}

QString TUserStore::DefaultFileName() {
    return zkPaths::ConfigDir() + QStringLiteral("/user-store.sqlite3");
}

TUserStore& TUserStore::Instance() {
    std::lock_guard<std::mutex> lock(InstanceLock);
    if (!TheInstance)
        TheInstance = std::make_unique<TUserStore>(DefaultFileName());
    return *TheInstance;
}

void TUserStore::ResetInstance() {
    std::lock_guard<std::mutex> lock(InstanceLock);
    TheInstance.reset();
}

bool TUserStore::Open(QString* problem, bool* damaged) {
    *damaged = false;
    const QFileInfo info(FileName);
    QString folderProblem;
    if (!zkPaths::EnsurePrivateDir(info.absolutePath(), &folderProblem)) {
        *problem = QStringLiteral("its folder %1").arg(folderProblem);
        return false;
    }
    const QByteArray path = QFile::encodeName(FileName);
    // Create the file ourselves, private to the user: SQLite gives its -wal and -shm files the
    // mode of the database file. Neither it nor those may be links, which would lead this
    // store to change another file.
    struct stat st = {};
    const bool existed = ::lstat(path.constData(), &st) == 0;
    if (const zkSqliteFile::TProblem found = zkSqliteFile::Prepare(FileName, true, true)) {
        *problem = found.Text;
        *damaged = existed || found.Fault != zkSqliteFile::TFault::Failed;
        return false;
    }

    int rc = sqlite3_open_v2(path.constData(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        *problem = QString::fromUtf8(Db ? sqlite3_errmsg(Db) : sqlite3_errstr(rc));
        *damaged = IsDamage(rc);
        return false;
    }
    sqlite3_busy_timeout(Db, BusyTimeoutMs);
    // Nothing is written before the file is known to be a store: another program's database
    // must not get our tables, nor be switched to a write-ahead log.
    zkSqliteFile::TProblem found = zkSqliteFile::CheckOpened(Db, FileName);
    if (!found)
        found =
            zkSqliteFile::CheckOwnership(Db, StoreApplicationId, {"keys", "keys_parent", "vals"});
    if (!found && !OurTablesFit()) {
        found.Fault = zkSqliteFile::TFault::Foreign;
        found.Text =
            QStringLiteral("not a settings store: %1").arg(QString::fromUtf8(sqlite3_errmsg(Db)));
    }
    if (found) {
        *problem = found.Text;
        *damaged = found.Fault == zkSqliteFile::TFault::Failed ? IsDamage(found.Code) : true;
        // Left as it was found: no checkpoint into another program's file at the close.
        if (found.Fault != zkSqliteFile::TFault::Failed)
            sqlite3_db_config(Db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        return false;
    }

    // Run one setup statement, retrying while another process holds the lock.
    const auto run = [&](const char* sql, QString* firstResult) {
        for (int attempt = 1;; ++attempt) {
            sqlite3_stmt* statement = nullptr;
            rc = sqlite3_prepare_v2(Db, sql, -1, &statement, nullptr);
            if (rc == SQLITE_OK) {
                rc = sqlite3_step(statement);
                if (rc == SQLITE_ROW && firstResult)
                    *firstResult = QString::fromUtf8(
                        reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
                if (rc == SQLITE_ROW || rc == SQLITE_DONE)
                    rc = SQLITE_OK;
            }
            sqlite3_finalize(statement);
            if ((rc & 0xff) != SQLITE_BUSY || attempt >= SetupAttempts)
                break;
            BackOff(attempt);
        }
        if (rc != SQLITE_OK) {
            *problem = QString::fromUtf8(sqlite3_errmsg(Db));
            *damaged = IsDamage(rc);
        }
        return rc == SQLITE_OK;
    };
    QString check;
    if (!run("PRAGMA journal_mode=WAL", nullptr) || !run("PRAGMA synchronous=NORMAL", nullptr) ||
        !run("PRAGMA quick_check", &check))
        return false;
    if (check != QLatin1String("ok")) {
        *problem = QStringLiteral("the database is damaged: %1").arg(check);
        *damaged = true;
        return false;
    }
    // The set-up below takes the write lock and commits; a store this program set up before
    // needs neither (and opens while another process writes to it).
    if (!IsSetUp() && !SetUp(run, problem, damaged))
        return false;
    // Preparing every statement checks that the tables are ours.
    for (int i = 0; i < StatementCount; ++i) {
        rc = sqlite3_prepare_v3(Db, StatementSql[i], -1, SQLITE_PREPARE_PERSISTENT, &Statements[i],
                                nullptr);
        if (rc != SQLITE_OK) {
            *problem = QStringLiteral("not a settings store: %1")
                           .arg(QString::fromUtf8(sqlite3_errmsg(Db)));
            *damaged = true;
            return false;
        }
    }
    Persistent = true;
    return true;
}

bool TUserStore::IsSetUp() {
    sqlite3_stmt* s = nullptr;
    bool ours = sqlite3_prepare_v2(Db, "PRAGMA application_id", -1, &s, nullptr) == SQLITE_OK &&
                sqlite3_step(s) == SQLITE_ROW &&
                uint32_t(sqlite3_column_int64(s, 0)) == StoreApplicationId;
    sqlite3_finalize(s);
    s = nullptr;
    // Fails to compile, and so answers no, while the keys table is missing.
    ours = ours &&
           sqlite3_prepare_v2(Db,
                              "SELECT (SELECT count(*) FROM sqlite_master WHERE name IN "
                              "('keys', 'keys_parent', 'vals')) = 3 AND "
                              "EXISTS(SELECT 1 FROM keys WHERE id=1 AND path='')",
                              -1, &s, nullptr) == SQLITE_OK &&
           sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) == 1;
    sqlite3_finalize(s);
    return ours;
}

bool TUserStore::SetUp(const std::function<bool(const char*, QString*)>& run, QString* problem,
                       bool* damaged) {
    if (!run("BEGIN IMMEDIATE", nullptr))
        return false;
    int rc = sqlite3_exec(Db, SchemaSql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(
            Db, ("PRAGMA application_id=" + QByteArray::number(StoreApplicationId)).constData(),
            nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        // An SQL error here means tables of the same names but another shape: not our file.
        // A full disk or the like is no reason to move the user's settings aside.
        *problem = QString::fromUtf8(sqlite3_errmsg(Db));
        *damaged = IsDamage(rc) || rc == SQLITE_ERROR;
        sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    if (!run("COMMIT", nullptr)) {
        sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

bool TUserStore::OurTablesFit() {
    // Tables of our names but another shape are another program's too: every statement this
    // store runs must compile on them. A new file has none yet.
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(Db, "SELECT count(*) FROM sqlite_master WHERE type='table'", -1, &s,
                                nullptr);
    const bool any = rc == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    if (!any)
        return true;
    for (const char* sql : StatementSql) {
        rc = sqlite3_prepare_v2(Db, sql, -1, &s, nullptr);
        sqlite3_finalize(s);
        if (rc != SQLITE_OK)
            return false;
    }
    return true;
}

void TUserStore::OpenInMemory() {
    Persistent = false;
    if (sqlite3_open(":memory:", &Db) != SQLITE_OK ||
        sqlite3_exec(Db, SchemaSql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail(SQLITE_ERROR, "opening a store in memory");
}

void TUserStore::Close() {
    for (sqlite3_stmt*& statement : Statements) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    if (Db)
        sqlite3_close_v2(Db);
    Db = nullptr;
}

void TUserStore::Fail(int rc, const char* what) {
    const QString detail =
        Db ? QString::fromUtf8(sqlite3_errmsg(Db)) : QString::fromUtf8(sqlite3_errstr(rc));
    throw EStoreError(QStringLiteral("The settings store could not complete %1: %2")
                          .arg(QLatin1String(what), detail));
}

sqlite3_stmt* TUserStore::Statement(TStatement which) {
    sqlite3_stmt*& statement = Statements[which];
    if (!statement) {
        const int rc = sqlite3_prepare_v3(Db, StatementSql[which], -1, SQLITE_PREPARE_PERSISTENT,
                                          &statement, nullptr);
        if (rc != SQLITE_OK)
            Fail(rc, "a statement");
    }
    return statement;
}

void TUserStore::Exec(const char* sql) {
    const int rc = sqlite3_exec(Db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        Fail(rc, sql);
}

// Takes the write lock up front, so that waiting for another process happens in the busy
// handler and not as a failed upgrade of a read transaction.
void TUserStore::BeginImmediate() {
    KeyIds.clear();
    for (int attempt = 1;; ++attempt) {
        const int rc = sqlite3_exec(Db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if ((rc & 0xff) == SQLITE_BUSY && attempt < WriteAttempts)
            continue;
        if (rc != SQLITE_OK)
            Fail(rc, "taking the write lock");
        return;
    }
}

// Runs a writing operation as one transaction: its own, or the open batch's.
template <typename F> bool TUserStore::Write(F&& work) {
    if (Depth > 0) {
        // SQLite ends a transaction by itself after some errors (a full disk, for one); the
        // batch is lost then, and further writes must not slip out one by one.
        if (!BatchError.isEmpty())
            return false;
        if (sqlite3_get_autocommit(Db)) {
            BatchError = QStringLiteral("the transaction was ended by an earlier error");
            return false;
        }
        try {
            return work();
        } catch (const EStoreError& e) {
            BatchError = e.message();
            throw;
        }
    }
    BeginImmediate();
    try {
        const bool result = work();
        Exec("COMMIT");
        return result;
    } catch (...) {
        sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

int64_t TUserStore::FindKeyId(const QByteArray& foldedPath) {
    sqlite3_stmt* statement = Statement(FindKey);
    TReset reset{statement};
    BindText(statement, 1, foldedPath);
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW)
        return sqlite3_column_int64(statement, 0);
    if (rc != SQLITE_DONE)
        Fail(rc, "finding a key");
    return -1;
}

// The id of a key, creating it and its missing parents. Inside the write transaction nobody
// else can change keys, so ids found are remembered until the transaction ends.
int64_t TUserStore::CreateKeyId(const QString& path, const QByteArray& folded) {
    const auto known = KeyIds.constFind(folded);
    if (known != KeyIds.cend())
        return *known;
    int64_t id = FindKeyId(folded);
    if (id < 0) {
        id = RootKeyId;
        QString prefix;
        for (const QStringView part : QStringView(path).tokenize(u'\\', Qt::SkipEmptyParts)) {
            prefix += u'\\';
            prefix += part.toString().toCaseFolded();
            const QByteArray prefixPath = prefix.toUtf8();
            const int64_t parent = id;
            id = FindKeyId(prefixPath);
            if (id >= 0)
                continue;
            sqlite3_stmt* statement = Statement(InsertKey);
            TReset reset{statement};
            const QByteArray name = part.toUtf8();
            sqlite3_bind_int64(statement, 1, parent);
            BindText(statement, 2, name);
            BindText(statement, 3, prefixPath);
            const int rc = sqlite3_step(statement);
            if (rc != SQLITE_DONE)
                Fail(rc, "creating a key");
            id = sqlite3_last_insert_rowid(Db);
        }
    }
    KeyIds.insert(folded, id);
    return id;
}

bool TUserStore::KeyExists(const QString& path) {
    return FindKeyId(FoldedPath(path)) >= 0;
}

bool TUserStore::CreateKey(const QString& path) {
    if (!ValidKeyPath(path))
        return false;
    const QByteArray folded = FoldedPath(path);
    return Write([&] {
        CreateKeyId(path, folded);
        return true;
    });
}

bool TUserStore::DeleteKey(const QString& path) {
    const QByteArray folded = FoldedPath(path);
    return Write([&] {
        if (FindKeyId(folded) < 0)
            return false;
        KeyIds.clear();
        const QByteArray first = folded + '\\';
        const QByteArray last = folded + ']';
        for (TStatement which : {DeleteTreeValues, DeleteTreeKeys}) {
            sqlite3_stmt* statement = Statement(which);
            TReset reset{statement};
            BindText(statement, 1, folded);
            BindText(statement, 2, first);
            BindText(statement, 3, last);
            const int rc = sqlite3_step(statement);
            if (rc != SQLITE_DONE)
                Fail(rc, "deleting a key");
        }
        return true;
    });
}

bool TUserStore::DeleteValue(const QString& path, const QString& name) {
    const QByteArray folded = FoldedPath(path);
    const QByteArray foldedName = FoldedName(name);
    return Write([&] {
        sqlite3_stmt* statement = Statement(DeleteValueStmt);
        TReset reset{statement};
        BindText(statement, 1, folded);
        BindText(statement, 2, foldedName);
        const int rc = sqlite3_step(statement);
        if (rc != SQLITE_DONE)
            Fail(rc, "deleting a value");
        return sqlite3_changes(Db) > 0;
    });
}

bool TUserStore::GetValue(const QString& path, const QString& name, TStoreValue& value) {
    sqlite3_stmt* statement = Statement(GetValueStmt);
    TReset reset{statement};
    const QByteArray folded = FoldedPath(path);
    const QByteArray foldedName = FoldedName(name);
    BindText(statement, 1, folded);
    BindText(statement, 2, foldedName);
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        Fail(rc, "reading a value");
    value = ColumnValue(statement, 0, 1);
    return true;
}

bool TUserStore::SetValue(const QString& path, const QString& name, const TStoreValue& value) {
    if (!ValidKeyPath(path) || name.size() > MaxValueNameLength || value.Kind == TValueKind::None)
        return false;
    const QByteArray folded = FoldedPath(path);
    const QByteArray storedName = name.toUtf8();
    const QByteArray foldedName = FoldedName(name);
    return Write([&] {
        const int64_t id = CreateKeyId(path, folded);
        sqlite3_stmt* statement = Statement(UpsertValue);
        TReset reset{statement};
        sqlite3_bind_int64(statement, 1, id);
        BindText(statement, 2, storedName);
        BindText(statement, 3, foldedName);
        sqlite3_bind_int(statement, 4, int(value.Kind));
        BindValue(statement, 5, value);
        const int rc = sqlite3_step(statement);
        if (rc != SQLITE_DONE)
            Fail(rc, "writing a value");
        return true;
    });
}

QStringList TUserStore::SubKeys(const QString& path) {
    sqlite3_stmt* statement = Statement(ListSubKeys);
    TReset reset{statement};
    const QByteArray folded = FoldedPath(path);
    BindText(statement, 1, folded);
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        names.append(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                              sqlite3_column_bytes(statement, 0)));
    if (rc != SQLITE_DONE)
        Fail(rc, "listing subkeys");
    return names;
}

std::vector<std::pair<QString, TStoreValue>> TUserStore::Values(const QString& path) {
    sqlite3_stmt* statement = Statement(ListValues);
    TReset reset{statement};
    const QByteArray folded = FoldedPath(path);
    BindText(statement, 1, folded);
    std::vector<std::pair<QString, TStoreValue>> values;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        values.emplace_back(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                              sqlite3_column_bytes(statement, 0)),
            ColumnValue(statement, 1, 2));
    if (rc != SQLITE_DONE)
        Fail(rc, "listing values");
    return values;
}

QStringList TUserStore::ValueNames(const QString& path) {
    QStringList names;
    for (const auto& [name, value] : Values(path))
        names.append(name);
    return names;
}

void TUserStore::BeginBatch() {
    if (Depth > 0) {
        Exec(QByteArray("SAVEPOINT b" + QByteArray::number(Depth)).constData());
        ++Depth;
        return;
    }
    BeginImmediate();
    BatchError.clear();
    Depth = 1;
}

void TUserStore::CommitBatch() {
    if (Depth == 0)
        return;
    if (Depth > 1) {
        --Depth;
        Exec(QByteArray("RELEASE b" + QByteArray::number(Depth)).constData());
        return;
    }
    Depth = 0;
    QString detail = BatchError;
    if (detail.isEmpty() && sqlite3_get_autocommit(Db))
        detail = QStringLiteral("the transaction was ended by an earlier error");
    if (detail.isEmpty()) {
        if (sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
            return;
        detail = QString::fromUtf8(sqlite3_errmsg(Db));
    }
    if (!sqlite3_get_autocommit(Db))
        sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw EStoreError(
        QStringLiteral("The settings store could not save a batch of changes: %1").arg(detail));
}

void TUserStore::RollbackBatch() {
    if (Depth == 0)
        return;
    if (Depth > 1) {
        --Depth;
        const QByteArray name = "b" + QByteArray::number(Depth);
        KeyIds.clear(); // keys created since the savepoint are gone
        Exec(QByteArray("ROLLBACK TO " + name).constData());
        Exec(QByteArray("RELEASE " + name).constData());
        return;
    }
    Depth = 0;
    if (!sqlite3_get_autocommit(Db))
        sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
}
