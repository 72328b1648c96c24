// The net-request component against a local HTTP server, and the service clock.

#include "components/zkComponentWrappers.h"
#include "components/zkSimClock.h"
#include "components/zkSimNetRequest.h"
#include "components/zkSimStatusBar.h"
#include "platform/zkErrors.h"
#include "platform/zkHttpModule.h"
#include "zkTestSupport.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <QTimer>
#include <memory>

namespace {

// Answers each request with a canned reply chosen by its path.
class THttpServer : public QObject {
public:
    THttpServer() {
        Server.listen(QHostAddress::LocalHost);
        connect(&Server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = Server.nextPendingConnection()) {
                // The connection's own buffer: a later socket may get this one's address.
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    // One answer a connection: a request the client sent on it before it saw
                    // the close gets none (and is sent again on a new connection).
                    if (end < 0 || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    const QByteArray path = buffer->left(end).split(' ').value(1);
                    Paths << QString::fromLatin1(path);
                    if (path == "/silent")
                        return; // keeps the connection open and says nothing
                    if (path == "/trickle") {
                        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
                        auto* drip = new QTimer(socket);
                        connect(drip, &QTimer::timeout, socket, [socket] { socket->write("1"); });
                        drip->start(20);
                        return;
                    }
                    socket->write(Reply(path));
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString Url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2")
            .arg(Server.serverPort())
            .arg(QLatin1String(path));
    }
    QStringList Paths;

private:
    static QByteArray Response(const QByteArray& status, const QByteArray& body,
                               const QByteArray& extra = QByteArray()) {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\nConnection: close\r\n" + extra + "\r\n" + body;
    }
    static QByteArray Reply(const QByteArray& path) {
        if (path == "/version")
            return Response("200 OK", "Version=1.2.3\r\nBuild=77\r\n");
        if (path == "/moved")
            return Response("302 Found", "", "Location: /version\r\n");
        if (path == "/latin1")
            return Response("200 OK", "caf\xe9");
        if (path == "/exactly-1mb")
            return Response("200 OK", QByteArray(1024 * 1024, '7'));
        if (path == "/over-1mb")
            return Response("200 OK", QByteArray(1024 * 1024 + 1, '7'));
        if (path == "/over-1mb-unannounced")
            return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" +
                   QByteArray(3 * 1024 * 1024, '7');
        if (path == "/utf8")
            return Response("200 OK", "\xef\xbb\xbf"
                                      "caf\xc3\xa9");
        return Response("404 Not Found", "no such page");
    }
    QTcpServer Server;
};

// Counts the paint events a widget gets.
class TPaintCounter : public QObject {
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++Paints;
        return false;
    }
};

} // namespace

class TNetClockTest : public QObject {
    Q_OBJECT

private:
    static QString Fetch(TGenericNetRequestX& request, const QString& url) {
        QSignalSpy results(&request, &TGenericNetRequestX::OnResult);
        request.SendRequest(url);
        if (!results.wait(10000))
            return QStringLiteral("<no result>");
        return results.first().at(1).toString();
    }

private slots:
    void getsTheBodyOrEmptyTextOnFailure() {
        THttpServer server;
        TGenericNetRequestX request;
        QCOMPARE(Fetch(request, server.Url("/version")),
                 QStringLiteral("Version=1.2.3\r\nBuild=77\r\n"));
        QCOMPARE(Fetch(request, server.Url("/moved")),
                 QStringLiteral("Version=1.2.3\r\nBuild=77\r\n"));
        QCOMPARE(server.Paths, QStringList({"/version", "/moved", "/version"}));
        QCOMPARE(Fetch(request, server.Url("/gone")), QString()); // 404 body is no answer
        QCOMPARE(Fetch(request, server.Url("/latin1")), QString::fromUtf8("café"));
        QCOMPARE(Fetch(request, server.Url("/utf8")), QString::fromUtf8("café"));
    }

