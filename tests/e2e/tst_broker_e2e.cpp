// Whole-process tests of the broker as an alert source: the client against a real mosquitto on
// loopback with TLS and a password file. A user sets the broker up in Options and a
// mosquitto_pub puts a window on the desk with its sound; alerts published while the desk was
// off arrive when it starts again; a wrong password or CA shows on the Broker page and delivers
// nothing; "Publish to the broker" reaches a mosquitto_sub; two desks both see one message.
#include "broker/zkBrokerSettings.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "inbox/zkInboxSettings.h"
#include "shell/zkLayouts.h"
#include "zkClientProcess.h"
#include "zkMosquitto.h"
#include "zkTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

namespace {

const QString Token = QStringLiteral("0123456789abcdef0123456789abcdef01234567");

// A desk that logs in as DEMO without asking, saves its layout on terminate, and whose new
// windows play a sound (and run whatever other actions the test adds) on each alert.
struct TBrokerDesk {
    TTestHome Home;
    TTestInstallation Inst;
    QString Layout;
    QString AudioOut;

    explicit TBrokerDesk(const QByteArray& moreActions = {}) {
        Layout = Inst.dir() + QStringLiteral("/SavedWindows/desk.zkl");
        AudioOut = Home.path() + QStringLiteral("/audio");
        QDir().mkpath(AudioOut);
        const QString wave = Inst.dir() + QStringLiteral("/ping.wav");
        QFile::copy(QStringLiteral(VELQUIST_BIN_DIR "/starter/Sounds/Ping.wav"), wave);
        QByteArray actions = "Action0=1,2," + wave.toUtf8() + ",100,50\n";
        int count = 1;
        if (!moreActions.isEmpty())
            actions += "Action" + QByteArray::number(count++) + "=" + moreActions + "\n";
        WriteTextFile(Inst.dir() + QStringLiteral("/SavedWindows/DEFAULT_WINDOW.zka"),
                      "[AlertWindow]\n" + actions + "ActionsCount=" + QByteArray::number(count) +
                          "\n");
        StoreDeskChoices(Layout, false);
        TUserStore::ResetInstance();
    }
    void storeBroker(const TMosquitto& broker, const QString& password, const QString& caFile) {
        TBrokerSettings settings;
        settings.Enabled = true;
        settings.Host = QStringLiteral("127.0.0.1");
        settings.Port = broker.port();
        settings.CAFile = caFile;
        settings.UserName = QString::fromLatin1(TMosquitto::UserName);
        settings.Password = password;
        WriteBrokerSettings(TSettingsStore::Registry(), settings);
        TUserStore::ResetInstance();
    }
    quint16 enableInbox() {
        TInboxSettings inbox;
        inbox.Enabled = true;
        inbox.Port = FreePort();
        inbox.Token = Token;
        WriteInboxSettings(TSettingsStore::Registry(), inbox);
        TUserStore::ResetInstance();
        return inbox.Port;
    }
    QProcessEnvironment env(const QString& steps = QString()) const {
        QProcessEnvironment e;
        e.insert(QStringLiteral("VELQUIST_AUDIO_OUT"), AudioOut);
        if (!steps.isEmpty())
            e.insert(QStringLiteral("VELQUIST_TEST_STEPS"), steps);
        return e;
    }
    bool soundPlayed(int n = 1, int ms = 15000) const {
        return WaitForFile(AudioOut + QStringLiteral("/%1.wav").arg(n, 4, 10, QLatin1Char('0')),
                           ms);
    }
    QString savedDataConfig(int window) const {
        zkIni::ClearCache();
        return ReadStringValue(TSettingsStore::IniFile(Layout), LayoutAlertWindowPath(window),
                               QStringLiteral("DataConfig"), QString());
    }
};

// The history as velquist-history exports it (of the test's current home), each line without
// its time.
QList<QByteArray> History() {
    QProcess tool;
    tool.start(QStringLiteral(VELQUIST_BIN_DIR "/velquist-history"), {"export"});
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
        return {QByteArray("velquist-history failed: ") + tool.readAllStandardError()};
    QList<QByteArray> lines;
    for (QByteArray line : tool.readAllStandardOutput().split('\n').mid(1)) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            lines << line.mid(line.indexOf(',') + 1);
    }
    return lines;
}

