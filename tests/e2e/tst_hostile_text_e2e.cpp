// Whole-process tests of what the client makes of hostile text a sender posts to the real
// client over real HTTP and its socket: a row's tooltip and the desktop notification (on a
// private session bus, to the tests' notification server) show the characters as they are,
// the history's CSV export runs no formula in a spreadsheet, and names that would show one
// thing and be another are refused by the webhook, the socket and velquist-alert alike.
#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "desktop/zkDesktopNotifications.h"
#include "platform/zkLocalPeers.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QLocalSocket>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QByteArray Token = "0123456789abcdef0123456789abcdef01234567";

using TAnswer = THttpAnswer;

QByteArray Json(const QJsonObject& alert) {
    return QJsonDocument(alert).toJson(QJsonDocument::Compact);
}

// velquist-alert run by a shell (whose printf can make an argument that is not UTF-8, which
// QProcess cannot); its exit status, and what it said.
int RunAlertTool(const QString& arguments, QByteArray* err) {
    QProcess tool;
    tool.start(QStringLiteral("/bin/sh"),
               {QStringLiteral("-c"), QStringLiteral("exec \"$0\" ") + arguments,
                QStringLiteral(VELQUIST_BIN_DIR "/velquist-alert")});
    if (!tool.waitForFinished(20000))
        return -1;
    *err = tool.readAllStandardError();
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

QList<QByteArray> ExportedLines() {
    QProcess tool;
    tool.start(QStringLiteral(VELQUIST_BIN_DIR "/velquist-history"), {QStringLiteral("export")});
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
        return {};
    QList<QByteArray> lines = tool.readAllStandardOutput().split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    lines.removeAll(QByteArray());
    return lines;
}

} // namespace

class THostileTextE2ETest : public QObject {
    Q_OBJECT
private slots:
    void hostileTextReachesTheUserAsText();
    void plainServerGetsTheBodyAsItIs();
    void lookAlikeWindowNamesAreNotShown();
};

