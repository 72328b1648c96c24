#include "components/zkConnectionConfig.h"
#include "config/zkConfig.h"
#include "platform/zkErrors.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Runs the test body inside a fresh installation folder (the current directory), since both
// files are read relative to it.
class TInstallDir {
public:
    TInstallDir() : Old(QDir::currentPath()) { QDir::setCurrent(Dir.path()); }
    ~TInstallDir() { QDir::setCurrent(Old); }
    QString file(const QString& name) const { return Dir.filePath(name); }

private:
    QTemporaryDir Dir;
    QString Old;
};

// Serialises the property writes as the component saw them, in order.
QString sequenceOf(const TFakeConnectionControl& c) { return c.Log.join(QLatin1Char('\n')); }
} // namespace

class TConfigTest : public QObject {
    Q_OBJECT
private slots:
    void defaultsReachTheComponentInOrder();
    void settingsIniOverridesButNotTheLocalKeys();
    void localIniSuppliesTheConnectionKeys();
    void badNumbersKeepDefaults();
    void sectionByNameAppliesEveryKeyAndListsFailures();
    void failingWriteStopsApplyConfig();
    void helpEntriesArePairs();
    void longHelpListsTakeLinearTime();
};

void TConfigTest::defaultsReachTheComponentInOrder() {
    TInstallDir dir;
    TConfigInfo c;
    SetConfigDefaults(c);
    LoadConfig(c);
    QCOMPARE(c.ApplicationTitle, QString("Velquist"));
    QCOMPARE(c.ApiDir, QString("API2"));
    QCOMPARE(c.VendorId, QString("ZKPro2.0"));
    QCOMPARE(c.MinTimeout, 4000);
    QCOMPARE(c.ServerURL, QString("https://www.velquist.example/"));
    QCOMPARE(c.ExportPrefix, QString("https://www.velquist.example/View.php?"));
    QCOMPARE(c.SignupURL, QString("https://www.velquist.example/CreateAccount.php"));
    QVERIFY(!c.HelpURLList.contains('|'));
    QCOMPARE(c.AboutURL.count('|'), 1);

    TFakeConnectionControl conn;
    QObject window;
    ApplyConfig(c, conn, &window);
    QCOMPARE(sequenceOf(conn),
             QString("SetServerURL(https://www.velquist.example/)\nSetProxyServer()\n"
                     "SetProxyUsername()\nSetProxyPassword()\nSetProxyPort(0)\nSetApiDir(API2)\n"
                     "SetVendorId(ZKPro2.0)\n"
                     "SetExportPrefix(https://www.velquist.example/View.php?)\n"
                     "SetDevelopmentUsername()\nSetDevelopmentPassword()\nSetMinTimeout(4000)\n"
                     "SetSafeConfig(false)\nSetSafeSamples(false)\nSetAdditionalSamplesUrl()"));
    QCOMPARE(window.property("windowTitle").toString(), QString("Velquist"));
}

void TConfigTest::settingsIniOverridesButNotTheLocalKeys() {
    TInstallDir dir;
    WriteTextFile(dir.file("Settings.ini"),
                  "[Settings]\nApplicationTitle=Alerts Pro\nProxyServer=proxy.example\n"
                  "MinTimeout=99\nSafeConfig=1\nBuildVersion=1207\nHelpURLList=\"A|a|B|b\"\n");
    TConfigInfo c;
    SetConfigDefaults(c);
    LoadConfig(c);
    QCOMPARE(c.ApplicationTitle, QString("Alerts Pro"));
    QVERIFY(c.SafeConfig);
    QCOMPARE(c.BuildVersion, QString("1207"));
    QCOMPARE(c.HelpURLList, QString("A|a|B|b"));
    // These belong to Local.ini alone.
    QCOMPARE(c.ProxyServer, QString());
    QCOMPARE(c.MinTimeout, 4000);
    // Keys Settings.ini does not hold keep their defaults.
    QCOMPARE(c.ApiDir, QString("API2"));
}

void TConfigTest::localIniSuppliesTheConnectionKeys() {
    TInstallDir dir;
    WriteTextFile(dir.file("Local.ini"),
                  "[Settings]\r\nProxyServer=proxy.lan\r\nProxyPort=$1F90\r\n"
                  "ProxyUsername=u\r\nMinTimeout=2500\r\nApplicationTitle=ignored\r\n");
    TConfigInfo c;
    SetConfigDefaults(c);
    LoadConfig(c);
    QCOMPARE(c.ProxyServer, QString("proxy.lan"));
    QCOMPARE(c.ProxyPort, 8080);
    QCOMPARE(c.ProxyUsername, QString("u"));
    QCOMPARE(c.MinTimeout, 2500);
    QCOMPARE(c.ApplicationTitle, QString("Velquist"));
}

