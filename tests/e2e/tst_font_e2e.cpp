// GNOME's interface font on a real X desktop: the client runs as under GNOME (the desktop named
// GNOME, so Qt takes its GTK platform theme, which reads the font GTK is set to: GNOME's
// settings daemon hands GTK "Cantarell 11"; here GTK's own settings file of the test's home
// does). On a screenshot the account bars' green texts are Cantarell's width and end inside
// the main window's 210 pixels instead of running off its edge. Every window and dialog, at the
// default font, Cantarell 11 and 13 and at twice the scale, is looked at as a screen reader
// sees it (tests/e2e/a11y_probe.py): no control overlaps another or reaches out of what it
// sits in.
#include "zkHarness.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLibraryInfo>
#include <QtTest>

#include <memory>

namespace {

const QString MainCaption = QStringLiteral("Velquist");

bool Greenish(const QColor& c) {
    return c.green() > c.red() + 40 && c.green() > c.blue() + 20;
}

// The columns of a row of pixels that hold green text, from the first to the last.
QPair<int, int> GreenColumns(const QImage& shot, const QRect& r) {
    int first = -1, last = -1;
    for (int x = r.left(); x <= r.right(); ++x)
        for (int y = r.top(); y <= r.bottom(); ++y)
            if (Greenish(shot.pixelColor(x, y))) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

} // namespace

class TFontE2ETest : public QObject {
    Q_OBJECT

private:
    static QImage Screenshot(const TWholeProcessHarness& h) {
        return h.screenshot(QStringLiteral("font-%1.png").arg(QTest::currentDataTag()));
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("import")).isEmpty())
            QSKIP("ImageMagick's import is not installed (scripts/install-deps.sh installs it)");
        if (!QFontDatabase::families().contains(QStringLiteral("Cantarell")))
            QSKIP("Cantarell is not installed (scripts/install-deps.sh installs fonts-cantarell)");
        if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                               QStringLiteral("/platformthemes/libqgtk3.so")))
            QSKIP("Qt's GTK platform theme is not installed (scripts/install-deps.sh installs "
                  "qt6-gtk-platformtheme)");
    }
    void accountTextsWhole_data();
    void accountTextsWhole();
    void noControlOverlapsOrIsCut_data();
    void noControlOverlapsOrIsCut();
};

void TFontE2ETest::accountTextsWhole_data() {
    QTest::addColumn<int>("points");
    QTest::newRow("Cantarell 11") << 11;
    QTest::newRow("Cantarell 13") << 13;
}

void TFontE2ETest::accountTextsWhole() {
    QFETCH(int, points);
    TWholeProcessHarness h;
    HARNESS_NEED(h.needDesktop());
    HARNESS_NEED(h.needSessionBus());
    StoreDeskChoices(QString(), false); // logs in as DEMO, whose account runs 30 more days
    QProcessEnvironment env = h.clientEnvironment();
    UseGnomeFont(env, h.home().configHome(), points, h.bus().Address);
    TClientRun& client = h.startClient({}, env, FontAndScaleVariables(env));
    QVERIFY(client.waitStarted());
    QVERIFY2(h.waitShown({MainCaption}, client), client.stdErr().constData());

    // Both bars green: "Connected as" and the expiry. The bars are the last lines of the
    // window, the last green there.
    QImage shot;
    QRect main;
    QList<QPair<int, int>> rows;
    QDeadlineTimer deadline(10000);
    do {
        QThread::msleep(300);
        shot = Screenshot(h).convertToFormat(QImage::Format_RGB32);
        main = h.desktop().ClientRect(MainCaption);
        rows.clear();
        QPair<int, int> row{-1, -1};
        for (int y = main.bottom() - 60; y <= main.bottom(); ++y) {
            const QPair<int, int> columns =
                GreenColumns(shot, QRect(main.left(), y, main.width(), 1));
            if (columns.first >= 0) {
                row = row.first < 0
                          ? columns
                          : std::pair{qMin(row.first, columns.first), qMax(row.second, columns.second)};
            } else if (row.first >= 0) {
                rows << row;
                row = {-1, -1};
            }
        }
        if (row.first >= 0)
            rows << row;
    } while (rows.size() < 2 && !deadline.hasExpired());
    QCOMPARE(main.width(), 210);
    // The market status bar above them has a green light of its own when the market is open.
    QVERIFY2(rows.size() >= 2, qPrintable(QString::number(rows.size())));
    rows = rows.mid(rows.size() - 2);

    // GNOME's font reached the client: "Connected as "DEMO"" is as wide as Cantarell draws it.
    QFont cantarell(QStringLiteral("Cantarell"));
    cantarell.setPointSize(points);
    const QRect connected =
        QFontMetrics(cantarell).boundingRect(QStringLiteral("Connected as \"DEMO\""));
    const int drawn = rows[0].second - rows[0].first + 1;
    QVERIFY2(qAbs(drawn - connected.width()) <= 4,
             qPrintable(QStringLiteral("drawn %1 pixels wide, Cantarell %2 is %3")
                            .arg(drawn)
                            .arg(points)
                            .arg(connected.width())));
    // The expiry ends inside the bar: the bar's edge and the pixel before it stay clear.
    for (const auto& [first, last] : rows)
        QVERIFY2(last <= main.right() - 3,
                 qPrintable(QStringLiteral("green text from %1 to %2 in a window ending at %3")
                                .arg(first - main.left())
                                .arg(last - main.left())
                                .arg(main.width())));
    client.terminate();
    QVERIFY(client.waitFinished());
}

