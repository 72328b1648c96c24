// Whole-process tests with a screen reader's eyes: the client on a private X desktop (Xvfb and
// openbox) with the accessibility registry on a private bus, read and driven over AT-SPI by
// tests/e2e/a11y_probe.py. Every window reports a window and names its controls; a new alert is
// announced politely without the focus moving, a burst as one, what several windows have to
// say at once as one line, nothing while a menu or dialog is open; Enter on an alert sends its
// symbol to a linked program; Tab leads from the Options page tree into the page; the login
// dialog's links are reached with Tab and opened with Enter; the expiry bar tells readers only
// of a change; the splash is no window Ctrl+N switches to.
#include "alerts/zkAlertAnnouncer.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QtTest>

namespace {

const QString Token = QStringLiteral("a11ya11ya11ya11ya11ya11ya11ya11ya11ya11y");

// The lines of an audit that tell of a fault (all but the role).
QStringList Faults(const TScreenReader::TAnswer& audit) {
    QStringList faults = audit.Lines().filter(QStringLiteral("unnamed: "));
    if (audit.Code != 0)
        faults << QStringLiteral("audit failed: ") + audit.Err;
    return faults;
}

int RunTool(const QString& tool, const QStringList& arguments, const QString& dir,
            const QByteArray& input = QByteArray()) {
    QProcess run;
    run.setWorkingDirectory(dir);
    run.start(QStringLiteral(VELQUIST_BIN_DIR "/") + tool, arguments);
    run.write(input);
    run.closeWriteChannel();
    run.waitForFinished(20000);
    return run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
}

} // namespace

class TA11yE2ETest : public QObject {
    Q_OBJECT

    // Each test's installation on a desktop of its own, read by a screen reader.
    std::unique_ptr<TWholeProcessHarness> H;

    TScreenReader::TAnswer probe(const QStringList& arguments) {
        return H->screenReader().Probe(arguments);
    }

private slots:
    void init() {
        H = std::make_unique<TWholeProcessHarness>();
        HARNESS_NEED(H->needScreenReader());
    }
    void cleanup() { H.reset(); }

    void everyWindowSaysWhatItIsAndTabEntersAnOptionsPage();
    void alertsAreSpokenAndEnterSendsTheSymbol();
    void loginLinksAreReachedWithTabAndOpenWithEnter();
    void windowsAreOneLineThatWaitsForMenusAndDialogs();
    void aboutNamesItsIconAndTheExpiryBarKeepsQuiet();
    void theSplashIsNoWindowOfTheRing();
};

