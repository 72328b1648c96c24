// Whole-process tests of desktop notifications, the tray icon and "Mute Sounds" on real parts:
// a private D-Bus session bus with the tests' own notification server or dunst on it, a private X
// desktop (Xvfb + openbox), a tray host, and the alert inbox to bring alerts in. Each part is
// started here and ended with its test.
#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkHarness.h"

#include <QDir>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QString Token = QStringLiteral("0123456789abcdef0123456789abcdef01234567");

// A user's desk: DEMO logged in, the alert inbox on, and new windows (the inbox opens one per
// strategy) that show a desktop notification and, when told, play a sound (into AudioOut).
struct TNotifyDesk : TWholeProcessHarness {
    QString AudioOut;

    explicit TNotifyDesk(bool sound) {
        AudioOut = home().path() + QStringLiteral("/audio-out");
        QDir().mkpath(AudioOut);
        QByteArray actions = "Action0=1,5\nActionsCount=1\n";
        if (sound) {
            const QString wave = installDir() + QStringLiteral("/ping.wav");
            QFile::copy(QStringLiteral(VELQUIST_BIN_DIR "/starter/Sounds/Ping.wav"), wave);
            actions = "Action0=1,2," + wave.toUtf8() + ",100,50\nAction1=1,5\nActionsCount=2\n";
        }
        WriteTextFile(installDir() + QStringLiteral("/SavedWindows/DEFAULT_WINDOW.zka"),
                      "[AlertWindow]\n" + actions);
        StoreDeskChoices(installDir() + QStringLiteral("/SavedWindows/desk.zkl"), false);
        needInbox(Token);
    }
    // Starts the client with these test steps (none when empty), its sounds into AudioOut.
    TClientRun& start(const QString& steps = QString()) {
        QProcessEnvironment env;
        env.insert(QStringLiteral("VELQUIST_AUDIO_OUT"), AudioOut);
        if (!steps.isEmpty())
            env.insert(QStringLiteral("VELQUIST_TEST_STEPS"), steps);
        return startClient({}, env);
    }
    // Posts alerts (a JSON object or array) to the client's webhook; the HTTP status.
    int Post(const QByteArray& body) const { return postAlert(body).Status; }
    int Sounds() const { return int(QDir(AudioOut).entryList(QDir::Files).size()); }
    static bool StoredMute() {
        TUserStore::ResetInstance();
        const bool muted = ReadBoolValue(TSettingsStore::Registry(),
                                         SettingsKeyPath() + QStringLiteral("\\Settings"),
                                         QStringLiteral("MuteSounds"), false);
        TUserStore::ResetInstance();
        return muted;
    }
};

QByteArray AlertJson(const char* symbol, const char* strategy, double price = 0,
                     const char* description = "") {
    return QStringLiteral(R"({"symbol": "%1", "strategy": "%2", "price": %3, "description": "%4"})")
        .arg(QString::fromLatin1(symbol), QString::fromLatin1(strategy))
        .arg(price)
        .arg(QString::fromLatin1(description))
        .toUtf8();
}

// The caption of the window the window manager holds active.
QString ActiveCaption(const QString& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    QProcess xprop;
    xprop.setProcessEnvironment(env);
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")});
    xprop.waitForFinished(5000);
    const QString id =
        QString::fromLatin1(xprop.readAllStandardOutput()).section(u' ', -1).trimmed();
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("WM_NAME")});
    xprop.waitForFinished(5000);
    return QString::fromUtf8(xprop.readAllStandardOutput()).section(u'"', 1, -2);
}

} // namespace

class TNotifyE2ETest : public QObject {
    Q_OBJECT
private slots:
    void notificationsReplaceInBurstsAndClickSelects();
    void slowServerStillReplacesAndClicksSelect();
    void withoutAServerOneLineAndNoHarm();
    void dunstShowsNamesAndTextAsTheyAre();
    void muteSilencesAlertsAndSurvivesARestart();
    void trayIconUnderATrayHost();
};

