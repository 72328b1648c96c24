// Whole-process tests on a real X desktop: a private Xvfb server with the openbox window manager,
// both started and ended here. The client restarts on one layout and must give back every
// window's place and size unchanged, and every window must show its own caption.
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "platform/zkInstance.h"
#include "shell/zkLayouts.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

TLayout deskLayout() {
    SetDefaultWindowRecord();
    TLayout layout;
    layout.MainTop = 150;
    layout.MainLeft = 900;
    const QRect alerts[] = {{40, 60, 500, 300}, {620, 420, 450, 330}};
    for (const QRect& r : alerts) {
        TLayoutWindow w;
        w.Record = DefaultWindowRecord();
        w.Record.Left = r.x();
        w.Record.Top = r.y();
        w.Record.Width = r.width();
        w.Record.Height = r.height();
        w.Actions = QStringList{QStringLiteral("1,3")};
        layout.Windows.push_back(w);
    }
    layout.SymbolWindow = {500, 60, 320, 400, 0, true};
    layout.ConnectorWindow = {420, 880, 300, 420, 0, true};
    return layout;
}

// The layout file of a test's desk, chosen in the per-user store (opened at start when told);
// its folder is made.
QString storeDesk(const TWholeProcessHarness& h, bool loadOnStart) {
    const QString file = h.installDir() + QStringLiteral("/SavedWindows/desk.zkl");
    StoreDeskChoices(file, loadOnStart);
    QDir().mkpath(h.installDir() + QStringLiteral("/SavedWindows"));
    return file;
}

} // namespace

class TDesktopE2ETest : public QObject {
    Q_OBJECT
private slots:
    void restartsKeepEveryPlaceAndCaption();
    void newWindowsArePlacedByTheWindowManager();
    void framesAreFittedAndCentred();
};

void TDesktopE2ETest::restartsKeepEveryPlaceAndCaption() {
    TWholeProcessHarness h;
    HARNESS_NEED(h.needDesktop());
    const TDesktop& desktop = h.desktop();
    const QString file = storeDesk(h, true);
    const TLayout desk = deskLayout();
    WriteLayout(TSettingsStore::IniFile(file), desk);

    QProcessEnvironment env;
    const QStringList expectedCaptions = {QStringLiteral("Velquist"),
                                          QStringLiteral("Symbol Lists"),
                                          QStringLiteral("Set Up External Linking")};
    for (int run = 1; run <= 5; ++run) {
        TClientRun& client = h.startClient({}, env);
        QVERIFY(client.waitStarted());
        // Up once the main window, both companions and the two alert windows are framed;
        // then a moment for any window still being put in its place.
        QDeadlineTimer deadline(20000);
        QStringList captions;
        while (!deadline.hasExpired()) {
            captions = desktop.ShownCaptions();
            bool all = captions.size() >= 5;
            for (const QString& c : expectedCaptions)
                all = all && captions.contains(c);
            if (all)
                break;
            QThread::msleep(200);
        }
        QThread::msleep(1000);
        captions = desktop.ShownCaptions();
        for (const QString& c : expectedCaptions)
            QVERIFY2(
                captions.contains(c),
                qPrintable(
                    QStringLiteral("run %1: %2 missing from [%3]; client %4; "
                                   "stderr:\n%5\nwindows:\n%6")
                        .arg(run)
                        .arg(c, captions.join(QStringLiteral(" | ")),
                             client.process().state() == QProcess::NotRunning
                                 ? QStringLiteral("ended with %1").arg(client.process().exitCode())
                                 : QStringLiteral("running"),
                             QString::fromLocal8Bit(client.stdErr()), desktop.Windows())));
        // Each window's caption is its own: nothing appended.
        for (const QString& c : std::as_const(captions))
            QVERIFY2(!c.contains(QStringLiteral(" \u2014 ")), qPrintable(c));

        client.terminate(); // SIGTERM: saves without a question
        QVERIFY(client.waitFinished());
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);

        zkIni::ClearCache();
        const TLayout saved = ReadLayout(TSettingsStore::IniFile(file));
        const QString at = QStringLiteral("run %1").arg(run);
        QVERIFY2(
            saved.MainTop == desk.MainTop && saved.MainLeft == desk.MainLeft,
            qPrintable(
                at +
                QStringLiteral(": main window at %1,%2").arg(saved.MainLeft).arg(saved.MainTop)));
        QCOMPARE(saved.Windows.size(), desk.Windows.size());
        for (size_t i = 0; i < desk.Windows.size(); ++i) {
            const TLayoutInfo& a = saved.Windows[i].Record;
            const TLayoutInfo& b = desk.Windows[i].Record;
            QVERIFY2(QRect(a.Left, a.Top, a.Width, a.Height) ==
                         QRect(b.Left, b.Top, b.Width, b.Height),
                     qPrintable(at + QStringLiteral(": alert window %1 at %2,%3 %4x%5")
                                         .arg(i)
                                         .arg(a.Left)
                                         .arg(a.Top)
                                         .arg(a.Width)
                                         .arg(a.Height)));
        }
        QVERIFY2(saved.SymbolWindow == desk.SymbolWindow,
                 qPrintable(at + QStringLiteral(": symbol lists at %1,%2")
                                     .arg(saved.SymbolWindow.Left)
                                     .arg(saved.SymbolWindow.Top)));
        QVERIFY2(saved.ConnectorWindow == desk.ConnectorWindow,
                 qPrintable(at + QStringLiteral(": connector at %1,%2")
                                     .arg(saved.ConnectorWindow.Left)
                                     .arg(saved.ConnectorWindow.Top)));
    }
}

