// Whole-process tests of the secrets' place: a real gnome-keyring-daemon, unlocked with a
// fresh keyring of the test's own on a private session bus, takes the login password, the inbox
// token and the broker password out of the per-user store and gives them back at the next
// start, and a Login link's new password goes there too; a keyring locked at a start keeps
// every secret as it was (the inbox waits, closed, and opens with its old address once the
// keyring is unlocked); without a Secret Service (no bus, or a bus without one) the store keeps
// working and no bus is launched for the client.
#include "config/zkBrokerSettings.h"
#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkHarness.h"

#include <QTcpSocket>
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
struct TSecretDesk : TWholeProcessHarness {
    TSecretDesk() {
        StoreDeskChoices(QString(), false);
        needInbox(Token);
        const TSettingsStore registry = TSettingsStore::Registry();
        WriteStringValue(registry, SettingsKey(), QStringLiteral("Password"),
                         QStringLiteral("Sup3rSecret"));
        WriteStringValue(registry, SettingsKey() + QStringLiteral("\\Broker"),
                         QStringLiteral("Password"), QStringLiteral("brokerPw"));
        TUserStore::ResetInstance();
    }
    // The inbox answers with the token the client read.
    bool TokenWorks(TClientRun& run) {
        return WaitListening(inboxPort(), run) && postAlert(Alert).Status == 202;
    }
};

} // namespace

class TKeyringE2ETest : public QObject {
    Q_OBJECT
private slots:
    void secretsMoveIntoTheKeyringAndComeBack();
    void aLockedKeyringKeepsEverySecret();
    void withoutSecretServiceTheStoreKeepsThem();
};

void TKeyringE2ETest::secretsMoveIntoTheKeyringAndComeBack() {
    TSecretDesk desk;
    HARNESS_NEED(desk.needKeyring());
    TTestKeyring& keyring = desk.keyring();

    TClientRun& run = desk.startClient();
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

    // The next start reads the token from the keyring alone.
    TClientRun& again = desk.startClient();
    QVERIFY2(desk.TokenWorks(again), again.stdErr().constData());
    QCOMPARE(Stored(InboxSettingsPath(), QStringLiteral("Token")), QStringLiteral("<none>"));
    QCOMPARE(keyring.Lookup(QStringLiteral("login")), QStringLiteral("Sup3rSecret"));
    // A Login link handed to the running client: the new password goes to the keyring too.
    TClientRun& link = desk.startClient(
        {QStringLiteral("/url:velquist://Login/?UserName=ann&Password=N3wSecret")});
    QVERIFY(link.waitFinished());
    QTRY_COMPARE_WITH_TIMEOUT(keyring.Lookup(QStringLiteral("login")), QStringLiteral("N3wSecret"),
                              10000);
    QCOMPARE(Stored(SettingsKey(), QStringLiteral("UserName")), QStringLiteral("ann"));
    QCOMPARE(Stored(SettingsKey(), QStringLiteral("Password")), QStringLiteral("<none>"));
    again.terminate();
    QVERIFY(again.waitFinished());
}

