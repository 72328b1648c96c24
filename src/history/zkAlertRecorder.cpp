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
#include <thread>

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
    std::vector<THistoryAlert> Queue;
    // Rounds of the writer (take the queue, prune if due, write) begun and finished; a Flush
    // waits for the end of a round begun after it.
    quint64 RoundsBegun = 0;
    quint64 RoundsDone = 0;
    bool FlushWanted = false;
    bool PruneWanted = false;
    bool Stopping = false;
    bool ToldOverflow = false;

    // The writer thread's own.
    std::unique_ptr<THistoryStore> Store;
    bool ToldDamage = false;
    bool ToldUnwritable = false;
    qint64 LastPruneMs = 0;
    std::thread Thread;

    TWriter(TAlertRecorder* owner, const QString& path, int keepDays)
        : Owner(owner), Path(path), KeepDays(keepDays) {
        Queue.reserve(4096);
        Thread = std::thread([this] { Run(); });
    }

    void Push(THistoryAlert&& alert) {
        std::lock_guard<std::mutex> lock(Lock);
        if (Queue.size() >= QueueLimit) {
            // Dropping a tenth at a time keeps the cost of dropping small per alert.
            Queue.erase(Queue.begin(), Queue.begin() + QueueLimit / 10);
            if (!ToldOverflow) {
                ToldOverflow = true;
                std::fprintf(stderr, "velquist: the alert history falls behind; the oldest "
                                     "unwritten alerts are being dropped\n");
                std::fflush(stderr);
            }
        }
        Queue.push_back(std::move(alert));
        // Waking the writer for every alert would cost a system call each; a long queue is
        // worth it.
        if (Queue.size() == BatchSoon)
            Wake.notify_one();
    }

    void Tell(void (TAlertRecorder::*signal)(const QString&), const QString& text) {
        QMetaObject::invokeMethod(
            Owner, [owner = Owner, signal, text] { (owner->*signal)(text); },
            Qt::QueuedConnection);
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
        Store.reset();
        const QString aside = THistoryStore::SetAsideFile(Path);
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
                // The batch's buffer goes with the announcement; a fresh one of the same size
                // comes back as the queue, so the user-interface thread does not grow it.
                std::vector<THistoryAlert> stored;
                stored.swap(batch);
                batch.reserve(stored.size());
                QMetaObject::invokeMethod(
                    Owner,
                    [owner = Owner, stored = std::move(stored)] { emit owner->AlertsStored(stored); },
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
        std::vector<THistoryAlert> batch;
        batch.reserve(4096);
        for (;;) {
            bool stopping, prune;
            quint64 round;
            {
                std::unique_lock<std::mutex> lock(Lock);
                Wake.wait_for(lock, BatchInterval, [this] {
                    return Stopping || FlushWanted || PruneWanted || Queue.size() >= BatchSoon;
                });
                batch.swap(Queue);
                round = ++RoundsBegun;
                FlushWanted = false;
                stopping = Stopping;
                prune = std::exchange(PruneWanted, false);
            }
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
    THistoryAlert entry;
    const QDateTime time = alert.AlertTime();
    entry.TimeMs =
        time.isValid() ? time.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
    entry.Window = window;
    entry.Symbol = alert.AlertSymbol();
    entry.Price = alert.Price();
    entry.Description = alert.Description();
    entry.Source = SourceName(alert.Source());
    Writer->Push(std::move(entry));
}

void TAlertRecorder::Record(THistoryAlert alert) {
    if (Writer->KeepDays.load(std::memory_order_relaxed) <= 0)
        return;
    alert.Id = 0;
    Writer->Push(std::move(alert));
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
