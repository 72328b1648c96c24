// Whole-process test of quiet hours and per-window announcements: the client on a private X
// desktop read by a screen reader, with the tests' notification server and its sounds written
// to a folder. A window stored in its quiet hours with announcements off takes its alerts
// without a sound, a desktop notification or an announcement while another window sounds,
// notifies and is announced; the Quiet Hours dialog, opened from a window's menu and worked by
// keyboard alone, names its controls, fits, and silences that window from its next alert on.
#include "alerts/zkAlertAnnouncer.h"
#include "shell/zkLayouts.h"
#include "zkHarness.h"
#include "zkQuietTestUtil.h"

#include <QDir>
#include <QtTest>

namespace {

const QString Token = QStringLiteral("9a1e79a1e79a1e79a1e79a1e79a1e79a1e79a1e7");

QByteArray AlertJson(const char* symbol, const char* strategy) {
    return QByteArray(R"({"symbol": ")") + symbol + R"(", "strategy": ")" + strategy + R"("})";
}

} // namespace

class TQuietE2ETest : public QObject {
    Q_OBJECT
private slots:
    void quietWindowsAreSilentAndOthersAreNot();
};

void TQuietE2ETest::quietWindowsAreSilentAndOthersAreNot() {
    TWholeProcessHarness h;
    HARNESS_NEED(h.needScreenReader());
    HARNESS_NEED(h.needNotificationRecorder());
    h.needInbox(Token);
    TNotificationRecorder& server = h.notifications();
    const QString audioOut = h.home().path() + QStringLiteral("/audio-out");
    QVERIFY(QDir().mkpath(audioOut));
    const auto sounds = [&audioOut] { return QDir(audioOut).entryList(QDir::Files); };
    const QString wave = h.installDir() + QStringLiteral("/ping.wav");
    QVERIFY(QFile::copy(QStringLiteral(VELQUIST_BIN_DIR "/starter/Sounds/Ping.wav"), wave));

    // Night is stored quiet now and says nothing to screen readers; Day is as windows were.
    // Each sounds a setup of its own (left, right), so neither stands in for the other.
    const QString layout = h.installDir() + QStringLiteral("/SavedWindows/desk.zkl");
    WriteAlertWindowsLayout(
        layout, {QStringLiteral("WN=Night&Src=inbox"), QStringLiteral("WN=Day&Src=inbox")},
        [&wave](qsizetype i, TLayoutWindow& window) {
            window.Actions = {QStringLiteral("1,2,") + wave +
                                  (i == 0 ? QStringLiteral(",100,0") : QStringLiteral(",100,100")),
                              QStringLiteral("1,5")};
            if (i == 0)
                window.Record.Quiet = QuietNow(TAnnounceMode::Off);
        });
    StoreDeskChoices(layout, true);
    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_AUDIO_OUT"), audioOut);
    TClientRun& client = h.startClient({}, env);
    QVERIFY(client.waitStarted());
    QVERIFY2(WaitListening(h.inboxPort(), client), client.stdErr().constData());
    const TScreenReader& reader = h.screenReader();
    const auto probe = [&reader](const QStringList& arguments) { return reader.Probe(arguments); };
    for (const char* window : {"^Night$", "^Day$"})
        QVERIFY2(probe({QStringLiteral("wait"), QString::fromLatin1(window), QStringLiteral("20")})
                         .Code == 0,
                 client.stdErr().constData());
    QTest::qWait(TAlertAnnouncer::MinGapMs);

    TScreenReader::TListener listener(reader, QStringLiteral("^(Night|Day)$"), 90);
    QVERIFY(listener.IsListening());
    const auto announced = [&listener](const QString& text) {
        return listener.Heard().filter(QStringLiteral("object:announcement")).filter(text);
    };
    // Night's alert first: had it sounded, its sound would be the first one.
    QCOMPARE(h.postAlert(AlertJson("AAPL", "Night")).Status, 202);
    QCOMPARE(h.postAlert(AlertJson("MSFT", "Day")).Status, 202);
    QVERIFY2(server.WaitForCalls(1), client.stdErr().constData());
    QVERIFY2(WaitForFile(audioOut + QStringLiteral("/0001.wav")), client.stdErr().constData());
    QVERIFY2(listener.WaitFor(QStringLiteral("\tpolite\tMSFT, in Day")),
             qPrintable(listener.Heard().join(QLatin1Char('\n'))));
    QTest::qWait(2 * TAlertAnnouncer::MinGapMs);
    QCOMPARE(server.Calls().size(), 1);
    QCOMPARE(server.Calls().first()["summary"].toString(), QStringLiteral("Day"));
    QCOMPARE(sounds(), QStringList{QStringLiteral("0001.wav")});
    QVERIFY2(announced(QStringLiteral("Night")).isEmpty(),
             qPrintable(listener.Heard().join(QLatin1Char('\n'))));
    // Its alert came in all the same.
    QCOMPARE(
        probe({QStringLiteral("select"), QStringLiteral("^Night$"), QStringLiteral("AAPL")}).Code,
        0);

    // Ctrl+N walks the windows to Day, whose list has the focus: the Menu key opens the list's
    // menu, Up twice goes past "Rules..." (the last entry of a window taking the inbox's alerts)
    // to "Quiet hours...", which opens on the check box.
    for (int i = 0; i < 4 && probe({QStringLiteral("active")}).Out.trimmed() != "Day"; ++i) {
        QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("ctrl+n")}).Code, 0);
        QTest::qWait(300);
    }
    QCOMPARE(probe({QStringLiteral("active")}).Out.trimmed(), QStringLiteral("Day"));
    QCOMPARE(probe({QStringLiteral("keys"), QStringLiteral("Menu"), QStringLiteral("Up"),
                    QStringLiteral("Up"), QStringLiteral("Return")})
                 .Code,
             0);
    const QString dialog = QStringLiteral("^Quiet Hours$");
    QVERIFY2(probe({QStringLiteral("wait"), dialog}).Code == 0, client.stdErr().constData());
    QTest::qWait(400); // laid out and settled
    const TScreenReader::TAnswer audit = probe({QStringLiteral("audit"), dialog});
    QVERIFY2(audit.Code == 0 && audit.Lines().filter(QStringLiteral("unnamed: ")).isEmpty() &&
                 audit.Lines().contains(QStringLiteral("role: dialog")),
             qPrintable(audit.Out + audit.Err));
    const TScreenReader::TAnswer fit = probe({QStringLiteral("overlaps"), dialog});
    QVERIFY2(fit.Code == 0 && fit.Lines().isEmpty(), qPrintable(fit.Out + fit.Err));
    QCOMPARE(probe({QStringLiteral("focused")}).Out.section(QLatin1Char('\t'), 0, 0),
             QStringLiteral("check box"));

    // Ticked, from the hour before this one to two hours on (the edit sets whole hours: "the
    // next hour" would end the range within a minute of a run at hh:59), announcements up from
    // Each to Off, OK. The page offers 22:00 to 07:00; Up turns the hours round.
    const int hour = QTime::currentTime().hour();
    QStringList keys{QStringLiteral("keys"), QStringLiteral("space"), QStringLiteral("Tab")};
    for (int i = 0; i < ((hour - 1 - 22) % 24 + 24) % 24; ++i)
        keys << QStringLiteral("Up");
    keys << QStringLiteral("Tab") << QStringLiteral("Tab");
    for (int i = 0; i < ((hour + 2 - 7) % 24 + 24) % 24; ++i)
        keys << QStringLiteral("Up");
    keys << QStringLiteral("Tab") << QStringLiteral("Tab") << QStringLiteral("Up")
         << QStringLiteral("Up") << QStringLiteral("Return");
    QCOMPARE(probe(keys).Code, 0);
    QTRY_VERIFY_WITH_TIMEOUT(probe({QStringLiteral("wait"), dialog, QStringLiteral("0")}).Code != 0,
                             10000);

    // Day is quiet now too: its alerts come in without a sound, a notification or a word.
    QCOMPARE(h.postAlert(AlertJson("TSLA", "Day")).Status, 202);
    QTRY_VERIFY_WITH_TIMEOUT(
        probe({QStringLiteral("select"), QStringLiteral("^Day$"), QStringLiteral("TSLA")}).Code ==
            0,
        10000);
    QTest::qWait(2 * TAlertAnnouncer::MinGapMs);
    QCOMPARE(server.Calls().size(), 1);
    QCOMPARE(sounds().size(), 1);
    QVERIFY2(announced(QStringLiteral("TSLA")).isEmpty(),
             qPrintable(listener.Heard().join(QLatin1Char('\n'))));
    client.terminate();
    QVERIFY(client.waitFinished());
}

QTEST_MAIN(TQuietE2ETest)
#include "tst_quiet_e2e.moc"
