#pragma once

#include "desk/zkAlertLog.h"
#include "history/zkHistoryStore.h"

#include <QObject>

#include <memory>
#include <vector>

// Keeps every alert the windows take in the history file. RecordAlert (user-interface thread)
// only queues; a writer thread of its own appends the queue in one transaction a quarter
// second after its first alert, so a kill loses at most the last second, and removes alerts
// older than the kept period at start and once a day. With nothing queued it sleeps.
//
// Faults never stop the alert windows: a damaged file (or a link, or another program's
// database in its place) is set aside and a new one started. Alerts the file cannot take now
// (another program holds its lock, a full disk, a read-only folder) wait for the next attempt,
// a second later; what waits is bounded in count and bytes, and beyond that the oldest are
// dropped. Each kind of fault is announced once per run with Fault(); another program's lock
// is none, unless alerts had to be dropped for it. Nothing here waits on the file on the
// user-interface thread but Flush().
class TAlertRecorder : public QObject, public IAlertLog {
    Q_OBJECT
public:
    // Opens (or creates) the file at `path` on the writer thread. keepDays <= 0 records
    // nothing and empties the history.
    TAlertRecorder(const QString& path, int keepDays, QObject* parent = nullptr);
    // Writes what is queued, then stops the writer.
    ~TAlertRecorder() override;

    void RecordAlert(const QString& window, const IAlertData& alert) override;
    void RecordRefused(const QString& window, const IAlertData& alert,
                       const QString& rule) override;
    // Written by the writer at once, in one transaction with the keys of the messages, which
    // are kept for longer than a broker keeps a desk's session.
    std::optional<std::vector<bool>> KeepMessages(const std::vector<TLoggedMessage>& messages,
                                                  int timeoutMs) override;
    // More than BehindBytes of alerts are queued or being written.
    bool IsBehind() const override;
    static constexpr qint64 BehindBytes = qint64(16) << 20;
    // Also usable without a component alert (tests, benchmarks).
    void Record(THistoryAlert alert);

    // A new kept period; removes what is now too old at once (0: everything, and stops
    // recording).
    void SetKeepDays(int keepDays);
    int KeepDays() const;

    // Blocks until the writer has tried to write everything queued before the call (what the
    // file cannot take stays for the next attempt). It may wait for another program's lock:
    // not for the user-interface thread of the client (tests, tools).
    void Flush();

    QString Path() const;
    // Alerts that never reached the file this run: dropped while it could not take them, or
    // while it did not keep up with them (any thread).
    quint64 DroppedCount() const;
    // Times the writer thread woke from waiting for work (tests, benchmarks): none while
    // nothing comes.
    quint64 WriterWakeups() const;

signals:
    // Alerts just written, with their Ids, in order (user-interface thread).
    void AlertsStored(const std::vector<THistoryAlert>& alerts);
    // A fault to tell the user, once per kind per run: the text is ready for a message box.
    void Fault(const QString& text);
    // DroppedCount() grew to `total` (user-interface thread; at most once a writer round).
    void AlertsDropped(quint64 total);

private:
    struct TWriter;
    std::unique_ptr<TWriter> Writer;
};

// The texts of the faults.
QString HistoryDamagedText(const QString& setAsidePath);
QString HistoryUnwritableText(const QString& reason);
// A file set aside for `kind` (a damaged one: HistoryDamagedText).
QString HistorySetAsideText(THistoryStore::TAside kind, const QString& reason,
                            const QString& setAsidePath);
// Alerts dropped because the file could not take them for too long.
QString HistoryDroppedText(const QString& reason, quint64 dropped);
