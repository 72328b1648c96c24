// The simulated connection: states, accounts table, properties by name.

#include "components/zkComponents.h"
#include "components/zkSimService.h"
#include "platform/zkErrors.h"
#include "zkComponentsTestUtil.h"
#include "zkTestSupport.h"

#include <QSignalSpy>
#include <QTest>

class TConnectionTest : public QObject {
    Q_OBJECT

private:
    QString WriteAccounts(const QByteArray& json) {
        const QString path = Home->path() + QStringLiteral("/accounts.json");
        WriteTextFile(path, json);
        return path;
    }
    std::unique_ptr<TTestHome> Home;

private slots:
    void init() { Home = std::make_unique<TTestHome>(); }
    void cleanup() {
        TSimService::ResetInstance();
        Home.reset();
    }

    void demoConnectsAfterADelayOnceForUserAndPassword() {
        std::shared_ptr<TSimService> service = FreshService(150);
        std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
        QSignalSpy changes(service.get(), &TSimService::StatusChanged);
        connection->SetUserName(QStringLiteral("DEMO"));
        connection->SetPassword(QStringLiteral("whatever"));
        QCOMPARE(connection->ConnectionStatus(), 0); // still connecting
        QCOMPARE(connection->UserName(), QStringLiteral("DEMO"));
        QCOMPARE(connection->Password(), QStringLiteral("whatever"));
        QTRY_COMPARE(connection->ConnectionStatus(), 1);
        QTest::qWait(200);
        QCOMPARE(changes.count(), 1); // one attempt for the pair of writes
        const qint64 inDays =
            (connection->AccountExpiration() - QDateTime::currentSecsSinceEpoch()) / 86400;
        QVERIFY2(inDays >= 29 && inDays <= 30, qPrintable(QString::number(inDays)));
    }

