// GNOME's interface font on a real X desktop: the client runs as under GNOME (the desktop named
// GNOME, so Qt takes its GTK platform theme, which reads the font GTK is set to: GNOME's
// settings daemon hands GTK "Cantarell 11"; here GTK's own settings file of the test's home
// does). On a screenshot the account bars' green texts are Cantarell's width and end inside
// the main window's 210 pixels instead of running off its edge.
#include "zkClientProcess.h"
#include "zkTestDesktop.h"
#include "zkTestSupport.h"

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
    std::unique_ptr<TDesktop> Desktop;

    QRect ClientRect(const QString& caption) const { return Desktop->ClientRect(caption); }
    QImage Screenshot() const {
        return Desktop->Screenshot(QStringLiteral("font-%1.png").arg(QTest::currentDataTag()));
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
        Desktop = std::make_unique<TDesktop>();
        const QString problem = Desktop->Start();
        if (!problem.isEmpty())
            QSKIP(qPrintable(problem));
    }
    void accountTextsWhole_data();
    void accountTextsWhole();
};

void TFontE2ETest::accountTextsWhole_data() {
    QTest::addColumn<int>("points");
    QTest::newRow("Cantarell 11") << 11;
    QTest::newRow("Cantarell 13") << 13;
}

void TFontE2ETest::accountTextsWhole() {
    QFETCH(int, points);
    TTestHome home;
    TTestInstallation install;
    QVERIFY(install.isValid());
    StoreDeskChoices(QString(), false); // logs in as DEMO, whose account runs 30 more days
    WriteTextFile(home.configHome() + QStringLiteral("/gtk-3.0/settings.ini"),
                  "[Settings]\ngtk-font-name=Cantarell " + QByteArray::number(points) + "\n");
    // GTK on a bus of the test's own: without one it would start a bus of its own that
    // outlives the test.
    TSessionBus bus;
    const QString problem = bus.Start();
    if (!problem.isEmpty())
        QSKIP(qPrintable(problem));
    QProcessEnvironment env = Desktop->ClientEnvironment();
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.Address);
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    TClientRun client(install.clientPath(), {}, QString(), env,
                      {QStringLiteral("QT_QPA_PLATFORMTHEME"), QStringLiteral("QT_FONT_DPI"),
                       QStringLiteral("GTK_THEME")});
    QVERIFY(client.waitStarted());
    QDeadlineTimer deadline(20000);
    while (!Desktop->ShownCaptions().contains(MainCaption) && !deadline.hasExpired() &&
           client.process().state() == QProcess::Running)
        QThread::msleep(100);
    QVERIFY2(Desktop->ShownCaptions().contains(MainCaption), client.stdErr().constData());

    // Both bars green: "Connected as" and the expiry. The bars are the last lines of the
    // window; their texts are the only green there.
    QImage shot;
    QRect main;
    QList<QPair<int, int>> rows;
    deadline.setRemainingTime(10000);
    do {
        QThread::msleep(300);
        shot = Screenshot().convertToFormat(QImage::Format_RGB32);
        main = ClientRect(MainCaption);
        rows.clear();
        QPair<int, int> row{-1, -1};
        for (int y = main.bottom() - 60; y <= main.bottom(); ++y) {
            const QPair<int, int> columns =
                GreenColumns(shot, QRect(main.left(), y, main.width(), 1));
            if (columns.first >= 0) {
                row = row.first < 0
                          ? columns
                          : QPair{qMin(row.first, columns.first), qMax(row.second, columns.second)};
            } else if (row.first >= 0) {
                rows << row;
                row = {-1, -1};
            }
        }
        if (row.first >= 0)
            rows << row;
    } while (rows.size() < 2 && !deadline.hasExpired());
    QCOMPARE(main.width(), 210);
    QCOMPARE(rows.size(), 2);

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

QTEST_MAIN(TFontE2ETest)
#include "tst_font_e2e.moc"
