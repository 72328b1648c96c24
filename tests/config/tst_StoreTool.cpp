// velquist-store, run as the user would run it, against the same store file the client uses.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkTestSupport.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

namespace {

struct TResult {
    int Status = -1;
    QString Out;
    QString Err;
};

} // namespace

class TestStoreTool : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHome> Home;
    QString Tool = QStringLiteral(VELQUIST_BIN_DIR "/velquist-store");

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", Home->configHome());
        return env;
    }
    TResult run(const QStringList& args) {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(Tool, args);
        TResult result;
        if (!process.waitForFinished(30000))
            return result;
        result.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.Out = QString::fromUtf8(process.readAllStandardOutput());
        result.Err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }
    QString storeFile() const { return Home->configHome() + "/velquist/user-store.sqlite3"; }

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(Tool), qPrintable("not built: " + Tool)); }
    void init() { Home = std::make_unique<TTestHome>(); }
    void cleanup() { Home.reset(); }

    void setGetRoundTrip() {
        const QString key = "\\Software\\Velquist Client\\Settings";
        QCOMPARE(run({"set", key, "UserName", "sz", QString::fromUtf8("Jürgen")}).Status, 0);
        QCOMPARE(run({"set", key, "SaveOnExit", "dword", "-2"}).Status, 0);
        QCOMPARE(run({"set", key, "Colour", "dword", "0xFF000008"}).Status, 0);
        QCOMPARE(run({"set", key, "Unsigned", "dword", "4294967295"}).Status, 0);
        QCOMPARE(run({"set", key, "Big", "qword", "9007199254740993"}).Status, 0);
        QCOMPARE(run({"set", key, "Path", "expand_sz", "$HOME/x"}).Status, 0);
        QCOMPARE(run({"set", key + "\\Updates", "UpdateTime", "binary", "00 00 00 00 00 40 8F 40"})
                     .Status,
                 0);
        QCOMPARE(
            run({"set", "\\Software\\Velquist Client\\URL Handler", "", "sz", "velquist:x"}).Status,
            0);

        QCOMPARE(run({"get", key.toLower(), "username"}).Out, QString::fromUtf8("Jürgen\n"));
        QCOMPARE(run({"get", key, "SaveOnExit"}).Out, QString("-2\n"));
        QCOMPARE(run({"get", key, "Colour"}).Out, QString("-16777208\n"));
        QCOMPARE(run({"get", key, "Unsigned"}).Out, QString("-1\n"));
        QCOMPARE(run({"get", key, "Big"}).Out, QString("9007199254740993\n"));
        QCOMPARE(run({"get", key, "Path"}).Out, QString("$HOME/x\n"));
        QCOMPARE(run({"get", key + "\\Updates", "UpdateTime"}).Out, QString("0000000000408f40\n"));
        QCOMPARE(run({"get", "\\Software\\Velquist Client\\URL Handler", ""}).Out,
                 QString("velquist:x\n"));

        // The client's value layer reads what the tool wrote, by its kind rules.
        TUserStore store(storeFile());
        const TSettingsStore reg = TSettingsStore::Registry(store);
        QCOMPARE(ReadStringValue(reg, key, "UserName", ""), QString::fromUtf8("Jürgen"));
        QCOMPARE(ReadIntegerValue(reg, key, "SaveOnExit", 0), -2);
        QCOMPARE(ReadFloatValue(reg, key + "\\Updates", "UpdateTime", 0), 1000.0);
        QCOMPARE(ReadStringValue(reg, key, "Path", "expand_sz reads as default"),
                 QString("expand_sz reads as default"));
    }

    void listAndExport() {
        QCOMPARE(run({"set", "\\App\\Settings", "UserName", "sz", "a \"b\"\tc"}).Status, 0);
        QCOMPARE(run({"set", "\\app\\settings", "Count", "dword", "3"}).Status, 0);
        QCOMPARE(run({"set", "\\App\\Settings", "", "sz", "default"}).Status, 0);
        QCOMPARE(run({"set", "\\App\\Settings", "Lines", "multi_sz", "one", "two"}).Status, 0);
        QCOMPARE(run({"set", "\\App\\Settings\\Layout\\MainWindow", "Top", "dword", "20"}).Status,
                 0);
        QCOMPARE(run({"set", "\\App\\Settings\\Updates", "T", "binary", "0a0B"}).Status, 0);

        const TResult list = run({"list", "\\APP\\SETTINGS"});
        QCOMPARE(list.Status, 0);
        QCOMPARE(list.Out, QString("Layout\\\n"
                                   "Updates\\\n"
                                   "\"UserName\"=sz:\"a \\\"b\\\"\\tc\"\n"
                                   "\"Count\"=dword:3\n"
                                   "@=sz:\"default\"\n"
                                   "\"Lines\"=multi_sz:\"one\",\"two\"\n"));

        const TResult exported = run({"export", "\\app"});
        QCOMPARE(exported.Status, 0);
        QCOMPARE(exported.Out, QString("[\\App]\n"
                                       "\n"
                                       "[\\App\\Settings]\n"
                                       "\"UserName\"=sz:\"a \\\"b\\\"\\tc\"\n"
                                       "\"Count\"=dword:3\n"
                                       "@=sz:\"default\"\n"
                                       "\"Lines\"=multi_sz:\"one\",\"two\"\n"
                                       "\n"
                                       "[\\App\\Settings\\Layout]\n"
                                       "\n"
                                       "[\\App\\Settings\\Layout\\MainWindow]\n"
                                       "\"Top\"=dword:20\n"
                                       "\n"
                                       "[\\App\\Settings\\Updates]\n"
                                       "\"T\"=binary:0a0b\n"
                                       "\n"));
        QVERIFY(run({"export"}).Out.startsWith("[\\]\n\n[\\App]\n"));
    }

    void deleteAndMissing() {
        run({"set", "\\A\\B", "v", "dword", "1"});
        run({"set", "\\A\\B", "w", "dword", "2"});
        QCOMPARE(run({"delete", "\\A\\B", "V"}).Status, 0);
        TResult missing = run({"get", "\\A\\B", "v"});
        QCOMPARE(missing.Status, 1);
        QVERIFY(missing.Out.isEmpty());
        QVERIFY(missing.Err.contains("no value"));
        QCOMPARE(run({"delete", "\\A\\B", "v"}).Status, 1);
        QCOMPARE(run({"delete", "\\a"}).Status, 0);
        missing = run({"get", "\\A\\B", "w"});
        QCOMPARE(missing.Status, 1);
        QVERIFY(missing.Err.contains("no key"));
        QCOMPARE(run({"list", "\\A"}).Status, 1);
        QCOMPARE(run({"export", "\\A"}).Status, 1);
        QCOMPARE(run({"delete", "\\A"}).Status, 1);
        // A secret the client moved into the desktop's keyring: where to look instead.
        const QString settings = "\\Software\\Velquist Client\\Settings";
        run({"set", settings + "\\Broker", "Host", "sz", "h"});
        QVERIFY(run({"get", settings + "\\Broker", "Password"})
                    .Err.contains("secret-tool lookup application velquist kind broker-password"));
        QVERIFY(!run({"get", settings + "\\Broker", "Host2"}).Err.contains("secret-tool"));
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("unknown command") << QStringList({"frobnicate"});
        QTest::newRow("get without name") << QStringList({"get", "\\A"});
        QTest::newRow("set without value") << QStringList({"set", "\\A", "n", "dword"});
        QTest::newRow("unknown kind") << QStringList({"set", "\\A", "n", "float", "1"});
        QTest::newRow("bad dword") << QStringList({"set", "\\A", "n", "dword", "12x"});
        QTest::newRow("dword too big") << QStringList({"set", "\\A", "n", "dword", "4294967296"});
        QTest::newRow("odd hex") << QStringList({"set", "\\A", "n", "binary", "abc"});
        QTest::newRow("bad hex") << QStringList({"set", "\\A", "n", "binary", "zz"});
        QTest::newRow("two values") << QStringList({"set", "\\A", "n", "sz", "a", "b"});
        QTest::newRow("list two keys") << QStringList({"list", "\\A", "\\B"});
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        const TResult result = run(args);
        QCOMPARE(result.Status, 2);
        QVERIFY(result.Err.contains("Usage:"));
        // A usage error never creates the store's keys.
        QCOMPARE(run({"list", "\\A"}).Status, 1);
    }

    void damagedStoreIsReportedAndReplaced() {
        WriteTextFile(storeFile(), "garbage, not a database");
        const TResult result = run({"set", "\\A", "v", "dword", "1"});
        QCOMPARE(result.Status, 0);
        QVERIFY2(result.Err.contains("moved to") && result.Err.contains(".corrupt-"),
                 qPrintable(result.Err));
        QCOMPARE(run({"get", "\\A", "v"}).Out, QString("1\n"));
    }

    // Many launches writing the URL mailbox at the same moment all succeed, even the very first
    // ones, which also create the store.
    void parallelLaunches() {
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < 12; ++i) {
            auto process = std::make_unique<QProcess>();
            process->setProcessEnvironment(environment());
            process->start(Tool, {"set", "\\Software\\Velquist Client\\URL Handler", "", "sz",
                                  QString("velquist:NewAlertWindow?n=%1").arg(i)});
            processes.push_back(std::move(process));
        }
        for (auto& process : processes) {
            QVERIFY(process->waitForFinished(60000));
            QCOMPARE(process->exitCode(), 0);
            QCOMPARE(process->readAllStandardError(), QByteArray());
        }
        const TResult last = run({"get", "\\Software\\Velquist Client\\URL Handler", ""});
        QCOMPARE(last.Status, 0);
        QVERIFY(last.Out.startsWith("velquist:NewAlertWindow?n="));
    }
};

QTEST_GUILESS_MAIN(TestStoreTool)
#include "tst_StoreTool.moc"