    void accountsTableGivesEachState_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("state");
        QTest::addColumn<qint64>("expiry");
        const qint64 y2031 = QDateTime(QDate(2031, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
        const qint64 y2020 = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
        QTest::newRow("good") << "alice"
                              << "secret" << 1 << y2031;
        QTest::newRow("user in another case") << "ALICE"
                                              << "secret" << 1 << y2031;
        QTest::newRow("wrong password") << "alice"
                                        << "Secret" << 4 << qint64(0);
        QTest::newRow("unknown user") << "mallory"
                                      << "secret" << 3 << qint64(0);
        QTest::newRow("another user") << "bob"
                                      << "pw" << 2 << y2031;
        QTest::newRow("expired by state") << "carol"
                                          << "pw" << 5 << y2031;
        QTest::newRow("expired by date") << "dave"
                                         << "pw" << 5 << y2020;
        QTest::newRow("no expiry given") << "eve"
                                         << "" << 1 << qint64(0);
        QTest::newRow("demo ignores the table") << "DEMO"
                                                << "" << 1 << qint64(-1);
        QTest::newRow("no user") << ""
                                 << "secret" << 0 << qint64(0);
    }
    void accountsTableGivesEachState() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, state);
        QFETCH(qint64, expiry);
        std::shared_ptr<TSimService> service = FreshService();
        std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
        connection->SetPropertyByName(QStringLiteral("SimAccountsFile"), WriteAccounts(R"({
            "accounts": [
              {"user": "alice", "password": "secret", "expires": "2031-03-01T00:00:00Z"},
              {"user": "bob", "password": "pw", "expires": "2031-03-01T00:00:00Z",
               "state": "another_user"},
              {"user": "carol", "password": "pw", "expires": "2031-03-01T00:00:00Z",
               "state": "expired"},
              {"user": "dave", "password": "pw", "expires": "2020-01-01T00:00:00Z"},
              {"user": "eve", "password": ""}
            ]})"));
        connection->SetUserName(user);
        connection->SetPassword(password);
        QSignalSpy changes(service.get(), &TSimService::StatusChanged);
        QVERIFY(changes.wait(2000) || connection->ConnectionStatus() == state);
        QTest::qWait(60);
        QCOMPARE(connection->ConnectionStatus(), state);
        if (expiry >= 0)
            QCOMPARE(connection->AccountExpiration(), expiry);
    }

    void resetTakesOverFromAnotherUser() {
        FreshService();
        std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
        connection->SetPropertyByName(
            QStringLiteral("SimAccountsFile"),
            WriteAccounts(R"({"accounts": [{"user": "bob", "password": "pw",
                                            "state": "another_user"}]})"));
        connection->SetUserName(QStringLiteral("bob"));
        connection->SetPassword(QStringLiteral("pw"));
        QTRY_COMPARE(connection->ConnectionStatus(), 2);
        connection->ResetConnection();
        QCOMPARE(connection->ConnectionStatus(), 0);
        QTRY_COMPARE(connection->ConnectionStatus(), 1);
        // A fresh login, not a reset, meets the other user again.
        connection->SetPassword(QStringLiteral("pw"));
        QTRY_COMPARE(connection->ConnectionStatus(), 2);
    }

    void brokenAccountsFilesAreReportedOnceAndIgnored_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("not json") << QByteArray("{\"accounts\": [") << true;
        QTest::newRow("no accounts array") << QByteArray("{\"users\": []}") << true;
        QTest::newRow("unknown state")
            << QByteArray(R"({"accounts": [{"user": "alice", "password": "secret",
                                            "state": "banned"}]})")
            << true;
        QTest::newRow("bad date") << QByteArray(
                                         R"({"accounts": [{"user": "alice", "password": "secret",
                                            "expires": "soon"}]})")
                                  << true;
    }
    void brokenAccountsFilesAreReportedOnceAndIgnored() {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        FreshService();
        const QString path = exists ? WriteAccounts(content)
                                    : Home->path() + QStringLiteral("/no-such-accounts.json");
        std::unique_ptr<IConnectionControl> connection = CoConnectionControl::Create();
        connection->SetPropertyByName(QStringLiteral("SimAccountsFile"), path);
        TStderrCapture capture;
        for (int attempt = 0; attempt < 2; ++attempt) {
            connection->SetUserName(QStringLiteral("alice"));
            connection->SetPassword(QStringLiteral("secret"));
            QTRY_COMPARE(connection->ConnectionStatus(), 3);
        }
        const QString report = capture.Text();
        capture.Restore();
        QCOMPARE(report.count(path), 1);
        // DEMO does not need the table.
        connection->SetUserName(QStringLiteral("DEMO"));
        QTRY_COMPARE(connection->ConnectionStatus(), 1);
    }

    void propertiesByNameReachTheirReadableProperties() {
        FreshService();
        std::unique_ptr<IConnectionControl> c = CoConnectionControl::Create();
        const QList<QPair<const char*, const char*>> values = {
            {"UseHttpTunnel", "1"},
            {"ProxyServer", "proxy.example"},
            {"ProxyPort", "8080"},
            {"ProxyUsername", "pu"},
            {"ProxyPassword", "pp"},
            {"SocksHost", "socks.example"},
            {"SocksPort", "$438"},
            {"SocksVersion", "5"},
            {"SocksUsername", "su"},
            {"SocksPassword", "sp"},
            {"helpmode", "1"},
            {"SHOWGRID", "1"},
            {"TimeOffset", "-150"},
            {"ServerURL", "https://example/"},
            {"ApiDir", "API2"},
            {"VendorId", "V"},
            {"ExportPrefix", "X"},
            {"DevelopmentUsername", "du"},
            {"DevelopmentPassword", "dp"},
            {"MinTimeout", "4000"},
            {"SafeSamples", "1"},
            {"SafeConfig", "true"},
            {"AdditionalSamplesUrl", ""},
            {"SimAlertInterval", "0"},
            {"SimSeed", "7"},
            {"SimFeedFile", ""},
            {"SimAccountsFile", ""},
        };
        for (const auto& [name, text] : values)
            c->SetPropertyByName(QString::fromLatin1(name), QString::fromLatin1(text));
        QCOMPARE(c->UseHttpTunnel(), 1);
        QCOMPARE(c->ProxyServer(), QStringLiteral("proxy.example"));
        QCOMPARE(c->ProxyPort(), 8080);
        QCOMPARE(c->ProxyUsername(), QStringLiteral("pu"));
        QCOMPARE(c->ProxyPassword(), QStringLiteral("pp"));
        QCOMPARE(c->SocksHost(), QStringLiteral("socks.example"));
        QCOMPARE(c->SocksPort(), 1080);
        QCOMPARE(c->SocksVersion(), 5);
        QCOMPARE(c->SocksUsername(), QStringLiteral("su"));
        QCOMPARE(c->SocksPassword(), QStringLiteral("sp"));
        QCOMPARE(c->HelpMode(), 1);
        QCOMPARE(c->ShowGrid(), 1);
        QCOMPARE(c->TimeOffset(), -150);
        const TSimService::TProperties& p = TSimService::Instance()->Properties();
        QCOMPARE(p.MinTimeout, 4000);
        QVERIFY(p.SafeSamples && p.SafeConfig);
        QCOMPARE(p.SimAlertInterval, 0);
        QCOMPARE(p.SimSeed, 7u);
        // The typed writes land on the same values.
        c->SetProxyPort(3128);
        c->SetTimeOffset(60);
        QCOMPARE(c->ProxyPort(), 3128);
        QCOMPARE(c->TimeOffset(), 60);
    }

    void badNamesAndValuesThrowAndKeepTheOldValue() {
        FreshService();
        std::unique_ptr<IConnectionControl> c = CoConnectionControl::Create();
        c->SetPropertyByName(QStringLiteral("ProxyPort"), QStringLiteral("8080"));
        for (const char* bad : {"abc", "", "80 80", "99999999999", "12a"}) {
            try {
                c->SetPropertyByName(QStringLiteral("ProxyPort"), QString::fromLatin1(bad));
                QFAIL(qPrintable(QStringLiteral("accepted \"%1\"").arg(QLatin1String(bad))));
            } catch (const EComponentError& e) {
                QVERIFY2(e.message().contains(QLatin1String("ProxyPort")), qPrintable(e.message()));
            }
        }
        QCOMPARE(c->ProxyPort(), 8080);
        QVERIFY_THROWS_EXCEPTION(EComponentError, c->SetPropertyByName(QStringLiteral("SafeConfig"),
                                                                       QStringLiteral("maybe")));
        QVERIFY_THROWS_EXCEPTION(
            EComponentError,
            c->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("-5")));
        try {
            c->SetPropertyByName(QStringLiteral("Bogus"), QStringLiteral("1"));
            QFAIL("unknown name accepted");
        } catch (const EComponentError& e) {
            QCOMPARE(e.message(), QStringLiteral("Unknown property \"Bogus\""));
        }
    }

    void displayPropertiesNotifyOnlyOnChange() {
        std::shared_ptr<TSimService> service = FreshService();
        std::unique_ptr<IConnectionControl> c = CoConnectionControl::Create();
        QSignalSpy display(service.get(), &TSimService::DisplayChanged);
        c->SetShowGrid(1);
        c->SetPropertyByName(QStringLiteral("ShowGrid"), QStringLiteral("1"));
        c->SetTimeOffset(30);
        QCOMPARE(display.count(), 2);
    }

    void integerText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("blanks") << " 42 " << true << 42;
        QTest::newRow("signs") << "-7" << true << -7;
        QTest::newRow("plus") << "+3" << true << 3;
        QTest::newRow("dollar hex") << "$1F" << true << 31;
        QTest::newRow("0x hex") << "0x1f" << true << 31;
        QTest::newRow("hex pattern") << "$FFFFFFFF" << true << -1;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("inner blank") << "4 2" << false << 0;
        QTest::newRow("trailing letter") << "12a" << false << 0;
        QTest::newRow("overflow") << "2147483648" << false << 0;
        QTest::newRow("lowest") << "-2147483648" << true << int(INT32_MIN);
        QTest::newRow("arabic digits") << QString::fromUtf8("\u0664\u0662") << false << 0;
    }
    void integerText() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        int32_t parsed = 12345;
        QCOMPARE(ParseSimInteger(text, parsed), ok);
        if (ok)
            QCOMPARE(parsed, value);
    }
};

QTEST_MAIN(TConnectionTest)
#include "tst_connection.moc"