void TNotifyE2ETest::notificationsReplaceInBurstsAndClickSelects() {
    TNotifyDesk desk(false);
    HARNESS_NEED(desk.needDesktop());
    if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
        QSKIP("xprop is not installed (scripts/install-deps.sh installs x11-utils)");
    HARNESS_NEED(desk.needSessionBus());
    QCOMPARE(desk.needNotificationRecorder(), QString());
    TNotificationRecorder& server = desk.notifications();
    const TDesktop& desktop = desk.desktop();
    // Done once the active window's list has AMD selected: only the click selects anything.
    TClientRun& run = desk.start(QStringLiteral("selected:AlertsTableView:AMD"));
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitListening(desk.inboxPort(), run), run.stdErr().constData());

    QCOMPARE(desk.Post(AlertJson("NVDA", "Breakouts", 912.4, "New high")), 202);
    QVERIFY2(server.WaitForCalls(1), run.stdErr().constData());
    const QJsonObject first = server.Calls().at(0);
    QCOMPARE(first["app"].toString(), QString("Velquist"));
    QCOMPARE(first["icon"].toString(), QString("velquist"));
    QCOMPARE(first["summary"].toString(), QString("Breakouts"));
    QCOMPARE(first["body"].toString(), QString("NVDA 912.40 New high"));
    QCOMPARE(first["desktop-entry"].toString(), QString("velquist"));
    QVERIFY(first["actions"].toArray().contains(QJsonValue("default")));
    QCOMPARE(first["replaces"].toInt(), 0);
    const int burstId = first["id"].toInt();

    // A burst: three more at once replace that notification; the last text counts them all.
    QCOMPARE(desk.Post("[" + AlertJson("AAPL", "Breakouts", 187.2) + "," +
                       AlertJson("MSFT", "Breakouts", 402.1) + "," +
                       AlertJson("AMD", "Breakouts", 171.5, "Range break") + "]"),
             202);
    QDeadlineTimer deadline(15000);
    while (server.Calls().last()["body"].toString() != QLatin1String("AMD and 3 more") &&
           !deadline.hasExpired())
        QThread::msleep(50);
    QList<QJsonObject> calls = server.Calls();
    QCOMPARE(calls.last()["body"].toString(), QString("AMD and 3 more"));
    QVERIFY2(calls.size() >= 2 && calls.size() <= 4, qPrintable(QString::number(calls.size())));
    for (qsizetype i = 1; i < calls.size(); ++i) {
        QCOMPARE(calls[i]["replaces"].toInt(), burstId);
        QCOMPARE(calls[i]["id"].toInt(), burstId);
    }

    // Another strategy's window comes up last, over Breakouts, with a notification of its own.
    QThread::msleep(2200);
    QCOMPARE(desk.Post(AlertJson("XOM", "Energy", 118.3)), 202);
    QVERIFY(server.WaitForCalls(calls.size() + 1));
    const QJsonObject energy = server.Calls().last();
    QCOMPARE(energy["summary"].toString(), QString("Energy"));
    QCOMPARE(energy["replaces"].toInt(), 0);
    QVERIFY(energy["id"].toInt() != burstId);
    deadline.setRemainingTime(10000);
    while (ActiveCaption(desktop.Display) != QLatin1String("Energy") && !deadline.hasExpired())
        QThread::msleep(100);

    // The user clicks the Breakouts notification: that window comes forward, AMD selected.
    server.Invoke(uint(burstId));
    QVERIFY2(run.waitForStdErr("velquist test steps done"), run.stdErr().constData());
    deadline.setRemainingTime(5000);
    while (ActiveCaption(desktop.Display) != QLatin1String("Breakouts") && !deadline.hasExpired())
        QThread::msleep(100);
    QCOMPARE(ActiveCaption(desktop.Display), QString("Breakouts"));

    // Nothing on stderr about notifications: the server took every call.
    QVERIFY2(!run.stdErr().contains("notifications are not shown"), run.stdErr().constData());
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