void TA11yE2ETest::everyWindowSaysWhatItIsAndTabEntersAnOptionsPage() {
    StoreDeskChoices(QString(), false);
    QProcessEnvironment env;
    // The windows a user opens, Options last (it stays open: it is modal).
    env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"),
               QStringLiteral("NewAlertWindowMenuItem,SymbolListsMenuItem,ExternalLinkingMenuItem,"
                              "AlertHistoryMenuItem,OptionsMenuItem"));
    TClientRun& client = H->startClient({}, env);
    QVERIFY(client.waitStarted());
    TScreenReader::TAnswer up =
        probe({QStringLiteral("wait"), QStringLiteral("^Options$"), QStringLiteral("30")});
    QVERIFY2(up.Code == 0, qPrintable(up.Err + client.stdErr()));

    QStringList faults;
    const QStringList windows = {QStringLiteral("^Velquist$"), QStringLiteral("^High/Low Ticker$"),
                                 QStringLiteral("^Symbol Lists$"),
                                 QStringLiteral("^Set Up External Linking$"),
                                 QStringLiteral("^Alert History$")};
    for (const QString& window : windows) {
        const TScreenReader::TAnswer audit = probe({QStringLiteral("audit"), window});
        // A window, not a "filler".
        if (!audit.Lines().contains(QStringLiteral("role: frame")))
            faults << window + QStringLiteral(": ") + audit.Lines().value(0) + audit.Err;
        for (const QString& fault : Faults(audit))
            faults << window + QStringLiteral(": ") + fault;
    }
    // The main window's status texts are text a reader reads.
    const TScreenReader::TAnswer main =
        probe({QStringLiteral("texts"), QStringLiteral("^Velquist$")});
    for (const QString& text :
         {QStringLiteral("label\tConnected as \"DEMO\""), QStringLiteral("label\tMarket: ")})
        if (!main.Out.contains(text))
            faults << QStringLiteral("main window does not read ") + text + QStringLiteral(": ") +
                          main.Out + main.Err;

    const struct {
        QString Page;
        QString First; // the page's first control, where Tab from the tree lands
    } pages[] = {
        {QStringLiteral("General"), QStringLiteral("Click on an alert")},
        {QStringLiteral("Connection"), QStringLiteral("Use HTTP port 80 for connection")},
        {QStringLiteral("Updates"), QStringLiteral("Check for updates at application startup")},
        {QStringLiteral("Layouts"), QStringLiteral("Always save layout")},
        {QStringLiteral("Alert Inbox"), QStringLiteral("Accept alerts from other programs")}};
    for (const auto& page : pages) {
        const TScreenReader::TAnswer selected =
            probe({QStringLiteral("select"), QStringLiteral("^Options$"), page.Page});
        QVERIFY2(selected.Code == 0, qPrintable(selected.Err));
        const TScreenReader::TAnswer audit =
            probe({QStringLiteral("audit"), QStringLiteral("^Options$")});
        if (!audit.Lines().contains(QStringLiteral("role: dialog")))
            faults << QStringLiteral("Options: ") + audit.Lines().value(0) + audit.Err;
        for (const QString& fault : Faults(audit))
            faults << QStringLiteral("Options, ") + page.Page + QStringLiteral(": ") + fault;
        // The keyboard: from the tree, Tab goes into the page.
        // The keyboard: from the tree, Tab goes into the page, Shift+Tab back.
        const QString onTree =
            probe({QStringLiteral("focused")}).Out.section(QLatin1Char('\t'), 0, 1);
        if (onTree.section(QLatin1Char('\t'), 0, 0) != QStringLiteral("tree")) {
            faults
                << QStringLiteral("Shift+Tab from the page went to %1, not the tree").arg(onTree);
            break;
        }
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Tab")}).Code, 0);
        const QString focused =
            probe({QStringLiteral("focused")}).Out.section(QLatin1Char('\t'), 1, 1);
        if (focused != page.First)
            faults << QStringLiteral("Tab from the tree on %1 went to %2").arg(page.Page, focused);
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("ISO_Left_Tab")}).Code, 0);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void TA11yE2ETest::alertsAreSpokenAndEnterSendsTheSymbol() {
    StoreDeskChoices(QString(), false);
    const quint16 port = FreePort();
    StoreInboxChoices(port, Token);
    TClientRun& client = H->startClient();
    QVERIFY(client.waitStarted());
    QVERIFY2(WaitListening(port, client), client.stdErr().constData());

    // A program linked to the list the windows send to.
    QProcess link;
    link.setWorkingDirectory(H->installDir());
    link.start(QStringLiteral(VELQUIST_BIN_DIR "/velquist-link"), {QStringLiteral("MAIN LIST")});
    QVERIFY(link.waitForStarted());

    // The first alert of a strategy opens its window.
    QCOMPARE(RunTool(QStringLiteral("velquist-alert"),
                     {QStringLiteral("--strategy"), QStringLiteral("Running Up"),
                      QStringLiteral("MSFT"), QStringLiteral("Opening")},
                     H->installDir()),
             0);
    const QString window = QStringLiteral("^Running Up$");
    QVERIFY2(probe({QStringLiteral("wait"), window, QStringLiteral("20")}).Code == 0,
             client.stdErr().constData());
    QTest::qWait(TAlertAnnouncer::MinGapMs);
    const QString focusBefore = probe({QStringLiteral("focused")}).Out;

    {
        TScreenReader::TListener listener(H->screenReader(), window, 20);
        QVERIFY(listener.IsListening());
        QCOMPARE(RunTool(QStringLiteral("velquist-alert"),
                         {QStringLiteral("--strategy"), QStringLiteral("Running Up"),
                          QStringLiteral("--price"), QStringLiteral("182.5"),
                          QStringLiteral("AAPL"), QStringLiteral("New"), QStringLiteral("high")},
                         H->installDir()),
                 0);
        // Announced politely (said once the reader has finished what it says), with the alert's
        // words; the window's notification takes them as its name.
        const QString one = QStringLiteral("AAPL, 182.50, New high, in Running Up");
        QVERIFY2(listener.WaitFor(QStringLiteral("\tpolite\t") + one),
                 qPrintable(listener.Heard().join(QLatin1Char('\n'))));
        QVERIFY(listener.WaitFor(
            QStringLiteral("object:property-change:accessible-name\tnotification\t") + one));

        // Twelve at once are one announcement.
        QByteArray burst = "[";
        for (int i = 0; i < 12; ++i)
            burst += (i ? "," : "") + QByteArray(R"({"symbol": "S)") + QByteArray::number(i) +
                     R"(", "strategy": "Running Up"})";
        burst += "]\n";
        QCOMPARE(RunTool(QStringLiteral("velquist-alert"), {QStringLiteral("--json")},
                         H->installDir(), burst),
                 0);
        const QString many = QStringLiteral("S0 and 11 more in Running Up");
        QVERIFY2(listener.WaitFor(QStringLiteral("\tpolite\t") + many),
                 qPrintable(listener.Heard().join(QLatin1Char('\n'))));
        QTest::qWait(TAlertAnnouncer::MinGapMs);
        const QStringList heard = listener.Heard();
        QCOMPARE(heard.filter(QStringLiteral("object:announcement")).size(), 2);
        // Nothing that cuts the reader off: no notification popping up, nothing assertive.
        QVERIFY2(heard.filter(QStringLiteral("object:state-changed:showing")).isEmpty() &&
                     heard.filter(QStringLiteral("\tassertive\t")).isEmpty(),
                 qPrintable(heard.join(QLatin1Char('\n'))));
    }
    // Spoken, not focused.
    QCOMPARE(probe({QStringLiteral("focused")}).Out, focusBefore);

    // Enter on the selected alert does what a double-click does here: AAPL to MAIN LIST.
    QVERIFY(probe({QStringLiteral("select"), window, QStringLiteral("AAPL")}).Code == 0);
    QVERIFY(probe({QStringLiteral("focus"), window, QStringLiteral("Alerts")}).Code == 0);
    QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Return")}).Code, 0);
    QDeadlineTimer deadline(10000);
    QByteArray printed;
    while (!printed.contains("AAPL\n") && !deadline.hasExpired()) {
        link.waitForReadyRead(200);
        printed += link.readAllStandardOutput();
    }
    QVERIFY2(printed.contains("AAPL\n"), qPrintable(QString::fromUtf8(printed) +
                                                    link.readAllStandardError() + client.stdErr()));
    QCOMPARE(printed, QByteArray("AAPL\n"));
    // The Menu key opens the list's menu, whose "Actions..." (after "Copy Symbol" and "Clear
    // Alerts") opens the window's Actions dialog, which names its controls and closes with
    // Escape.
    QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Menu"), QStringLiteral("Down"),
                    QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")})
                 .Code,
             0);
    const QString actions = QStringLiteral("^Alert Window Actions$");
    QVERIFY2(probe({QStringLiteral("wait"), actions}).Code == 0, client.stdErr().constData());
    const TScreenReader::TAnswer audit = probe({QStringLiteral("audit"), actions});
    QVERIFY2(Faults(audit).isEmpty() && audit.Lines().contains(QStringLiteral("role: dialog")),
             qPrintable(audit.Out + audit.Err));
    QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Escape")}).Code, 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        probe({QStringLiteral("wait"), actions, QStringLiteral("0")}).Code != 0, 10000);
    StopProcess(link, 3000);
    client.terminate();
    QVERIFY(client.waitFinished());
}

