#include "alerts/zkSoundQueue.h"

#include <QThread>
#include <QtTest>

#include <atomic>

namespace {
// A clock the test sets by hand.
struct TManualClock {
    double Now = 1000;
    TSoundQueue::TClock fn() {
        return [this] { return Now; };
    }
};

QStringList setups(const TSoundQueue& queue) {
    QStringList out;
    for (const TSoundQueueItem& item : queue.Items())
        out << item.Setup;
    return out;
}
} // namespace

class TSoundQueueTest : public QObject {
    Q_OBJECT
private slots:
    void repeatsMergeIntoOnePlay();
    void playedLongestAgoGoesFirst();
    void neverPlayedGoBeforePlayedLastEnqueuedFirst();
    void reenqueueWhilePlayingPlaysAgain();
    void sameTickOrClockSetBackKeepsPlayOrder();
    void identityAndEmptying();
    void concurrentTakesNeverLoseOrDoubleAPlay();
};

void TSoundQueueTest::repeatsMergeIntoOnePlay() {
    TManualClock clock;
    TSoundQueue queue(clock.fn());
    QCOMPARE(queue.TakeNext(), QString());
    for (int i = 0; i < 10; ++i)
        queue.Enqueue("/s/ding.wav,80,50");
    QCOMPARE(queue.Count(), 1);
    QCOMPARE(queue.TakeNext(), QString("/s/ding.wav,80,50"));
    QCOMPARE(queue.TakeNext(), QString());
    const TSoundQueueItem item = queue.Items().constFirst();
    QCOMPARE(item.LastPlayed, 1000.0);
    QVERIFY(!item.Pending);
}

void TSoundQueueTest::playedLongestAgoGoesFirst() {
    TManualClock clock;
    TSoundQueue queue(clock.fn());
    queue.Enqueue("A");
    QCOMPARE(queue.TakeNext(), QString("A")); // A played at 1000
    clock.Now = 2000;
    queue.Enqueue("B");
    QCOMPARE(queue.TakeNext(), QString("B")); // B played at 2000
    QCOMPARE(setups(queue), QStringList({"B", "A"}));

    // Enqueued in either order, A (played earlier) goes first, then B.
    clock.Now = 3000;
    queue.Enqueue("B");
    queue.Enqueue("A");
    QCOMPARE(queue.TakeNext(), QString("A"));
    clock.Now = 4000;
    QCOMPARE(queue.TakeNext(), QString("B"));
    QCOMPARE(setups(queue), QStringList({"B", "A"}));
    QCOMPARE(queue.Items()[0].LastPlayed, 4000.0);
    QCOMPARE(queue.Items()[1].LastPlayed, 3000.0);
}

void TSoundQueueTest::neverPlayedGoBeforePlayedLastEnqueuedFirst() {
    TManualClock clock;
    TSoundQueue queue(clock.fn());
    queue.Enqueue("old");
    QCOMPARE(queue.TakeNext(), QString("old"));
    queue.Enqueue("old");
    queue.Enqueue("A");
    queue.Enqueue("B");
    queue.Enqueue("C");
    // Never-played items stay behind the played one, in enqueue order.
    QCOMPARE(setups(queue), QStringList({"old", "A", "B", "C"}));
    clock.Now = 1001;
    QCOMPARE(queue.TakeNext(), QString("C"));
    clock.Now = 1002;
    QCOMPARE(queue.TakeNext(), QString("B"));
    clock.Now = 1003;
    QCOMPARE(queue.TakeNext(), QString("A"));
    clock.Now = 1004;
    QCOMPARE(queue.TakeNext(), QString("old"));
    QCOMPARE(setups(queue), QStringList({"old", "A", "B", "C"}));
}

void TSoundQueueTest::reenqueueWhilePlayingPlaysAgain() {
    TManualClock clock;
    TSoundQueue queue(clock.fn());
    queue.Enqueue("A");
    queue.Enqueue("B");
    QCOMPARE(queue.TakeNext(), QString("B")); // B is now playing
    queue.Enqueue("B");                       // asked for again while it plays
    clock.Now = 1001;
    QCOMPARE(queue.TakeNext(), QString("A")); // A has waited longer (never played)
    clock.Now = 1002;
    QCOMPARE(queue.TakeNext(), QString("B"));
    QCOMPARE(queue.TakeNext(), QString());
}

void TSoundQueueTest::sameTickOrClockSetBackKeepsPlayOrder() {
    // All takes read the same time (a coarse clock), then the clock goes back an hour.
    TManualClock clock;
    TSoundQueue queue(clock.fn());
    queue.Enqueue("A");
    queue.Enqueue("B");
    QCOMPARE(queue.TakeNext(), QString("B"));
    QCOMPARE(queue.TakeNext(), QString("A"));
    queue.Enqueue("A");
    queue.Enqueue("B");
    QCOMPARE(queue.TakeNext(), QString("B")); // B was played before A
    clock.Now -= 1.0 / 24;
    queue.Enqueue("B");
    QCOMPARE(queue.TakeNext(), QString("A")); // A was played before B's replay
    QCOMPARE(queue.TakeNext(), QString("B"));
    QCOMPARE(setups(queue), QStringList({"B", "A"}));
}

void TSoundQueueTest::identityAndEmptying() {
    TManualClock clock;
    TSoundQueue queue(clock.fn());
    // Exact text: case and blanks make different setups.
    queue.Enqueue("/s/Ding.wav,80,50");
    queue.Enqueue("/s/ding.wav,80,50");
    queue.Enqueue("/s/ding.wav,80,50 ");
    QCOMPARE(queue.Count(), 3);
    // An empty setup is the beep, so it is taken (and played) rather than read as "nothing".
    queue.Enqueue("");
    queue.Enqueue("<Default>");
    QCOMPARE(queue.Count(), 4);
    QCOMPARE(queue.TakeNext(), QString("<Default>"));
    queue.Clear();
    QCOMPARE(queue.Count(), 0);
    QCOMPARE(queue.TakeNext(), QString());
}

void TSoundQueueTest::concurrentTakesNeverLoseOrDoubleAPlay() {
    // The user-interface thread enqueues while another thread takes: every take must belong to
    // an earlier enqueue, and after both stop at most one play per setup is still owed.
    TSoundQueue queue;
    constexpr int Setups = 8;
    constexpr int Rounds = 20000;
    std::atomic_bool done{false};
    std::atomic<int> taken{0};
    std::atomic<int> bogus{0};
    QThread* taker = QThread::create([&] {
        while (!done) {
            const QString s = queue.TakeNext();
            if (s.isEmpty())
                continue;
            ++taken;
            if (!s.startsWith("S"))
                ++bogus;
        }
    });
    taker->start();
    for (int i = 0; i < Rounds; ++i)
        queue.Enqueue(QStringLiteral("S%1").arg(i % Setups));
    done = true;
    taker->wait();
    delete taker;
    int left = 0;
    while (!queue.TakeNext().isEmpty())
        ++left;
    QCOMPARE(bogus.load(), 0);
    QCOMPARE(queue.Count(), Setups);
    QVERIFY(left <= Setups);
    QVERIFY(taken + left >= Setups); // each setup played at least once
    QVERIFY(taken + left <= Rounds);
    // The list is still in descending order of last play.
    const QList<TSoundQueueItem> items = queue.Items();
    for (qsizetype i = 1; i < items.size(); ++i)
        QVERIFY(items[i - 1].LastPlayed >= items[i].LastPlayed);
}

QTEST_GUILESS_MAIN(TSoundQueueTest)
#include "tst_sound_queue.moc"
