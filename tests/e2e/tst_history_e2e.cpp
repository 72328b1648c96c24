// Whole-process test of the alert history: alerts sent to a running client by the user's own
// program are in `velquist-history export` after a terminate, a restart and a kill -9, and the
// client's history file stays private.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "inbox/zkInboxSettings.h"
#include "zkClientProcess.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

namespace {

int RunProgram(const QString& program, const QStringList& arguments, QByteArray* out = nullptr) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(20000))
        return -1;
    if (out)
        *out = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

int SendAlert(const QStringList& arguments) {
    return RunProgram(QStringLiteral(VELQUIST_BIN_DIR "/velquist-alert"), arguments);
}

QList<QByteArray> ExportedLines() {
    QByteArray out;
    if (RunProgram(QStringLiteral(VELQUIST_BIN_DIR "/velquist-history"), {"export"}, &out) != 0)
        return {};
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

// The part of an exported line after its time.
QByteArray AfterTime(const QByteArray& line) {
    return line.mid(line.indexOf(',') + 1);
}

} // namespace

class THistoryE2ETest : public QObject {
    Q_OBJECT
private slots:
    void keptAcrossARestartAndAKill() {
        TTestHome home;
        TTestInstallation inst;
        QVERIFY(inst.isValid());
        StoreDeskChoices(QString(), false);
        TInboxSettings inbox;
        inbox.Enabled = true;
        inbox.Port = FreePort();
        inbox.Token = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
        WriteInboxSettings(TSettingsStore::Registry(), inbox);
        TUserStore::ResetInstance();

        {
            TClientRun run(inst.clientPath(), {});
            QVERIFY(run.waitStarted());
            QVERIFY2(WaitListening(inbox.Port, run), run.stdErr().constData());
            QCOMPARE(SendAlert({"--strategy", "Gappers", "--price", "187.2", "AAPL", "Gap", "up"}),
                     0);
            QCOMPARE(SendAlert({"--strategy", "Gappers", "AMD", "Up \"big\", fast"}), 0);
            QCOMPARE(SendAlert({"--strategy", "Breakouts", "--price", "912.4", "NVDA"}), 0);
            run.terminate();
            QVERIFY(run.waitFinished());
            QCOMPARE(run.exitCode(), 0);
        }
        QList<QByteArray> lines = ExportedLines();
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QByteArray("time,window,symbol,price,description,source"));
        QCOMPARE(AfterTime(lines[1]), QByteArray("Gappers,AAPL,187.2,Gap up,inbox"));
        QCOMPARE(AfterTime(lines[2]), QByteArray("Gappers,AMD,0,\"Up \"\"big\"\", fast\",inbox"));
        QCOMPARE(AfterTime(lines[3]), QByteArray("Breakouts,NVDA,912.4,,inbox"));
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z,")
                    .match(QString::fromLatin1(lines[1]))
                    .hasMatch());

        const QString file = home.dataHome() + QStringLiteral("/velquist/history.sqlite3");
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(file).path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);

        // A second run adds to the same history; a kill more than a second after an alert
        // keeps it.
        TClientRun run(inst.clientPath(), {});
        QVERIFY(run.waitStarted());
        QVERIFY2(WaitListening(inbox.Port, run), run.stdErr().constData());
        QCOMPARE(SendAlert({"--strategy", "Gappers", "TSLA", "Late"}), 0);
        QTest::qWait(1500);
        // Read while the client runs and holds the file.
        lines = ExportedLines();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(AfterTime(lines[4]), QByteArray("Gappers,TSLA,0,Late,inbox"));
        QCOMPARE(SendAlert({"--strategy", "Gappers", "MSFT", "Last"}), 0);
        QTest::qWait(1500);
        run.process().kill();
        QVERIFY(run.waitFinished());
        lines = ExportedLines();
        QCOMPARE(lines.size(), 6);
        QCOMPARE(AfterTime(lines[5]), QByteArray("Gappers,MSFT,0,Last,inbox"));
    }
};

QTEST_MAIN(THistoryE2ETest)
#include "tst_history_e2e.moc"
