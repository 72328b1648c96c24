#pragma once

#include <QList>
#include <QMutex>
#include <QString>

#include <functional>

// One queued sound setup. The setup text is the item's identity (compared exactly).
struct TSoundQueueItem {
    double LastPlayed = 0; // days since 30 December 1899; 0 = never played
    QString Setup;
    bool Pending = false;
};

// The sounds waiting to be played, one item per distinct setup text seen since start-up, kept
// with the most recently played first and the never-played last. Alert handlers enqueue on the
// user-interface thread; the player takes from it. One lock guards each whole operation.
class TSoundQueue {
public:
    // The clock gives the current date and time as days since 30 December 1899; tests pass
    // their own.
    using TClock = std::function<double()>;
    explicit TSoundQueue(TClock clock = CurrentDateTime);

    // Marks the setup as waiting; a setup already waiting stays one item and plays once.
    void Enqueue(const QString& setup);
    // The waiting setup played longest ago (never-played ones first, the last enqueued of those
    // first), now counted as played; empty when nothing waits.
    QString TakeNext();
    // Frees every item.
    void Clear();
    // Nothing waits any more; the items stay, with when each was last played.
    void DropWaiting();

    qsizetype Count() const;
    QList<TSoundQueueItem> Items() const; // a copy, for inspection

    // The local date and time as days since 30 December 1899.
    static double CurrentDateTime();

private:
    void Sort(); // caller holds Lock

    mutable QMutex Lock;
    QList<TSoundQueueItem> List;
    TClock Clock;
};
