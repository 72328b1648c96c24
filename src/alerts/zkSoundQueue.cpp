#include "zkSoundQueue.h"

#include "zkSoundSetup.h"

#include <QDateTime>

#include <cmath>
#include <utility>

TSoundQueue::TSoundQueue(TClock clock) : Clock(std::move(clock)) {}

double TSoundQueue::CurrentDateTime() {
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
    const QDateTime now = QDateTime::currentDateTime();
    // Local wall-clock time, as the date-time type counts it.
    const qint64 ms = epoch.msecsTo(QDateTime(now.date(), now.time()));
    return double(ms) / 86400000.0;
}

void TSoundQueue::Enqueue(const QString& text) {
    // An empty setup means the beep; kept as empty it would read as "nothing waits" when taken
    // and the alert would stay silent.
    const QString setup = text.isEmpty() ? DefaultSoundName : text;
    QMutexLocker locker(&Lock);
    for (TSoundQueueItem& item : List) {
        if (item.Setup == setup) {
            item.Pending = true;
            return;
        }
    }
    List.append(TSoundQueueItem{0, setup, true});
    Sort();
}

QString TSoundQueue::TakeNext() {
    QMutexLocker locker(&Lock);
    for (qsizetype i = List.size() - 1; i >= 0; --i) {
        TSoundQueueItem& item = List[i];
        if (!item.Pending)
            continue;
        item.Pending = false;
        // Two takes within one clock tick, or a clock set back, must still leave the one just
        // taken as the most recently played, or it could win again over a longer-waiting sound.
        double now = Clock();
        if (!List.isEmpty() && now <= List.first().LastPlayed)
            now = std::nextafter(List.first().LastPlayed, HUGE_VAL);
        item.LastPlayed = now;
        const QString setup = item.Setup;
        Sort();
        return setup;
    }
    return QString();
}

void TSoundQueue::Clear() {
    QMutexLocker locker(&Lock);
    List.clear();
}

void TSoundQueue::DropWaiting() {
    QMutexLocker locker(&Lock);
    for (TSoundQueueItem& item : List)
        item.Pending = false;
}

qsizetype TSoundQueue::Count() const {
    QMutexLocker locker(&Lock);
    return List.size();
}

QList<TSoundQueueItem> TSoundQueue::Items() const {
    QMutexLocker locker(&Lock);
    return List;
}

// A stable exchange sort into descending LastPlayed: neighbours swap only when the earlier one
// was played strictly longer ago, so equal times keep their order.
void TSoundQueue::Sort() {
    if (List.size() < 2)
        return;
    bool swapped = true;
    for (qsizetype end = List.size() - 1; swapped && end > 0; --end) {
        swapped = false;
        for (qsizetype i = 0; i < end; ++i) {
            if (List[i].LastPlayed < List[i + 1].LastPlayed) {
                List.swapItemsAt(i, i + 1);
                swapped = true;
            }
        }
    }
}
