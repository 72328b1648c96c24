// Whole-process tests of the secrets' place: a real gnome-keyring-daemon, unlocked with a
// fresh keyring of the test's own on a private session bus, takes the login password, the inbox
// token and the broker password out of the per-user store and gives them back at the next
// start, and a Login link's new password goes there too; without a Secret Service (no bus, or
// a bus without one) the store keeps working and no bus is launched for the client.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "inbox/zkInboxSettings.h"
#include "zkClientProcess.h"
#include "zkTestDesktop.h"
#include "zkTestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QtTest>

namespace {

const QString Token = QStringLiteral("00112233445566778899aabbccddeeff00112233");
const QByteArray Alert = R"({"symbol": "MSFT", "strategy": "Keys", "price": 1})";

QString SettingsKey() {
    return SettingsKeyPath() + QStringLiteral("\\Settings");
}

// What the store holds at key\name now, "<none>" when nothing.
QString Stored(const QString& key, const QString& name) {
    TUserStore::ResetInstance();
    const QString value =
        ReadStringValue(TSettingsStore::Registry(), key, name, QStringLiteral("<none>"));
    TUserStore::ResetInstance();
    return value;
}

// A client as a user leaves it: DEMO logged in with a password, the inbox on with its token,
// a broker password typed in (the broker off) — all three in the per-user store.
struct TSecretDesk {
    TTestHome Home;
    TTestInstallation Inst;
    quint16 Port = FreePort();

    TSecretDesk() {
        StoreDeskChoices(QString(), false);
        const TSettingsStore registry = TSettingsStore::Registry();
        WriteStringValue(registry, SettingsKey(), QStringLiteral("Password"),
                         QStringLiteral("Sup3rSecret"));
        WriteStringValue(registry, SettingsKey() + QStringLiteral("\\Broker"),
                         QStringLiteral("Password"), QStringLiteral("brokerPw"));
        TInboxSettings inbox;
        inbox.Enabled = true;
        inbox.Port = Port;
        inbox.Token = Token;
        WriteInboxSettings(registry, inbox);
        TUserStore::ResetInstance();
    }
    // The inbox answers with the token the client read.
    bool TokenWorks(TClientRun& run) {
        return WaitListening(Port, run) &&
               PostJson(Port, "/alerts/" + Token.toLatin1(), Alert).Status == 202;
    }
};

// gnome-keyring-daemon on the bus, its login keyring made and unlocked with a password on its
// standard input, kept in the test's private data folder.
class TKeyring {
public:
    ~TKeyring() { StopProcess(Daemon, 3000); }
    QString Start(const QString& busAddress, const TTestHome& home) {
        for (const char* tool : {"gnome-keyring-daemon", "secret-tool"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed (scripts/install-deps.sh installs it)")
                    .arg(QString::fromLatin1(tool));
        Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        Env.insert(QStringLiteral("HOME"), home.path());
        Daemon.setProcessEnvironment(Env);
        Daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        Daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Daemon.start(QStringLiteral("gnome-keyring-daemon"),
                     {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                      QStringLiteral("--unlock")});
        if (!Daemon.waitForStarted(10000))
            return QStringLiteral("gnome-keyring-daemon did not start");
        // Written through at once (no event loop runs here); the end of input ends the password.
        Daemon.write("test-keyring-password");
        Daemon.waitForBytesWritten(3000);
        Daemon.closeWriteChannel();
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress, QStringLiteral("keyring"));
        QDeadlineTimer deadline(10000);
        bool up = false;
        while (!(up = bus.interface()->isServiceRegistered(
                     QStringLiteral("org.freedesktop.secrets"))) &&
               !deadline.hasExpired() && Daemon.state() != QProcess::NotRunning)
            QThread::msleep(50);
        QDBusConnection::disconnectFromBus(QStringLiteral("keyring"));
        return up ? QString() : QStringLiteral("gnome-keyring-daemon did not come up");
    }
    // secret-tool's answer for one of the client's secrets; "<none>" when it has none.
    QString Lookup(const QString& kind) {
        QProcess tool;
        tool.setProcessEnvironment(Env);
        tool.start(QStringLiteral("secret-tool"),
                   {QStringLiteral("lookup"), QStringLiteral("application"),
                    QStringLiteral("velquist"), QStringLiteral("store"),
                    TUserStore::DefaultFileName(), QStringLiteral("kind"), kind});
        if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
            return QStringLiteral("<none>");
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

private:
    QProcess Daemon;
    QProcessEnvironment Env;
};

} // namespace

class TKeyringE2ETest : public QObject {
    Q_OBJECT
private slots:
    void secretsMoveIntoTheKeyringAndComeBack();
    void withoutSecretServiceTheStoreKeepsThem();
};

void TKeyringE2ETest::secretsMoveIntoTheKeyringAndComeBack() {
    TSecretDesk desk;
    QVERIFY(desk.Inst.isValid());
    TSessionBus bus;
    QString problem = bus.Start();
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    TKeyring keyring;
    problem = keyring.Start(bus.Address, desk.Home);
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    QProcessEnvironment env;
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address);

