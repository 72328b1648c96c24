// The alert list's pixels as an X server has them: new rows move the rows already painted down
// the window (the backing store scrolls on the server's side or its own), and the window must
// then show what painting it whole shows. Runs itself again on a private Xvfb (no window
// manager, no session bus); skipped where Xvfb is not installed.

#include "components/zkSimAlertWindow.h"
#include "components/zkSimService.h"
#include "zkComponentsTestUtil.h"
#include "zkTestDesktop.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

class TAlertListX11Test : public QObject {
    Q_OBJECT

private slots:
    void newRowsShowOnTheServerAsAWholeRepaintWould() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        TTestHome home;
        std::shared_ptr<TSimService> service = FreshService();
        service->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("0"));
        {
            TSimZentrikWindowX window(service);
            TSimAlertTable* view = window.View();
            view->resize(240, 300); // narrower than the columns: both scroll bars show
            view->show();
            QVERIFY(QTest::qWaitForWindowExposed(view));
            const QDateTime at(QDate(2024, 3, 5), QTime(14, 30, 5), Qt::UTC);
            int next = 0;
            auto add = [&](int count) {
                QList<TAlertData> alerts;
                for (int i = 0; i < count; ++i, ++next)
                    alerts.append(TAlertData(QStringLiteral("S%1").arg(next), 0, at.addSecs(next),
                                             1.5 + next, QStringLiteral("alert %1").arg(next)));
                window.AddExternalAlerts(alerts);
                for (int i = 0; i < 3; ++i) {
                    QCoreApplication::sendPostedEvents();
                    QCoreApplication::processEvents();
                }
            };
            for (const int burst : {1, 20, 1, 2, 1, 3, 1, 1, 40, 1, 1, -1, 1, 2, 1}) {
                if (burst < 0) { // from here on the list is scrolled away from the top
                    view->verticalScrollBar()->setValue(5 * view->rowHeight(0));
                    continue;
                }
                add(burst);
                // The server's copy, after all the client sent it.
                const QImage shown = view->screen()->grabWindow(view->winId()).toImage();
                const QImage whole = view->grab().toImage();
                QCOMPARE(shown.size(), whole.size());
                QVERIFY2(shown.convertToFormat(QImage::Format_RGB32) ==
                             whole.convertToFormat(QImage::Format_RGB32),
                         qPrintable(QStringLiteral("after %1 new, %2 rows").arg(burst).arg(next)));
            }
        }
        service.reset();
        TSimService::ResetInstance();
    }
};

int main(int argc, char** argv) {
    return RunWithCasesOnX<TAlertListX11Test>(argc, argv);
}

#include "tst_alertlist_x11.moc"