void TA11yE2ETest::loginLinksAreReachedWithTabAndOpenWithEnter() {
    WriteTextFile(H->installDir() + QStringLiteral("/Settings.ini"),
                  "[Settings]\nLoginURLLink1=Create an account|https://signup.example/new\n"
                  "LoginURLLink2=Lost password|https://signup.example/lost\n");
    const QString opened = H->home().path() + QStringLiteral("/opened.txt");
    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_SHELL_OPEN_LOG"), opened);
    // No user stored: the client asks for a login.
    TClientRun& client = H->startClient({}, env);
    QVERIFY(client.waitStarted());
    const QString login = QStringLiteral("^Please login$");
    QVERIFY2(probe({QStringLiteral("wait"), login, QStringLiteral("20")}).Code == 0,
             client.stdErr().constData());
    const TScreenReader::TAnswer audit = probe({QStringLiteral("audit"), login});
    QVERIFY2(Faults(audit).isEmpty() && audit.Lines().contains(QStringLiteral("role: dialog")),
             qPrintable(audit.Out + audit.Err));
    // User name, password, OK, Cancel, then the links.
    QTRY_VERIFY_WITH_TIMEOUT(
        probe({QStringLiteral("focused")}).Out.contains(QStringLiteral("User Name")), 10000);
    QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                    QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab")})
                 .Code,
             0);
    const QStringList focused = probe({QStringLiteral("focused")}).Out.split(QLatin1Char('\t'));
    QCOMPARE(focused.value(0), QStringLiteral("link"));
    QCOMPARE(focused.value(1), QStringLiteral("Lost password"));
    QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Return")}).Code, 0);
    QVERIFY2(WaitForFile(opened), client.stdErr().constData());
    QTRY_COMPARE(ReadWholeFile(opened), QByteArray("https://signup.example/lost\n"));
    client.terminate();
    QVERIFY(client.waitFinished());
}