// Until the broker has confirmed `count` subscriptions of desks (their ids start so).
bool WaitDeskSubscriptions(TMosquitto& broker, int count, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (broker.log().count("Sending SUBACK to velquist-") < count)
        if (deadline.hasExpired())
            return false;
    return true;
}

int PostAlert(quint16 port, const QByteArray& body) {
    return PostJson(port, "/alerts/" + Token.toLatin1(), body).Status;
}

QByteArray Connected(const TMosquitto& broker) {
    return "velquist: broker: Connected to 127.0.0.1:" + QByteArray::number(broker.port());
}

// Whether the running client has a shared library of that name (its file name's start) mapped.
bool HasLibrary(TClientRun& run, const QByteArray& name) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(run.process().processId()));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains("/" + name);
}

bool WaitLibrary(TClientRun& run, const QByteArray& name, int ms = 15000) {
    QDeadlineTimer deadline(ms);
    while (!HasLibrary(run, name)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

class TBrokerE2ETest : public QObject {
    Q_OBJECT
private slots:
    void setUpInOptionsAPublishOpensAWindowWithItsSound();
    void alertsPublishedWhileOffArriveOnRestart();
    void wrongPasswordOrCAShowsAndDeliversNothing();
    void publishToTheBrokerReachesASubscriber();
    void twoDesksBothSeeOneMessage();
    void brokerLibraryComesWithTheFirstConnection();
};

void TBrokerE2ETest::setUpInOptionsAPublishOpensAWindowWithItsSound() {
    TMosquitto broker;
    QVERIFY2(broker.isRunning(), qPrintable(broker.problem()));
    TBrokerDesk desk;
    const QString steps =
        QStringLiteral("OptionsMenuItem;select:PagesTreeView:Broker;BrokerHostEdit=127.0.0.1;"
                       "BrokerPortSpinBox=%1;BrokerCAFileEdit=%2;BrokerUserNameEdit=%3;"
                       "BrokerPasswordEdit=%4;BrokerEnabledCheckBox;SaveButton")
            .arg(broker.port())
            .arg(broker.caFile(), QString::fromLatin1(TMosquitto::UserName),
                 QString::fromLatin1(TMosquitto::Password));
    TClientRun run(desk.Inst.clientPath(), {}, QString(), desk.env(steps));
    QVERIFY(run.waitStarted());
    QVERIFY2(run.waitForStdErr(Connected(broker)), run.stdErr().constData());
    QVERIFY2(WaitDeskSubscriptions(broker, 1), broker.log().constData());

    QVERIFY(broker.publish("velquist/alerts/Breakouts",
                           R"({"symbol": "NVDA", "price": 912.4, "description": "New high"})"));
    QVERIFY2(desk.soundPlayed(), run.stdErr().constData());
    // A message that is no alert is skipped with one line, and the desk goes on.
    QVERIFY(broker.publish("velquist/alerts/Breakouts", R"({"symbol": 5})"));
    QVERIFY(run.waitForStdErr("velquist: broker: message on velquist/alerts/Breakouts skipped: "
                              "\"symbol\" is not text"));
    QVERIFY(broker.publish("velquist/alerts/Breakouts",
                           R"([{"symbol": "AMD", "strategy": "Gappers"}, {"symbol": "TSLA"}])"));
    QVERIFY2(desk.soundPlayed(2), run.stdErr().constData());

    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
    QStringList configs = {desk.savedDataConfig(0), desk.savedDataConfig(1)};
    configs.sort();
    QCOMPARE(configs, QStringList({"WN=Breakouts&Src=inbox", "WN=Gappers&Src=inbox"}));
    QCOMPARE(History(), QList<QByteArray>({"Breakouts,NVDA,912.4,New high,broker",
                                           "Gappers,AMD,0,,broker", "Breakouts,TSLA,0,,broker"}));
    // What the page saved, with the client id made once.
    const TBrokerSettings saved = ReadBrokerSettings(TSettingsStore::Registry());
    TUserStore::ResetInstance();
    QVERIFY(saved.Enabled);
    QCOMPARE(saved.Port, broker.port());
    QCOMPARE(saved.Password, QString::fromLatin1(TMosquitto::Password));
    QCOMPARE(saved.Topic, QStringLiteral("velquist/alerts/#"));
    QVERIFY2(broker.log().contains("New client connected from 127.0.0.1") &&
                 broker.log().contains(saved.ClientId.toLatin1()),
             qPrintable(saved.ClientId));
}

void TBrokerE2ETest::alertsPublishedWhileOffArriveOnRestart() {
    TMosquitto broker;
    QVERIFY2(broker.isRunning(), qPrintable(broker.problem()));
    TBrokerDesk desk;
    desk.storeBroker(broker, QString::fromLatin1(TMosquitto::Password), broker.caFile());
    {
        TClientRun run(desk.Inst.clientPath(), {}, QString(), desk.env());
        QVERIFY(run.waitStarted());
        QVERIFY2(WaitDeskSubscriptions(broker, 1), run.stdErr().constData());
        run.terminate();
        QVERIFY(run.waitFinished());
        QCOMPARE(run.exitCode(), 0);
    }
    for (const char* symbol : {"XOM", "CVX", "OXY"})
        QVERIFY(broker.publish("velquist/alerts/Late",
                               R"({"symbol": ")" + QByteArray(symbol) + R"("})"));
    TClientRun run(desk.Inst.clientPath(), {}, QString(), desk.env());
    QVERIFY(run.waitStarted());
    QVERIFY2(desk.soundPlayed(), run.stdErr().constData());
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(History(),
             QList<QByteArray>({"Late,XOM,0,,broker", "Late,CVX,0,,broker", "Late,OXY,0,,broker"}));
    QCOMPARE(desk.savedDataConfig(0), QString("WN=Late&Src=inbox"));
}

void TBrokerE2ETest::wrongPasswordOrCAShowsAndDeliversNothing() {
    TMosquitto broker;
    QVERIFY2(broker.isRunning(), qPrintable(broker.problem()));
    TBrokerDesk desk;
    const struct {
        QString Password;
        QString CAFile;
        QString Shown;
    } cases[] = {
        {QStringLiteral("wrong"), broker.caFile(), QStringLiteral("bad user name or password")},
        {QString::fromLatin1(TMosquitto::Password), broker.otherCaFile(),
         QStringLiteral("TLS certificate was not accepted")},
    };
    for (const auto& c : cases) {
        desk.storeBroker(broker, c.Password, c.CAFile);
        TClientRun run(desk.Inst.clientPath(), {}, QString(),
                       desk.env(QStringLiteral("OptionsMenuItem;select:PagesTreeView:Broker;"
                                               "shows:BrokerStatusLabel:") +
                                c.Shown));
        QVERIFY(run.waitStarted());
        QVERIFY2(run.waitForStdErr("velquist test steps done"), run.stdErr().constData());
        QVERIFY2(run.stdErr().contains("velquist test shows: Not connected: "),
                 run.stdErr().constData());
        QVERIFY(broker.publish("velquist/alerts/Nothing", R"({"symbol": "AAPL"})"));
        // Time enough for a desk that did connect to show it.
        QTest::qWait(1000);
        run.terminate();
        QVERIFY(run.waitFinished());
        QVERIFY2(!broker.log().contains("Sending SUBACK to velquist-"), broker.log().constData());
    }
    QCOMPARE(QDir(desk.AudioOut).entryList(QDir::Files).size(), 0);
    QCOMPARE(History(), QList<QByteArray>());
}

void TBrokerE2ETest::publishToTheBrokerReachesASubscriber() {
    TMosquitto broker;
    QVERIFY2(broker.isRunning(), qPrintable(broker.problem()));
    TBrokerDesk desk("1,6");
    desk.storeBroker(broker, QString::fromLatin1(TMosquitto::Password), broker.caFile());
    const quint16 inbox = desk.enableInbox();
    TMosquittoSubscriber subscriber(broker, QStringLiteral("velquist/alerts/#"), 1);
    QVERIFY2(subscriber.waitSubscribed(broker), broker.log().constData());

    TClientRun run(desk.Inst.clientPath(), {}, QString(), desk.env());
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitDeskSubscriptions(broker, 1), run.stdErr().constData());
    QVERIFY2(WaitListening(inbox, run), run.stdErr().constData());
    QCOMPARE(PostAlert(inbox, R"({"symbol": "AAPL", "strategy": "Gap/ups", "price": 187.2,
                                  "description": "Gap up"})"),
             202);
    const QList<QByteArray> lines = subscriber.waitLines(1);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith("velquist/alerts/Gap_ups {"), lines[0].constData());
    const QJsonObject published =
        QJsonDocument::fromJson(lines[0].mid(lines[0].indexOf(' ') + 1)).object();
    QCOMPARE(published.value("symbol").toString(), QStringLiteral("AAPL"));
    QCOMPARE(published.value("price").toDouble(), 187.2);
    QCOMPARE(published.value("description").toString(), QStringLiteral("Gap up"));
    QCOMPARE(published.value("strategy").toString(), QStringLiteral("Gap_ups"));
    QVERIFY(QDateTime::fromString(published.value("time").toString(), Qt::ISODateWithMs).isValid());
    QVERIFY(published.value("desk").toString().startsWith(QLatin1String("velquist-")));

    // The desk did not take its own alert back: one sound, one row in the history.
    QVERIFY(desk.soundPlayed());
    QTest::qWait(500);
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(QDir(desk.AudioOut).entryList(QDir::Files).size(), 1);
    QCOMPARE(History(), QList<QByteArray>({"Gap/ups,AAPL,187.2,Gap up,inbox"}));
}

