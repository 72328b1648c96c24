// Alert lists as a user sees them: the client on a private X desktop (Xvfb and openbox), fed by
// its inbox over HTTP, looked at in screenshots. A window that shows the newest alerts goes on
// showing them past its bound of rows; windows that take alerts in turn each shade their rows
// alternately.
#include "components/zkSimAlertModel.h"
#include "zkHarness.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QtTest>

#include <optional>

namespace {

const QString Token = QStringLiteral("1157a1e57a11e571157a1e57a11e571157a1e57");

// One JSON line an alert: symbols prefix0, prefix1...
QByteArray AlertLines(const QString& strategy, const QString& prefix, int count,
                      const QString& description) {
    QByteArray body;
    for (int i = 0; i < count; ++i)
        body += QJsonDocument(QJsonObject{{"symbol", prefix + QString::number(i)},
                                          {"strategy", strategy},
                                          {"price", 10 + i % 90},
                                          {"description", description}})
                    .toJson(QJsonDocument::Compact) +
                '\n';
    return body;
}

// Runs of one colour down the pixel column x of the area, top to bottom: (colour, length).
QList<std::pair<QRgb, int>> ColourRuns(const QImage& screen, const QRect& area, int x) {
    QList<std::pair<QRgb, int>> runs;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb colour = screen.pixel(area.left() + x, y) & 0xffffff;
        if (!runs.isEmpty() && runs.last().first == colour)
            ++runs.last().second;
        else
            runs.append({colour, 1});
    }
    return runs;
}

// The tops of the pixel rows of the area where more than `least` pixels are near black: the
// lines through a description written in full blocks.
QList<int> DarkLines(const QImage& screen, const QRect& area, int least) {
    QList<int> lines;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        int dark = 0;
        for (int x = area.left(); x <= area.right(); ++x)
            dark += qGray(screen.pixel(x, y)) < 64;
        if (dark > least)
            lines << y - area.top();
    }
    return lines;
}

// A client with its inbox on, drawn on the test's desktop.
struct TListDesk : TWholeProcessHarness {
    TClientRun* Run = nullptr;
    QString Problem;

    TListDesk() {
        Problem = needDesktop();
        if (!Problem.isEmpty())
            return;
        StoreDeskChoices(QString(), false);
        needInbox(Token);
        Run = &startClient();
    }
    bool started() { return Run && Run->waitStarted() && WaitListening(inboxPort(), *Run, 30000); }
    int post(const QByteArray& lines) {
        return AskHttp(inboxPort(), "POST /alerts/" + Token.toLatin1(),
                       "Content-Type: application/x-ndjson\r\n", lines)
            .Status;
    }
    bool waitShown(const QString& caption, int ms = 20000) {
        QDeadlineTimer deadline(ms);
        while (!desktop().ShownCaptions().contains(caption))
            if (deadline.hasExpired())
                return false;
            else
                QThread::msleep(100);
        return true;
    }
};

} // namespace

class TAlertListE2ETest : public QObject {
    Q_OBJECT
private slots:
    void newestAlertsStayInSightPastTheRowBound();
    void windowsTakingAlertsInTurnEachAlternateTheirShades();
};

// 10, then as many as the list keeps, then 3 more: the 3 are at the top of the window, where
// the user who never scrolled looks. (The row the window made current when it took the focus
// is among those that go.)
void TAlertListE2ETest::newestAlertsStayInSightPastTheRowBound() {
    TListDesk desk;
    if (!desk.Problem.isEmpty())
        QSKIP(qPrintable(desk.Problem));
    QVERIFY2(desk.started(), desk.Run->stdErr().constData());
    QCOMPARE(desk.post(
                 AlertLines(QStringLiteral("Flood"), QStringLiteral("F"), 10, QStringLiteral("-"))),
             202);
    QVERIFY2(desk.waitShown(QStringLiteral("Flood")), qPrintable(desk.desktop().Windows()));
    QThread::msleep(1500); // activated by the window manager, the list takes the focus
    QCOMPARE(desk.post(AlertLines(QStringLiteral("Flood"), QStringLiteral("G"),
                                  TSimAlertModel::DefaultMaxRows, QStringLiteral("-"))),
             202);
    QCOMPARE(desk.post(AlertLines(QStringLiteral("Flood"), QStringLiteral("N"), 3,
                                  QString(40, QChar(0x2588)))),
             202);
    // The three rows of blocks show near the top once they are delivered.
    const QRect client = desk.desktop().ClientRect(QStringLiteral("Flood"));
    QVERIFY(client.width() > 200 && client.height() > 200);
    QList<int> dark;
    QImage shot;
    QDeadlineTimer deadline(30000);
    while (dark.isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(500);
        shot = desk.desktop().Screenshot(QStringLiteral("alertlist-flood.png"));
        QVERIFY(!shot.isNull());
        dark = DarkLines(shot, client, client.width() / 4);
    }
    QVERIFY2(!dark.isEmpty(), "the newest alerts are not on screen");
    QVERIFY2(
        dark.first() < client.height() / 4,
        qPrintable(
            QStringLiteral("newest rows at %1 of %2 px").arg(dark.first()).arg(client.height())));
}

// Two windows, each taking one alert while the other takes one, 15 times: down each list the
// rows' shades take turns, one colour for each row.
void TAlertListE2ETest::windowsTakingAlertsInTurnEachAlternateTheirShades() {
    TListDesk desk;
    if (!desk.Problem.isEmpty())
        QSKIP(qPrintable(desk.Problem));
    QVERIFY2(desk.started(), desk.Run->stdErr().constData());
    const QStringList windows = {QStringLiteral("Left"), QStringLiteral("Right")};
    constexpr int Rows = 15;
    for (int i = 0; i < Rows; ++i)
        for (const QString& window : windows) {
            QCOMPARE(desk.post(AlertLines(window, window.left(1) + QString::number(i) + u'x', 1,
                                          QStringLiteral("turn"))),
                     202);
            if (i == 0)
                QVERIFY(desk.waitShown(window));
            QThread::msleep(60); // delivered before the other window's
        }
    QThread::msleep(1500);
    const QImage shot = desk.desktop().Screenshot(QStringLiteral("alertlist-turns.png"));
    QVERIFY(!shot.isNull());
    for (const QString& window : windows) {
        const QRect client = desk.desktop().ClientRect(window);
        QVERIFY(shot.rect().contains(client));
        // Down the symbol column, right of the symbol: the rows' own background.
        const QList<std::pair<QRgb, int>> runs = ColourRuns(shot, client, 70 + 50);
        // Row-high runs, the header's and the empty space's left out.
        QList<std::pair<QRgb, int>> rows;
        for (const auto& run : runs)
            if (run.second >= 10 && run.second <= 40)
                rows << run;
        QStringList seen;
        for (const auto& run : rows)
            seen << QStringLiteral("%1x%2").arg(run.first, 6, 16, QLatin1Char('0')).arg(run.second);
        const QString what = window + QStringLiteral(": ") + seen.join(u' ');
        QVERIFY2(rows.size() >= Rows - 2, qPrintable(what));
        for (qsizetype r = 1; r < Rows - 2; ++r)
            QVERIFY2(rows[r].first != rows[r - 1].first &&
                         (r < 2 || rows[r].first == rows[r - 2].first),
                     qPrintable(what));
    }
}

QTEST_MAIN(TAlertListE2ETest)
#include "tst_alertlist_e2e.moc"
