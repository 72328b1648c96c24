#include "zkAlertRecorder.h"

#include "components/zkComponents.h"

#include <QDateTime>
#include <QLocale>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;
// A batch is written this long after its first alert was queued.
constexpr auto BatchInterval = std::chrono::milliseconds(250);
// A queue this long is written at once rather than at the next quarter second.
constexpr size_t BatchSoon = 20000;
// The queue the user-interface thread fills; the writer empties it every round, also while the
// file cannot be written, so it holds only what comes during one round (which may wait 5 s
// for another program's lock). Beyond either bound its oldest alerts are dropped.
constexpr size_t QueueLimit = 250000;
constexpr size_t QueueTextLimit = 8u << 20; // UTF-16 units: 16 MB
// Alerts the file could not take yet (another program holds its lock, the disk is full): kept
// and written with the next attempt, up to these bounds; beyond them the oldest are dropped.
constexpr size_t PendingLimit = 100000;
constexpr size_t PendingByteLimit = 32u << 20;
// After a failed attempt, the next one waits this long (a lock's own wait comes on top).
constexpr qint64 RetryMs = 1000;
constexpr qint64 DayMs = 24LL * 60 * 60 * 1000;
constexpr qint64 OwnWorkLatestMs = 60LL * 60 * 1000;
// How long the keys of broker messages are kept: longer than a broker keeps a desk's session
// (and so may deliver a message again).
constexpr qint64 MessageKeyMs = 8 * DayMs;
constexpr int WriterNice = 10;

const QString SourceService = QStringLiteral("service");
const QString SourceFeed = QStringLiteral("feed");
const QString SourceInbox = QStringLiteral("inbox");
const QString SourceBroker = QStringLiteral("broker");

const QString& SourceName(TAlertSource source) {
    switch (source) {
    case TAlertSource::Feed:
        return SourceFeed;
    case TAlertSource::Inbox:
        return SourceInbox;
    case TAlertSource::Broker:
        return SourceBroker;
    case TAlertSource::Service:
        break;
    }
    return SourceService;
}

// What RecordAlert queues: the texts' characters copied into one buffer, so the user-interface
// thread shares no string with the writer (whose reference counting would pull the strings'
// memory from one core to the other for every alert) and allocates only when the buffer grows.
struct TQueued {
    qint64 TimeMs;
    double Price;
    size_t Text;       // where its texts begin: window, symbol, description, source, refused
    quint32 Length[5]; // their lengths
};

struct TQueue {
    std::vector<TQueued> Items;
    std::vector<char16_t> Text;
    qint64 Bytes = 0; // of every item pushed, dropped ones included (their texts stay)

    void Reserve() {
        Items.reserve(4096);
        Text.reserve(4096 * 48);
    }
    void Clear() {
        Items.clear();
        Text.clear();
        Bytes = 0;
    }
    // The bytes it added.
    qint64 Push(qint64 timeMs, double price, std::initializer_list<QStringView> texts) {
        TQueued item{timeMs, price, Text.size(), {}};
        int i = 0;
        for (const QStringView text : texts) {
            item.Length[i++] = quint32(text.size());
            Text.insert(Text.end(), text.utf16(), text.utf16() + text.size());
        }
        Items.push_back(item);
        const qint64 bytes = qint64(sizeof(TQueued) + (Text.size() - item.Text) * sizeof(char16_t));
        Bytes += bytes;
        return bytes;
    }
    // Drops the oldest `count` items and their texts.
    void DropOldest(size_t count) {
        count = std::min(count, Items.size());
        const size_t text = count < Items.size() ? Items[count].Text : Text.size();
        Items.erase(Items.begin(), Items.begin() + qsizetype(count));
        Text.erase(Text.begin(), Text.begin() + qsizetype(text));
        for (TQueued& item : Items)
            item.Text -= text;
    }
};

// What an alert waiting for the file holds in memory, near enough: its texts (the names are
// shared, but counted whole so that a flood of new names is bounded too) and the object.
size_t PendingBytes(const THistoryAlert& alert) {
    return sizeof(THistoryAlert) + 64 +
           size_t(alert.Window.size() + alert.Symbol.size() + alert.Description.size() +
                  alert.Refused.size()) *
               2;
}

