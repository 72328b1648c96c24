// Whole-process test of the start-up update check: the built client asks a local HTTP server
// (python3's http.server on 127.0.0.1, on a port it picks itself) and reacts to its answer.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "shell/zkLayouts.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

// A static file server over a folder, run for the life of the object.
class TFileServer {
public:
    explicit TFileServer(const QString& folder) {
        // Its banner and its request log, one stream.
        Server.setProcessChannelMode(QProcess::MergedChannels);
        Server.start(QStringLiteral("python3"), {"-u", "-m", "http.server", "0", "--bind",
                                                 "127.0.0.1", "--directory", folder});
        // "Serving HTTP on 127.0.0.1 port 40123 (...)"
        static const QRegularExpression portLine(QStringLiteral("port (\\d+)"));
        QDeadlineTimer deadline(10000);
        while (Port == 0 && !deadline.hasExpired() && Server.state() != QProcess::NotRunning) {
            const QRegularExpressionMatch m = portLine.match(QString::fromLatin1(log()));
            if (m.hasMatch())
                Port = m.captured(1).toInt();
        }
    }
    ~TFileServer() {
        Server.kill();
        Server.waitForFinished(5000);
    }
    QString url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(Port).arg(QLatin1String(path));
    }
    // All the server said so far: the banner, then one line per request.
    QByteArray log() {
        Server.waitForReadyRead(100);
        Out += Server.readAll();
        return Out;
    }
    int Port = 0;

private:
    QProcess Server;
    QByteArray Out;
};

} // namespace

class TUpdateE2ETest : public QObject {
    Q_OBJECT
private slots:
    void firstJobsRunAtEveryStartOnADesktop();
    void startupCheckAgainstALocalServer() {
        TWholeProcessHarness h;
        // A signed-in demo user and no layout to load or save: nothing else asks anything.
        TUserStore::ResetInstance();
        const TSettingsStore registry = TSettingsStore::Registry();
        const QString key = SettingsKeyPath() + QStringLiteral("\\Settings");
        WriteStringValue(registry, key, QStringLiteral("UserName"), QStringLiteral("DEMO"));
        WriteBoolValue(registry, key, QStringLiteral("LoadOnStart"), false);
        WriteIntegerValue(registry, key, QStringLiteral("SaveOnExit"), 1);
        TUserStore::ResetInstance();

        const QString site = h.home().path() + QStringLiteral("/site");
        WriteTextFile(site + QStringLiteral("/newer.txt"),
                      "1251\r\nhttps://www.velquist.example/download?build=1251\r\n");
        WriteTextFile(site + QStringLiteral("/file-page.txt"), "1251\r\nfile:///etc/passwd\r\n");
        TFileServer server(site);
        QVERIFY2(server.Port > 0, "python3 -m http.server did not start");

        const QString opened = h.home().path() + QStringLiteral("/opened.txt");
        QProcessEnvironment env;
        env.insert(QStringLiteral("VELQUIST_SHELL_OPEN_LOG"), opened);
        env.insert(QStringLiteral("VELQUIST_SCRIPTED_PROMPTS"), QStringLiteral("yes"));
        auto settings = [&](const char* page) {
            WriteTextFile(h.installDir() + QStringLiteral("/Settings.ini"),
                          "[Settings]\nBuildVersion=1250\nCheckUpdateURL=" +
                              server.url(page).toUtf8() + "\n");
        };

        // A newer build: the question, answered Yes, opens the page.
        settings("newer.txt");
        {
            TClientRun& run = h.startClient({}, env);
            QVERIFY(run.waitStarted());
            QVERIFY2(WaitForFile(opened, 20000), run.stdErr().constData());
            QTRY_VERIFY_WITH_TIMEOUT(ReadWholeFile(opened).endsWith('\n'), 5000);
            QCOMPARE(ReadWholeFile(opened),
                     QByteArray("https://www.velquist.example/download?build=1251\n"));
            run.terminate();
            QVERIFY(run.waitFinished());
            const QByteArray err = run.stdErr();
            QVERIFY2(err.contains("A new version of the application is available online."),
                     err.constData());
        }
        QVERIFY(server.log().contains("GET /newer.txt"));

        // A page that is no web address: no question, nothing opened.
        QFile::remove(opened);
        settings("file-page.txt");
        {
            TClientRun& run = h.startClient({}, env);
            QVERIFY(run.waitStarted());
            QTRY_VERIFY_WITH_TIMEOUT(server.log().contains("GET /file-page.txt"), 20000);
            QTest::qWait(1000); // time enough for the answer to be handled
            QVERIFY(run.process().state() == QProcess::Running);
            run.terminate();
            QVERIFY(run.waitFinished());
            const QByteArray err = run.stdErr();
            QVERIFY2(!err.contains("velquist prompt"), err.constData());
        }
        QVERIFY(!QFile::exists(opened));
    }
};

