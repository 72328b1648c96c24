// The early session bus connection: work handed to it runs once, in order, with the bus
// connected, whichever thread ends up running it; without a bus nothing is started and the work
// runs at once.
#include "desktop/zkSessionBus.h"
#include "zkHarness.h"
#include "zkTestSupport.h"

#include <QDBusConnection>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class TSessionBusTest : public QObject {
    Q_OBJECT
private slots:
    // First: Qt keeps one session bus connection per process, made at its first use.
    void withoutABusJobsRunAtOnce() {
        TTestHome home; // a runtime folder with no bus in it
        const TScopedEnvironment noAddress("DBUS_SESSION_BUS_ADDRESS", QByteArray());
        TSessionBusWarmup warmup;
        QThread* ranOn = nullptr;
        TSessionBusWarmup::WhenConnected([&ranOn] { ranOn = QThread::currentThread(); });
        QCOMPARE(ranOn, QThread::currentThread());
    }

    void jobsRunOnceInOrderWithTheBusConnected() {
        TWholeProcessHarness desk;
        HARNESS_NEED(desk.needSessionBus());
        const TScopedEnvironment address("DBUS_SESSION_BUS_ADDRESS",
                                         desk.bus().Address.toLocal8Bit());

        std::mutex lock;
        std::vector<int> order;
        std::atomic<int> connectedRuns{0};
        const auto job = [&](int n) {
            return [&, n] {
                if (QDBusConnection::sessionBus().isConnected())
                    ++connectedRuns;
                const std::lock_guard<std::mutex> guard(lock);
                order.push_back(n);
            };
        };
        {
            TSessionBusWarmup warmup;
            // Handed over while the connection is being made, most likely: each must still run.
            for (int n = 0; n < 5; ++n)
                TSessionBusWarmup::WhenConnected(job(n));
            warmup.Wait();
            QCOMPARE(order, (std::vector<int>{0, 1, 2, 3, 4}));
            // Once the warm-up has waited, the next one runs here, before the call returns.
            QThread* ranOn = nullptr;
            TSessionBusWarmup::WhenConnected([&ranOn] { ranOn = QThread::currentThread(); });
            QCOMPARE(ranOn, QThread::currentThread());
        }
        {
            // Connected, and the connecting thread long done, while the warm-up still lives: a
            // job still goes to a thread (its round trips would hold the caller up), in order.
            TSessionBusWarmup warmup;
            QVERIFY(QDBusConnection::sessionBus().isConnected());
            QThread::msleep(100);
            std::vector<QThread*> ranOn(3, nullptr);
            for (size_t n = 0; n < ranOn.size(); ++n)
                TSessionBusWarmup::WhenConnected([&, n] {
                    ranOn[n] = QThread::currentThread();
                    job(int(10 + n))();
                });
            warmup.Wait();
            for (QThread* thread : ranOn)
                QVERIFY(thread && thread != QThread::currentThread());
        }
        QCOMPARE(order.size(), size_t(8));
        QCOMPARE(std::vector<int>(order.begin() + 5, order.end()), (std::vector<int>{10, 11, 12}));
        QCOMPARE(connectedRuns.load(), 8);
        // A later warm-up (none in the client, but nothing forbids it) takes jobs again.
        {
            TSessionBusWarmup again;
            TSessionBusWarmup::WhenConnected(job(5));
        }
        QCOMPARE(order.size(), size_t(9));
        QCOMPARE(order.back(), 5);
    }
};

QTEST_MAIN(TSessionBusTest)
#include "tst_session_bus.moc"
