// Whole-process tests of the alert inbox: the client started with the inbox on, alerts posted
// over real HTTP and through velquist-alert on the real socket. A new strategy opens its
// window and its sound action plays; bad requests are refused; an alert answered 202 is in the
// layout even when the client is terminated right after; charting sites' messages are read.
#include "config/zkInboxSettings.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "shell/zkLayouts.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QString Token = QStringLiteral("0123456789abcdef0123456789abcdef01234567");

using TAnswer = THttpAnswer;

TAnswer Ask(quint16 port, const QByteArray& requestLine, const QByteArray& headers,
            const QByteArray& body) {
    return AskHttp(port, requestLine, headers, body);
}

TAnswer Post(quint16 port, const QByteArray& path, const QByteArray& body,
             const QByteArray& headers = QByteArray()) {
    return PostJson(port, path, body, headers);
}

// A client set up as a user would have it after enabling the inbox: DEMO logged in, no layout
// opened at start, the layout saved to a file on exit, and new windows that play a sound.
struct TInboxDesk : TWholeProcessHarness {
    QString Layout;
    QString AudioOut;
    quint16 Port = 0;

    TInboxDesk() {
        Layout = installDir() + QStringLiteral("/SavedWindows/desk.zkl");
        AudioOut = home().path() + QStringLiteral("/audio");
        QDir().mkpath(AudioOut);
        QDir().mkpath(installDir() + QStringLiteral("/SavedWindows"));
        const QString wave = installDir() + QStringLiteral("/ping.wav");
        QFile::copy(QStringLiteral(VELQUIST_BIN_DIR "/starter/Sounds/Ping.wav"), wave);
        WriteTextFile(installDir() + QStringLiteral("/SavedWindows/DEFAULT_WINDOW.zka"),
                      "[AlertWindow]\nAction0=1,2," + wave.toUtf8() +
                          ",100,50\nAction1=1,3\nActionsCount=2\n");
        StoreDeskChoices(Layout, false);
        Port = needInbox(Token);
    }
    QProcessEnvironment env() const {
        QProcessEnvironment e;
        e.insert(QStringLiteral("VELQUIST_AUDIO_OUT"), AudioOut);
        return e;
    }
    QString savedDataConfig(int window) const {
        zkIni::ClearCache();
        return ReadStringValue(TSettingsStore::IniFile(Layout), LayoutAlertWindowPath(window),
                               QStringLiteral("DataConfig"), QString());
    }
    int savedWindows() const {
        zkIni::ClearCache();
        return ReadIntegerValue(TSettingsStore::IniFile(Layout), LayoutKeyPath(),
                                QStringLiteral("AlertCount"), -1);
    }
};

int RunTool(const QStringList& arguments, QByteArray* err = nullptr) {
    QProcess tool;
    tool.start(QStringLiteral(VELQUIST_BIN_DIR "/velquist-alert"), arguments);
    tool.waitForFinished(20000);
    if (err)
        *err = tool.readAllStandardError();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

} // namespace

class TInboxE2ETest : public QObject {
    Q_OBJECT
private slots:
    void webhookAndToolReachTheWindows();
    void acceptedAlertSurvivesAnImmediateTerminate();
    void chartingSiteMessages();
};

void TInboxE2ETest::webhookAndToolReachTheWindows() {
    TInboxDesk desk;
    TClientRun& run = desk.startClient({}, desk.env());
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitListening(desk.Port, run), run.stdErr().constData());

    const QByteArray alert =
        R"({"symbol": "NVDA", "strategy": "Breakouts", "price": 912.4, "description": "New high"})";
    // Refused: a wrong token (never echoed), a missing one, a body over 1 MB, bad JSON.
    TAnswer a = Post(desk.Port, "/alerts/not-the-token", alert);
    QCOMPARE(a.Status, 401);
    QVERIFY(!a.Body.contains("not-the-token"));
    QCOMPARE(Post(desk.Port, "/alerts", alert).Status, 401);
    QCOMPARE(Post(desk.Port, "/alerts", alert, "Authorization: Bearer nope\r\n").Status, 401);
    QCOMPARE(
        Post(desk.Port, "/alerts/" + Token.toLatin1(), QByteArray(1024 * 1024 + 1, ' ')).Status,
        413);
    a = Post(desk.Port, "/alerts/" + Token.toLatin1(), "{\"symbol\": ");
    QCOMPARE(a.Status, 400);
    QCOMPARE(QDir(desk.AudioOut).entryList(QDir::Files).size(), 0);

    // Taken: the window for "Breakouts" opens and its sound plays.
    a = Post(desk.Port, "/alerts/" + Token.toLatin1(), alert);
    QCOMPARE(a.Status, 202);
    QVERIFY2(a.Body.contains("\"accepted\"") && a.Body.contains('1'), a.Body.constData());
    QVERIFY2(WaitForFile(desk.AudioOut + QStringLiteral("/0001.wav")), run.stdErr().constData());
    QCOMPARE(Post(desk.Port, "/alerts", alert, "Authorization: Bearer " + Token.toLatin1() + "\r\n")
                 .Status,
             202);

    // The tool reaches the same client through the socket; bad input sends nothing.
    QByteArray err;
    QCOMPARE(RunTool({"--strategy", "Gappers", "--price", "187.2", "AAPL", "Gap", "up"}, &err), 0);
    QCOMPARE(RunTool({"--price", "abc", "AAPL"}, &err), 1);
    QVERIFY(!err.isEmpty());

    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(desk.savedWindows(), 2);
    QStringList configs = {desk.savedDataConfig(0), desk.savedDataConfig(1)};
    configs.sort();
    QCOMPARE(configs, QStringList({"WN=Breakouts&Src=inbox", "WN=Gappers&Src=inbox"}));
    // Without a client the tool says so.
    QCOMPARE(RunTool({"MSFT"}, &err), 2);
}

