#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// The kinds a stored value can have (numbered as the registry numbers them).
enum class TValueKind : int {
    None = 0,
    Sz = 1,
    ExpandSz = 2,
    Binary = 3,
    Dword = 4,
    MultiSz = 7,
    Qword = 11,
};

// "dword", "sz", ...; empty for None.
QString ValueKindName(TValueKind kind);
// The kind of a name as ValueKindName gives it (any letter case); None when unknown.
TValueKind ValueKindFromName(const QString& name);

struct TStoreValue {
    TValueKind Kind = TValueKind::None;
    int64_t Number = 0;  // Dword (32-bit signed range) and Qword
    QString Text;        // Sz and ExpandSz
    QStringList Strings; // MultiSz
    QByteArray Bytes;    // Binary

    static TStoreValue Dword(int32_t value);
    static TStoreValue Qword(int64_t value);
    static TStoreValue Sz(const QString& text);
    static TStoreValue ExpandSz(const QString& text);
    static TStoreValue Binary(const QByteArray& bytes);
    static TStoreValue MultiSz(const QStringList& strings);
    bool operator==(const TStoreValue& other) const;
};

// The per-user store: a tree of keys named by backslash paths ("\Software\Velquist Client"),
// each holding named values of the kinds above; an empty name is the key's default value.
// Key and value names compare without letter case and keep the case they were created with;
// a key exists apart from its values, and creating a key creates its missing parents.
//
// Kept in one SQLite file (WAL, so readers never wait, and a busy timeout with retries, so two
// processes writing at once both succeed). One connection stays open with its statements
// prepared, so a read costs microseconds. A store is used from one thread at a time; another
// thread or process opens its own.
//
// Failures of the database raise EStoreError; missing keys and values are results, not errors.
class TUserStore {
public:
    // Opens (creating when missing) the store in that file, in a folder made private to the
    // user. A file that cannot be read or is not a store is moved aside to
    // "<file>.corrupt-<yyyyMMdd-hhmmss>" and an empty store started, which stderr is told once.
    explicit TUserStore(const QString& fileName);
    ~TUserStore();
    TUserStore(const TUserStore&) = delete;
    TUserStore& operator=(const TUserStore&) = delete;

    // The process's store in DefaultFileName(), opened on first use.
    static TUserStore& Instance();
    // Closes the process's store; the next Instance() opens the default file again (tests set
    // XDG_CONFIG_HOME and then call this).
    static void ResetInstance();
    // $XDG_CONFIG_HOME/velquist/user-store.sqlite3
    static QString DefaultFileName();
    // The name a damaged store was moved to since the last call, once; empty when none was.
    // The client tells the user in a message box (stderr alone is seldom read).
    static QString TakeSetAsideFile();

    const QString& fileName() const { return FileName; }
    // False when the file could not be used at all and the store lives in memory only.
    bool isPersistent() const { return Persistent; }
    // Why the file could not be used, when the store lives in memory; empty otherwise.
    const QString& memoryReason() const { return MemoryReason; }

    bool KeyExists(const QString& path);
    // False when a name in the path is not a valid key name (empty paths name the root).
    bool CreateKey(const QString& path);
    // Removes the key with its values and subkeys; false when it does not exist. Deleting the
    // root empties the store.
    bool DeleteKey(const QString& path);
    bool DeleteValue(const QString& path, const QString& name);
    // False when the key or the value does not exist.
    bool GetValue(const QString& path, const QString& name, TStoreValue& value);
    // Creates the key and its parents when missing; false (nothing written) when the key
    // cannot be created.
    bool SetValue(const QString& path, const QString& name, const TStoreValue& value);
    // Subkey names as stored, in creation order.
    QStringList SubKeys(const QString& path);
    // Value names as stored, in the order the values were first written.
    QStringList ValueNames(const QString& path);
    std::vector<std::pair<QString, TStoreValue>> Values(const QString& path);

    // One transaction around many operations. Batches nest (inner ones are savepoints); only
    // the outermost commit reaches the file. RollbackBatch undoes the innermost open batch.
    // A write that failed inside a batch makes the outermost commit roll back and raise.
    void BeginBatch();
    void CommitBatch();
    void RollbackBatch();
    int batchDepth() const { return Depth; }

    // Longest key name accepted, as the registry has it.
    static constexpr int MaxKeyNameLength = 255;

private:
    enum TStatement {
        FindKey,
        GetValueStmt,
        InsertKey,
        UpsertValue,
        DeleteValueStmt,
        DeleteTreeValues,
        DeleteTreeKeys,
        ListSubKeys,
        ListValues,
        StatementCount
    };

    bool Open(QString* problem, bool* damaged);
    void Close();
    // Whether the tables of the open file, if it has any, are of the shape this store uses.
    bool OurTablesFit();
    // Whether the file holds our tables, root key and application id already.
    bool IsSetUp();
    // Creates what IsSetUp looks for, in one write transaction; run runs one statement,
    // retrying while another process holds the lock.
    bool SetUp(const std::function<bool(const char*, QString*)>& run, QString* problem,
               bool* damaged);
    void OpenInMemory();
    sqlite3_stmt* Statement(TStatement which);
    void Exec(const char* sql);
    [[noreturn]] void Fail(int rc, const char* what);
    void BeginImmediate();
    template <typename F> bool Write(F&& work);
    int64_t FindKeyId(const QByteArray& foldedPath);
    int64_t CreateKeyId(const QString& path, const QByteArray& folded);

    QString FileName;
    sqlite3* Db = nullptr;
    sqlite3_stmt* Statements[StatementCount] = {};
    int Depth = 0;
    QString BatchError;                // why the open batch can no longer be committed
    QHash<QByteArray, int64_t> KeyIds; // folded path -> id, within one write transaction
    bool Persistent = true;
    QString MemoryReason;
};

// Scope of one batch of a store: rolled back unless committed.
class TUserStoreBatch {
public:
    explicit TUserStoreBatch(TUserStore& store) : Store(store) { Store.BeginBatch(); }
    ~TUserStoreBatch() {
        if (!Done) {
            try {
                Store.RollbackBatch();
            } catch (...) {
            }
        }
    }
    TUserStoreBatch(const TUserStoreBatch&) = delete;
    TUserStoreBatch& operator=(const TUserStoreBatch&) = delete;
    void Commit() {
        Done = true;
        Store.CommitBatch();
    }

private:
    TUserStore& Store;
    bool Done = false;
};