// File > New Alert Window leaves the place to the window manager: a new window lands neither at
// the default window's stored place (over the main window) nor on the window before it.
void TDesktopE2ETest::newWindowsArePlacedByTheWindowManager() {
    TWholeProcessHarness h;
    HARNESS_NEED(h.needDesktop());
    const TDesktop& desktop = h.desktop();
    const QString file = storeDesk(h, false);
    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"),
               QStringLiteral("NewAlertWindowMenuItem,NewAlertWindowMenuItem"));
    TClientRun& client = h.startClient({}, env);
    QVERIFY(client.waitStarted());
    QDeadlineTimer deadline(20000);
    // The built-in default window's strategy.
    const QString caption = QStringLiteral("High/Low Ticker");
    while (desktop.ShownCaptions().count(caption) < 2 && !deadline.hasExpired())
        QThread::msleep(200);
    QThread::msleep(1500); // a frame placer would move them now
    QVERIFY2(desktop.ShownCaptions().count(caption) == 2,
             qPrintable(desktop.ShownCaptions().join(QStringLiteral(" | ")) + QLatin1Char('\n') +
                        QString::fromLocal8Bit(client.stdErr())));
    client.terminate();
    QVERIFY(client.waitFinished());
    QCOMPARE(client.exitCode(), 0);

    SetDefaultWindowRecord();
    const TLayoutInfo& defaults = DefaultWindowRecord();
    zkIni::ClearCache();
    const TLayout saved = ReadLayout(TSettingsStore::IniFile(file));
    QCOMPARE(saved.Windows.size(), size_t(2));
    const QPoint first(saved.Windows[0].Record.Left, saved.Windows[0].Record.Top);
    const QPoint second(saved.Windows[1].Record.Left, saved.Windows[1].Record.Top);
    const QString where = QStringLiteral("main %1,%2; windows %3,%4 and %5,%6")
                              .arg(saved.MainLeft)
                              .arg(saved.MainTop)
                              .arg(first.x())
                              .arg(first.y())
                              .arg(second.x())
                              .arg(second.y());
    QVERIFY2(first != QPoint(defaults.Left, defaults.Top), qPrintable(where));
    QVERIFY2(second != first, qPrintable(where));
    QCOMPARE(saved.Windows[0].Record.Width, defaults.Width);
}

// A window fitted onto the screen before its frame is known ends with its whole frame on the
// screen, and About opens centred the first time, frame included.
void TDesktopE2ETest::framesAreFittedAndCentred() {
    TWholeProcessHarness h;
    HARNESS_NEED(h.needDesktop());
    const TDesktop& desktop = h.desktop();
    const QString file = storeDesk(h, true);
    TLayout desk = deskLayout();
    desk.Windows.resize(1);
    desk.Windows[0].Record.Top = 900; // 300 high: far below the 1024 lines of the screen
    desk.Windows[0].Record.Left = 1100;
    WriteLayout(TSettingsStore::IniFile(file), desk);

    QProcessEnvironment env;
    env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"), QStringLiteral("AboutMenuItem"));
    TClientRun& client = h.startClient({}, env);
    QVERIFY(client.waitStarted());
    const QString about = QStringLiteral("About Velquist");
    const QString alerts = QStringLiteral("High/Low Ticker"); // the default record's strategy
    QDeadlineTimer deadline(20000);
    while ((desktop.Frames(about).isEmpty() || desktop.Frames(alerts).isEmpty()) &&
           !deadline.hasExpired())
        QThread::msleep(200);
    const QRect screen(0, 0, 1280, 1024);
    const auto text = [](const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    // Where the frames should end, once the window manager and the placer are done: on a busy
    // machine that may take a while, so look until then.
    const auto placed = [&](QString* why) {
        const QList<QRect> aboutFrames = desktop.Frames(about);
        const QList<QRect> alertFrames = desktop.Frames(alerts);
        if (aboutFrames.size() != 1 || alertFrames.size() != 1) {
            *why = desktop.Windows();
            return false;
        }
        const QRect a = alertFrames.front();
        const QRect b = aboutFrames.front();
        *why = QStringLiteral("alert window %1, About %2").arg(text(a), text(b));
        // Wholly on the screen, moved in no further than it takes; About centred.
        return screen.contains(a) && a.bottom() >= screen.bottom() - 2 &&
               a.right() >= screen.right() - 2 && qAbs(b.center().x() - screen.center().x()) <= 2 &&
               qAbs(b.center().y() - screen.center().y()) <= 2;
    };
    QString why;
    deadline.setRemainingTime(10000);
    while (!placed(&why) && !deadline.hasExpired())
        QThread::msleep(200);
    QVERIFY2(placed(&why), qPrintable(why + QLatin1Char('\n') + client.stdErr()));
    // And they stay there.
    QThread::msleep(1000);
    QVERIFY2(placed(&why), qPrintable(why));
    client.terminate();
    QVERIFY(client.waitFinished());
}

QTEST_MAIN(TDesktopE2ETest)
#include "tst_desktop_e2e.moc"