void TA11yE2ETest::windowsAreOneLineThatWaitsForMenusAndDialogs() {
    StoreDeskChoices(QString(), false);
    const quint16 port = FreePort();
    StoreInboxChoices(port, Token);
    TClientRun& client = H->startClient();
    QVERIFY(client.waitStarted());
    QVERIFY2(WaitListening(port, client), client.stdErr().constData());
    // Alerts as one line of JSON.
    const auto post = [&](QByteArray alerts) {
        return RunTool(QStringLiteral("velquist-alert"), {QStringLiteral("--json")},
                       H->installDir(), alerts.replace('\n', ' ') + '\n');
    };

    // Three windows, each opened by its strategy's first alert; the last is the active one.
    QCOMPARE(post(R"([{"symbol": "B", "strategy": "Gappers"},
                      {"symbol": "C", "strategy": "Scans"},
                      {"symbol": "A", "strategy": "Running Up"}])"),
             0);
    for (const char* window : {"^Running Up$", "^Gappers$", "^Scans$"})
        QVERIFY2(probe({QStringLiteral("wait"), QString::fromLatin1(window), QStringLiteral("20")})
                         .Code == 0,
                 client.stdErr().constData());
    QTest::qWait(2 * TAlertAnnouncer::MinGapMs);
    const QString windows = QStringLiteral("^(Running Up|Gappers|Scans)$");

    {
        // An alert for each at once: one announcement, one line, polite.
        TScreenReader::TListener listener(H->screenReader(), windows, 20);
        QVERIFY(listener.IsListening());
        QCOMPARE(post(R"([{"symbol": "AAPL", "strategy": "Running Up"},
                          {"symbol": "MSFT", "strategy": "Gappers"},
                          {"symbol": "TSLA", "strategy": "Scans"},
                          {"symbol": "NVDA", "strategy": "Scans"}])"),
                 0);
        QVERIFY2(listener.WaitFor(QStringLiteral("object:announcement")),
                 qPrintable(listener.Heard().join(QLatin1Char('\n'))));
        QTest::qWait(2 * TAlertAnnouncer::MinGapMs);
        const QStringList said = listener.Heard().filter(QStringLiteral("object:announcement"));
        QVERIFY2(said.size() == 1, qPrintable(listener.Heard().join(QLatin1Char('\n'))));
        const QStringList fields = said.first().split(QLatin1Char('\t'));
        QCOMPARE(fields.value(3), QStringLiteral("polite"));
        QCOMPARE(fields.value(4), QStringLiteral("AAPL, in Running Up; MSFT, in Gappers; "
                                                 "TSLA and 1 more in Scans"));
    }

    {
        // The user in a window's menu is not interrupted: the alert waits until it closes.
        TScreenReader::TListener listener(H->screenReader(), windows, 30);
        QVERIFY(listener.IsListening());
        const QString runningUp = QStringLiteral("^Running Up$");
        QVERIFY(probe({QStringLiteral("select"), runningUp, QStringLiteral("AAPL")}).Code == 0);
        const TScreenReader::TAnswer focused =
            probe({QStringLiteral("focus"), runningUp, QStringLiteral("Alerts")});
        QVERIFY2(focused.Code == 0, qPrintable(focused.Err));
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Menu")}).Code, 0);
        QTest::qWait(500);
        QCOMPARE(post(R"({"symbol": "AMD", "strategy": "Scans"})"), 0);
        QTest::qWait(2 * TAlertAnnouncer::MinGapMs);
        QVERIFY2(listener.Heard().filter(QStringLiteral("object:announcement")).isEmpty(),
                 qPrintable(listener.Heard().join(QLatin1Char('\n'))));
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Escape")}).Code, 0);
        QVERIFY2(listener.WaitFor(QStringLiteral("\tpolite\tAMD, in Scans")),
                 qPrintable(listener.Heard().join(QLatin1Char('\n'))));

        // Nor in a dialog: the window's Actions, from its menu.
        QTest::qWait(TAlertAnnouncer::MinGapMs);
        // "Actions..." after "Copy Symbol" and "Clear Alerts".
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Menu"), QStringLiteral("Down"),
                        QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")})
                     .Code,
                 0);
        const QString actions = QStringLiteral("^Alert Window Actions$");
        QVERIFY2(probe({QStringLiteral("wait"), actions}).Code == 0, client.stdErr().constData());
        QCOMPARE(post(R"({"symbol": "INTC", "strategy": "Gappers"})"), 0);
        QTest::qWait(2 * TAlertAnnouncer::MinGapMs);
        QVERIFY2(listener.Heard()
                     .filter(QStringLiteral("INTC"))
                     .filter(QStringLiteral("object:announcement"))
                     .isEmpty(),
                 qPrintable(listener.Heard().join(QLatin1Char('\n'))));
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Escape")}).Code, 0);
        QVERIFY2(listener.WaitFor(QStringLiteral("\tpolite\tINTC, in Gappers")),
                 qPrintable(listener.Heard().join(QLatin1Char('\n'))));
    }
    client.terminate();
    QVERIFY(client.waitFinished());
}

