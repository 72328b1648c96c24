// The short slice the client asks the scheduler for: threads started afterwards inherit it, and
// what else was set of a thread's scheduling stays as it was.
#include "platform/zkScheduling.h"

#include <QtTest>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace {

pid_t ThreadId() {
    return pid_t(syscall(SYS_gettid));
}

// Runs work on a thread of its own, so the test's own thread keeps its scheduling.
template <typename TWork> void OnThread(TWork work) {
    std::thread(work).join();
}

} // namespace

class TSchedulingTest : public QObject {
    Q_OBJECT
private slots:
    void threadsStartedLaterInheritTheShortSlice() {
        unsigned long long before = 0, own = 0, started = 0;
        bool taken = false;
        OnThread([&] {
            before = zkScheduling::SliceOf();
            taken = zkScheduling::RequestShortSlice();
            own = zkScheduling::SliceOf();
            OnThread([&] { started = zkScheduling::SliceOf(); });
        });
        QVERIFY(taken);
        if (before == 0)
            QSKIP("this kernel keeps no slice of a thread's own");
        QCOMPARE(own, zkScheduling::ShortSliceNs);
        QCOMPARE(started, zkScheduling::ShortSliceNs);
        QCOMPARE(zkScheduling::SliceOf(), before); // the test's own thread was not touched
    }

    // The niceness and a policy someone chose are theirs; the request leaves them alone.
    void niceAndIdleThreadsStayAsTheyWere() {
        int nice = -100, policy = -1;
        bool taken = false;
        OnThread([&] {
            setpriority(PRIO_PROCESS, id_t(ThreadId()), 7);
            taken = zkScheduling::RequestShortSlice();
            nice = getpriority(PRIO_PROCESS, id_t(ThreadId()));
        });
        QVERIFY(taken);
        QCOMPARE(nice, 7);
        OnThread([&] {
            sched_param param = {};
            if (sched_setscheduler(0, SCHED_IDLE, &param) != 0)
                return;
            taken = zkScheduling::RequestShortSlice();
            policy = sched_getscheduler(0);
        });
        QVERIFY(taken);
        QCOMPARE(policy, SCHED_IDLE);
    }

    // The short slice is this client's: a program it starts (a browser for a link) gets the
    // usual one, and the thread that started it has its own back afterwards.
    void programsStartWithTheUsualSlice() {
        const unsigned long long usual = zkScheduling::SliceOf(); // this thread never asked
        if (usual == 0)
            QSKIP("this kernel keeps no slice of a thread's own");
        auto childSlice = [] {
            QProcess program;
            program.start(QStringLiteral("sleep"), {QStringLiteral("10")});
            if (!program.waitForStarted())
                return 0ULL;
            const unsigned long long slice = zkScheduling::SliceOf(pid_t(program.processId()));
            program.kill();
            program.waitForFinished();
            return slice;
        };
        unsigned long long plain = 0, usualForPrograms = 0, after = 0;
        OnThread([&] {
            zkScheduling::RequestShortSlice();
            plain = childSlice();
            {
                const zkScheduling::TUsualSliceForPrograms scope;
                usualForPrograms = childSlice();
            }
            after = zkScheduling::SliceOf();
        });
        QCOMPARE(plain, zkScheduling::ShortSliceNs); // what the scope is there for
        QCOMPARE(usualForPrograms, usual);
        QCOMPARE(after, zkScheduling::ShortSliceNs);
    }

    // A thread that waits uses no processor time.
    void processorTimeLeavesWaitingOut() {
        const long long start = zkScheduling::ThreadProcessorNs();
        QThread::msleep(60);
        const long long slept = zkScheduling::ThreadProcessorNs() - start;
        QVERIFY2(slept < 20'000'000, qPrintable(QString::number(slept)));
    }
};

QTEST_GUILESS_MAIN(TSchedulingTest)
#include "tst_scheduling.moc"