// On a real desktop the update check and the first symbol list refresh come at every start:
// under openbox as it comes, and under an openbox that gives new windows no focus (as focus-
// stealing prevention does when the user works elsewhere meanwhile), where the main window is
// never activated by itself. The start-up layout shows an alert window, which is activated,
// and the symbol lists window, whose list box stays empty until the first refresh.
void TUpdateE2ETest::firstJobsRunAtEveryStartOnADesktop() {
    int starts = 0;
    for (const bool focusNew : {true, false}) {
        // A fresh installation and desktop for each openbox.
        TWholeProcessHarness h;
        const QString layoutFile = h.installDir() + QStringLiteral("/SavedWindows/desk.zkl");
        StoreDeskChoices(layoutFile, true);
        SetDefaultWindowRecord();
        TLayout desk;
        TLayoutWindow alerts;
        alerts.Record = DefaultWindowRecord();
        alerts.Record.Left = 300;
        alerts.Record.Top = 200;
        desk.Windows.push_back(alerts);
        desk.SymbolWindow = {700, 60, 320, 400, 0, true};
        QDir().mkpath(h.installDir() + QStringLiteral("/SavedWindows"));
        WriteLayout(TSettingsStore::IniFile(layoutFile), desk);
        WriteTextFile(h.home().dataHome() + QStringLiteral("/velquist/service/demo.json"),
                      R"({"lists": [{"id": 4, "name": "Tech", "symbols": ["AAPL"]}]})");

        const QString site = h.home().path() + QStringLiteral("/site");
        WriteTextFile(site + QStringLiteral("/build.txt"),
                      "1\r\nhttps://www.velquist.example/\r\n");
        TFileServer server(site);
        QVERIFY2(server.Port > 0, "python3 -m http.server did not start");
        WriteTextFile(
            h.installDir() + QStringLiteral("/Settings.ini"),
            "[Settings]\nApplicationTitle=Velquist Desk\nBuildVersion=1\nCheckUpdateURL=" +
                server.url("build.txt").toUtf8() + "\n");
        QStringList openbox;
        if (!focusNew) {
            const QString noFocus = h.home().path() + QStringLiteral("/openbox-no-focus.xml");
            WriteTextFile(noFocus,
                          "<?xml version=\"1.0\"?>\n<openbox_config "
                          "xmlns=\"http://openbox.org/3.4/rc\"><focus><focusNew>no</focusNew>"
                          "</focus></openbox_config>\n");
            openbox = {QStringLiteral("--config-file"), noFocus};
        }
        HARNESS_NEED(h.needDesktop(true, openbox));

        QProcessEnvironment env;
        env.insert(QStringLiteral("VELQUIST_SCRIPTED_PROMPTS"), QStringLiteral("yes"));
        env.insert(QStringLiteral("VELQUIST_TEST_STEPS"),
                   QStringLiteral("select:SymbolListsListBox:Tech"));
        for (int run = 1; run <= 5; ++run) {
            ++starts;
            const qsizetype asked = server.log().count("GET /build.txt");
            TClientRun& client = h.startClient({}, env);
            QVERIFY(client.waitStarted());
            QDeadlineTimer deadline(20000);
            while (!deadline.hasExpired() && client.process().state() == QProcess::Running &&
                   (server.log().count("GET /build.txt") == asked ||
                    !client.stdErr().contains("velquist test steps done")))
                client.waitFinished(100);
            const QString at = QStringLiteral("start %1 (%2): ")
                                   .arg(starts)
                                   .arg(focusNew ? "openbox" : "openbox, no focus");
            QVERIFY2(
                server.log().count("GET /build.txt") == asked + 1,
                qPrintable(at + "no update request\n" + QString::fromLocal8Bit(client.stdErr())));
            QVERIFY2(
                client.stdErr().contains("velquist test steps done"),
                qPrintable(at + "no symbol lists\n" + QString::fromLocal8Bit(client.stdErr())));
            client.terminate();
            QVERIFY(client.waitFinished());
            QCOMPARE(client.exitCode(), 0);
            QVERIFY2(!client.stdErr().contains("velquist prompt"), client.stdErr().constData());
        }
    }
    QCOMPARE(starts, 10);
}

QTEST_MAIN(TUpdateE2ETest)
#include "tst_update_e2e.moc"