// A server that answers each call 5 s after it shows the notification: a burst still replaces
// one notification, and clicks, even one before the answer came, select their alert.
void TNotifyE2ETest::slowServerStillReplacesAndClicksSelect() {
    TNotifyDesk desk(false);
    HARNESS_NEED(desk.needDesktop());
    HARNESS_NEED(desk.needSessionBus());
    QCOMPARE(desk.needNotificationRecorder(5000), QString());
    TNotificationRecorder& server = desk.notifications();
    // Done once a click on each window's notification has selected that window's latest alert.
    TClientRun& run =
        desk.start(QStringLiteral("selected:AlertsTableView:S23;selected:AlertsTableView:XOM"));
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitListening(desk.inboxPort(), run), run.stdErr().constData());

    // One burst of 12 s: an alert every half second, far quicker than the server answers.
    for (int i = 0; i < 24; ++i) {
        QCOMPARE(desk.Post(AlertJson(qPrintable(QStringLiteral("S%1").arg(i)), "Breakouts")), 202);
        QThread::msleep(500);
    }
    QDeadlineTimer deadline(20000);
    while (server.Calls().last()["body"].toString() != QLatin1String("S23 and 23 more") &&
           !deadline.hasExpired())
        QThread::msleep(100);
    const QList<QJsonObject> calls = server.Calls();
    QStringList shown;
    for (const QJsonObject& call : calls)
        shown << QStringLiteral("%1>%2 %3")
                     .arg(call["replaces"].toInt())
                     .arg(call["id"].toInt())
                     .arg(call["body"].toString());
    QCOMPARE(calls.last()["body"].toString(), QString("S23 and 23 more"));
    // A call out at a time, each answered after 5 s: about one update in 5 s, each in the
    // place of the first notification.
    QCOMPARE(calls.first()["replaces"].toInt(), 0);
    const int burstId = calls.first()["id"].toInt();
    QVERIFY2(calls.size() >= 2 && calls.size() <= 5, qPrintable(shown.join(", ")));
    for (qsizetype i = 1; i < calls.size(); ++i)
        QVERIFY2(calls[i]["replaces"].toInt() == burstId, qPrintable(shown.join(", ")));

    // Clicked once the last answer came: that window forward, its latest alert selected.
    QThread::msleep(5500);
    server.Invoke(uint(burstId));
    QVERIFY2(run.waitForStdErr("velquist test step: selected:AlertsTableView:S23", 15000),
             run.stdErr().constData());

    // Clicked before the server answered: taken when the answer names it.
    QCOMPARE(desk.Post(AlertJson("XOM", "Energy", 118.3)), 202);
    QVERIFY(server.WaitForCalls(calls.size() + 1));
    const QJsonObject energy = server.Calls().last();
    QCOMPARE(energy["summary"].toString(), QString("Energy"));
    QCOMPARE(energy["replaces"].toInt(), 0);
    server.Invoke(uint(energy["id"].toInt()));
    QVERIFY2(run.waitForStdErr("velquist test steps done", 15000), run.stdErr().constData());
    QVERIFY2(!run.stdErr().contains("notifications are not shown"), run.stdErr().constData());
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

void TNotifyE2ETest::withoutAServerOneLineAndNoHarm() {
    TNotifyDesk desk(true);
    HARNESS_NEED(desk.needSessionBus());
    TClientRun& run = desk.start();
    QVERIFY(run.waitStarted());
    QVERIFY(WaitListening(desk.inboxPort(), run));
    QCOMPARE(desk.Post(AlertJson("NVDA", "Breakouts", 912.4)), 202);
    QVERIFY2(run.waitForStdErr("velquist: desktop notifications are not shown"),
             run.stdErr().constData());
    QCOMPARE(desk.Post(AlertJson("AAPL", "Breakouts")), 202);
    QCOMPARE(desk.Post(AlertJson("MSFT", "Breakouts")), 202);
    // The sound action of the same list still plays; the program goes on.
    QVERIFY(WaitForFile(desk.AudioOut + QStringLiteral("/0001.wav")));
    QThread::msleep(500);
    QCOMPARE(run.stdErr().count("notifications are not shown"), 1);
    QCOMPARE(run.process().state(), QProcess::Running);
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

// dunst shows the summary as plain text and reads markup in the body: a window named "S&P" and
// an alert's "<b>" and "&" reach the user as those characters, never as "&amp;" or bold.
void TNotifyE2ETest::dunstShowsNamesAndTextAsTheyAre() {
    TNotifyDesk desk(false);
    HARNESS_NEED(desk.needDesktop(false));
    HARNESS_NEED(desk.needSessionBus());
    const QString problem = desk.needDunst();
    if (problem.contains(QLatin1String("not installed")))
        QSKIP(qPrintable(problem));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    TDunst& dunst = desk.dunst();
    TClientRun& run = desk.start();
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitListening(desk.inboxPort(), run), run.stdErr().constData());
    QCOMPARE(desk.Post(AlertJson("SPY", "S&P", 601.5, "a <b>gap</b> & <i>run</i> 1<2")), 202);
    QStringList shown = dunst.Shown(1);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0], QStringLiteral("S&P\nSPY 601.50 a <b>gap</b> & <i>run</i> 1<2"));
    // A name that looks like markup or an entity is shown as written too.
    QCOMPARE(desk.Post(AlertJson("QQQ", "<b>Tech</b> &amp; more")), 202);
    shown = dunst.Shown(2);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0], QStringLiteral("<b>Tech</b> &amp; more\nQQQ"));
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

