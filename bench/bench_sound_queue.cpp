// The sound queue under an alert flood: 100,000 enqueues cycling through three setups must stay
// three items, and each enqueue costs a lookup among them. Prints the time per enqueue, the item
// count, and a take for comparison.
#include "alerts/zkSoundQueue.h"

#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

int main() {
    const QStringList setups = {QStringLiteral("/home/u/Sounds/ding.wav,80,50"),
                                QStringLiteral("/home/u/Sounds/chime.wav,60,30"),
                                QStringLiteral("<Default>")};
    constexpr int Enqueues = 100000;
    constexpr int Runs = 5;

    double best = 1e300;
    qsizetype items = 0;
    for (int run = 0; run < Runs; ++run) {
        TSoundQueue queue;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < Enqueues; ++i)
            queue.Enqueue(setups[i % 3]);
        const double ns = double(timer.nsecsElapsed()) / Enqueues;
        best = qMin(best, ns);
        items = queue.Count();
    }

    // Interleaved with takes, as when the player keeps up with the flood.
    TSoundQueue queue;
    QElapsedTimer timer;
    timer.start();
    int taken = 0;
    for (int i = 0; i < Enqueues; ++i) {
        queue.Enqueue(setups[i % 3]);
        if (i % 10 == 0)
            taken += !queue.TakeNext().isEmpty();
    }
    const double mixed = double(timer.nsecsElapsed()) / Enqueues;

    std::printf("sound queue: %d enqueues of 3 setups\n", Enqueues);
    std::printf("  time per enqueue (best of %d runs): %.1f ns\n", Runs, best);
    std::printf("  items in queue: %lld\n", static_cast<long long>(items));
    std::printf("  with a take every 10 enqueues: %.1f ns per enqueue, %d plays, %lld items\n",
                mixed, taken, static_cast<long long>(queue.Count()));
    return items == 3 && queue.Count() == 3 ? 0 : 1;
}
