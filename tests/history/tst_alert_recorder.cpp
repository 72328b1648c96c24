#include "components/zkComponents.h"
#include "history/zkAlertRecorder.h"
#include "zkHistoryTestUtil.h"
#include "zkTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <QStandardPaths>

#include <csignal>
#include <cstdio>

#include <sqlite3.h>

namespace {

THistoryAlert MakeAlert(qint64 timeMs, const QString& symbol) {
    return MakeHistoryAlert(timeMs, QStringLiteral("Gap ups"), symbol, 12.5,
                            QStringLiteral("Gap up (+1.20%)"));
}

qint64 StoredCount(const QString& path) {
    THistoryStore reader(path, THistoryStore::TMode::ReadOnly);
    return reader.Count({});
}

std::vector<THistoryAlert> Announced(const QSignalSpy& spy) {
    std::vector<THistoryAlert> all;
    for (const QList<QVariant>& call : spy) {
        const auto batch = call[0].value<std::vector<THistoryAlert>>();
        all.insert(all.end(), batch.begin(), batch.end());
    }
    return all;
}

} // namespace

class TAlertRecorderTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> Dir;
    QString file() const { return Dir->path() + QStringLiteral("/velquist/history.sqlite3"); }
    qint64 now() const { return QDateTime::currentMSecsSinceEpoch(); }

