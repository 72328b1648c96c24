// Whole process: scripts/run.sh on a machine without a display, as a newcomer runs it. It
// builds (nothing to do after the suite's own build in build/), starts its virtual X server and
// the client, which must reach live alerts with no login dialog left open; a login the user
// stored before stays theirs.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QString SourceDir = QStringLiteral(VELQUIST_SOURCE_DIR);

QString StoredUserName() {
    TUserStore::ResetInstance();
    const QString name = ReadStringValue(TSettingsStore::Registry(),
                                         SettingsKeyPath() + QStringLiteral("\\Settings"),
                                         QStringLiteral("UserName"), QString());
    TUserStore::ResetInstance();
    return name;
}

// The rows of the alert history (velquist-history export, without its header line).
int HistoryRows() {
    QProcess tool;
    tool.start(QStringLiteral(VELQUIST_BIN_DIR "/velquist-history"), {QStringLiteral("export")});
    tool.waitForFinished(10000);
    return qMax(0, int(tool.readAllStandardOutput().count('\n')) - 1);
}

// run.sh without DISPLAY and WAYLAND_DISPLAY, in the harness's private home and XDG folders,
// with no session bus; ended with SIGTERM (as Ctrl+C would), which ends the client and then its
// X server. Ended so before the harness ends: its SIGKILL to run.sh alone would leave both
// running, in process groups of their own.
class TRunScript {
public:
    explicit TRunScript(TWholeProcessHarness& h) : Run(start(h)) {}
    ~TRunScript() { stop(); }
    bool stop() {
        Run.terminate();
        return Run.waitFinished(30000);
    }
    // The display and its authority file, as run.sh names them.
    QRegularExpressionMatch display() {
        static const QRegularExpression named(QStringLiteral("DISPLAY=:(\\d+) XAUTHORITY=(\\S+)"));
        return named.match(QString::fromLocal8Bit(Run.stdErr()));
    }
    // The X server's lock file.
    QString serverLock() {
        const QRegularExpressionMatch m = display();
        return m.hasMatch() ? QStringLiteral("/tmp/.X%1-lock").arg(m.captured(1)) : QString();
    }
    // Whether a window of that name is shown on the virtual screen.
    bool shows(const QString& caption) {
        const QRegularExpressionMatch m = display();
        QProcess info;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + m.captured(1));
        env.insert(QStringLiteral("XAUTHORITY"), m.captured(2));
        info.setProcessEnvironment(env);
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-name"), caption});
        info.waitForFinished(5000);
        return info.readAllStandardOutput().contains("Map State: IsViewable");
    }
    TClientRun& Run;

private:
    static TClientRun& start(TWholeProcessHarness& h) {
        h.setWorkingDir(SourceDir);
        TClientRun& run = h.startProgram(
            SourceDir + QStringLiteral("/scripts/run.sh"), {}, {},
            {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"),
             QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("VELQUIST_LINK_ARGUMENT")});
        h.setWorkingDir(QString());
        return run;
    }
};

} // namespace

class TRunScriptTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // run.sh builds into build/ at the repository root: only where that is this build.
        if (QDir(QStringLiteral(VELQUIST_BIN_DIR)).canonicalPath() !=
            QDir(SourceDir + QStringLiteral("/build")).canonicalPath())
            QSKIP("run.sh builds build/, and this suite was built elsewhere");
    }

    void firstStartLogsInToTheDemoAccount() {
        TWholeProcessHarness h;
        // Nothing of this run is saved into the repository's build/SavedWindows.
        TUserStore::ResetInstance();
        WriteIntegerValue(TSettingsStore::Registry(), SettingsKeyPath() + "\\Settings",
                          "SaveOnExit", 0);
        TUserStore::ResetInstance();
        QVERIFY(StoredUserName().isEmpty());

        TRunScript script(h);
        QVERIFY(script.Run.waitStarted());
        QDeadlineTimer deadline(120000); // a build with nothing to do, then the start
        while (HistoryRows() == 0 && !deadline.hasExpired() &&
               script.Run.process().state() == QProcess::Running)
            script.Run.waitFinished(500);
        const QByteArray err = script.Run.stdErr();
        QVERIFY2(HistoryRows() > 0, err.constData());
        QVERIFY2(err.contains("No login stored: Velquist logs in to the demo account DEMO."),
                 err.constData());
        QCOMPARE(StoredUserName(), QStringLiteral("DEMO"));
        // Connected with nothing left to answer on a screen nobody can type into.
        QVERIFY(script.shows(QStringLiteral("Velquist")));
        QVERIFY(!script.shows(QStringLiteral("Please login")));

        const QString lock = script.serverLock();
        QVERIFY2(!lock.isEmpty(), err.constData());
        QVERIFY(QFile::exists(lock));
        QVERIFY(script.stop());
        QCOMPARE(script.Run.exitCode(), 0);
        QVERIFY2(!QFile::exists(lock), "the virtual X server outlived run.sh");
    }

    void aStoredLoginStays() {
        TWholeProcessHarness h;
        TUserStore::ResetInstance();
        const QString key = SettingsKeyPath() + "\\Settings";
        WriteIntegerValue(TSettingsStore::Registry(), key, "SaveOnExit", 0);
        WriteStringValue(TSettingsStore::Registry(), key, "UserName", "trader7");
        WriteStringValue(TSettingsStore::Registry(), key, "Password", "secret");
        TUserStore::ResetInstance();

        TRunScript script(h);
        QVERIFY(script.Run.waitStarted());
        QVERIFY2(script.Run.waitForStdErr("No display found", 120000),
                 script.Run.stdErr().constData());
        // run.sh decides before it starts the client, and a client takes a login link within a
        // second of its start: a few seconds show whether the stored login was replaced.
        QDeadlineTimer deadline(4000);
        while (!deadline.hasExpired() && StoredUserName() == QStringLiteral("trader7") &&
               script.Run.process().state() == QProcess::Running)
            script.Run.waitFinished(250);
        QVERIFY2(script.Run.process().state() == QProcess::Running,
                 script.Run.stdErr().constData());
        QCOMPARE(StoredUserName(), QStringLiteral("trader7"));
        QVERIFY(!script.Run.stdErr().contains("logs in to the demo account"));
        QVERIFY(script.stop());
    }
};

QTEST_MAIN(TRunScriptTest)
#include "tst_run_script.moc"
