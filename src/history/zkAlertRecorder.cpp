#include "zkAlertRecorder.h"

#include "components/zkComponents.h"

#include <QDateTime>
#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr auto BatchInterval = std::chrono::milliseconds(250);
// A queue this long is written at once rather than at the next quarter second.
constexpr size_t BatchSoon = 20000;
// Beyond this (a writer that cannot keep up for minutes) the oldest alerts are dropped.
constexpr size_t QueueLimit = 1000000;
constexpr qint64 DayMs = 24LL * 60 * 60 * 1000;
constexpr int WriterNice = 10;

const QString SourceService = QStringLiteral("service");
const QString SourceFeed = QStringLiteral("feed");
const QString SourceInbox = QStringLiteral("inbox");

const QString& SourceName(TAlertSource source) {
    switch (source) {
    case TAlertSource::Feed:
        return SourceFeed;
    case TAlertSource::Inbox:
        return SourceInbox;
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
    size_t Text;       // where its texts begin in the buffer: window, symbol, description, source
    quint32 Length[4]; // their lengths
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
    // Drops the oldest `count` items (their texts stay in the buffer until it is taken).
    void DropOldest(size_t count) { Items.erase(Items.begin(), Items.begin() + qsizetype(count)); }
};

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
    bool ToldOverflow = false;
    // What is queued or being written, for IsBehind.
    std::atomic<qint64> BacklogBytes{0};
    // Batches announced, for the writer to destroy.
    std::vector<std::vector<THistoryAlert>> Announced;

    // The writer thread's own.
    std::unique_ptr<THistoryStore> Store;
    bool ToldDamage = false;
    bool ToldUnwritable = false;
    qint64 LastPruneMs = 0;
    std::thread Thread;

    TWriter(TAlertRecorder* owner, const QString& path, int keepDays)
        : Owner(owner), Path(path), KeepDays(keepDays) {
        Queue.Reserve();
        Thread = std::thread([this] { Run(); });
    }

    void Push(qint64 timeMs, double price, std::initializer_list<QStringView> texts) {
        std::lock_guard<std::mutex> lock(Lock);
        if (Queue.Items.size() >= QueueLimit) {
            // Dropping a tenth at a time keeps the cost of dropping small per alert.
            Queue.DropOldest(QueueLimit / 10);
            if (!ToldOverflow) {
                ToldOverflow = true;
                std::fprintf(stderr, "velquist: the alert history falls behind; the oldest "
                                     "unwritten alerts are being dropped\n");
                std::fflush(stderr);
            }
        }
        BacklogBytes.fetch_add(Queue.Push(timeMs, price, texts), std::memory_order_relaxed);
        // Waking the writer for every alert would cost a system call each; a long queue is
        // worth it.
        if (Queue.Items.size() == BatchSoon)
            Wake.notify_one();
    }

    void Tell(void (TAlertRecorder::*signal)(const QString&), const QString& text) {
        QMetaObject::invokeMethod(
            Owner, [owner = Owner, signal, text] { (owner->*signal)(text); }, Qt::QueuedConnection);
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
            if (!Store->SetAsidePath().isEmpty())
                Damaged(Store->SetAsidePath());
            LastPruneMs = 0; // a new file (or the first): prune at once
            return true;
        } catch (const EHistoryError& error) {
            Unwritable(error.message());
            return false;
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
        } catch (const EHistoryError& error) {
            if (THistoryStore::IsDamage(error))
                Replace();
            else
                Unwritable(error.message());
        }
        LastPruneMs = nowMs;
    }

    void Write(std::vector<THistoryAlert>& batch) {
        if (batch.empty() || !EnsureStore())
            return;
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                Store->Append(batch);
                std::vector<THistoryAlert> stored;
                stored.swap(batch);
                // Announced on the user-interface thread, then handed back to be destroyed
                // here: its strings were made on this thread and are shared with its names.
                QMetaObject::invokeMethod(
                    Owner,
                    [this, stored = std::move(stored)]() mutable {
                        emit Owner->AlertsStored(stored);
                        std::lock_guard<std::mutex> lock(Lock);
                        Announced.push_back(std::move(stored));
                    },
                    Qt::QueuedConnection);
                return;
            } catch (const EHistoryError& error) {
                if (!THistoryStore::IsDamage(error)) {
                    Unwritable(error.message());
                    return;
                }
                if (!Replace())
                    return;
            }
        }
    }

    void Run() {
        // Below the user-interface thread: when the cores are busy, the windows come first and
        // the queue waits (a quarter second's alerts are little).
        ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), WriterNice);
        TQueue taken;
        taken.Reserve();
        TNames names;
        std::vector<THistoryAlert> batch;
        std::vector<std::vector<THistoryAlert>> announced;
        for (;;) {
            bool stopping, prune;
            quint64 round;
            {
                std::unique_lock<std::mutex> lock(Lock);
                Wake.wait_for(lock, BatchInterval, [this] {
                    return Stopping || FlushWanted || PruneWanted ||
                           Queue.Items.size() >= BatchSoon;
                });
                std::swap(taken, Queue);
                announced.swap(Announced);
                round = ++RoundsBegun;
                FlushWanted = false;
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
            }
            taken.Clear();
            announced.clear();
            const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
            const bool due = LastPruneMs == 0 || nowMs - LastPruneMs >= DayMs;
            // A file that cannot be opened is tried again when there is something to do.
            if ((round == 1 || prune || !batch.empty() || (Store && due)) && EnsureStore() &&
                (prune || due))
                Prune(nowMs);
            if (KeepDays.load() <= 0)
                batch.clear(); // queued before the period went to 0
            Write(batch);
            batch.clear();
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
    const QDateTime time = alert.AlertTime();
    Writer->Push(time.isValid() ? time.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch(),
                 alert.Price(),
                 {window, alert.AlertSymbol(), alert.Description(), SourceName(alert.Source())});
}

bool TAlertRecorder::IsBehind() const {
    return Writer->BacklogBytes.load(std::memory_order_relaxed) > BehindBytes;
}

void TAlertRecorder::Record(THistoryAlert alert) {
    if (Writer->KeepDays.load(std::memory_order_relaxed) <= 0)
        return;
    Writer->Push(alert.TimeMs, alert.Price,
                 {alert.Window, alert.Symbol, alert.Description, alert.Source});
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