    {
        TClientRun run(desk.Inst.clientPath(), {}, QString(), env);
        QVERIFY2(desk.TokenWorks(run), run.stdErr().constData());
        QTRY_COMPARE_WITH_TIMEOUT(keyring.Lookup(QStringLiteral("login")),
                                  QStringLiteral("Sup3rSecret"), 10000);
        QCOMPARE(keyring.Lookup(QStringLiteral("inbox-token")), Token);
        QCOMPARE(keyring.Lookup(QStringLiteral("broker-password")), QStringLiteral("brokerPw"));
        // Gone from the store once the keyring holds them; the rest of the settings stay.
        QCOMPARE(Stored(SettingsKey(), QStringLiteral("Password")), QStringLiteral("<none>"));
        QCOMPARE(Stored(InboxSettingsPath(), QStringLiteral("Token")), QStringLiteral("<none>"));
        QCOMPARE(Stored(SettingsKey() + QStringLiteral("\\Broker"), QStringLiteral("Password")),
                 QStringLiteral("<none>"));
        QCOMPARE(Stored(SettingsKey(), QStringLiteral("UserName")), QStringLiteral("DEMO"));
        run.terminate();
        QVERIFY(run.waitFinished());
        QVERIFY2(!run.stdErr().contains("keyring"), run.stdErr().constData());
    }
    // The next start reads the token from the keyring alone.
    TClientRun again(desk.Inst.clientPath(), {}, QString(), env);
    QVERIFY2(desk.TokenWorks(again), again.stdErr().constData());
    QCOMPARE(Stored(InboxSettingsPath(), QStringLiteral("Token")), QStringLiteral("<none>"));
    QCOMPARE(keyring.Lookup(QStringLiteral("login")), QStringLiteral("Sup3rSecret"));
    // A Login link handed to the running client: the new password goes to the keyring too.
    TClientRun link(desk.Inst.clientPath(),
                    {QStringLiteral("/url:velquist://Login/?UserName=ann&Password=N3wSecret")},
                    QString(), env);
    QVERIFY(link.waitFinished());
    QTRY_COMPARE_WITH_TIMEOUT(keyring.Lookup(QStringLiteral("login")), QStringLiteral("N3wSecret"),
                              10000);
    QCOMPARE(Stored(SettingsKey(), QStringLiteral("UserName")), QStringLiteral("ann"));
    QCOMPARE(Stored(SettingsKey(), QStringLiteral("Password")), QStringLiteral("<none>"));
    again.terminate();
    QVERIFY(again.waitFinished());
}

void TKeyringE2ETest::withoutSecretServiceTheStoreKeepsThem() {
    TSecretDesk desk;
    QVERIFY(desk.Inst.isValid());
    // A dbus-launch of the test's own notes who asked it to launch a bus, and launches none.
    // GLib (under libsecret) asks with "--autolaunch=ID" when it finds no address and an X
    // display is named; libdbus, under Qt's own D-Bus use, asks with "--autolaunch ID".
    const QString bin = desk.Home.path() + QStringLiteral("/bin");
    const QString launched = desk.Home.path() + QStringLiteral("/launched");
    WriteTextFile(bin + QStringLiteral("/dbus-launch"),
                  "#!/bin/sh\necho \"$*\" >> '" + launched.toUtf8() + "'\nexit 1\n");
    QFile::setPermissions(bin + QStringLiteral("/dbus-launch"), QFile::ReadOwner | QFile::ExeOwner);
    QProcessEnvironment noBus;
    noBus.insert(QStringLiteral("PATH"), bin + u':' + qEnvironmentVariable("PATH"));
    noBus.insert(QStringLiteral("DISPLAY"), QStringLiteral(":97"));
    TSessionBus bus; // a bus with nobody on it: nothing is started for the client there either
    const QString problem = bus.Start();
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    QProcessEnvironment emptyBus;
    emptyBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address);

    for (const auto& [env, unset] :
         {std::pair{noBus, QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS")}},
          std::pair{emptyBus, QStringList{}}}) {
        TClientRun run(desk.Inst.clientPath(), {}, QString(), env, unset);
        QVERIFY2(desk.TokenWorks(run), run.stdErr().constData());
        QCOMPARE(Stored(SettingsKey(), QStringLiteral("Password")), QStringLiteral("Sup3rSecret"));
        QCOMPARE(Stored(InboxSettingsPath(), QStringLiteral("Token")), Token);
        QCOMPARE(Stored(SettingsKey() + QStringLiteral("\\Broker"), QStringLiteral("Password")),
                 QStringLiteral("brokerPw"));
        run.terminate();
        QVERIFY(run.waitFinished());
        QVERIFY2(!ReadWholeFile(launched).contains("--autolaunch="), ReadWholeFile(launched));
    }
}

QTEST_GUILESS_MAIN(TKeyringE2ETest)
#include "tst_keyring_e2e.moc"