void THostileTextE2ETest::hostileTextReachesTheUserAsText() {
    // A user's desk: the inbox on, new windows that show a desktop notification.
    TWholeProcessHarness h;
    HARNESS_NEED(h.needSessionBus());
    QCOMPARE(h.needNotificationRecorder(), QString());
    TNotificationRecorder& server = h.notifications();
    WriteTextFile(h.installDir() + QStringLiteral("/SavedWindows/DEFAULT_WINDOW.zka"),
                  "[AlertWindow]\nAction0=1,5\nActionsCount=1\n");
    StoreDeskChoices(QString(), false);
    const quint16 port = h.needInbox(QString::fromLatin1(Token));
    // A picture of the user's that markup could make the client read.
    const QString image = h.home().path() + QStringLiteral("/private.png");
    QImage(4, 4, QImage::Format_RGB32).save(image);

    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_TEST_STEPS"), QStringLiteral("tooltip:AlertsTableView"));
    TClientRun& run = h.startClient({}, env);
    QVERIFY(run.waitStarted());
    QVERIFY2(WaitListening(port, run), run.stdErr().constData());

    // Markup in every field: shown as the characters it is, in the row's tooltip and the
    // notification alike.
    const QString symbol = QStringLiteral("<b>X</b>");
    const QString strategy = QStringLiteral("Gap & <i>Run</i>");
    const QString description =
        QStringLiteral("Gap <b>up</b> & <i>run</i> <img src='%1'> <a href='http://x'>go</a>")
            .arg(image);
    TAnswer a = h.postAlert(Json({{"symbol", symbol},
                                  {"strategy", strategy},
                                  {"price", 1.5},
                                  {"description", description}}));
    QCOMPARE(a.Status, 202);
    QVERIFY2(run.waitForStdErr("velquist test steps done"), run.stdErr().constData());
    const QString err = QString::fromUtf8(run.stdErr());
    QVERIFY2(
        err.contains(QStringLiteral("velquist test tooltip: ") + symbol + QStringLiteral("  ")),
        qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("  ") + description + u'\n'), qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("velquist test tooltip images: 0\n")), qPrintable(err));
    QVERIFY2(server.WaitForCalls(1), run.stdErr().constData());
    const QJsonObject shown = server.Calls().at(0);
    // The summary is plain text to a notification server: it goes as it is.
    QCOMPARE(shown["summary"].toString(), strategy);
    QCOMPARE(shown["body"].toString(),
             QStringLiteral("&lt;b&gt;X&lt;/b&gt; 1.50 Gap &lt;b&gt;up&lt;/b&gt; &amp; "
                            "&lt;i&gt;run&lt;/i&gt; &lt;img src='%1'&gt; &lt;a "
                            "href='http://x'&gt;go&lt;/a&gt;")
                 .arg(image));

    // Look-alike names are refused whole: the webhook says why (400) ...
    const QString override = QString::fromUcs4(U"\u202eLPAA"); // shows as "AAPL"
    a = h.postAlert(Json({{"symbol", override}}));
    QCOMPARE(a.Status, 400);
    QVERIFY2(a.Body.contains("holds an invisible formatting character (U+202E)"),
             a.Body.constData());
    a = h.postAlert(Json({{"symbol", "AAPL"}, {"strategy", QString::fromUcs4(U"Gap\u200bUp")}}));
    QCOMPARE(a.Status, 400);
    // Characters that show as nothing though they format nothing: a variation selector, the
    // combining grapheme joiner, Hangul and Braille blanks.
    a = h.postAlert(Json({{"symbol", QString::fromUcs4(U"AAPL\uFE0F")}}));
    QCOMPARE(a.Status, 400);
    QVERIFY2(a.Body.contains("holds a character that does not show (U+FE0F)"), a.Body.constData());
    QCOMPARE(h.postAlert(Json({{"symbol", QString::fromUcs4(U"AA\u034FPL")}})).Status, 400);
    QCOMPARE(h.postAlert(Json({{"symbol", QString::fromUcs4(U"AAPL\u3164")}})).Status, 400);
    QCOMPARE(h.postAlert(Json({{"symbol", QString::fromUcs4(U"AAPL\u180B")}})).Status, 400);
    QCOMPARE(
        h.postAlert(Json({{"symbol", "T"}, {"strategy", QString::fromUcs4(U"T\u2800")}})).Status,
        400);
    a = h.postAlert(R"({"symbol":"AA\ud800PL"})");
    QCOMPARE(a.Status, 400);
    QVERIFY2(a.Body.contains("lone surrogate"), a.Body.constData());
    // ... and 64 characters are 64, however many UTF-16 units they take.
    const QString astral = QString::fromUcs4(U"\U0001D400");
    QCOMPARE(h.postAlert(Json({{"symbol", astral.repeated(64)}, {"strategy", "Wide"}})).Status,
             202);
    QCOMPARE(h.postAlert(Json({{"symbol", astral.repeated(65)}, {"strategy", "Wide"}})).Status,
             400);
    // The socket answers ERROR with the same words.
    const QStringList sockets = zkLocalPeers::LiveSockets(QStringLiteral(".inbox"));
    QCOMPARE(sockets.size(), 1);
    QLocalSocket socket;
    socket.connectToServer(sockets.first());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(Json({{"symbol", override}}) + '\n');
    QDeadlineTimer deadline(10000);
    while (!socket.canReadLine() && !deadline.hasExpired())
        socket.waitForReadyRead(200);
    QCOMPARE(socket.readLine(),
             QByteArray("ERROR \"symbol\" holds an invisible formatting character (U+202E)\n"));
    socket.disconnectFromServer();
    // velquist-alert checks first and sends nothing, for text and for bytes that are not UTF-8.
    QByteArray toolErr;
    QCOMPARE(RunAlertTool(QStringLiteral("'%1'").arg(override), &toolErr), 1);
    QVERIFY2(toolErr.contains("U+202E") && toolErr.contains("nothing was sent"),
             toolErr.constData());
    QCOMPARE(RunAlertTool(QStringLiteral("'%1'").arg(QString::fromUcs4(U"AAPL\uFE0F")), &toolErr),
             1);
    QVERIFY2(toolErr.contains("U+FE0F") && toolErr.contains("nothing was sent"),
             toolErr.constData());
    QCOMPARE(RunAlertTool(QStringLiteral("\"$(printf 'AA\\377PL')\""), &toolErr), 1);
    QVERIFY2(toolErr.contains("not valid UTF-8"), toolErr.constData());

    // A description keeps its order: the override is dropped, not obeyed.
    QCOMPARE(h.postAlert(Json({{"symbol", "MSFT"},
                               {"strategy", "Wide"},
                               {"description", QString::fromUcs4(U"up \u202e3% \u2066x\u2069")}}))
                 .Status,
             202);
    // Formulas for a spreadsheet, in a strategy, a symbol and descriptions.
    QCOMPARE(h.postAlert(R"x([{"symbol":"@SUM","strategy":"=Formulas",)x"
                         R"x("description":"=HYPERLINK(\"http://x/\",\"open\")"},)x"
                         R"x({"symbol":"-1.5","strategy":"=Formulas",)x"
                         R"x("description":"+cmd|' /C calc'!A0"}])x")
                 .Status,
             202);

    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);

    // The export: what a spreadsheet would run starts with "'"; a plain number stays one.
    const QList<QByteArray> lines = ExportedLines();
    QCOMPARE(lines.size(), 6); // the header and the five alerts taken
    const auto after = [](const QByteArray& line) { return line.mid(line.indexOf(',') + 1); };
    QCOMPARE(after(lines[3]), QString::fromUcs4(U"Wide,MSFT,0,up 3% x,inbox").toUtf8());
    QCOMPARE(after(lines[4]),
             QByteArray(R"x('=Formulas,'@SUM,0,"'=HYPERLINK(""http://x/"",""open"")",inbox)x"));
    QCOMPARE(after(lines[5]), QByteArray("'=Formulas,-1.5,0,'+cmd|' /C calc'!A0,inbox"));
    for (const QByteArray& line : lines)
        QVERIFY2(!line.contains("LPAA"), line.constData());
}

// A server that reads no markup in the body (it does not offer "body-markup") shows it as it
// comes: an escaped "&" would reach the user as "&amp;". The first notifications, sent before
// the server said so, wait for its answer.
void THostileTextE2ETest::plainServerGetsTheBodyAsItIs() {
    TWholeProcessHarness h;
    HARNESS_NEED(h.needSessionBus());
    QCOMPARE(h.needNotificationRecorder(0, true), QString());
    TNotificationRecorder& server = h.notifications();
    const TSessionBus& bus = h.bus();
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address.toUtf8()); // this process's first use
    TDBusNotificationService service;
    int answered = 0;
    service.Notify({QStringLiteral("Gap & Run"), QStringLiteral("AT&T 1.50 <b>up</b>"), 0},
                   [&](uint32_t id) { answered += id != 0; });
    service.Notify({QStringLiteral("B"), QStringLiteral("second"), 0},
                   [&](uint32_t id) { answered += id != 0; });
    QTRY_COMPARE_WITH_TIMEOUT(answered, 2, 10000);
    const QList<QJsonObject> calls = server.Calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0]["body"].toString(), QStringLiteral("AT&T 1.50 <b>up</b>"));
    QCOMPARE(calls[1]["body"].toString(), QStringLiteral("second"));
    QCOMPARE(calls[0]["summary"].toString(), QStringLiteral("Gap & Run"));
}