// The writer's names: one string for each window, symbol and source, shared by its alerts.
class TNames {
public:
    QString Get(const char16_t* text, qsizetype n) {
        const std::u16string_view key(text, size_t(n));
        const auto found = Names.find(key);
        if (found != Names.end())
            return found->second;
        if (Names.size() > 20000) {
            // A flood of names never seen again; start over, their texts too.
            Names.clear();
            Owned.clear();
        }
        QString name = QString::fromUtf16(text, n);
        // The key views the map's own copy of the string, which never changes.
        auto stored = std::make_unique<QString>(name);
        const std::u16string_view storedKey(reinterpret_cast<const char16_t*>(stored->utf16()),
                                            size_t(stored->size()));
        Owned.push_back(std::move(stored));
        Names.emplace(storedKey, name);
        return name;
    }

private:
    std::unordered_map<std::u16string_view, QString> Names;
    std::vector<std::unique_ptr<QString>> Owned;
};

} // namespace

QString HistoryDamagedText(const QString& setAsidePath) {
    return QObject::tr("The alert history was damaged. It was set aside as \"%1\" and a new "
                       "history was started.")
        .arg(setAsidePath);
}

QString HistoryUnwritableText(const QString& reason) {
    return QObject::tr("Alerts cannot be kept in the alert history: %1. They keep showing in "
                       "their windows.")
        .arg(reason);
}

QString HistorySetAsideText(THistoryStore::TAside kind, const QString& reason,
                            const QString& setAsidePath) {
    switch (kind) {
    case THistoryStore::TAside::Linked:
        return QObject::tr("The alert history was not used: %1, and links are not followed. "
                           "The link was set aside as \"%2\" (what it leads to was not "
                           "touched) and a new history was started.")
            .arg(reason, setAsidePath);
    case THistoryStore::TAside::Foreign:
        return QObject::tr("The alert history was not used: %1. It was set aside, untouched, "
                           "as \"%2\" and a new history was started.")
            .arg(reason, setAsidePath);
    case THistoryStore::TAside::None:
    case THistoryStore::TAside::Damaged:
        break;
    }
    return HistoryDamagedText(setAsidePath);
}

QString HistoryDroppedText(const QString& reason, quint64 dropped) {
    return QObject::tr("The alert history could not be written for a while (%1). Alerts wait "
                       "for it, up to %2 of them; beyond that the oldest waiting are dropped "
                       "from the history (%3 so far). They keep showing in their windows.")
        .arg(reason, QLocale().toString(qulonglong(PendingLimit)),
             QLocale().toString(qulonglong(dropped)));
}

// Messages from a broker waiting to be kept, and the answer (KeepMessages waits for it).
struct TJournal {
    const std::vector<TLoggedMessage>* Messages = nullptr;
    std::vector<bool> Fresh;
    bool Done = false;
    bool Kept = false;
};

struct TAlertRecorder::TWriter {
    TAlertRecorder* Owner;
    QString Path;
    std::atomic<int> KeepDays;

    std::mutex Lock;
    std::condition_variable Wake; // the writer waits here
    std::condition_variable Done; // Flush waits here
    TQueue Queue;
    // Rounds of the writer (take the queue, prune if due, write) begun and finished; a Flush
    // waits for the end of a round begun after it.
    quint64 RoundsBegun = 0;
    quint64 RoundsDone = 0;
    bool FlushWanted = false;
    bool PruneWanted = false;
    bool Stopping = false;
    // Alerts dropped from the queue, for the writer to tell.
    quint64 QueueDropped = 0;
    // What waits in the queue or is being taken from it, for IsBehind: alerts the writer has
    // taken wait for the file in its own bounded list.
    std::atomic<qint64> BacklogBytes{0};
    // Batches announced, for the writer to destroy.
    std::vector<std::vector<THistoryAlert>> Announced;
    // Times the writer came back from a wait (tests, benchmarks).
    std::atomic<quint64> Wakeups{0};
    // Broker messages to keep in the next round; a journal the writer took is answered in it.
    std::vector<TJournal*> Journals;

