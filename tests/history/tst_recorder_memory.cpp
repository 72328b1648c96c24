// The alert recorder's memory over a long run: a sender that makes up a new symbol for every
// alert must not make the recorder remember each one for as long as the client runs.
#include "history/zkAlertRecorder.h"
#include "zkTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <malloc.h>
#include <sqlite3.h>

namespace {

// The heap in use, less what SQLite holds (its page cache fills up to its bound as the file
// grows, which is no growth of ours).
qint64 HeapBytes() {
    return qint64(mallinfo2().uordblks) - qint64(sqlite3_memory_used());
}

} // namespace

class TRecorderMemoryTest : public QObject {
    Q_OBJECT
private slots:
    void newSymbolsDoNotPileUp() {
        QTemporaryDir dir;
        TAlertRecorder recorder(dir.filePath(QStringLiteral("history.sqlite3")), 30);
        qint64 next = 0;
        auto record = [&](int count) {
            for (int i = 0; i < count; ++i, ++next) {
                THistoryAlert alert;
                alert.TimeMs = 1700000000000 + next;
                alert.Window = QStringLiteral("Flood");
                alert.Symbol = QStringLiteral("S%1").arg(next);
                alert.Source = QStringLiteral("inbox");
                recorder.Record(alert);
                if (i % 20000 == 0) {
                    recorder.Flush();                  // as the writer's rounds would take them
                    QCoreApplication::processEvents(); // their announcements
                }
            }
            recorder.Flush();
            QCoreApplication::processEvents();
        };
        record(150000);
        malloc_trim(0);
        const qint64 before = HeapBytes();
        record(200000);
        malloc_trim(0);
        const qint64 growth = HeapBytes() - before;
        // 200,000 new symbols remembered would be some 25 MB.
        QVERIFY2(growth < 6 * 1024 * 1024,
                 qPrintable(QStringLiteral("grew %1 MB").arg(double(growth) / 1048576.0)));
    }
};

QTEST_MAIN(TRecorderMemoryTest)
#include "tst_recorder_memory.moc"