private slots:
    void init() { Dir = std::make_unique<QTemporaryDir>(); }

    void batchesArriveAnnouncedInOrderWithIds() {
        TAlertRecorder recorder(file(), 30);
        QSignalSpy stored(&recorder, &TAlertRecorder::AlertsStored);
        const qint64 t = now();
        for (int i = 0; i < 500; ++i)
            recorder.Record(MakeAlert(t + i, QStringLiteral("S%1").arg(i)));
        // Without Flush: the writer's own quarter-second batches.
        QTRY_COMPARE_WITH_TIMEOUT(Announced(stored).size(), size_t(500), 5000);
        const auto announced = Announced(stored);
        for (size_t i = 0; i < announced.size(); ++i) {
            QCOMPARE(announced[i].Symbol, QStringLiteral("S%1").arg(i));
            QVERIFY(announced[i].Id > 0);
            if (i > 0)
                QVERIFY(announced[i].Id > announced[i - 1].Id);
        }
        THistoryStore reader(file(), THistoryStore::TMode::ReadOnly);
        QCOMPARE(reader.LastId(), announced.back().Id);
        QCOMPARE(reader.Page({}, std::nullopt, 1).front(), announced.back());
    }

    void brokerMessagesAreKeptAtOnceAndOnlyOnce() {
        TAlertRecorder recorder(file(), 30);
        const qint64 t = now();
        std::vector<TLoggedMessage> messages(2);
        messages[0].Key = 7;
        messages[0].Alerts = {{"Gappers", "AMD", 0, "", t}, {"Gappers", "NVDA", 912.5, "Up", t}};
        messages[1].Key = 8;
        messages[1].Alerts = {{"Breakouts", "TSLA", 0, "", t}};
        // Answered once they are in the file, well before the writer's next batch would be.
        const auto fresh = recorder.KeepMessages(messages, 5000);
        QVERIFY(fresh.has_value());
        QCOMPARE(*fresh, std::vector<bool>({true, true}));
        QCOMPARE(StoredCount(file()), qint64(3));
        // Sent again by the broker: known, nothing added.
        QCOMPARE(*recorder.KeepMessages(messages, 5000), std::vector<bool>({false, false}));
        // Their alerts reach the windows, which hand them on as every alert: not kept twice.
        TAlertData shown("AMD", 0, QDateTime::fromMSecsSinceEpoch(t), 0);
        shown.Origin = TAlertSource::Broker;
        recorder.RecordAlert("Gappers", shown);
        shown.Origin = TAlertSource::Inbox;
        recorder.RecordAlert("Gappers", shown);
        recorder.Flush();
        THistoryStore reader(file(), THistoryStore::TMode::ReadOnly);
        QCOMPARE(reader.Count({}), qint64(4));
        const auto page = reader.Page({}, std::nullopt, 10);
        QCOMPARE(int(std::count_if(page.begin(), page.end(),
                                   [](const THistoryAlert& a) { return a.Source == "broker"; })),
                 3);
    }

    void flushWritesEverythingQueuedWithoutTheEventLoop() {
        TAlertRecorder recorder(file(), 30);
        QSignalSpy stored(&recorder, &TAlertRecorder::AlertsStored);
        const qint64 t = now();
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 1000; ++i)
                recorder.Record(MakeAlert(t, QStringLiteral("S")));
            // The announcements of earlier rounds are still waiting in the event queue.
            recorder.Flush();
            QCOMPARE(StoredCount(file()), qint64(1000 * (round + 1)));
        }
        QTRY_COMPARE(Announced(stored).size(), size_t(3000));
    }

    void componentAlertsKeepTheirTimeAndSource() {
        TAlertRecorder recorder(file(), 30);
        const QDateTime time = QDateTime::currentDateTimeUtc().addSecs(-3600);
        TAlertData feed(QStringLiteral("MSFT"), 0, time, 401.25, QStringLiteral("New high"));
        feed.Origin = TAlertSource::Feed;
        TAlertData inbox(QStringLiteral("X"), 0, QDateTime(), 1, QStringLiteral("from a script"));
        inbox.Origin = TAlertSource::Inbox;
        TAlertData service(QStringLiteral("Y"), 0, time, 2, QString());
        const qint64 before = now();
        recorder.RecordAlert(QStringLiteral("Highs"), feed);
        recorder.RecordAlert(QStringLiteral("Mine"), inbox);
        recorder.RecordAlert(QStringLiteral("Highs"), service);
        recorder.Flush();
        THistoryStore reader(file(), THistoryStore::TMode::ReadOnly);
        std::vector<THistoryAlert> all;
        reader.ForEach({}, [&](const THistoryAlert& a) {
            all.push_back(a);
            return true;
        });
        QCOMPARE(all.size(), size_t(3));
        // Oldest first: the two of an hour ago, then the one without a time (now).
        QCOMPARE(all[0].Symbol, QStringLiteral("MSFT"));
        QCOMPARE(all[0].TimeMs, time.toMSecsSinceEpoch());
        QCOMPARE(all[0].Window, QStringLiteral("Highs"));
        QCOMPARE(all[0].Price, 401.25);
        QCOMPARE(all[0].Description, QStringLiteral("New high"));
        QCOMPARE(all[0].Source, QStringLiteral("feed"));
        QCOMPARE(all[1].Source, QStringLiteral("service"));
        QCOMPARE(all[2].Source, QStringLiteral("inbox"));
        QVERIFY(all[2].TimeMs >= before && all[2].TimeMs <= now());
    }

    // Texts of every length and kind come back as they went in, each alert its own.
    void textsArriveWhole() {
        TAlertRecorder recorder(file(), 30);
        std::vector<THistoryAlert> sent;
        const QStringList texts = {"", "x", "Überblick 株, \"quoted\"\r\n", QString(70000, u'é'),
                                   "Gap up (+1.20%)"};
        for (int i = 0; i < 40; ++i) {
            THistoryAlert a = MakeAlert(now() - 1000 + i, texts[i % 5]);
            a.Window = texts[(i + 1) % 5];
            a.Description = texts[(i + 2) % 5];
            a.Source = i % 3 ? QStringLiteral("feed") : QStringLiteral("something new");
            a.Price = i * 0.1;
            sent.push_back(a);
            recorder.Record(a);
        }
        recorder.Flush();
        THistoryStore reader(file(), THistoryStore::TMode::ReadOnly);
        std::vector<THistoryAlert> stored;
        reader.ForEach({}, [&](const THistoryAlert& a) {
            stored.push_back(a);
            return true;
        });
        QCOMPARE(stored.size(), sent.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            sent[i].Id = stored[i].Id;
            QCOMPARE(stored[i], sent[i]);
        }
    }

    void keptPeriodIsEnforced() {
        {
            THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
            std::vector<THistoryAlert> old = {MakeAlert(now() - 3 * 86400000LL, "OLD"),
                                              MakeAlert(now() - 3600000, "NEW")};
            store.Append(old);
        }
        {
            // Pruned at start: two days kept.
            TAlertRecorder recorder(file(), 2);
            recorder.Flush();
            THistoryStore reader(file(), THistoryStore::TMode::ReadOnly);
            QCOMPARE(reader.Count({}), qint64(1));
            QCOMPARE(reader.Page({}, std::nullopt, 5).front().Symbol, QStringLiteral("NEW"));
        }
        TAlertRecorder recorder(file(), 0);
        QCOMPARE(recorder.KeepDays(), 0);
        recorder.Record(MakeAlert(now(), "IGNORED"));
        recorder.Flush();
        // Keeping nothing empties the history and records nothing.
        QCOMPARE(StoredCount(file()), qint64(0));
        recorder.SetKeepDays(30);
        recorder.Record(MakeAlert(now(), "KEPT"));
        recorder.Flush();
        QCOMPARE(StoredCount(file()), qint64(1));
        recorder.SetKeepDays(0);
        recorder.Flush();
        QCOMPARE(StoredCount(file()), qint64(0));
    }

    void destroyingWritesWhatIsQueued() {
        {
            TAlertRecorder recorder(file(), 30);
            for (int i = 0; i < 100; ++i)
                recorder.Record(MakeAlert(now(), "S"));
        }
        QCOMPARE(StoredCount(file()), qint64(100));
    }

    // With nothing queued the writer sleeps, before and after a batch; the first alert still
    // starts a batch of its own (one write for alerts that come together, no Flush needed),
    // and what is queued when the recorder closes is written.
    void writerSleepsWhileNothingComes() {
        auto recorder = std::make_unique<TAlertRecorder>(file(), 30);
        QSignalSpy stored(recorder.get(), &TAlertRecorder::AlertsStored);
        recorder->Flush(); // the file is open and pruned: nothing left to do
        const quint64 idle = recorder->WriterWakeups();
        QTest::qWait(1000);
        QCOMPARE(recorder->WriterWakeups(), idle);

        const qint64 t = now();
        for (int i = 0; i < 100; ++i)
            recorder->Record(MakeAlert(t + i, QStringLiteral("S%1").arg(i)));
        QTRY_COMPARE_WITH_TIMEOUT(Announced(stored).size(), size_t(100), 5000);
        QCOMPARE(stored.size(), 1);
        QVERIFY(recorder->WriterWakeups() > idle);
        recorder->Flush(); // the announced batch is back with the writer
        const quint64 afterBatch = recorder->WriterWakeups();
        QTest::qWait(600);
        QCOMPARE(recorder->WriterWakeups(), afterBatch);

        for (int i = 0; i < 50; ++i)
            recorder->Record(MakeAlert(t + 100 + i, QStringLiteral("T%1").arg(i)));
        recorder.reset();
        QCOMPARE(StoredCount(file()), qint64(150));
    }

    void killedRecorderLosesAtMostTheLastSecond() {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--record-until-killed", file()});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine(), QByteArray("ready\n"));
        QThread::msleep(1500);
        const qint64 killedAt = now();
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        // Opened as the client opens it after the crash.
        THistoryStore store(file(), THistoryStore::TMode::ReadWrite);
        QVERIFY(store.SetAsidePath().isEmpty());
        const auto newest = store.Page({}, std::nullopt, 1);
        QCOMPARE(newest.size(), size_t(1));
        QVERIFY2(killedAt - newest.front().TimeMs <= 1000,
                 qPrintable(QString::number(killedAt - newest.front().TimeMs)));
        // What was written is whole: no alert missing before the newest.
        QCOMPARE(store.Count({}), store.LastId());
        QVERIFY(store.Count({}) > 500);
    }

    void unwritableHistoryIsToldOnce() {
        WriteTextFile(Dir->path() + "/plain", "x");
        TAlertRecorder recorder(Dir->path() + "/plain/velquist/history.sqlite3", 30);
        QSignalSpy faults(&recorder, &TAlertRecorder::Fault);
        QSignalSpy stored(&recorder, &TAlertRecorder::AlertsStored);
        for (int round = 0; round < 3; ++round) {
            recorder.Record(MakeAlert(now(), "S"));
            recorder.Flush(); // returns although nothing could be written
        }
        QTRY_COMPARE(faults.size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(faults.size(), 1);
        QCOMPARE(stored.size(), 0);
        const QString text = faults.front().front().toString();
        QVERIFY2(text.startsWith("Alerts cannot be kept in the alert history: "), qPrintable(text));
        QVERIFY(text.endsWith("They keep showing in their windows."));
    }

    // Another program holds the file's write lock longer than a write waits for it: the
    // alerts wait and are all written once it lets go; nothing is told.
    void alertsWaitOutALock() {
        TAlertRecorder recorder(file(), 30);
        QSignalSpy faults(&recorder, &TAlertRecorder::Fault);
        recorder.Record(MakeAlert(now(), "FIRST"));
        recorder.Flush();
        sqlite3* holder = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(file()).constData(), &holder), SQLITE_OK);
        QCOMPARE(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        for (int i = 0; i < 100; ++i)
            recorder.Record(MakeAlert(now(), QStringLiteral("A%1").arg(i)));
        QTest::qWait(6500); // past the 5 s a write waits for a lock
        for (int i = 0; i < 100; ++i)
            recorder.Record(MakeAlert(now(), QStringLiteral("B%1").arg(i)));
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
        QTRY_COMPARE_WITH_TIMEOUT(StoredCount(file()), qint64(201), 15000);
        QCOMPARE(faults.size(), 0);
    }

    // While the file cannot be written, alerts wait up to a bound in count and one in bytes;
    // beyond them the oldest go, which is told once, and the rest are written when it can be.
    void waitingAlertsAreBoundedAndTheDropIsTold() {
        const QString plain = Dir->path() + "/plain";
        WriteTextFile(plain, "x");
        const QString path = plain + "/velquist/history.sqlite3";
        for (const bool big : {false, true}) {
            TAlertRecorder recorder(path, 30);
            QSignalSpy faults(&recorder, &TAlertRecorder::Fault);
            QSignalSpy drops(&recorder, &TAlertRecorder::AlertsDropped);
            const int count = big ? 1200 : 120000;
            const QString description = big ? QString(20000, u'd') : QString();
            for (int i = 0; i < count; ++i) {
                THistoryAlert a = MakeAlert(now(), QStringLiteral("S%1").arg(i));
                a.Description = description;
                recorder.Record(a);
                // The writer takes them from the queue as they come.
                if (i % (big ? 100 : 20000) == 0)
                    QThread::msleep(300);
            }
            recorder.Flush();
            QTRY_COMPARE(faults.size(), 2);
            QVERIFY(faults[0][0].toString().startsWith("Alerts cannot be kept"));
            const QString dropped = faults[1][0].toString();
            QVERIFY2(dropped.startsWith("The alert history could not be written for a while (") &&
                         dropped.contains("the oldest waiting are dropped"),
                     qPrintable(dropped));
            // The place can be written again: what waited is written, the newest of them.
            QVERIFY(QFile::remove(plain));
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path), 5000);
            recorder.Flush();
            THistoryStore reader(path, THistoryStore::TMode::ReadOnly);
            const qint64 kept = reader.Count({});
            // 100,000 alerts, or 32 MB of 40 KB alerts.
            QVERIFY2(big ? kept > 700 && kept <= 837 : kept >= 90000 && kept <= 100000,
                     qPrintable(QString::number(kept)));
            QCOMPARE(reader.Page({}, std::nullopt, 1).front().Symbol,
                     QStringLiteral("S%1").arg(count - 1));
            QCOMPARE(reader.Count({QStringLiteral("S0"), {}, {}, {}}), qint64(0));
            QCOMPARE(faults.size(), 2);
            // Every alert is either in the file or counted as dropped, and the whole count is
            // told (the fault above gave only the first).
            QCOMPARE(qint64(recorder.DroppedCount()), qint64(count) - kept);
            QTRY_VERIFY(!drops.isEmpty() &&
                        drops.last()[0].toULongLong() == recorder.DroppedCount());
            QDir(plain).removeRecursively();
            WriteTextFile(plain, "x");
        }
    }

    // A read-only disk is told as such, not as a folder that "cannot be created".
    void readOnlyDiskIsToldAsSuch() {
        if (QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("unshare is not installed");
        TTestHome home;
        const QString folder = home.dataHome() + "/velquist";
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7755));
        // A mount of its own, read-only, in a namespace of the child's.
        QProcess child;
        child.start("unshare", {"-rm", "sh", "-c",
                                "mount --bind -o ro \"$1\" \"$1\" || exit 77; exec \"$2\" "
                                "--tell-fault \"$1/history.sqlite3\"",
                                "sh", folder, QCoreApplication::applicationFilePath()});
        QVERIFY(child.waitForFinished(20000));
        if (child.exitCode() == 77 || child.exitCode() == 1)
            QSKIP(qPrintable("no mount namespace here: " + child.readAllStandardError()));
        const QString told = QString::fromLocal8Bit(child.readAllStandardOutput());
        QVERIFY2(told.startsWith("Alerts cannot be kept in the alert history: ") &&
                     told.contains("Read-only file system") && !told.contains("cannot be created"),
                 qPrintable(told + child.readAllStandardError()));
    }

    void damagedHistoryIsSetAsideAndToldOnce() {
        QDir().mkpath(QFileInfo(file()).absolutePath());
        WriteTextFile(file(), QByteArray(4096, 'x'));
        TAlertRecorder recorder(file(), 30);
        QSignalSpy faults(&recorder, &TAlertRecorder::Fault);
        recorder.Record(MakeAlert(now(), "S"));
        recorder.Flush();
        QTRY_COMPARE(faults.size(), 1);
        const QString text = faults.front().front().toString();
        QVERIFY2(text.startsWith("The alert history was damaged. It was set aside as \"" + file() +
                                 ".damaged-"),
                 qPrintable(text));
        QCOMPARE(StoredCount(file()), qint64(1));
    }
};