    // The writer thread's own.
    std::unique_ptr<THistoryStore> Store;
    bool ToldDamage = false;
    bool ToldUnwritable = false;
    bool ToldDropped = false;
    qint64 LastPruneMs = 0;
    // Alerts not written yet, oldest first, and their bytes (PendingBytes).
    std::vector<THistoryAlert> Pending;
    size_t PendingSize = 0;
    // When the last attempt failed: not before this is the next one made, and why.
    qint64 NextTryMs = 0;
    QString LastFailure;
    quint64 Dropped = 0;
    std::atomic<quint64> DroppedTotal{0}; // Dropped, for other threads
    std::thread Thread;

    TWriter(TAlertRecorder* owner, const QString& path, int keepDays)
        : Owner(owner), Path(path), KeepDays(keepDays) {
        Queue.Reserve();
        Thread = std::thread([this] { Run(); });
    }

    void Push(qint64 timeMs, double price, std::initializer_list<QStringView> texts) {
        size_t length = 0;
        for (const QStringView text : texts)
            length += size_t(text.size());
        std::lock_guard<std::mutex> lock(Lock);
        while (!Queue.Items.empty() &&
               (Queue.Items.size() >= QueueLimit || Queue.Text.size() + length > QueueTextLimit)) {
            // Dropping a tenth at a time keeps the cost of dropping small per alert.
            const size_t count = std::max<size_t>(Queue.Items.size() / 10, 1);
            Queue.DropOldest(count);
            QueueDropped += count;
        }
        BacklogBytes.fetch_add(Queue.Push(timeMs, price, texts), std::memory_order_relaxed);
        // The writer sleeps while nothing is queued: the first alert of a batch wakes it to
        // start the batch's interval, a long queue to write at once. Waking it for every alert
        // would cost a system call each.
        if (Queue.Items.size() == 1 || Queue.Items.size() == BatchSoon)
            Wake.notify_one();
    }

    // A batch announced goes back to the writer to be destroyed; a sleeping writer would keep
    // it until the next alert.
    void HandBack(std::vector<THistoryAlert> batch) {
        {
            std::lock_guard<std::mutex> lock(Lock);
            Announced.push_back(std::move(batch));
        }
        Wake.notify_one();
    }

    void Tell(void (TAlertRecorder::*signal)(const QString&), const QString& text) {
        QMetaObject::invokeMethod(
            Owner, [owner = Owner, signal, text] { (owner->*signal)(text); }, Qt::QueuedConnection);
    }

    // An attempt failed: the alerts stay for the next one, which waits a little. A lock of
    // another program is no fault to tell: the alerts are written once it lets go.
    void Failed(const EHistoryError& error) {
        LastFailure = error.message();
        NextTryMs = QDateTime::currentMSecsSinceEpoch() + RetryMs;
        if (!THistoryStore::IsBusy(error))
            Unwritable(error.message());
    }

    void Unwritable(const QString& reason) {
        if (ToldUnwritable)
            return;
        ToldUnwritable = true;
        Tell(&TAlertRecorder::Fault, HistoryUnwritableText(reason));
    }

    void Damaged(const QString& asidePath) {
        if (ToldDamage)
            return;
        ToldDamage = true;
        Tell(&TAlertRecorder::Fault, HistoryDamagedText(asidePath));
    }

    // Opens the file when it is not open; false when it cannot be.
    bool EnsureStore() {
        if (Store)
            return true;
        try {
            Store = std::make_unique<THistoryStore>(Path, THistoryStore::TMode::ReadWrite);
            if (!Store->SetAsidePath().isEmpty() && !ToldDamage) {
                ToldDamage = true;
                Tell(&TAlertRecorder::Fault,
                     HistorySetAsideText(Store->SetAsideKind(), Store->SetAsideReason(),
                                         Store->SetAsidePath()));
            }
            LastPruneMs = 0; // a new file (or the first): prune at once
            return true;
        } catch (const EHistoryError& error) {
            Failed(error);
            return false;
        }
    }

