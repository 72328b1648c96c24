// Whole process: the client, on a prepared service lists file, creates a list and adds a symbol
// through the symbol lists window; after it has been terminated the service file holds both.
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TSymbolListsE2ETest : public QObject {
    Q_OBJECT
private slots:
    void createdListAndSymbolReachTheService() {
        TWholeProcessHarness h;
        TUserStore::ResetInstance();
        WriteStringValue(TSettingsStore::Registry(), SettingsKeyPath() + "\\Settings", "UserName",
                         "DEMO");
        TUserStore::ResetInstance();
        const QString service = h.home().dataHome() + "/velquist/service/demo.json";
        WriteTextFile(service, R"({"lists": [{"id": 4, "name": "Tech", "symbols": ["AAPL"]}]})");

        QProcessEnvironment env;
        // Waits for the first refresh (Tech listed) before creating, as a user would.
        env.insert("VELQUIST_TEST_STEPS",
                   "SymbolListsMenuItem;select:SymbolListsListBox:Tech;input:Watch;"
                   "CreateNewListButton;select:SymbolListsListBox:Watch;SymbolEdit=nvda;AddButton");
        TClientRun& run = h.startClient({}, env);
        QVERIFY(run.waitStarted());
        QVERIFY2(run.waitForStdErr("velquist test steps done", 30000), run.stdErr().constData());
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
