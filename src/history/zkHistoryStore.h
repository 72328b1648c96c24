#pragma once

#include "platform/zkErrors.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zkSqliteFile {
struct TProblem;
}

// The alert history file could not be opened, read or written (the text says why).
ZK_DECLARE_ERROR(EHistoryError, EZkError)

// One alert as the history keeps it.
struct THistoryAlert {
    qint64 Id = 0;     // row number once stored (grows with every alert); 0 before
    qint64 TimeMs = 0; // UTC, milliseconds since 1970-01-01
    QString Window;
    QString Symbol;
    double Price = 0;
    QString Description;
    QString Source; // "service", "feed" or "inbox"
    // The rule by which the window refused it (it was never shown); empty: shown.
    QString Refused;

    bool operator==(const THistoryAlert&) const = default;
};

// What a search keeps. Every part is optional; all given parts must hold.
struct THistoryFilter {
    QString SymbolPrefix;          // case-insensitive (ASCII) prefix; empty: any symbol
    std::optional<QString> Window; // exact name
    std::optional<qint64> FromMs;  // inclusive
    std::optional<qint64> ToMs;    // inclusive

    // The same test the store's queries make, for alerts that arrive while a view is open.
    bool Matches(const THistoryAlert& alert) const;
};

// Where a page of newest-first results continues: strictly older than this (time, id).
struct THistoryCursor {
    qint64 TimeMs = 0;
    qint64 Id = 0;
};

// The alert history file: SQLite in WAL mode, 0600 in a private folder. One object is one
// connection for one thread; readers (the history window, velquist-history) open their own
// and see what the writer has committed.
class THistoryStore {
public:
    enum class TMode { ReadWrite, ReadOnly };
    // Why a file was set aside.
    enum class TAside { None, Damaged, Linked, Foreign };

    // How long a statement waits for another connection's lock before it raises (a thread
    // that must not wait passes 0).
    static constexpr int DefaultBusyTimeoutMs = 5000;

    // $XDG_DATA_HOME/velquist/history.sqlite3.
    static QString DefaultPath();

    // Opens the file, creating it (and its tables) in ReadWrite mode. Links are never
    // followed, for the file nor for SQLite's files beside it. In ReadWrite mode a file that is
    // not a history is renamed aside with SQLite's files beside it, and a new one started:
    // damaged (or not a database at all), a symbolic link (the link is moved, never what it
    // leads to), something else than a plain file, or another program's database (another
    // application id, or tables of its own); SetAsidePath() then tells where it went and
    // SetAsideKind() why. Nothing is written to a file before it is known to be a history.
    // Raises EHistoryError when the file cannot be opened or created (a ReadOnly open of a
    // missing file, a link or another program's database raises too).
    THistoryStore(const QString& path, TMode mode, int busyTimeoutMs = DefaultBusyTimeoutMs);
    ~THistoryStore();
    THistoryStore(const THistoryStore&) = delete;
    THistoryStore& operator=(const THistoryStore&) = delete;

    QString Path() const { return FilePath; }
    QString SetAsidePath() const { return SetAside; }
    TAside SetAsideKind() const { return SetAsideWhy; }
    // What was found wrong with the file set aside.
    QString SetAsideReason() const { return SetAsideProblem; }

    // Appends the alerts in one transaction and sets each one's Id. Raises EHistoryError
    // (nothing written) on failure; IsDamage() tells whether the file itself is at fault.
    void Append(std::vector<THistoryAlert>& alerts);
    // Messages from a broker, each under a key: a message whose key is not kept yet is kept
    // with its alerts (the first counts[i] of `alerts` after those of the messages before it
    // belong to keys[i]), all in one transaction. Returns for each message whether it was new;
    // `alerts` keeps only those of new messages, with their Ids. Raises as Append does.
    std::vector<bool> AppendMessages(const std::vector<quint64>& keys,
                                     const std::vector<size_t>& counts,
                                     std::vector<THistoryAlert>& alerts, qint64 nowMs);
    // Forgets the keys of messages kept before beforeMs; returns how many.
    qint64 RemoveMessageKeysOlderThan(qint64 beforeMs);
    // Removes alerts with TimeMs < beforeMs; returns how many.
    qint64 RemoveOlderThan(qint64 beforeMs);

    // Up to `limit` alerts matching the filter, newest first (time, then Id), strictly older
    // than `after` when given.
    std::vector<THistoryAlert> Page(const THistoryFilter& filter,
                                    const std::optional<THistoryCursor>& after, int limit);
    qint64 Count(const THistoryFilter& filter);
    // The highest Id stored (0 for none): alerts announced later with an Id up to it are
    // already in any page read before.
    qint64 LastId();
    // Every window name that has alerts, sorted case-insensitively.
    QStringList WindowNames();
    // Every matching alert, oldest first; stops early when `sink` returns false.
    void ForEach(const THistoryFilter& filter,
                 const std::function<bool(const THistoryAlert&)>& sink);

    // Whether an EHistoryError came from a damaged file (as opposed to a full disk, a
    // read-only folder...).
    static bool IsDamage(const EHistoryError& error);
    // Whether it came from another connection holding the file's lock (worth trying again).
    static bool IsBusy(const EHistoryError& error);
    // Renames a damaged file aside with its -wal and -shm; returns the new name, empty when it
    // could not be moved. Call it before the writer's connection closes: closing removes the
    // -wal of a file it found damaged.
    static QString SetAsideFile(const QString& path);

private:
    struct TQuery;
    void Open(bool write);
    void Close();
    // Raises what the file's check found (nothing when it found nothing).
    void RaiseFileProblem(const zkSqliteFile::TProblem& problem, bool write);
    // Raises when the tables are not those of a history.
    void CheckShape();
    qint64 NameId(QHash<QString, qint64>& cache, const char* table, const QString& name);
    void InsertAlerts(const THistoryAlert* alerts, size_t count, std::vector<qint64>& ids);
    // Runs work in one write transaction, rolled back when it raises.
    void InTransaction(const std::function<void()>& work);
    TQuery Prepare(const THistoryFilter& filter);
    const char* ChooseIndex(const TQuery& query);
    static THistoryAlert ReadAlert(sqlite3_stmt* statement);
    bool ColumnExists(const char* column);
    // The columns ReadAlert reads, joined with the names.
    QByteArray AlertColumns() const;

    QString FilePath;
    QString SetAside;
    TAside SetAsideWhy = TAside::None;
    QString SetAsideProblem;
    int BusyMs;
    sqlite3* Db = nullptr;
    bool HasRefused = false; // an older file read as it is has no "refused" column
    // Numbers of the names written by this connection (a writer's only).
    QHash<QString, qint64> Windows;
    QHash<QString, qint64> Symbols;
};

// CSV (RFC 4180, UTF-8, CRLF line ends): the header line and one line per alert, time as ISO
// 8601 UTC with milliseconds ("2026-12-09T14:30:05.123Z").
QByteArray HistoryCsvHeader(); // "time,window,symbol,price,description,source\r\n"
QByteArray HistoryCsvLine(const THistoryAlert& alert);
// One text field of a line: quoted when it holds '"', ',', CR or LF. A field that a spreadsheet
// would run as a formula (it starts with "=", "+", "-", "@", TAB or CR and is not a plain
// number such as "-1.5") gets a leading "'".
void AppendHistoryCsvField(QByteArray& line, const QString& text);