void TNotifyE2ETest::muteSilencesAlertsAndSurvivesARestart() {
    TNotifyDesk desk(true);
    HARNESS_NEED(desk.needSessionBus());
    QCOMPARE(desk.needNotificationRecorder(), QString());
    TNotificationRecorder& server = desk.notifications();
    const auto start = [&](const QString& steps) { return &desk.start(steps); };
    const auto stop = [](TClientRun& run) {
        run.terminate();
        QVERIFY(run.waitFinished());
        QCOMPARE(run.exitCode(), 0);
    };

    // Sounding: the alert plays.
    auto run = start(QString());
    QVERIFY(WaitListening(desk.inboxPort(), *run));
    QCOMPARE(desk.Post(AlertJson("NVDA", "Breakouts")), 202);
    QVERIFY2(WaitForFile(desk.AudioOut + QStringLiteral("/0001.wav")), run->stdErr().constData());
    stop(*run);
    QVERIFY(!TNotifyDesk::StoredMute());

    // Tools > Mute Sounds: the next alert is silent, its notification still shows.
    run = start(QStringLiteral("MuteSoundsMenuItem"));
    QVERIFY(run->waitForStdErr("velquist test steps done"));
    QVERIFY(WaitListening(desk.inboxPort(), *run));
    const qsizetype before = server.Calls().size();
    QCOMPARE(desk.Post(AlertJson("AAPL", "Breakouts")), 202);
    QVERIFY(server.WaitForCalls(before + 1));
    QThread::msleep(1500);
    QCOMPARE(desk.Sounds(), 1);
    stop(*run);
    QVERIFY(TNotifyDesk::StoredMute());

    // Still muted after a restart; unmuted again, alerts sound.
    run = start(QString());
    QVERIFY(WaitListening(desk.inboxPort(), *run));
    QCOMPARE(desk.Post(AlertJson("MSFT", "Breakouts")), 202);
    QVERIFY(server.WaitForCalls(before + 2));
    QThread::msleep(1500);
    QCOMPARE(desk.Sounds(), 1);
    stop(*run);
    run = start(QStringLiteral("MuteSoundsMenuItem"));
    QVERIFY(run->waitForStdErr("velquist test steps done"));
    QVERIFY(WaitListening(desk.inboxPort(), *run));
    QCOMPARE(desk.Post(AlertJson("AMD", "Breakouts")), 202);
    QVERIFY(WaitForFile(desk.AudioOut + QStringLiteral("/0002.wav")));
    stop(*run);
    QVERIFY(!TNotifyDesk::StoredMute());
}

void TNotifyE2ETest::trayIconUnderATrayHost() {
    TNotifyDesk desk(false);
    HARNESS_NEED(desk.needDesktop());
    if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
        QSKIP("no tray host: trayer is not installed (scripts/install-deps.sh installs it)");
    HARNESS_NEED(desk.needSessionBus());
    const TDesktop& desktop = desk.desktop();
    const TSessionBus& bus = desk.bus();
    QProcess trayer;
    QProcessEnvironment trayEnv = QProcessEnvironment::systemEnvironment();
    trayEnv.insert(QStringLiteral("DISPLAY"), desktop.Display);
    trayEnv.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address);
    trayer.setProcessEnvironment(trayEnv);
    trayer.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                  QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                  QStringLiteral("--width"), QStringLiteral("120")});
    struct TStop {
        QProcess& P;
        ~TStop() { StopProcess(P, 3000); }
    } stopTrayer{trayer};
    QDeadlineTimer deadline(10000);
    while (!desktop.Windows().contains(QStringLiteral("\"panel\": (\"panel\" \"trayer\")")) &&
           !deadline.hasExpired()) {
        if (trayer.state() == QProcess::NotRunning)
            QSKIP("no tray host: trayer did not start");
        QThread::msleep(100);
    }

    TClientRun& run = desk.start();
    QVERIFY(run.waitStarted());
    QVERIFY(WaitListening(desk.inboxPort(), run));
    // The tray host embeds the client's icon: a window of the client inside trayer's panel.
    const auto embedded = [](const QString& tree) {
        const QStringList lines = tree.split(QLatin1Char('\n'));
        const auto depth = [](const QString& line) { return line.size() - line.trimmed().size(); };
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (!lines[i].contains(QStringLiteral("\"panel\": (\"panel\" \"trayer\")")))
                continue;
            for (qsizetype j = i + 1; j < lines.size() && depth(lines[j]) > depth(lines[i]); ++j)
                if (lines[j].contains(QStringLiteral("(\"velquist\" \"velquist\")")))
                    return true;
        }
        return false;
    };
    deadline.setRemainingTime(15000);
    QString tree = desktop.Windows();
    while (!embedded(tree) && !deadline.hasExpired()) {
        QThread::msleep(200);
        tree = desktop.Windows();
    }
    QVERIFY2(embedded(tree), qPrintable(tree));
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

QTEST_MAIN(TNotifyE2ETest)
#include "tst_notify_e2e.moc"