    void bodiesOverOneMegabyteFail() {
        THttpServer server;
        TGenericNetRequestX request;
        QCOMPARE(Fetch(request, server.Url("/exactly-1mb")).size(), 1024 * 1024);
        QCOMPARE(Fetch(request, server.Url("/over-1mb")), QString());
        QCOMPARE(Fetch(request, server.Url("/over-1mb-unannounced")), QString());
    }

    void silentOrTricklingServersEndInOneEmptyResult() {
        THttpServer server;
        TGenericNetRequestX request;
        auto* component = dynamic_cast<TSimNetRequestX*>(request.Component());
        QVERIFY(component);
        QCOMPARE(component->TimeoutMs, 30000);
        component->TimeoutMs = 400;
        QSignalSpy results(&request, &TGenericNetRequestX::OnResult);
        request.SendRequest(server.Url("/silent"));
        request.SendRequest(server.Url("/trickle"));
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, 5000);
        QTest::qWait(600); // and nothing more comes
        QCOMPARE(results.count(), 2);
        QCOMPARE(results.at(0).at(1).toString(), QString());
        QCOMPARE(results.at(1).at(1).toString(), QString());
    }

    void eachRequestGetsItsOwnResult() {
        THttpServer server;
        TGenericNetRequestX request;
        QSignalSpy results(&request, &TGenericNetRequestX::OnResult);
        request.SendRequest(server.Url("/version"));
        request.SendRequest(server.Url("/nothing"));
        QTRY_COMPARE(results.count(), 2);
        QStringList texts{results.at(0).at(1).toString(), results.at(1).at(1).toString()};
        texts.sort();
        QCOMPARE(texts, QStringList({QString(), QStringLiteral("Version=1.2.3\r\nBuild=77\r\n")}));
    }