void TA11yE2ETest::aboutNamesItsIconAndTheExpiryBarKeepsQuiet() {
    StoreDeskChoices(QString(), false); // DEMO, whose account runs 30 more days
    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"), QStringLiteral("AboutMenuItem"));
    TClientRun& client = H->startClient({}, env);
    QVERIFY(client.waitStarted());
    const QString about = QStringLiteral("^About ");
    QVERIFY2(probe({QStringLiteral("wait"), about, QStringLiteral("30")}).Code == 0,
             client.stdErr().constData());
    const TScreenReader::TAnswer audit = probe({QStringLiteral("audit"), about});
    QVERIFY2(Faults(audit).isEmpty(), qPrintable(audit.Out + audit.Err));

    // The expiry bar says "expires in 30 days" and keeps saying it: no name changes while the
    // text stays (it is worked out every second).
    QTRY_VERIFY_WITH_TIMEOUT(probe({QStringLiteral("texts"), QStringLiteral("^Velquist$")})
                                 .Out.contains(QStringLiteral("Your account expires in")),
                             10000);
    TScreenReader::TListener listener(H->screenReader(), QStringLiteral("^Velquist$"), 5);
    QVERIFY(listener.IsListening());
    QTest::qWait(4000);
    const QStringList renamed =
        listener.Heard().filter(QStringLiteral("object:property-change:accessible-name"));
    QStringList expiry;
    for (const QString& line : renamed)
        if (line.contains(QStringLiteral("expires")))
            expiry << line;
    QVERIFY2(expiry.isEmpty(), qPrintable(renamed.join(QLatin1Char('\n'))));
    client.terminate();
    QVERIFY(client.waitFinished());
}

void TA11yE2ETest::theSplashIsNoWindowOfTheRing() {
    StoreDeskChoices(QString(), false);
    // The splash shows the picture of the working folder.
    QVERIFY(QFile::copy(QStringLiteral(VELQUIST_SOURCE_DIR "/resources/splash.bmp"),
                        H->installDir() + QStringLiteral("/splash.bmp")));
    H->setWorkingDir(H->installDir());
    TClientRun& client = H->startClient();
    QVERIFY(client.waitStarted());
    // The splash stays five seconds; the main window comes up under it.
    const QString up = QStringLiteral("20");
    QVERIFY2(probe({QStringLiteral("wait"), QStringLiteral("^Splash Form$"), up}).Code == 0,
             client.stdErr().constData());
    QVERIFY2(probe({QStringLiteral("wait"), QStringLiteral("^Velquist$"), up}).Code == 0,
             client.stdErr().constData());
    QTRY_COMPARE_WITH_TIMEOUT(probe({QStringLiteral("active")}).Out.trimmed(),
                              QStringLiteral("Velquist"), 3000);
    // Ctrl+N twice walks a ring of the main window and the splash to the splash.
    QStringList active;
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("ctrl+n")}).Code, 0);
        QTest::qWait(300);
        active << probe({QStringLiteral("active")}).Out.trimmed();
    }
    QVERIFY2(probe({QStringLiteral("wait"), QStringLiteral("^Splash Form$"), QStringLiteral("0")})
                     .Code == 0,
             "the splash had gone before the test was done");
    QVERIFY2(!active.contains(QStringLiteral("Splash Form")),
             qPrintable(active.join(QStringLiteral(", "))));
    client.terminate();
    QVERIFY(client.waitFinished());
}

QTEST_MAIN(TA11yE2ETest)
#include "tst_a11y_e2e.moc"