void TInboxE2ETest::acceptedAlertSurvivesAnImmediateTerminate() {
    TInboxDesk desk;
    TClientRun& run = desk.startClient({}, desk.env());
    QVERIFY(run.waitStarted());
    QVERIFY(WaitListening(desk.Port, run));
    const TAnswer a =
        Post(desk.Port, "/alerts/" + Token.toLatin1(),
             R"([{"symbol": "XOM", "strategy": "Late"}, {"symbol": "CVX", "strategy": "Late"}])");
    QCOMPARE(a.Status, 202);
    run.terminate(); // at once, before the next turn of its event loop if it can
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(desk.savedWindows(), 1);
    QCOMPARE(desk.savedDataConfig(0), QString("WN=Late&Src=inbox"));
}

// What charting sites send, as they send it: plain text under its first word's symbol, JSON with
// their field names (labelled text, after a byte-order mark), and a tunnel's absolute-form
// request line. Each shows in the window its strategy names, under its symbol.
void TInboxE2ETest::chartingSiteMessages() {
    TInboxDesk desk;
    QProcessEnvironment env = desk.env();
    env.insert(QStringLiteral("VELQUIST_TEST_STEPS"), QStringLiteral("tooltip:AlertsTableView"));
    TClientRun& run = desk.startClient({}, env);
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitListening(desk.Port, run), run.stdErr().constData());
    const QByteArray path = "/alerts/" + Token.toLatin1();
    const QByteArray text = "Content-Type: text/plain; charset=utf-8\r\n";

    TAnswer a = Ask(desk.Port, "POST " + path + "?strategy=Charts", text,
                    "NASDAQ:AAPL Crossing 189.50\nOn the 1h chart");
    QCOMPARE(a.Status, 202);
    // The row as its window shows it: the symbol first.
    QVERIFY2(run.waitForStdErr("velquist test steps done"), run.stdErr().constData());
    QVERIFY2(run.stdErr().contains("velquist test tooltip: AAPL  "), run.stdErr().constData());

    a = Ask(desk.Port, "POST " + path, text, "Crossing up");
    QCOMPARE(a.Status, 400);
    QVERIFY2(a.Body.contains("?symbol="), a.Body.constData());
    QCOMPARE(
        Ask(desk.Port, "POST " + path + "?strategy=Charts&symbol=ES1!", text, "[Long] entry filled")
            .Status,
        202);
    QCOMPARE(Ask(desk.Port, "POST " + path, text,
                 "\xEF\xBB\xBF{\"ticker\": \"MSFT\", \"close\": \"411.2\", \"message\": \"RSI over "
                 "70\", \"alert_name\": \"Momentum\", \"exchange\": \"NASDAQ\"}")
                 .Status,
             202);
    QCOMPARE(Post(desk.Port, path,
                  R"([{"ticker": "NVDA", "last": 912.4, "comment": "New high", "name": "Momentum",
                       "interval": "1h", "time": "2024-05-01T13:30:00Z"}])")
                 .Status,
             202);
    QCOMPARE(Ask(desk.Port, "POST http://tunnel.example" + path + "?strategy=Tunnel", text,
                 "BINANCE:BTCUSDT.P funding flipped")
                 .Status,
             202);
    // Other targets stay refused.
    QCOMPARE(Ask(desk.Port, "POST ftp://tunnel.example" + path, text, "IBM up").Status, 400);

    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
    QProcess history;
    history.start(QStringLiteral(VELQUIST_BIN_DIR "/velquist-history"), {"export"});
    QVERIFY(history.waitForFinished(20000));
    QStringList rows;
    for (const QByteArray& line : history.readAllStandardOutput().split('\n'))
        if (line.contains(','))
            rows << QString::fromUtf8(line.mid(line.indexOf(',') + 1)).trimmed();
    QCOMPARE(rows, QStringList({"window,symbol,price,description,source",
                                "Charts,AAPL,0,NASDAQ:AAPL Crossing 189.50 On the 1h chart,inbox",
                                "Charts,ES1!,0,[Long] entry filled,inbox",
                                "Momentum,MSFT,411.2,RSI over 70,inbox",
                                "Momentum,NVDA,912.4,New high,inbox",
                                "Tunnel,BTCUSDT.P,0,BINANCE:BTCUSDT.P funding flipped,inbox"}));
}

QTEST_MAIN(TInboxE2ETest)
#include "tst_inbox_e2e.moc"
