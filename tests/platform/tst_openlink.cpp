#include "desktop/zkWindowPlace.h"
#include "platform/zkShell.h"

#include "platform/zkShell.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <memory>
#include <vector>

class TOpenLinkTest : public QObject {
    Q_OBJECT

private slots:
    void openLink_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("opened"); // "{cwd}" stands for the current directory
        QTest::newRow("web address") << "https://www.velquist.example/help?a=1"
                                     << "https://www.velquist.example/help?a=1";
        QTest::newRow("file URL") << "file:///usr/share/doc/x.html"
                                  << "file:///usr/share/doc/x.html";
        QTest::newRow("local path") << "/Help/index.html"
                                    << "{cwd}/Help/index.html";
        QTest::newRow("nothing in between") << "help.html"
                                            << "{cwd}help.html";
        QTest::newRow("Windows separators") << "\\Help\\index.html"
                                            << "{cwd}/Help/index.html";
        QTest::newRow("scheme without slashes") << "mailto:desk@velquist.example"
                                                << "{cwd}mailto:desk@velquist.example";
    }
    void openLink() {
        QFETCH(QString, address);
        QFETCH(QString, opened);
        QTemporaryDir install;
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(install.path()));
        const QString current = QDir::currentPath();
        zkShell::SetRecording(true);
        zkShell::ClearOpened();
        OpenLink(address);
        QDir::setCurrent(old);
        QCOMPARE(zkShell::Opened(),
                 QStringList({opened.replace(QStringLiteral("{cwd}"), current)}));
    }

    void fitRectToArea_data() {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QPoint>("topLeft");
        const QRect area(0, 0, 1000, 800);
        QTest::newRow("inside") << QRect(100, 100, 300, 200) << area << QPoint(100, 100);
        QTest::newRow("exactly filling") << QRect(0, 0, 1000, 800) << area << QPoint(0, 0);
        QTest::newRow("past the right") << QRect(900, 100, 300, 200) << area << QPoint(700, 100);
        QTest::newRow("past the bottom") << QRect(100, 700, 300, 200) << area << QPoint(100, 600);
        QTest::newRow("left of the left") << QRect(-50, 100, 300, 200) << area << QPoint(0, 100);
        QTest::newRow("above the top") << QRect(100, -30, 300, 200) << area << QPoint(100, 0);
        QTest::newRow("past a corner") << QRect(950, 790, 300, 200) << area << QPoint(700, 600);
        // Too big: the right/bottom rule runs first, then the left/top one wins.
        QTest::newRow("wider and taller") << QRect(200, 200, 1200, 900) << area << QPoint(0, 0);
        const QRect second(1920, 0, 1280, 1024);
        QTest::newRow("second monitor right")
            << QRect(3100, 50, 400, 300) << second << QPoint(2800, 50);
        QTest::newRow("second monitor left")
            << QRect(1800, 50, 400, 300) << second << QPoint(1920, 50);
        const QRect workArea(0, 32, 1000, 740); // under a top panel
        QTest::newRow("under a panel") << QRect(10, 0, 100, 100) << workArea << QPoint(10, 32);
        QTest::newRow("above a dock") << QRect(10, 700, 100, 100) << workArea << QPoint(10, 672);
    }
    void fitRectToArea() {
        QFETCH(QRect, window);
        QFETCH(QRect, area);
        QFETCH(QPoint, topLeft);
        QCOMPARE(FitRectToArea(window, area), topLeft);
    }

    void monitorOfRect() {
        const QList<QRect> monitors = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        QCOMPARE(MonitorOfRect(QRect(100, 100, 200, 200), monitors), 0);
        QCOMPARE(MonitorOfRect(QRect(2000, 100, 200, 200), monitors), 1);
        // Straddling: the monitor holding more of it.
        QCOMPARE(MonitorOfRect(QRect(1800, 100, 400, 200), monitors), 1);
        QCOMPARE(MonitorOfRect(QRect(1720, 100, 400, 200), monitors), 0);
        // Off every monitor: the nearest.
        QCOMPARE(MonitorOfRect(QRect(5000, 100, 200, 200), monitors), 1);
        QCOMPARE(MonitorOfRect(QRect(-900, 2000, 200, 200), monitors), 0);
        QCOMPARE(MonitorOfRect(QRect(2500, 1050, 100, 100), monitors), 1); // below the shorter one
        QCOMPARE(MonitorOfRect(QRect(10, 10, 10, 10), {}), -1);
    }

    void fitToMonitorMovesWithoutResizing() {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QWidget window;
        window.resize(200, 150);
        window.move(area.right() - 50, area.bottom() - 40);
        FitToMonitor(&window);
        QCOMPARE(window.frameGeometry().topLeft(),
                 QPoint(area.x() + area.width() - window.frameGeometry().width(),
                        area.y() + area.height() - window.frameGeometry().height()));
        QCOMPARE(window.size(), QSize(200, 150));

        // Far off every screen it still comes back to the nearest one.
        window.move(area.x() - 5000, area.y() - 5000);
        FitToMonitor(&window);
        QCOMPARE(window.frameGeometry().topLeft(), area.topLeft());

        // Shown, with whatever frame the platform gives it.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.move(area.x() + area.width() + 300, area.y() + 20);
        FitToMonitor(&window);
        QTRY_COMPARE(window.frameGeometry().right(), area.right());
        QCOMPARE(window.size(), QSize(200, 150));

        FitToMonitor(nullptr); // nothing to move
    }

    // What a layout keeps of a window's place: where it is when the window system can tell
    // (the user may have moved it since it was placed); otherwise the place it was put at,
    // and the caller's choice for a window never placed.
    void keptPlaces() {
        QVERIFY(PlatformPlacesWindows(QStringLiteral("xcb")));
        QVERIFY(PlatformPlacesWindows(QStringLiteral("offscreen")));
        QVERIFY(!PlatformPlacesWindows(QStringLiteral("wayland")));
        QVERIFY(!PlatformPlacesWindows(QStringLiteral("wayland-egl")));
        QVERIFY(WindowPositionsKnown()); // offscreen

        const QPoint at(-3, -30), placed(640, 410), fallback(20, 20);
        QCOMPARE(KeptWindowPos(true, at, placed, fallback), at);
        QCOMPARE(KeptWindowPos(false, at, placed, fallback), placed);
        QCOMPARE(KeptWindowPos(false, at, std::nullopt, fallback), fallback);

        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QWidget window;
        window.resize(160, 120);
        QCOMPARE(PlacedWindowPos(window), std::nullopt);
        const QPoint place = area.topLeft() + QPoint(40, 50);
        MoveWindowFrame(&window, place);
        QCOMPARE(PlacedWindowPos(window), place);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(window.frameGeometry().topLeft(), place);
        window.move(place + QPoint(30, 20)); // the user moves it
        QCOMPARE(KeptWindowPos(window, fallback), place + QPoint(30, 20));
        QCOMPARE(PlacedWindowPos(window), place);
    }

    // The windows being placed share one clock: windows closed while it runs must not take the
    // others' placing with them, and a window placed after all are done starts it again.
    void placedFramesWithWindowsClosedMeanwhile() {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        std::vector<std::unique_ptr<QWidget>> windows;
        QList<QPoint> places;
        for (int i = 0; i < 12; ++i) {
            windows.push_back(std::make_unique<QWidget>());
            windows.back()->resize(160, 120);
            places << area.topLeft() + QPoint(20 + 30 * i, 30 + 10 * i);
            MoveWindowFrame(windows.back().get(), places.last());
        }
        for (auto& w : windows)
            w->show();
        for (size_t i = 1; i < windows.size(); i += 2)
            windows[i].reset();
        QTest::qWait(3 * 50); // a few looks of the clock with the closed windows gone
        for (size_t i = 0; i < windows.size(); i += 2) {
            QVERIFY(QTest::qWaitForWindowExposed(windows[i].get()));
            QTRY_COMPARE(windows[i]->frameGeometry().topLeft(), places[qsizetype(i)]);
        }
        windows.clear();

        QWidget late;
        late.resize(160, 120);
        const QPoint place = area.topLeft() + QPoint(70, 90);
        MoveWindowFrame(&late, place);
        late.show();
        QVERIFY(QTest::qWaitForWindowExposed(&late));
        QTRY_COMPARE(late.frameGeometry().topLeft(), place);
    }
};

QTEST_MAIN(TOpenLinkTest)
#include "tst_openlink.moc"
