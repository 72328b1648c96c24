// Whole process: a window's own rules, set by keyboard alone through its Rules dialog (read and
// driven by tests/e2e/a11y_probe.py), narrow what the window keeps of the alerts posted to the
// inbox. A refused alert is in the history, marked with the rule, but not in the window; the
// inbox's answer counts it as filtered; velquist-alert --dry-run tells where an alert would go
// and which rule would refuse it, taking nothing. The emphasis, set in the same dialog, marks
// the rows of its list's symbols for a screen reader.
#include "history/zkHistoryStore.h"
#include "zkHarness.h"

#include <QtTest>

namespace {

const QString Token = QStringLiteral("rulesrulesrulesrulesrulesrulesrulesrules");

struct TToolRun {
    int Code = -1;
    QByteArray Out;
};

TToolRun RunTool(const QString& tool, const QStringList& arguments, const QString& dir) {
    QProcess run;
    run.setWorkingDirectory(dir);
    run.start(QStringLiteral(VELQUIST_BIN_DIR "/") + tool, arguments);
    run.closeWriteChannel();
    run.waitForFinished(20000);
    return {run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1,
            run.readAllStandardOutput() + run.readAllStandardError()};
}

// The history's alerts, oldest first.
std::vector<THistoryAlert> History() {
    std::vector<THistoryAlert> alerts;
    try {
        THistoryStore store(THistoryStore::DefaultPath(), THistoryStore::TMode::ReadOnly);
        store.ForEach({}, [&](const THistoryAlert& a) {
            alerts.push_back(a);
            return true;
        });
    } catch (const EHistoryError&) {
    }
    return alerts;
}

} // namespace