void TKeyringE2ETest::aLockedKeyringKeepsEverySecret() {
    TSecretDesk desk;
    // The broker on too, on a port where nothing listens: its password is in the keyring.
    TBrokerSettings broker = ReadBrokerSettings(TSettingsStore::Registry());
    broker.Enabled = true;
    broker.Host = QStringLiteral("127.0.0.1");
    broker.Port = FreePort();
    broker.TLS = false;
    broker.UserName = QStringLiteral("desk");
    WriteBrokerSettings(TSettingsStore::Registry(), broker);
    TUserStore::ResetInstance();
    HARNESS_NEED(desk.needKeyring());
    TTestKeyring& keyring = desk.keyring();

    // The secrets move into the keyring.
    TClientRun& run = desk.startClient();
    QVERIFY2(desk.TokenWorks(run), run.stdErr().constData());
    QTRY_COMPARE_WITH_TIMEOUT(keyring.Lookup(QStringLiteral("inbox-token")), Token, 10000);
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(keyring.Lookup(QStringLiteral("broker-password")), QStringLiteral("brokerPw"));

    QCOMPARE(keyring.Lock(), QString());
    QCOMPARE(keyring.Lookup(QStringLiteral("inbox-token")), QStringLiteral("<none>"));
    QProcessEnvironment steps;
    steps.insert(QStringLiteral("VELQUIST_TEST_STEPS"),
                 QStringLiteral("OptionsMenuItem;select:PagesTreeView:Alert Inbox;"
                                "shows:InboxStatusLabel:keyring is locked;CancelButton"));
    TClientRun& locked = desk.startClient({}, steps);
    // The inbox stays closed and says why, and so does the broker; the Options page too, and
    // it makes no token of its own.
    QVERIFY2(locked.waitForStdErr("velquist test steps done", 30000), locked.stdErr().constData());
    const QByteArray said = locked.stdErr();
    QVERIFY2(said.contains("velquist: Not listening: the inbox token is in the desktop's "
                           "keyring and the keyring is locked"),
             said.constData());
    QVERIFY2(said.contains("velquist: broker: Not connected: the broker password is in the "
                           "desktop's keyring and the keyring is locked"),
             said.constData());
    QVERIFY2(said.contains("velquist test shows: Not listening: the inbox token is in the "
                           "desktop's keyring"),
             said.constData());
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, desk.inboxPort());
    QVERIFY2(!probe.waitForConnected(1000), "the inbox listens without its token");
    // Nothing was put in the keyring's place.
    QCOMPARE(Stored(InboxSettingsPath(), QStringLiteral("Token")), QStringLiteral("<none>"));
    QCOMPARE(Stored(SettingsKey() + QStringLiteral("\\Broker"), QStringLiteral("Password")),
             QStringLiteral("<none>"));

    // Unlocked while the client runs: the inbox opens with the address every sender has.
    QCOMPARE(keyring.Unlock(), QString());
    QVERIFY2(desk.TokenWorks(locked), locked.stdErr().constData());
    QVERIFY2(locked.waitForStdErr("velquist: Listening on 127.0.0.1:"),
             locked.stdErr().constData());
    locked.terminate();
    QVERIFY(locked.waitFinished());
    QCOMPARE(locked.exitCode(), 0);
    QCOMPARE(keyring.Lookup(QStringLiteral("inbox-token")), Token);
    QCOMPARE(keyring.Lookup(QStringLiteral("broker-password")), QStringLiteral("brokerPw"));
    QCOMPARE(keyring.Lookup(QStringLiteral("login")), QStringLiteral("Sup3rSecret"));
    QCOMPARE(Stored(InboxSettingsPath(), QStringLiteral("Token")), QStringLiteral("<none>"));
    QCOMPARE(Stored(SettingsKey(), QStringLiteral("Password")), QStringLiteral("<none>"));

    // And the next start, with the keyring open, has the same token.
    TClientRun& again = desk.startClient();
    QVERIFY2(desk.TokenWorks(again), again.stdErr().constData());
    QCOMPARE(keyring.Lookup(QStringLiteral("inbox-token")), Token);
    again.terminate();
    QVERIFY(again.waitFinished());
}

void TKeyringE2ETest::withoutSecretServiceTheStoreKeepsThem() {
    TSecretDesk desk;
    // A dbus-launch of the test's own notes who asked it to launch a bus, and launches none.
    // GLib (under libsecret) asks with "--autolaunch=ID" when it finds no address and an X
    // display is named; libdbus, under Qt's own D-Bus use, asks with "--autolaunch ID".
    const QString bin = desk.home().path() + QStringLiteral("/bin");
    const QString launched = desk.home().path() + QStringLiteral("/launched");
    WriteTextFile(bin + QStringLiteral("/dbus-launch"),
                  "#!/bin/sh\necho \"$*\" >> '" + launched.toUtf8() + "'\nexit 1\n");
    QFile::setPermissions(bin + QStringLiteral("/dbus-launch"), QFile::ReadOwner | QFile::ExeOwner);
    QProcessEnvironment noBus;
    noBus.insert(QStringLiteral("PATH"), bin + u':' + qEnvironmentVariable("PATH"));
    noBus.insert(QStringLiteral("DISPLAY"), QStringLiteral(":97"));

    // First no bus at all, then a bus with nobody on it: nothing is started for the client
    // there either.
    for (const bool withBus : {false, true}) {
        if (withBus)
            HARNESS_NEED(desk.needSessionBus());
        TClientRun& run =
            withBus ? desk.startClient()
                    : desk.startClient({}, noBus, {QStringLiteral("DBUS_SESSION_BUS_ADDRESS")});
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