    // Adds the alerts taken from the queue to those waiting, and keeps the waiting within
    // their bounds: the oldest go first, counted, and the user hears of it once.
    void AddPending(std::vector<THistoryAlert>& batch, quint64 queueDropped) {
        if (Pending.empty()) {
            Pending.swap(batch);
            PendingSize = 0;
            for (const THistoryAlert& alert : Pending)
                PendingSize += PendingBytes(alert);
        } else {
            for (THistoryAlert& alert : batch) {
                PendingSize += PendingBytes(alert);
                Pending.push_back(std::move(alert));
            }
        }
        batch.clear();
        size_t drop = 0;
        size_t size = PendingSize;
        while (drop < Pending.size() &&
               (Pending.size() - drop > PendingLimit || size > PendingByteLimit)) {
            // A tenth at a time, so that dropping costs little per alert.
            const size_t step =
                std::max<size_t>(std::min(Pending.size() / 10, Pending.size() - drop), 1);
            for (size_t i = drop; i < drop + step; ++i)
                size -= PendingBytes(Pending[i]);
            drop += step;
        }
        if (drop > 0) {
            Pending.erase(Pending.begin(), Pending.begin() + qsizetype(drop));
            PendingSize = size;
        }
        Dropped += drop + queueDropped;
        if (drop > 0 || queueDropped > 0) {
            // Each time: the Alert History window says how many of its rows are missing.
            DroppedTotal.store(Dropped, std::memory_order_relaxed);
            QMetaObject::invokeMethod(
                Owner, [owner = Owner, total = Dropped] { emit owner->AlertsDropped(total); },
                Qt::QueuedConnection);
        }
        if ((drop > 0 || queueDropped > 0) && !ToldDropped) {
            ToldDropped = true;
            const QString reason = LastFailure.isEmpty()
                                       ? QObject::tr("it does not keep up with the alerts")
                                       : LastFailure;
            std::fprintf(stderr,
                         "velquist: the alert history falls behind (%s); the oldest "
                         "unwritten alerts are being dropped\n",
                         reason.toLocal8Bit().constData());
            std::fflush(stderr);
            Tell(&TAlertRecorder::Fault, HistoryDroppedText(reason, Dropped));
        }
    }

    // Sets a file found damaged while in use aside and starts a new one.
    bool Replace() {
        // Set aside before the connection closes, which would remove the file's -wal.
        const QString aside = THistoryStore::SetAsideFile(Path);
        Store.reset();
        if (aside.isEmpty()) {
            Unwritable(QObject::tr("the damaged file %1 cannot be set aside").arg(Path));
            return false;
        }
        Damaged(aside);
        return EnsureStore();
    }

    void Prune(qint64 nowMs) {
        const int days = KeepDays.load();
        try {
            Store->RemoveOlderThan(days <= 0 ? std::numeric_limits<qint64>::max()
                                             : nowMs - days * DayMs);
            Store->RemoveMessageKeysOlderThan(nowMs - MessageKeyMs);
        } catch (const EHistoryError& error) {
            if (THistoryStore::IsDamage(error)) {
                Replace();
            } else {
                Failed(error);
                return; // tried again with the next attempt
            }
        }
        LastPruneMs = nowMs;
    }