class TRulesE2ETest : public QObject {
    Q_OBJECT
private slots:
    void rulesSetByKeyboardNarrowWhatAWindowKeeps() {
        TWholeProcessHarness h;
        HARNESS_NEED(h.needScreenReader());
        const auto probe = [&h](const QStringList& arguments) {
            return h.screenReader().Probe(arguments);
        };
        StoreDeskChoices(QString(), false);
        WriteTextFile(h.home().dataHome() + QStringLiteral("/velquist/service/demo.json"),
                      R"({"lists": [{"id": 4, "name": "Watch", "symbols": ["AAPL", "MSFT"]},)"
                      R"( {"id": 5, "name": "Hot", "symbols": ["AAPL"]}]})");
        const quint16 port = h.needInbox(Token);
        TClientRun& client = h.startClient();
        QVERIFY(client.waitStarted());
        QVERIFY2(WaitListening(port, client), client.stdErr().constData());

        // The window opens with its strategy's first alert.
        QCOMPARE(h.postAlert(R"({"symbol": "TSLA", "strategy": "Scans"})").Status, 202);
        const QString window = QStringLiteral("^Scans$");
        QVERIFY2(probe({QStringLiteral("wait"), window, QStringLiteral("20")}).Code == 0,
                 client.stdErr().constData());
        // The lists are read at start; the dialog offers what is there when it opens.
        QTest::qWait(1500);

        // The list's menu: "Rules..." is its last entry. The dialog opens on its first rule.
        QVERIFY(probe({QStringLiteral("focus"), window, QStringLiteral("Alerts")}).Code == 0);
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Menu"), QStringLiteral("Up"),
                        QStringLiteral("Return")})
                     .Code,
                 0);
        const QString dialog = QStringLiteral("^Rules of Scans$");
        QVERIFY2(probe({QStringLiteral("wait"), dialog}).Code == 0, client.stdErr().constData());
        const TScreenReader::TAnswer audit = probe({QStringLiteral("audit"), dialog});
        QVERIFY2(audit.Code == 0 && audit.Lines().filter(QStringLiteral("unnamed: ")).isEmpty() &&
                     audit.Lines().contains(QStringLiteral("role: dialog")),
                 qPrintable(audit.Out + audit.Err));
        QTRY_VERIFY_WITH_TIMEOUT(
            probe({QStringLiteral("focused")})
                .Out.startsWith(QStringLiteral("check box\tSymbol is on list")),
            10000);
        // Space turns the rule on; Tab reaches its list (the account's first one, read out by
        // its choice).
        QCOMPARE(
            probe({QStringLiteral("keys"), QStringLiteral("space"), QStringLiteral("Tab")}).Code,
            0);
        QString focused;
        QTRY_VERIFY2_WITH_TIMEOUT((focused = probe({QStringLiteral("focused")}).Out)
                                      .startsWith(QStringLiteral("combo box\tWatch")),
                                  qPrintable(focused), 10000);
        // Tab down to the emphasis, Space, Tab to its list and Down to "Hot"; Enter is OK.
        const QString emphasis = QStringLiteral("check box\tEmphasise symbols on list");
        for (int tabs = 0;
             tabs < 12 && !(focused = probe({QStringLiteral("focused")}).Out).startsWith(emphasis);
             ++tabs)
            QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Tab")}).Code, 0);
        QVERIFY2(focused.startsWith(emphasis), qPrintable(focused));
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("space"), QStringLiteral("Tab"),
                        QStringLiteral("Down")})
                     .Code,
                 0);
        QTRY_VERIFY2_WITH_TIMEOUT((focused = probe({QStringLiteral("focused")}).Out)
                                      .startsWith(QStringLiteral("combo box\tHot")),
                                  qPrintable(focused), 10000);
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Return")}).Code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            probe({QStringLiteral("wait"), dialog, QStringLiteral("0")}).Code != 0, 10000);

        // Posted together: the one off the list is refused, and counted so; the one on "Hot"
        // says it is emphasised.
        const THttpAnswer answer = h.postAlert(
            R"([{"symbol": "AAPL", "strategy": "Scans"}, {"symbol": "IBM", "strategy": "Scans"}])");
        QCOMPARE(answer.Status, 202);
        QCOMPARE(answer.Body, QByteArray(R"({"accepted":2,"unrouted":0,"filtered":1})"));
        QVERIFY(
            probe({QStringLiteral("select"), window, QStringLiteral("AAPL, emphasised")}).Code ==
            0);
        QVERIFY(probe({QStringLiteral("select"), window, QStringLiteral("IBM")}).Code != 0);
        QTRY_VERIFY_WITH_TIMEOUT(History().size() >= 3, 10000);
        QStringList rows;
        for (const THistoryAlert& a : History())
            rows << a.Window + QLatin1Char('/') + a.Symbol + QLatin1Char('/') + a.Refused;
        // The refused one is kept at once, the shown one once its window has it.
        rows.sort();
        QCOMPARE(rows, QStringList({"Scans/AAPL/", "Scans/IBM/symbol is on list \"Watch\"",
                                    "Scans/TSLA/"}));

        // A dry run tells the same, and takes nothing.
        const TToolRun dry =
            RunTool(QStringLiteral("velquist-alert"),
                    {QStringLiteral("--dry-run"), QStringLiteral("--strategy"),
                     QStringLiteral("Scans"), QStringLiteral("MSFT"), QStringLiteral("up")},
                    h.installDir());
        QCOMPARE(dry.Code, 0);
        QCOMPARE(dry.Out, QByteArray("MSFT: window \"Scans\" shows it\n"));
        const TToolRun refused = RunTool(QStringLiteral("velquist-alert"),
                                         {QStringLiteral("--dry-run"), QStringLiteral("--strategy"),
                                          QStringLiteral("Scans"), QStringLiteral("GME")},
                                         h.installDir());
        QCOMPARE(refused.Out,
                 QByteArray("GME: window \"Scans\" refuses it: symbol is on list \"Watch\"\n"));
        // Sent for real, the tool counts it as filtered.
        const TToolRun sent =
            RunTool(QStringLiteral("velquist-alert"),
                    {QStringLiteral("--strategy"), QStringLiteral("Scans"), QStringLiteral("GME")},
                    h.installDir());
        QCOMPARE(sent.Code, 0);
        QVERIFY2(sent.Out.contains("1 of the alerts were filtered"), sent.Out.constData());
        QTRY_VERIFY_WITH_TIMEOUT(History().size() == 4, 10000);
        QVERIFY(probe({QStringLiteral("select"), window, QStringLiteral("MSFT")}).Code != 0);
        // On the kept list but not on "Hot": kept, not emphasised.
        QCOMPARE(h.postAlert(R"({"symbol": "MSFT", "strategy": "Scans"})").Status, 202);
        QTRY_VERIFY_WITH_TIMEOUT(
            probe({QStringLiteral("select"), window, QStringLiteral("MSFT")}).Code == 0, 10000);
        QVERIFY(
            probe({QStringLiteral("select"), window, QStringLiteral("MSFT, emphasised")}).Code !=
            0);
        client.terminate();
        QVERIFY(client.waitFinished());
    }
};

QTEST_MAIN(TRulesE2ETest)
#include "tst_rules_e2e.moc"