// The child of killedRecorderLosesAtMostTheLastSecond: records an alert a millisecond, stamped
// with the time it was recorded, until it is killed.
int RecordUntilKilled(const QString& path) {
    TAlertRecorder recorder(path, 30);
    recorder.Record(MakeAlert(QDateTime::currentMSecsSinceEpoch(), "FIRST"));
    recorder.Flush();
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        recorder.Record(MakeAlert(QDateTime::currentMSecsSinceEpoch(), "S"));
        QThread::msleep(1);
    }
}

// The child of readOnlyDiskIsToldAsSuch: prints the first fault the recorder tells.
int TellFault(const QString& path) {
    TAlertRecorder recorder(path, 30);
    QString told;
    QObject::connect(&recorder, &TAlertRecorder::Fault, [&](const QString& text) {
        if (told.isEmpty())
            told = text;
    });
    recorder.Record(MakeAlert(QDateTime::currentMSecsSinceEpoch(), "S"));
    recorder.Flush();
    QCoreApplication::processEvents();
    std::printf("%s\n", told.toLocal8Bit().constData());
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--record-until-killed")
        return RecordUntilKilled(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QByteArray(argv[1]) == "--tell-fault")
        return TellFault(QString::fromLocal8Bit(argv[2]));
    TAlertRecorderTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_alert_recorder.moc"