    // Writes what waits; on a fault it stays for the next attempt. False when it failed.
    bool Write(std::vector<THistoryAlert>& batch) {
        if (batch.empty())
            return true;
        if (!EnsureStore())
            return false;
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                Store->Append(batch);
                LastFailure.clear();
                PendingSize = 0;
                std::vector<THistoryAlert> stored;
                stored.swap(batch);
                // Announced on the user-interface thread, then handed back to be destroyed
                // here: its strings were made on this thread and are shared with its names.
                QMetaObject::invokeMethod(
                    Owner,
                    [this, stored = std::move(stored)]() mutable {
                        emit Owner->AlertsStored(stored);
                        HandBack(std::move(stored));
                    },
                    Qt::QueuedConnection);
                return true;
            } catch (const EHistoryError& error) {
                if (!THistoryStore::IsDamage(error)) {
                    Failed(error);
                    return false;
                }
                if (!Replace())
                    return false;
            }
        }
        return false;
    }

    // Keeps the broker messages taken in this round in one transaction and answers their
    // journals (under Lock, then Done is notified with the round's end).
    void KeepJournals(const std::vector<TJournal*>& journals, qint64 nowMs) {
        std::vector<quint64> keys;
        std::vector<size_t> counts;
        std::vector<THistoryAlert> alerts;
        for (const TJournal* journal : journals)
            for (const TLoggedMessage& message : *journal->Messages) {
                keys.push_back(message.Key);
                counts.push_back(message.Alerts.size());
                for (const TLoggedAlert& logged : message.Alerts) {
                    THistoryAlert& alert = alerts.emplace_back();
                    alert.TimeMs = logged.TimeMs;
                    alert.Window = logged.Window;
                    alert.Symbol = logged.Symbol;
                    alert.Price = logged.Price;
                    alert.Description = logged.Description;
                    alert.Source = SourceBroker;
                }
            }
        std::optional<std::vector<bool>> fresh;
        // A file that failed a moment ago is tried again at once: the broker's messages wait.
        if (EnsureStore()) {
            for (int attempt = 0; attempt < 2 && !fresh; ++attempt) {
                try {
                    fresh = Store->AppendMessages(keys, counts, alerts, nowMs);
                } catch (const EHistoryError& error) {
                    if (!THistoryStore::IsDamage(error)) {
                        Failed(error);
                        break;
                    }
                    if (!Replace())
                        break;
                }
            }
        }
        if (fresh && !alerts.empty())
            QMetaObject::invokeMethod(
                Owner,
                [this, stored = std::move(alerts)]() mutable {
                    emit Owner->AlertsStored(stored);
                    HandBack(std::move(stored));
                },
                Qt::QueuedConnection);
        std::lock_guard<std::mutex> lock(Lock);
        size_t at = 0;
        for (TJournal* journal : journals) {
            journal->Done = true;
            journal->Kept = fresh.has_value();
            if (fresh)
                journal->Fresh.assign(fresh->begin() + qsizetype(at),
                                      fresh->begin() + qsizetype(at + journal->Messages->size()));
            at += journal->Messages->size();
        }
    }

    // When the writer has work of its own to do with nothing new queued: the first round
    // (which opens the file) a batch interval after the start, another attempt for alerts the
    // file did not take, the daily removal of old alerts. None: it sleeps until woken.
    std::optional<Steady::time_point> OwnWorkDue(Steady::time_point started) const {
        if (RoundsBegun == 0)
            return started + BatchInterval;
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        qint64 dueMs = std::numeric_limits<qint64>::max();
        if (!Pending.empty())
            dueMs = NextTryMs;
        else if (Store)
            dueMs = std::max(NextTryMs, LastPruneMs + DayMs);
        if (dueMs == std::numeric_limits<qint64>::max())
            return std::nullopt;
        // Never sooner than a batch interval from now (a failed attempt that set no time must
        // not make the writer spin), and at least once an hour, so that a changed clock does
        // not put the daily removal off for long.
        const qint64 waitMs =
            std::clamp<qint64>(dueMs - nowMs, BatchInterval.count(), OwnWorkLatestMs);
        return Steady::now() + std::chrono::milliseconds(waitMs);
    }

    // Waits (under lock) until a round is due: at once for what cannot wait (closing, a Flush,
    // a new kept period, broker messages, a long queue); a batch interval after the first
    // alert queued; when the writer's own work is due. Batches handed back are destroyed
    // meanwhile, without a round.
    void WaitForWork(std::unique_lock<std::mutex>& lock,
                     std::vector<std::vector<THistoryAlert>>& announced,
                     Steady::time_point started) {
        const auto urgent = [this] {
            return Stopping || FlushWanted || PruneWanted || !Journals.empty() ||
                   Queue.Items.size() >= BatchSoon;
        };
        std::optional<Steady::time_point> batchDue;
        const std::optional<Steady::time_point> ownDue = OwnWorkDue(started);
        while (!urgent()) {
            if (!Announced.empty()) {
                announced.swap(Announced);
                lock.unlock();
                announced.clear();
                lock.lock();
                continue;
            }
            const Steady::time_point now = Steady::now();
            if (!Queue.Items.empty() && !batchDue)
                batchDue = now + BatchInterval;
            const std::optional<Steady::time_point> due = batchDue && ownDue
                                                              ? std::min(*batchDue, *ownDue)
                                                          : batchDue ? batchDue
                                                                     : ownDue;
            if (due && now >= *due)
                return;
            if (due)
                Wake.wait_until(lock, *due);
            else
                Wake.wait(lock);
            Wakeups.fetch_add(1, std::memory_order_relaxed);
        }
    }

    void Run() {
        const Steady::time_point started = Steady::now();
        // Below the user-interface thread: when the cores are busy, the windows come first and
        // the queue waits (a quarter second's alerts are little).
        ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), WriterNice);
        TQueue taken;
        taken.Reserve();
        TNames names;
        std::vector<THistoryAlert> batch;
        std::vector<std::vector<THistoryAlert>> announced;
        std::vector<TJournal*> journals;
        for (;;) {
            bool stopping, prune;
            quint64 round, queueDropped;
            {
                std::unique_lock<std::mutex> lock(Lock);
                WaitForWork(lock, announced, started);
                std::swap(taken, Queue);
                journals.swap(Journals);
                announced.swap(Announced);
                round = ++RoundsBegun;
                FlushWanted = false;
                queueDropped = std::exchange(QueueDropped, 0);
                stopping = Stopping;
                prune = std::exchange(PruneWanted, false);
            }
            const qint64 takenBytes = taken.Bytes;
            batch.reserve(taken.Items.size());
            for (const TQueued& item : taken.Items) {
                const char16_t* text = taken.Text.data() + item.Text;
                THistoryAlert& alert = batch.emplace_back();
                alert.TimeMs = item.TimeMs;
                alert.Price = item.Price;
                alert.Window = names.Get(text, item.Length[0]);
                text += item.Length[0];
                alert.Symbol = names.Get(text, item.Length[1]);
                text += item.Length[1];
                alert.Description = QString::fromUtf16(text, item.Length[2]);
                text += item.Length[2];
                alert.Source = names.Get(text, item.Length[3]);
                text += item.Length[3];
                if (item.Length[4] > 0)
                    alert.Refused = names.Get(text, item.Length[4]);
            }
            taken.Clear();
            announced.clear();
            AddPending(batch, queueDropped);
            if (KeepDays.load() <= 0) {
                Pending.clear(); // queued before the period went to 0
                PendingSize = 0;
            }
            const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
            const bool due = LastPruneMs == 0 || nowMs - LastPruneMs >= DayMs;
            // A file that cannot be opened or written is tried again when there is something
            // to do, a little after the last attempt; the end of the program tries once more.
            if ((round == 1 || prune || !Pending.empty() || (Store && due)) &&
                (nowMs >= NextTryMs || stopping || prune) && EnsureStore() && Write(Pending) &&
                (prune || due))
                Prune(nowMs);
            if (!journals.empty()) {
                KeepJournals(journals, nowMs);
                journals.clear();
            }
            if (stopping && !Pending.empty()) {
                std::fprintf(stderr,
                             "velquist: %zu alerts could not be written to the alert history "
                             "(%s)\n",
                             Pending.size(), LastFailure.toLocal8Bit().constData());
                std::fflush(stderr);
            }
            BacklogBytes.fetch_sub(takenBytes, std::memory_order_relaxed);
            {
                std::lock_guard<std::mutex> lock(Lock);
                RoundsDone = round;
            }
            Done.notify_all();
            if (stopping) {
                Store.reset(); // closed on the thread that used it
                return;
            }
        }
    }
};