void TConfigTest::badNumbersKeepDefaults() {
    TInstallDir dir;
    WriteTextFile(dir.file("Local.ini"), "[Settings]\nProxyPort=eighty\nMinTimeout=\n");
    WriteTextFile(dir.file("Settings.ini"), "[Other]\nApplicationTitle=Nope\n");
    TConfigInfo c;
    SetConfigDefaults(c);
    LoadConfig(c);
    QCOMPARE(c.ProxyPort, 0);
    QCOMPARE(c.MinTimeout, 4000);
    QCOMPARE(c.ApplicationTitle, QString("Velquist"));
}

void TConfigTest::sectionByNameAppliesEveryKeyAndListsFailures() {
    TInstallDir dir;
    // A relative name is found beside the executable, so use a full path here.
    WriteTextFile(dir.file("Settings.ini"),
                  "[ActiveX]\nShowGrid=1\nNoSuchProperty=5\nTimeOffset=-60\n"
                  "; a comment\nnot a key line\nSimSeed=7\n");
    TFakeConnectionControl conn;
    conn.RejectedProperties.insert("nosuchproperty");
    QStringList errors;
    ApplyIniSectionByName(dir.file("Settings.ini"), "ActiveX", conn, &errors);
    QCOMPARE(conn.PropertiesByName.size(), 3);
    QCOMPARE(conn.PropertiesByName[0], qMakePair(QString("ShowGrid"), QString("1")));
    QCOMPARE(conn.PropertiesByName[1], qMakePair(QString("TimeOffset"), QString("-60")));
    QCOMPARE(conn.PropertiesByName[2], qMakePair(QString("SimSeed"), QString("7")));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].startsWith("\"NoSuchProperty\":  "), qPrintable(errors[0]));

    // Without a list, failures are still per key and silent.
    TFakeConnectionControl quiet;
    quiet.RejectedProperties.insert("showgrid");
    ApplyIniSectionByName(dir.file("Settings.ini"), "ActiveX", quiet, nullptr);
    QCOMPARE(quiet.PropertiesByName.size(), 3);

    // A missing file or section puts nothing.
    TFakeConnectionControl none;
    ApplyIniSectionByName(dir.file("Missing.ini"), "ActiveX", none, &errors);
    QVERIFY(none.PropertiesByName.isEmpty());
}

void TConfigTest::failingWriteStopsApplyConfig() {
    TInstallDir dir;
    TConfigInfo c;
    SetConfigDefaults(c);
    TFakeConnectionControl conn;
    conn.Failing.insert("SetProxyPort");
    QVERIFY_THROWS_EXCEPTION(EComponentError, ApplyConfig(c, conn));
    // Everything before the failing write happened, nothing after it.
    QVERIFY(conn.Log.contains("SetProxyPassword()"));
    QVERIFY(!conn.Log.join(' ').contains("SetApiDir"));
}

void TConfigTest::helpEntriesArePairs() {
    const auto entries = HelpEntries("Help|https://h/|Lone||||Last|https://l/|odd");
    QCOMPARE(entries.size(), size_t(2));
    QCOMPARE(entries[0].Caption, QString("Help"));
    QCOMPARE(entries[0].Address, QString("https://h/"));
    QCOMPARE(entries[1].Caption, QString("Last"));
    QCOMPARE(entries[1].Address, QString("https://l/"));
    QVERIFY(HelpEntries("").empty());
    QVERIFY(HelpEntries("|").empty());
    QCOMPARE(HelpEntries("a|b|").size(), size_t(1));
}

void TConfigTest::longHelpListsTakeLinearTime() {
    // 200,000 entries, 4 MB of text: cutting the rest off again at each entry took minutes.
    QString list;
    for (int i = 0; i < 200000; ++i)
        list += QStringLiteral("Entry %1|https://help.example/%1|").arg(i);
    QElapsedTimer clock;
    clock.start();
    bool cut = true;
    const auto entries = HelpEntries(list, 300000, &cut);
    QCOMPARE(entries.size(), size_t(200000));
    QVERIFY(!cut);
    QCOMPARE(entries.back().Address, QString("https://help.example/199999"));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    // The menu takes the first thousand and says the rest was left.
    const auto menu = HelpEntries(list, MaxHelpEntries, &cut);
    QCOMPARE(menu.size(), MaxHelpEntries);
    QVERIFY(cut);
    QCOMPARE(menu.back().Caption, QString("Entry 999"));
}

QTEST_GUILESS_MAIN(TConfigTest)
#include "tst_config.moc"