void TFontE2ETest::noControlOverlapsOrIsCut_data() {
    QTest::addColumn<int>("points"); // 0: Qt's default font (DejaVu Sans 9 on Debian)
    QTest::addColumn<int>("scale");
    QTest::newRow("default font") << 0 << 1;
    QTest::newRow("Cantarell 11") << 11 << 1;
    QTest::newRow("Cantarell 13") << 13 << 1;
    QTest::newRow("200 %") << 0 << 2;
}

void TFontE2ETest::noControlOverlapsOrIsCut() {
    QFETCH(int, points);
    QFETCH(int, scale);
    TWholeProcessHarness h;
    HARNESS_NEED(h.needScreenReader());
    // Sound Setup opens only where there is a sound device: the private audio server's.
    HARNESS_NEED(h.needAudio());
    StoreDeskChoices(QString(), false);
    QTemporaryDir go;
    QVERIFY(go.isValid());

    // Each window as the user opens it: the steps that open it, its caption, the steps that
    // close it. The client waits for the test's go (a file) before it closes one.
    struct TLook {
        QString Open;
        QString Caption;
        QString Close;
    };
    const QList<TLook> looks = {
        {QString(), QStringLiteral("^Velquist$"), QString()},
        {QStringLiteral("SymbolListsMenuItem"), QStringLiteral("^Symbol Lists$"), QString()},
        {QStringLiteral("select:SymbolListsListBox:;EditListButton"),
         QStringLiteral("^Symbol List Editor"),
         QStringLiteral("close:SymbolListEditorForm;close:SymbolListsForm")},
        {QStringLiteral("ExternalLinkingMenuItem"), QStringLiteral("^Set Up External Linking$"),
         QStringLiteral("close:GenericConnectorForm")},
        {QStringLiteral("AlertHistoryMenuItem"), QStringLiteral("^Alert History$"),
         QStringLiteral("close:AlertHistoryForm")},
        {QStringLiteral("LoginMenuItem"), QStringLiteral("^Please login$"),
         QStringLiteral("close:LoginForm")},
        {QStringLiteral("OptionsMenuItem"), QStringLiteral("^Options$"), QString()},
        {QStringLiteral("select:PagesTreeView:Connection"), QStringLiteral("^Options$"), QString()},
        {QStringLiteral("select:PagesTreeView:Updates"), QStringLiteral("^Options$"), QString()},
        {QStringLiteral("select:PagesTreeView:Layouts"), QStringLiteral("^Options$"), QString()},
        {QStringLiteral("select:PagesTreeView:Alert Inbox"), QStringLiteral("^Options$"),
         QString()},
        {QStringLiteral("select:PagesTreeView:Broker"), QStringLiteral("^Options$"),
         QStringLiteral("close:OptionsForm")},
        {QStringLiteral("AboutMenuItem"), QStringLiteral("^About "),
         QStringLiteral("close:AboutForm")},
        // Last, so that the alert window need not close (it may ask to be saved).
        {QStringLiteral("NewAlertWindowMenuItem"), QStringLiteral("^High/Low Ticker$"), QString()},
        {QStringLiteral("menu:AlertsTableView:Actions..."),
         QStringLiteral("^Alert Window Actions$"), QString()},
        // Sound Setup opens only where there is a sound device: the private audio server's.
        {QStringLiteral("PlaySoundCheckBox;SetupSoundButton"), QStringLiteral("^Sound Setup$"),
         QStringLiteral("close:SoundSetupForm;close:ActionsForm")},
    };
    QStringList steps;
    for (qsizetype i = 0; i < looks.size(); ++i) {
        if (!looks[i].Open.isEmpty())
            steps << looks[i].Open;
        steps << QStringLiteral("file:%1/%2").arg(go.path()).arg(i);
        if (!looks[i].Close.isEmpty())
            steps << looks[i].Close;
    }

    QProcessEnvironment env = h.clientEnvironment();
    if (points > 0)
        UseGnomeFont(env, h.home().configHome(), points, h.bus().Address);
    if (scale != 1)
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    env.insert(QStringLiteral("VELQUIST_TEST_STEPS"), steps.join(QLatin1Char(';')));
    TClientRun& client = h.startClient({}, env, FontAndScaleVariables(env));
    QVERIFY(client.waitStarted());

    QStringList faults;
    for (qsizetype i = 0; i < looks.size(); ++i) {
        const TLook& look = looks[i];
        const TScreenReader::TAnswer up =
            h.screenReader().Probe({QStringLiteral("wait"), look.Caption, QStringLiteral("20")});
        QVERIFY2(up.Code == 0, qPrintable(look.Caption + up.Err + client.stdErr()));
        // Laid out, painted and settled: a window grows to its font when it shows.
        QTest::qWait(400);
        const TScreenReader::TAnswer seen =
            h.screenReader().Probe({QStringLiteral("overlaps"), look.Caption});
        if (seen.Code != 0)
            faults << look.Caption + QStringLiteral(": ") + seen.Err;
        for (const QString& line : seen.Lines())
            faults << QStringLiteral("%1 (look %2): %3").arg(look.Caption).arg(i).arg(line);
        QString shot = QStringLiteral("font-%1-%2.png")
                           .arg(QString::fromLatin1(QTest::currentDataTag()))
                           .arg(i, 2, 10, QLatin1Char('0'));
        h.screenshot(shot.replace(QLatin1Char(' '), QLatin1Char('-')));
        WriteTextFile(QStringLiteral("%1/%2").arg(go.path()).arg(i), "go\n");
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    client.terminate();
    QVERIFY(client.waitFinished());
}

QTEST_MAIN(TFontE2ETest)
#include "tst_font_e2e.moc"