TAlertRecorder::TAlertRecorder(const QString& path, int keepDays, QObject* parent)
    : QObject(parent) {
    qRegisterMetaType<std::vector<THistoryAlert>>();
    Writer = std::make_unique<TWriter>(this, path, keepDays);
}

TAlertRecorder::~TAlertRecorder() {
    {
        std::lock_guard<std::mutex> lock(Writer->Lock);
        Writer->Stopping = true;
    }
    Writer->Wake.notify_one();
    Writer->Thread.join();
}

void TAlertRecorder::RecordAlert(const QString& window, const IAlertData& alert) {
    if (Writer->KeepDays.load(std::memory_order_relaxed) <= 0)
        return;
    // Kept by KeepMessages before the broker was told they arrived.
    if (alert.Source() == TAlertSource::Broker)
        return;
    const QDateTime time = alert.AlertTime();
    Writer->Push(time.isValid() ? time.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch(),
                 alert.Price(),
                 {window, alert.AlertSymbol(), alert.Description(), SourceName(alert.Source()),
                  QStringView()});
}

void TAlertRecorder::RecordRefused(const QString& window, const IAlertData& alert,
                                   const QString& rule) {
    if (Writer->KeepDays.load(std::memory_order_relaxed) <= 0)
        return;
    // Also from a broker: its message keeps the alert as it arrived, this which window refused
    // it. Without a rule's text it would read as shown.
    const QDateTime time = alert.AlertTime();
    Writer->Push(time.isValid() ? time.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch(),
                 alert.Price(),
                 {window, alert.AlertSymbol(), alert.Description(), SourceName(alert.Source()),
                  rule.isEmpty() ? QStringLiteral("refused") : rule});
}