void TBrokerE2ETest::twoDesksBothSeeOneMessage() {
    TMosquitto broker;
    QVERIFY2(broker.isRunning(), qPrintable(broker.problem()));
    TBrokerDesk first;
    first.storeBroker(broker, QString::fromLatin1(TMosquitto::Password), broker.caFile());
    TClientRun firstRun(first.Inst.clientPath(), {}, QString(), first.env());
    QVERIFY(firstRun.waitStarted());
    TBrokerDesk second;
    second.storeBroker(broker, QString::fromLatin1(TMosquitto::Password), broker.caFile());
    TClientRun secondRun(second.Inst.clientPath(), {}, QString(), second.env());
    QVERIFY(secondRun.waitStarted());
    QVERIFY2(WaitDeskSubscriptions(broker, 2), broker.log().constData());

    QVERIFY(broker.publish("velquist/alerts/Shared", R"({"symbol": "MSFT"})"));
    QVERIFY2(first.soundPlayed(), firstRun.stdErr().constData());
    QVERIFY2(second.soundPlayed(), secondRun.stdErr().constData());
    firstRun.terminate();
    secondRun.terminate();
    QVERIFY(firstRun.waitFinished());
    QVERIFY(secondRun.waitFinished());
    QCOMPARE(second.savedDataConfig(0), QString("WN=Shared&Src=inbox"));
}

void TBrokerE2ETest::brokerLibraryComesWithTheFirstConnection() {
    TBrokerDesk desk;
    {
        // No broker set: the library is never loaded, also once the client has been idle (the
        // wave decoder, loaded then, shows it was).
        TClientRun run(desk.Inst.clientPath(), {}, QString(), desk.env());
        QVERIFY(run.waitStarted());
        QVERIFY2(WaitLibrary(run, "libsndfile.so"), run.stdErr().constData());
        QVERIFY(!HasLibrary(run, "libmosquitto.so"));
        run.terminate();
        QVERIFY(run.waitFinished());
    }
    TMosquitto broker;
    QVERIFY2(broker.isRunning(), qPrintable(broker.problem()));
    desk.storeBroker(broker, QString::fromLatin1(TMosquitto::Password), broker.caFile());
    TClientRun run(desk.Inst.clientPath(), {}, QString(), desk.env());
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitDeskSubscriptions(broker, 1), run.stdErr().constData());
    QVERIFY(HasLibrary(run, "libmosquitto.so"));
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

QTEST_MAIN(TBrokerE2ETest)
#include "tst_broker_e2e.moc"
