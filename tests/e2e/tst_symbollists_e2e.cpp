// Whole process: the client, on a prepared service lists file, creates a list and adds a symbol
// through the symbol lists window; after it has been terminated the service file holds both.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkClientProcess.h"
#include "zkTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TSymbolListsE2ETest : public QObject {
    Q_OBJECT
private slots:
    void createdListAndSymbolReachTheService() {
        TTestHome home;
        TTestInstallation inst;
        QVERIFY(inst.isValid());
        TUserStore::ResetInstance();
        WriteStringValue(TSettingsStore::Registry(), SettingsKeyPath() + "\\Settings", "UserName",
                         "DEMO");
        TUserStore::ResetInstance();
        const QString service = home.dataHome() + "/velquist/service/demo.json";
        WriteTextFile(service, R"({"lists": [{"id": 4, "name": "Tech", "symbols": ["AAPL"]}]})");

        QProcessEnvironment env;
        // Waits for the first refresh (Tech listed) before creating, as a user would.
        env.insert("VELQUIST_TEST_STEPS",
                   "SymbolListsMenuItem;select:SymbolListsListBox:Tech;input:Watch;"
                   "CreateNewListButton;select:SymbolListsListBox:Watch;SymbolEdit=nvda;AddButton");
        TClientRun run(inst.clientPath(), {}, QString(), env);
        QVERIFY(run.waitStarted());
        QElapsedTimer waited;
        waited.start();
        while (!run.stdErr().contains("velquist test steps done") && waited.elapsed() < 30000 &&
               run.process().state() == QProcess::Running)
            run.waitFinished(100);
        QVERIFY2(run.stdErr().contains("velquist test steps done"), run.stdErr().constData());
        run.terminate();
        QVERIFY(run.waitFinished());
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QVERIFY2(!run.stdErr().contains("velquist prompt"), run.stdErr().constData());

        const QJsonArray lists =
            QJsonDocument::fromJson(ReadWholeFile(service)).object().value("lists").toArray();
        QCOMPARE(lists.size(), 2);
        QCOMPARE(lists[0].toObject().value("name").toString(), QString("Tech"));
        const QJsonObject created = lists[1].toObject();
        QCOMPARE(created.value("id").toInt(), 5);
        QCOMPARE(created.value("name").toString(), QString("Watch"));
        QCOMPARE(created.value("symbols").toArray(), QJsonArray({"NVDA"}));
    }
};

QTEST_MAIN(TSymbolListsE2ETest)
#include "tst_symbollists_e2e.moc"