std::optional<std::vector<bool>>
TAlertRecorder::KeepMessages(const std::vector<TLoggedMessage>& messages, int timeoutMs) {
    if (messages.empty() || Writer->KeepDays.load() <= 0)
        return std::vector<bool>(messages.size(), true);
    TJournal journal;
    journal.Messages = &messages;
    std::unique_lock<std::mutex> lock(Writer->Lock);
    if (Writer->Stopping)
        return std::nullopt;
    Writer->Journals.push_back(&journal);
    Writer->Wake.notify_one();
    Writer->Done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return journal.Done; });
    if (!journal.Done) {
        auto& waiting = Writer->Journals;
        const auto found = std::find(waiting.begin(), waiting.end(), &journal);
        if (found != waiting.end()) {
            // Not taken yet: given up.
            waiting.erase(found);
            return std::nullopt;
        }
        // Being written: its answer comes with the end of the round.
        Writer->Done.wait(lock, [&] { return journal.Done; });
    }
    if (!journal.Kept)
        return std::nullopt;
    return std::move(journal.Fresh);
}

bool TAlertRecorder::IsBehind() const {
    return Writer->BacklogBytes.load(std::memory_order_relaxed) > BehindBytes;
}

void TAlertRecorder::Record(THistoryAlert alert) {
    if (Writer->KeepDays.load(std::memory_order_relaxed) <= 0)
        return;
    Writer->Push(alert.TimeMs, alert.Price,
                 {alert.Window, alert.Symbol, alert.Description, alert.Source, alert.Refused});
}

void TAlertRecorder::SetKeepDays(int keepDays) {
    Writer->KeepDays.store(keepDays);
    {
        std::lock_guard<std::mutex> lock(Writer->Lock);
        Writer->PruneWanted = true;
    }
    Writer->Wake.notify_one();
}

int TAlertRecorder::KeepDays() const {
    return Writer->KeepDays.load();
}

void TAlertRecorder::Flush() {
    std::unique_lock<std::mutex> lock(Writer->Lock);
    const quint64 target = Writer->RoundsBegun + 1;
    Writer->FlushWanted = true;
    Writer->Wake.notify_one();
    Writer->Done.wait(lock, [&] { return Writer->RoundsDone >= target; });
}

QString TAlertRecorder::Path() const {
    return Writer->Path;
}

quint64 TAlertRecorder::DroppedCount() const {
    return Writer->DroppedTotal.load(std::memory_order_relaxed);
}

quint64 TAlertRecorder::WriterWakeups() const {
    return Writer->Wakeups.load(std::memory_order_relaxed);
}
