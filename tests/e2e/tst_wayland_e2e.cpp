// Whole-process test on a real Wayland compositor (the harness's headless weston).
// Wayland tells a program neither where its windows are nor lets it place them: a layout saved
// there must give back the places it was opened with, and the sizes and visibility as they are.
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkWindowRecord.h"
#include "shell/zkLayouts.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

// A desk as saved under X11 on two monitors: every window somewhere else, none at the
// screen's corner, one alert window on the second monitor (right of the compositor's only
// screen, 1280 pixels wide).
TLayout deskLayout() {
    SetDefaultWindowRecord();
    TLayout layout;
    layout.MainTop = 150;
    layout.MainLeft = 700;
    const QRect alerts[] = {{40, 60, 500, 300}, {1500, 420, 450, 330}};
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
    layout.ConnectorWindow = {240, 380, 300, 420, 0, false};
    return layout;
}

QString describe(const TLayout& l) {
    QString text = QStringLiteral("main %1,%2; symbols %3,%4 %5x%6 %7; connector %8,%9 %10x%11 %12")
                       .arg(l.MainLeft)
                       .arg(l.MainTop)
                       .arg(l.SymbolWindow.Left)
                       .arg(l.SymbolWindow.Top)
                       .arg(l.SymbolWindow.Width)
                       .arg(l.SymbolWindow.Height)
                       .arg(l.SymbolWindow.Visible ? u"shown" : u"hidden")
                       .arg(l.ConnectorWindow.Left)
                       .arg(l.ConnectorWindow.Top)
                       .arg(l.ConnectorWindow.Width)
                       .arg(l.ConnectorWindow.Height)
                       .arg(l.ConnectorWindow.Visible ? u"shown" : u"hidden");
    for (const TLayoutWindow& w : l.Windows)
        text += QStringLiteral("; alert %1,%2 %3x%4")
                    .arg(w.Record.Left)
                    .arg(w.Record.Top)
                    .arg(w.Record.Width)
                    .arg(w.Record.Height);
    return text;
}

// How many of the client's windows the compositor has shown: each top-level surface the
// client acknowledged a configure for (Wayland's protocol log, WAYLAND_DEBUG).
int shownSurfaces(const QByteArray& log) {
    static const QRegularExpression acked(QStringLiteral("-> xdg_surface@(\\d+)\\.ack_configure"));
    QSet<QString> surfaces;
    auto it = acked.globalMatch(QString::fromLatin1(log));
    while (it.hasNext())
        surfaces.insert(it.next().captured(1));
    return int(surfaces.size());
}

// The sizes the client's windows last gave the compositor (each top-level's window geometry,
// decoration included).
QList<QSize> windowGeometries(const QByteArray& log) {
    static const QRegularExpression set(QStringLiteral(
        "-> xdg_surface@(\\d+)\\.set_window_geometry\\(-?\\d+, -?\\d+, (\\d+), (\\d+)\\)"));
    QMap<QString, QSize> last;
    auto it = set.globalMatch(QString::fromLatin1(log));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        last[m.captured(1)] = QSize(m.captured(2).toInt(), m.captured(3).toInt());
    }
    return last.values();
}

// Whether every size is among the windows' geometries, all grown by one decoration.
bool shownWithSizes(const QList<QSize>& geometries, const QList<QSize>& sizes) {
    for (const QSize& candidate : geometries) {
        const QSize decoration = candidate - sizes.front();
        if (decoration.width() < 0 || decoration.height() < 0 || decoration.width() > 100 ||
            decoration.height() > 100)
            continue;
        bool all = true;
        for (const QSize& size : sizes)
            all = all && geometries.contains(size + decoration);
        if (all)
            return true;
    }
    return false;
}

} // namespace

class TWaylandE2ETest : public QObject {
    Q_OBJECT
private slots:
    void savedLayoutKeepsItsPlaces();
};

void TWaylandE2ETest::savedLayoutKeepsItsPlaces() {
    TWholeProcessHarness h;
    HARNESS_NEED(h.needWeston());
    const QString file = h.installDir() + QStringLiteral("/SavedWindows/desk.zkl");
    StoreDeskChoices(file, true);
    QDir().mkpath(h.installDir() + QStringLiteral("/SavedWindows"));
    const TLayout desk = deskLayout();
    WriteLayout(TSettingsStore::IniFile(file), desk);

    QProcessEnvironment env;
    env.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
    // And one window made new there, which was never put anywhere.
    env.insert(QStringLiteral("VELQUIST_TEST_MENU_ITEM"), QStringLiteral("NewAlertWindowMenuItem"));
    TClientRun& client = h.startClient({}, env);
    QVERIFY(client.waitStarted());
    QVERIFY2(client.waitForStdErr("NewAlertWindowMenuItem running"),
             client.stdErr().right(4000).constData());
    // The main window, the three alert windows and the symbol lists window shown.
    constexpr int Shown = 5;
    QDeadlineTimer deadline(20000);
    while (shownSurfaces(client.stdErr()) < Shown && !deadline.hasExpired() &&
           client.process().state() == QProcess::Running)
        client.process().waitForReadyRead(100);
    QVERIFY2(shownSurfaces(client.stdErr()) >= Shown, client.stdErr().right(4000).constData());
    QTest::qWait(300); // the windows' first frames
    // Restored as the compositor sees them: the layout's sizes (the new window the default
    // one's), and the hidden connector window not shown.
    const QByteArray log = client.stdErr();
    const TLayoutInfo& defaults = DefaultWindowRecord();
    const QList<QSize> sizes = {{desk.Windows[0].Record.Width, desk.Windows[0].Record.Height},
                                {desk.Windows[1].Record.Width, desk.Windows[1].Record.Height},
                                {desk.SymbolWindow.Width, desk.SymbolWindow.Height},
                                {defaults.Width, defaults.Height}};
    QVERIFY2(shownWithSizes(windowGeometries(log), sizes), log.right(4000).constData());
    QVERIFY(log.contains("set_title(\"Symbol Lists\")"));
    QVERIFY(!log.contains("set_title(\"Set Up External Linking\")"));

    client.terminate(); // SIGTERM: saves without a question
    QVERIFY(client.waitFinished());
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.exitCode(), 0);

    zkIni::ClearCache();
    TLayout saved = ReadLayout(TSettingsStore::IniFile(file));
    const QString report =
        QStringLiteral("saved: %1\nopened: %2").arg(describe(saved), describe(desk));
    // The new window: the default window's place (the compositor's is unknown) and size.
    QVERIFY2(saved.Windows.size() == desk.Windows.size() + 1, qPrintable(report));
    const TLayoutInfo& made = saved.Windows.back().Record;
    QVERIFY2(QRect(made.Left, made.Top, made.Width, made.Height) ==
                 QRect(defaults.Left, defaults.Top, defaults.Width, defaults.Height),
             qPrintable(report));
    saved.Windows.pop_back();
    // The rest: places, sizes, states and visibility all as they were opened.
    QVERIFY2(saved == desk, qPrintable(report));
}

QTEST_MAIN(TWaylandE2ETest)
#include "tst_wayland_e2e.moc"