// A layout (and the window files it names) gives the windows' names; one that holds what does
// not show would caption its window as another ("\u202eLPAA" reads "AAPL") or look like
// another's ("Plain" and a Braille blank). Such a window opens with no name; the rest are shown.
void THostileTextE2ETest::lookAlikeWindowNamesAreNotShown() {
    TWholeProcessHarness h;
    HARNESS_NEED(h.needDesktop());
    const QString layout = h.installDir() + QStringLiteral("/SavedWindows/desk.zkl");
    WriteAlertWindowsLayout(layout, {QStringLiteral("O=3&WN=%E2%80%AELPAA&S="),
                                     QStringLiteral("O=3&WN=Plain%E2%A0%80&S="),
                                     QStringLiteral("O=3&WN=Plain&S=")});
    StoreDeskChoices(layout, true);
    TClientRun& run = h.startClient();
    QVERIFY(run.waitStarted());
    TDesktop& desktop = h.desktop();
    QStringList captions;
    QDeadlineTimer deadline(20000);
    while (!captions.contains(QStringLiteral("Plain")) && !deadline.hasExpired()) {
        QThread::msleep(200);
        captions = desktop.ShownCaptions();
    }
    QVERIFY2(captions.contains(QStringLiteral("Plain")), qPrintable(captions.join(u'|')));
    QThread::msleep(500); // the other windows of the layout are made with it
    captions = desktop.ShownCaptions();
    // However the window system writes a caption out, none but the real one begins "Plain", and
    // none shows "LPAA".
    QCOMPARE(captions.filter(QRegularExpression(QStringLiteral("^Plain"))).size(), 1);
    QVERIFY2(captions.filter(QStringLiteral("LPAA")).isEmpty() &&
                 captions.filter(QString(QChar(0x202E))).isEmpty(),
             qPrintable(captions.join(u'|')));
    QVERIFY2(
        run.waitForStdErr("a window name that holds an invisible formatting character (U+202E)"),
        run.stdErr().constData());
    QVERIFY2(run.waitForStdErr("a window name that holds a character that does not show (U+2800)"),
             run.stdErr().constData());
    run.terminate();
    QVERIFY(run.waitFinished());
    QCOMPARE(run.exitCode(), 0);
}

QTEST_MAIN(THostileTextE2ETest)
#include "tst_hostile_text_e2e.moc"