    void refusedConnectionAndFilesWork() {
        TTestHome home;
        quint16 port = 0;
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            port = probe.serverPort();
        }
        TGenericNetRequestX request;
        QCOMPARE(Fetch(request, QStringLiteral("http://127.0.0.1:%1/").arg(port)), QString());
        const QString file = home.path() + QStringLiteral("/update.txt");
        WriteTextFile(file, "Version=9\n");
        QCOMPARE(Fetch(request, QUrl::fromLocalFile(file).toString()),
                 QStringLiteral("Version=9\n"));
        QCOMPARE(Fetch(request, QUrl::fromLocalFile(file + QStringLiteral(".none")).toString()),
                 QString());
    }

    void withoutTheHttpModuleRequestsFailOnceEachAndSayWhyOnce() {
        THttpServer server;
        TTestHome home;
        const QString notALibrary = home.path() + QStringLiteral("/velquist-http.so");
        WriteTextFile(notALibrary, "not a shared object");
        const auto restore = qScopeGuard([] { zkHttp::SetModulePathForTesting(QString()); });
        for (const QString& module : {home.path() + QStringLiteral("/none.so"), notALibrary}) {
            zkHttp::SetModulePathForTesting(module);
            // Said once for the process, not once a request.
            QTest::ignoreMessage(
                QtWarningMsg,
                QRegularExpression("web requests fail: .*" + QRegularExpression::escape(module)));
            QTest::failOnWarning(QRegularExpression("web requests fail"));
            TGenericNetRequestX request;
            QSignalSpy results(&request, &TGenericNetRequestX::OnResult);
            request.SendRequest(server.Url("/version"));
            QCOMPARE(results.count(), 0); // never within the call, as without a network
            request.SendRequest(server.Url("/version"));
            QTRY_COMPARE(results.count(), 2);
            QTest::qWait(50);
            QCOMPARE(results.count(), 2);
            QCOMPARE(results.at(0).at(1).toString(), QString());
            QCOMPARE(results.at(1).at(1).toString(), QString());
            QVERIFY2(zkHttp::LoadProblem().contains(module), qPrintable(zkHttp::LoadProblem()));
            QVERIFY(server.Paths.isEmpty());
        }
        // Found again: requests go out.
        zkHttp::SetModulePathForTesting(QString());
        TGenericNetRequestX request;
        QCOMPARE(Fetch(request, server.Url("/version")),
                 QStringLiteral("Version=1.2.3\r\nBuild=77\r\n"));
        QCOMPARE(zkHttp::LoadProblem(), QString());
    }

    void aRequestOpenWhenItsOwnerGoesGivesNoResultAndNoCrash() {
        THttpServer server;
        QStringList results;
        {
            TGenericNetRequestX request;
            connect(&request, &TGenericNetRequestX::OnResult, this,
                    [&results](QObject*, const QString& text) { results << text; });
            request.SendRequest(server.Url("/silent"));
            request.SendRequest(server.Url("/trickle"));
            QTRY_COMPARE(server.Paths.size(), 2);
        }
        QTest::qWait(100);
        QCOMPARE(results, QStringList());
    }

    void textThatIsNoUrlIsRefusedAtTheCall() {
        TGenericNetRequestX request;
        QSignalSpy results(&request, &TGenericNetRequestX::OnResult);
        for (const char* bad : {"", "not a url", "ftp://example.com/x", "http://exa mple.com/"})
            QVERIFY_THROWS_EXCEPTION(EComponentError,
                                     request.SendRequest(QString::fromLatin1(bad)));
        QTest::qWait(20);
        QCOMPARE(results.count(), 0);
    }

    void newYorkTime_data() {
        QTest::addColumn<QDateTime>("utc");
        QTest::addColumn<QString>("local");
        QTest::newRow("summer") << QDateTime(QDate(2024, 7, 1), QTime(14, 0), Qt::UTC)
                                << "2024-07-01 10:00";
        QTest::newRow("winter") << QDateTime(QDate(2024, 1, 15), QTime(14, 0), Qt::UTC)
                                << "2024-01-15 09:00";
        QTest::newRow("before the spring change")
            << QDateTime(QDate(2024, 3, 10), QTime(6, 59), Qt::UTC) << "2024-03-10 01:59";
        QTest::newRow("after the spring change")
            << QDateTime(QDate(2024, 3, 10), QTime(7, 0), Qt::UTC) << "2024-03-10 03:00";
        QTest::newRow("late evening is the day before")
            << QDateTime(QDate(2024, 11, 5), QTime(3, 0), Qt::UTC) << "2024-11-04 22:00";
    }
    void newYorkTime() {
        QFETCH(QDateTime, utc);
        QFETCH(QString, local);
        QCOMPARE(SimNewYorkTime(utc).toString(QStringLiteral("yyyy-MM-dd HH:mm")), local);
    }

    void marketSession_data() {
        QTest::addColumn<QString>("time"); // New York, 2024-07-01 is a Monday
        QTest::addColumn<QString>("session");
        QTest::newRow("night") << "2024-07-01 03:59"
                               << "Closed";
        QTest::newRow("pre-market opens") << "2024-07-01 04:00"
                                          << "Pre-market";
        QTest::newRow("just before the bell") << "2024-07-01 09:29"
                                              << "Pre-market";
        QTest::newRow("the bell") << "2024-07-01 09:30"
                                  << "Open";
        QTest::newRow("last minute") << "2024-07-01 15:59"
                                     << "Open";
        QTest::newRow("close") << "2024-07-01 16:00"
                               << "After hours";
        QTest::newRow("late") << "2024-07-01 19:59"
                              << "After hours";
        QTest::newRow("evening") << "2024-07-01 20:00"
                                 << "Closed";
        QTest::newRow("saturday noon") << "2024-07-06 12:00"
                                       << "Closed";
        QTest::newRow("sunday noon") << "2024-07-07 12:00"
                                     << "Closed";
    }
    void marketSession() {
        QFETCH(QString, time);
        QFETCH(QString, session);
        const QDateTime t = QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd HH:mm"));
        QCOMPARE(SimMarketSessionName(SimMarketSessionAt(t)), session);
    }

    void statusStripShowsClockAndSession() {
        TStatusBarX bar;
        auto* strip = qobject_cast<TSimStatusStrip*>(bar.Component()->Widget());
        QVERIFY(strip);
        QCOMPARE(strip->sizeHint().height(), 27);
        QVERIFY(QStringList({"Pre-market", "Open", "After hours", "Closed"})
                    .contains(strip->SessionText()));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d ET$"))
                    .match(strip->ClockText())
                    .hasMatch());
        // The session gives way to the clock, never runs under it.
        const QFontMetrics metrics(strip->font());
        QCOMPARE(TSimStatusStrip::FitSessionText(metrics, 1000, "Pre-market"),
                 QString("Market: Pre-market"));
        const int bare = metrics.horizontalAdvance("Pre-market");
        QCOMPARE(TSimStatusStrip::FitSessionText(metrics, bare, "Pre-market"),
                 QString("Pre-market"));
        const QString cut = TSimStatusStrip::FitSessionText(metrics, bare / 2, "Pre-market");
        QVERIFY2(cut.endsWith(QChar(0x2026)) && metrics.horizontalAdvance(cut) <= bare / 2,
                 qPrintable(cut));
        bar.resize(210, 27);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QVERIFY(!strip->grab().isNull());
    }

    // The strip is painted when what it shows changes (the clock's second, the session), not
    // on every tick of its timer.
    void statusStripPaintsOnlyWhenWhatItShowsChanges() {
        TSimStatusStrip strip;
        QDateTime now(QDate(2024, 7, 1), QTime(15, 59, 58, 100), Qt::UTC); // 11:59:58 ET, open
        strip.SetClockForTest([&now] { return now; });
        TPaintCounter counter;
        strip.installEventFilter(&counter);
        strip.resize(210, 27);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        QTRY_VERIFY(counter.Paints > 0);
        QCOMPARE(strip.ClockText(), QStringLiteral("11:59:58 ET"));
        const auto paintsAfterRefresh = [&] {
            counter.Paints = 0;
            strip.Refresh();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            return counter.Paints;
        };
        QCOMPARE(paintsAfterRefresh(), 0);
        now = now.addMSecs(800); // the same second
        QCOMPARE(paintsAfterRefresh(), 0);
        now = now.addMSecs(200);
        QCOMPARE(paintsAfterRefresh(), 1);
        QCOMPARE(paintsAfterRefresh(), 0);
        // Hidden, it shows nothing; shown again, it shows the time then.
        strip.hide();
        now = now.addSecs(5);
        counter.Paints = 0;
        strip.show();
        QTRY_VERIFY(counter.Paints > 0);
        QCOMPARE(paintsAfterRefresh(), 0);
    }

    // What the strip paints is what Fit gives for its font and width at the time: the font it
    // keeps is made again when either changes.
    void statusStripFitFollowsFontAndWidth() {
        TSimStatusStrip strip;
        const auto follows = [&strip](const QString& session) {
            const TSimStatusStrip::TFit shown = strip.Shown(session);
            const TSimStatusStrip::TFit fit =
                TSimStatusStrip::Fit(strip.font(), strip.width(), session);
            return shown.Font == fit.Font && shown.Session == fit.Session &&
                   shown.SessionWidth == fit.SessionWidth;
        };
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSize(9);
        strip.setFont(font);
        strip.resize(210, 27);
        QVERIFY(follows("Open"));
        QCOMPARE(strip.Shown("Open").Font, font);
        font.setPointSize(11); // "Market: Open" and the clock need a smaller font now
        strip.setFont(font);
        QVERIFY(follows("Open"));
        const QFont smaller = strip.Shown("Open").Font;
        QVERIFY(smaller.pointSizeF() < 11);
        strip.resize(260, 27); // room for the font as it is
        QVERIFY(follows("After hours"));
        QCOMPARE(strip.Shown("Open").Font, font);
        strip.resize(210, 27);
        QCOMPARE(strip.Shown("Open").Font, smaller);
    }
};

QTEST_MAIN(TNetClockTest)
#include "tst_netclock.moc"
