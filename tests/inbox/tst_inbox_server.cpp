#include "desk/zkAlertSink.h"
#include "inbox/zkInboxServer.h"
#include "zkRecordingSink.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <sys/socket.h>
#include <vector>

namespace {

const QString Token = QStringLiteral("0123456789abcdef0123456789abcdef01234567");

struct TResponse {
    int Status = 0;
    QList<QByteArray> Headers; // "name: value", as sent
    QByteArray Body;
    QByteArray Header(const char* name) const {
        for (const QByteArray& h : Headers)
            if (h.toLower().startsWith(QByteArray(name).toLower() + ':'))
                return h.mid(qsizetype(qstrlen(name)) + 1).trimmed();
        return QByteArray();
    }
    QString Error() const {
        return QJsonDocument::fromJson(Body).object().value("error").toString();
    }
};

// A sender on a real TCP connection; the answers are read as they come (the server runs on the
// same event loop, so nothing here blocks).
class TSender {
public:
    explicit TSender(quint16 port, const QHostAddress& host = QHostAddress::LocalHost) {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] { Read(); });
        Socket.connectToHost(host, port);
    }
    void Send(const QByteArray& bytes) {
        // The kernel completes the connection; the server's loop need not run for it.
        if (Socket.state() != QAbstractSocket::ConnectedState)
            Socket.waitForConnected(2000);
        Socket.write(bytes);
        Socket.flush();
    }
    bool Closed() const { return Socket.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket Socket;
    std::vector<TResponse> Responses;
    bool HeadRequests = false; // answers to HEAD carry no body, whatever their length says

private:
    void Read() {
        Buffer += Socket.readAll();
        for (;;) {
            const qsizetype end = Buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = Buffer.left(end).split('\n');
            TResponse r;
            r.Status = lines[0].split(' ').value(1).toInt();
            qsizetype length = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                r.Headers << lines[i].trimmed();
                if (lines[i].toLower().startsWith("content-length:"))
                    length = lines[i].mid(15).trimmed().toLongLong();
            }
            if (r.Status == 100) {
                Buffer.remove(0, end + 4);
                continue;
            }
            if (HeadRequests)
                length = 0;
            if (Buffer.size() < end + 4 + length)
                return;
            r.Body = Buffer.mid(end + 4, length);
            Buffer.remove(0, end + 4 + length);
            Responses.push_back(r);
        }
    }
    QByteArray Buffer;
};

QByteArray Post(const QByteArray& target, const QByteArray& body,
                const QByteArray& extra = QByteArray()) {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           extra + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray Path() {
    return "/alerts/" + Token.toLatin1();
}

} // namespace

class TInboxServerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TInboxServer> Server;
    TRecordingSink Sink;

    // A connection the server has taken (the kernel holds only so many waiting ones).
    std::unique_ptr<TSender> Connect() {
        auto sender = std::make_unique<TSender>(Server->Port());
        if (!QTest::qWaitFor(
                [&] { return sender->Socket.state() == QAbstractSocket::ConnectedState; }, 5000))
            qWarning("a sender did not connect");
        QCoreApplication::processEvents();
        return sender;
    }

    // One request on a fresh connection, and its answer.
    TResponse Ask(const QByteArray& request) {
        TSender sender(Server->Port());
        sender.Send(request);
        if (!QTest::qWaitFor([&] { return !sender.Responses.empty(); }, 5000))
            return TResponse();
        return sender.Responses.front();
    }

private slots:
    void init() {
        Sink = TRecordingSink();
        Server = std::make_unique<TInboxServer>();
        Server->SetToken(Token);
        Server->SetSink(&Sink);
        QVERIFY(Server->Listen(0));
        QVERIFY(Server->Port() != 0);
    }
    void cleanup() { Server.reset(); }

    void acceptedAlertsReachTheSinkExactly();
    void tokenIsCheckedAndNeverEchoed();
    void otherRefusals();
    void keepAliveAndPipelining();
    void requestInTinyPieces();
    void senderThatDoesNotReadIsHeldBack();
    void headOverTheLimit();
    void strangersCannotTakeTheSlots();
    void aRequestAMomentLateKeepsItsChance();
    void sendersWithTheTokenHaveTheirOwnLimit();
    void strangerMustSendItsHeadSoon();
    void slowRequestIsEnded();
    void portInUseIsTold();
};

void TInboxServerTest::acceptedAlertsReachTheSinkExactly() {
    const TResponse r = Ask(Post(Path(), R"([{"symbol":"AAPL","price":1.5,"text":"up"},
                                             {"symbol":"MSFT","strategy":"*","skip":1}])"));
    QCOMPARE(r.Status, 202);
    QCOMPARE(r.Body, QByteArray(R"({"accepted":2,"unrouted":0})"));
    QCOMPARE(r.Header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(Sink.Alerts.size(), 2);
    QCOMPARE(Sink.Alerts[0].Symbol, QStringLiteral("AAPL"));
    QCOMPARE(Sink.Alerts[0].Price, 1.5);
    QCOMPARE(Sink.Alerts[0].Description, QStringLiteral("up"));
    QCOMPARE(Sink.Alerts[1].Strategy, QStringLiteral("*"));
    QVERIFY(Sink.Alerts[1].Skip);

    // The bearer form, and an alert in the query of a POST without a body (curl -X POST).
    QCOMPARE(Ask(Post("/alerts", R"({"symbol":"IBM"})",
                      "Authorization: bearer " + Token.toLatin1() + "\r\n"))
                 .Status,
             202);
    QCOMPARE(Ask("POST " + Path() + "?symbol=NVDA&price=3 HTTP/1.1\r\nHost: x\r\n\r\n").Status,
             202);
    QCOMPARE(Sink.Alerts.size(), 4);
    QCOMPARE(Sink.Alerts[3].Symbol, QStringLiteral("NVDA"));
    // "localhost" may mean ::1: served there too when the machine has it.
    QTcpServer probe;
    if (probe.listen(QHostAddress::LocalHostIPv6, 0)) {
        TSender v6(Server->Port(), QHostAddress::LocalHostIPv6);
        v6.Send(Post(Path(), R"({"symbol":"V6"})"));
        QTRY_COMPARE(v6.Responses.size(), size_t(1));
        QCOMPARE(v6.Responses[0].Status, 202);
        Sink.Alerts.removeLast();
        --Sink.Offers;
    }
    QCOMPARE(Sink.Alerts[3].Price, 3.0);
    // Alerts the sink took without a window for them are counted apart.
    Sink.Unrouted = 1;
    QCOMPARE(Ask(Post(Path(), R"([{"symbol":"X"},{"symbol":"Y"}])")).Body,
             QByteArray(R"({"accepted":2,"unrouted":1})"));
    Sink.Unrouted = 0;
    Sink.Alerts.resize(4);
    --Sink.Offers;

    // A bad item takes nothing, and is named.
    const TResponse bad = Ask(Post(Path(), R"([{"symbol":"A"},{"symbol":"B","price":"x"}])"));
    QCOMPARE(bad.Status, 400);
    QCOMPARE(bad.Error(), QStringLiteral("item 2: \"price\" is not a number"));
    QCOMPARE(Sink.Alerts.size(), 4);
    QCOMPARE(Sink.Offers, 3);
}

void TInboxServerTest::tokenIsCheckedAndNeverEchoed() {
    const QByteArray wrong = "WRONG" + Token.toLatin1().mid(5);
    for (const QByteArray& request :
         {Post("/alerts", R"({"symbol":"A"})"), Post("/alerts/", R"({"symbol":"A"})"),
          Post("/alerts/" + wrong, R"({"symbol":"A"})"),
          Post("/alerts", R"({"symbol":"A"})", "Authorization: Bearer " + wrong + "\r\n"),
          Post("/alerts/" + Token.toLatin1().left(20), R"({"symbol":"A"})")}) {
        const TResponse r = Ask(request);
        QCOMPARE(r.Status, 401);
        QVERIFY(!r.Body.contains("WRONG") && !r.Body.contains(Token.toLatin1().left(20)));
        QCOMPARE(r.Header("WWW-Authenticate"), QByteArray("Bearer"));
    }
    // No token set: nothing is taken, not even with an empty one.
    Server->SetToken(QString());
    QCOMPARE(Ask(Post("/alerts/", R"({"symbol":"A"})")).Status, 401);
    QCOMPARE(Ask(Post(Path(), R"({"symbol":"A"})")).Status, 401);
    QCOMPARE(Sink.Offers, 0);
}

void TInboxServerTest::otherRefusals() {
    const TResponse notFound = Ask(Post("/other/" + Token.toLatin1(), "{}"));
    QCOMPARE(notFound.Status, 404);
    QVERIFY(!notFound.Body.contains(Token.toLatin1()));
    QCOMPARE(Ask(Post(Path() + "/more", "{}")).Status, 404);

    const TResponse get = Ask("GET " + Path() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    QCOMPARE(get.Status, 405);
    QCOMPARE(get.Header("Allow"), QByteArray("POST"));
    TSender head(Server->Port());
    head.HeadRequests = true;
    head.Send("HEAD /alerts HTTP/1.1\r\nHost: x\r\n\r\nHEAD /x HTTP/1.1\r\nHost: x\r\n\r\n");
    QTRY_COMPARE(head.Responses.size(), size_t(2));
    QCOMPARE(head.Responses[0].Status, 405);
    QCOMPARE(head.Responses[1].Status, 404); // the first answer had no body to mistake for one

    // Over 1 MB: refused from the head, before the body is read.
    TSender big(Server->Port());
    big.Send("POST " + Path() + " HTTP/1.1\r\nHost: x\r\nContent-Length: 1048577\r\n\r\n" +
             QByteArray(1048577, ' '));
    QTRY_COMPARE(big.Responses.size(), size_t(1));
    QCOMPARE(big.Responses[0].Status, 413);
    QCOMPARE(big.Responses[0].Header("Connection"), QByteArray("close"));
    QTRY_VERIFY(big.Closed());
    // Exactly 1 MB is read (and here refused for what it holds).
    QByteArray mb = "[" + QByteArray(1048574, ' ') + "]";
    QCOMPARE(Ask(Post(Path(), mb)).Status, 400);

    QByteArray many = "[";
    for (int i = 0; i < 10001; ++i)
        many += "{\"symbol\":\"S\"},";
    many.back() = ']';
    const TResponse tooMany = Ask(Post(Path(), many));
    QCOMPARE(tooMany.Status, 413);
    QCOMPARE(tooMany.Error(), QStringLiteral("more than 10000 alerts in one request"));

    const TResponse chunked = Ask("POST " + Path() +
                                  " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  "5\r\nhello\r\n0\r\n\r\n");
    QCOMPARE(chunked.Status, 411);

    QCOMPARE(Ask("POST / HTTP/2.0\r\n\r\n").Status, 505);
    QCOMPARE(Ask("POST /\x01 HTTP/1.1\r\nHost: x\r\n\r\n").Status, 400);
    QCOMPARE(Sink.Offers, 0);

    Sink.Answer = IAlertSink::TOffer::Busy;
    const TResponse busy = Ask(Post(Path(), R"({"symbol":"A"})"));
    QCOMPARE(busy.Status, 429);
    QCOMPARE(busy.Header("Retry-After"), QByteArray("1"));
    // A sink that is full is not offered anything: the body is not even read.
    Sink.Busy = true;
    const TResponse full = Ask(Post(Path(), R"({"symbol":"A","price":"x"})"));
    QCOMPARE(full.Status, 429);
    QCOMPARE(full.Header("Retry-After"), QByteArray("1"));
    QCOMPARE(Sink.Offers, 1);
    Sink.Busy = false;
    Sink.Answer = IAlertSink::TOffer::Closing;
    QCOMPARE(Ask(Post(Path(), R"({"symbol":"A"})")).Status, 503);
    QCOMPARE(Sink.Offers, 2);
    Sink.Answer = IAlertSink::TOffer::Accepted;
    Server->SetClosing(true);
    QCOMPARE(Ask(Post(Path(), R"({"symbol":"A"})")).Status, 503);
    QCOMPARE(Sink.Offers, 2); // the sink is not asked while closing
    QVERIFY(Sink.Alerts.isEmpty());
}

void TInboxServerTest::keepAliveAndPipelining() {
    TSender sender(Server->Port());
    // Three requests in one write, answered in order on the one connection.
    sender.Send(Post(Path(), R"({"symbol":"A"})") + Post(Path(), R"({"price":1})") +
                Post(Path(), R"([{"symbol":"B"},{"symbol":"C"}])"));
    QTRY_COMPARE(sender.Responses.size(), size_t(3));
    QCOMPARE(sender.Responses[0].Status, 202);
    QCOMPARE(sender.Responses[1].Status, 400);
    QCOMPARE(sender.Responses[2].Body, QByteArray(R"({"accepted":2,"unrouted":0})"));
    for (int i = 0; i < 50; ++i)
        sender.Send(Post(Path(), "{\"symbol\":\"K" + QByteArray::number(i) + "\"}"));
    QTRY_COMPARE(sender.Responses.size(), size_t(53));
    QVERIFY(!sender.Closed());
    QCOMPARE(Server->ConnectionCount(), 1);
    QCOMPARE(Sink.Alerts.size(), 53);
    QCOMPARE(Sink.Alerts.last().Symbol, QStringLiteral("K49"));

    // "Connection: close" is honoured, and so is HTTP/1.0's default.
    sender.Send(Post(Path(), R"({"symbol":"Z"})", "Connection: close\r\n"));
    QTRY_COMPARE(sender.Responses.size(), size_t(54));
    QCOMPARE(sender.Responses.back().Header("Connection"), QByteArray("close"));
    QTRY_VERIFY(sender.Closed());
    // A sender that ends its side right after the request still gets the answer.
    TSender halfClosed(Server->Port());
    halfClosed.Send(Post(Path(), R"({"symbol":"HALF"})"));
    ::shutdown(int(halfClosed.Socket.socketDescriptor()), SHUT_WR);
    QTRY_COMPARE(halfClosed.Responses.size(), size_t(1));
    QCOMPARE(halfClosed.Responses[0].Status, 202);
    QCOMPARE(Sink.Alerts.last().Symbol, QStringLiteral("HALF"));

    TSender old(Server->Port());
    old.Send("POST " + Path() + "?symbol=Q HTTP/1.0\r\n\r\n");
    QTRY_COMPARE(old.Responses.size(), size_t(1));
    QCOMPARE(old.Responses[0].Status, 202);
    QTRY_VERIFY(old.Closed());
}

void TInboxServerTest::requestInTinyPieces() {
    TSender sender(Server->Port());
    QVERIFY(sender.Socket.waitForConnected(2000));
    const QByteArray request =
        Post(Path(), R"({"symbol":"PIECE","description":"sent a byte at a time"})",
             "Expect: 100-continue\r\n");
    for (const char c : request) {
        sender.Send(QByteArray(1, c));
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(sender.Responses.size(), size_t(1));
    QCOMPARE(sender.Responses[0].Status, 202);
    QCOMPARE(Sink.Alerts.size(), 1);
    QCOMPARE(Sink.Alerts[0].Description, QStringLiteral("sent a byte at a time"));
}

void TInboxServerTest::senderThatDoesNotReadIsHeldBack() {
    // Pipelined requests whose answers are left unread: once the answers fill the kernel's
    // buffers and the server's share, it stops reading instead of holding more.
    constexpr int Total = 100000; // ~11 MB of answers, past the kernel's 4 MB send buffer
    QTcpSocket sender;
    sender.setReadBufferSize(1); // Qt takes nothing more from the kernel for us
    sender.connectToHost(QHostAddress::LocalHost, Server->Port());
    QVERIFY(sender.waitForConnected(2000));
    const QByteArray one = Post(Path(), R"({"symbol":"P"})");
    sender.write(one.repeated(Total));
    int last = -1;
    QElapsedTimer still;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            if (Sink.Offers != last) {
                last = Sink.Offers;
                still.start();
            }
            return still.elapsed() > 500;
        }(),
        30000);
    QVERIFY2(Sink.Offers > 0 && Sink.Offers < Total,
             qPrintable(QStringLiteral("%1 requests were handled").arg(Sink.Offers)));
    QCOMPARE(Server->ConnectionCount(), 1);

    // Reading again lets everything through, in order and complete.
    sender.setReadBufferSize(0);
    qsizetype answers = 0;
    QByteArray tail;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QByteArray got = tail + sender.readAll();
            answers += got.count("HTTP/1.1 202 ");
            tail = got.right(12);
            answers -= tail.count("HTTP/1.1 202 ");
            return answers + tail.count("HTTP/1.1 202 ") == Total;
        }(),
        30000);
    QCOMPARE(Sink.Offers, Total);
    QCOMPARE(Sink.Alerts.size(), Total);
}

void TInboxServerTest::headOverTheLimit() {
    TSender sender(Server->Port());
    sender.Send("POST " + Path() + " HTTP/1.1\r\nHost: x\r\nX-Pad: " + QByteArray(16400, 'p') +
                "\r\n\r\n");
    QTRY_COMPARE(sender.Responses.size(), size_t(1));
    QCOMPARE(sender.Responses[0].Status, 431);
    QTRY_VERIFY(sender.Closed());
    // Just under the limit is fine.
    QByteArray request = Post(Path(), R"({"symbol":"A"})", "X-Pad: \r\n");
    request.insert(request.indexOf("X-Pad: ") + 7,
                   QByteArray(16 * 1024 - (request.size() - 14), 'p'));
    QCOMPARE(Ask(request).Status, 202);
}

void TInboxServerTest::strangersCannotTakeTheSlots() {
    Server->SetFreshConnectionChanceMs(0); // the order of making way, not its pace
    // Held open without a word, as another local user or anyone through a tunnel can.
    std::vector<std::unique_ptr<TSender>> strangers;
    const auto open = [&] {
        return std::count_if(strangers.begin(), strangers.end(),
                             [](const auto& s) { return !s->Closed(); });
    };
    for (int i = 0; i < 200; ++i)
        strangers.push_back(Connect());
    QTRY_COMPARE(open(), TInboxServer::MaxUnprovenConnections);
    QCOMPARE(Server->ConnectionCount(), TInboxServer::MaxUnprovenConnections);
    // The oldest made way for the newest.
    QVERIFY(strangers.front()->Closed());
    QVERIFY(!strangers.back()->Closed());

    TSender owner(Server->Port());
    owner.Send(Post(Path(), R"({"symbol":"A"})"));
    QTRY_COMPARE(owner.Responses.size(), size_t(1));
    QCOMPARE(owner.Responses[0].Status, 202);
    // Once it has shown the token, more strangers do not push it out.
    for (int i = 0; i < 100; ++i)
        strangers.push_back(Connect());
    QTRY_VERIFY(strangers[strangers.size() - TInboxServer::MaxUnprovenConnections - 1]->Closed());
    owner.Send(Post(Path(), R"({"symbol":"B"})"));
    QTRY_COMPARE(owner.Responses.size(), size_t(2));
    QCOMPARE(owner.Responses[1].Status, 202);
    QVERIFY(!owner.Closed());
    QCOMPARE(Server->UnprovenCount(), TInboxServer::MaxUnprovenConnections);

    // A wrong token shows nothing: that connection is a stranger's still.
    TSender guesser(Server->Port());
    guesser.Send(Post("/alerts/" + QByteArray(40, '0'), "{}"));
    QTRY_COMPARE(guesser.Responses.size(), size_t(1));
    QCOMPARE(guesser.Responses[0].Status, 401);
    for (int i = 0; i < TInboxServer::MaxUnprovenConnections; ++i)
        strangers.push_back(Connect());
    QTRY_VERIFY(guesser.Closed());
    QCOMPARE(Sink.Alerts.size(), 2);
}

// Strangers who connect again as fast as they are closed would push out a sender whose
// request comes a moment after its connection (a tunnel, a busy machine): the newest
// connections wait instead, until the oldest has had its moment.
void TInboxServerTest::aRequestAMomentLateKeepsItsChance() {
    Server->SetFreshConnectionChanceMs(400);
    std::vector<std::unique_ptr<TSender>> strangers;
    for (int i = 0; i < TInboxServer::MaxUnprovenConnections; ++i)
        strangers.push_back(Connect());
    QTRY_COMPARE(Server->UnprovenCount(), TInboxServer::MaxUnprovenConnections);
    QTest::qWait(450); // past their moment
    TSender owner(Server->Port());
    QVERIFY(
        QTest::qWaitFor([&] { return owner.Socket.state() == QAbstractSocket::ConnectedState; }));
    for (int i = 0; i < 2 * TInboxServer::MaxUnprovenConnections; ++i)
        strangers.push_back(std::make_unique<TSender>(Server->Port()));
    QTest::qWait(150);
    QVERIFY(!owner.Closed());
    owner.Send(Post(Path(), R"({"symbol":"A"})"));
    QTRY_COMPARE(owner.Responses.size(), size_t(1));
    QCOMPARE(owner.Responses[0].Status, 202);
    // The strangers who waited are taken in turn, the budget as before.
    QTRY_VERIFY_WITH_TIMEOUT(!strangers.back()->Closed() && strangers.back()->Socket.state() ==
                                                                QAbstractSocket::ConnectedState,
                             5000);
    QTRY_COMPARE_WITH_TIMEOUT(Server->UnprovenCount(), TInboxServer::MaxUnprovenConnections, 5000);
}

void TInboxServerTest::sendersWithTheTokenHaveTheirOwnLimit() {
    std::vector<std::unique_ptr<TSender>> senders;
    for (int i = 0; i < TInboxServer::MaxConnections; ++i) {
        senders.push_back(Connect());
        senders.back()->Send(Post(Path(), R"({"symbol":"A"})"));
    }
    QTRY_VERIFY(std::all_of(senders.begin(), senders.end(),
                            [](const auto& s) { return s->Responses.size() == 1; }));
    QCOMPARE(Server->ConnectionCount(), TInboxServer::MaxConnections);
    QCOMPARE(Server->UnprovenCount(), 0);
    // One more: the connection that has waited longest for nothing makes way.
    senders.push_back(Connect());
    senders.back()->Send(Post(Path(), R"({"symbol":"B"})"));
    QTRY_COMPARE(senders.back()->Responses.size(), size_t(1));
    QCOMPARE(senders.back()->Responses[0].Status, 202);
    QTRY_VERIFY(senders.front()->Closed());
    QCOMPARE(Server->ConnectionCount(), TInboxServer::MaxConnections);

    // All of them in the middle of a request: the newcomer is told to come back.
    const QByteArray head =
        "POST " + Path() + " HTTP/1.1\r\nHost: x\r\nContent-Length: 20\r\n\r\n{";
    for (size_t i = 1; i < senders.size(); ++i)
        senders[i]->Send(head);
    QTest::qWait(100);
    TSender late(Server->Port());
    late.Send(Post(Path(), R"({"symbol":"C"})"));
    QTRY_COMPARE(late.Responses.size(), size_t(1));
    QCOMPARE(late.Responses[0].Status, 429);
    QCOMPARE(late.Responses[0].Header("Retry-After"), QByteArray("1"));
    QTRY_VERIFY(late.Closed());
    QCOMPARE(Sink.Alerts.size(), TInboxServer::MaxConnections + 1);
}

void TInboxServerTest::strangerMustSendItsHeadSoon() {
    Server->SetHeadTimeoutMs(300);
    QElapsedTimer clock;
    clock.start();
    TSender silent(Server->Port());
    TSender dribbler(Server->Port());
    dribbler.Send("POST " + Path() + " HTTP/1.1\r\n");
    for (int i = 0; i < 4; ++i) {
        QTest::qWait(100);
        dribbler.Send("X-A: 1\r\n"); // more bytes buy no more time
    }
    QTRY_VERIFY(silent.Closed());
    QTRY_COMPARE(dribbler.Responses.size(), size_t(1));
    QCOMPARE(dribbler.Responses[0].Status, 408);
    QVERIFY2(clock.elapsed() >= 280 && clock.elapsed() < 1500,
             qPrintable(QString::number(clock.elapsed())));
    // Each next request of a stranger has the same short time; a sender with the token keeps
    // its connection for the idle time.
    TSender stranger(Server->Port());
    stranger.Send(Post("/other", "{}"));
    TSender owner(Server->Port());
    owner.Send(Post(Path(), R"({"symbol":"A"})"));
    QTRY_COMPARE(owner.Responses.size(), size_t(1));
    QTRY_COMPARE(stranger.Responses.size(), size_t(1));
    QCOMPARE(stranger.Responses[0].Status, 404);
    QTRY_VERIFY(stranger.Closed());
    QTest::qWait(400);
    QVERIFY(!owner.Closed());
    owner.Send(Post(Path(), R"({"symbol":"B"})"));
    QTRY_COMPARE(owner.Responses.size(), size_t(2));
    QCOMPARE(owner.Responses[1].Status, 202);
}

void TInboxServerTest::slowRequestIsEnded() {
    Server->SetRequestTimeoutMs(300);
    Server->SetIdleTimeoutMs(600);
    TSender slow(Server->Port());
    QElapsedTimer clock;
    clock.start();
    slow.Send("POST " + Path() + " HTTP/1.1\r\nHost: x\r\n");
    // Dribbling more does not buy time: the limit counts from the first byte.
    QTest::qWait(150);
    slow.Send("X-A: 1\r\n");
    QTRY_COMPARE(slow.Responses.size(), size_t(1));
    QCOMPARE(slow.Responses[0].Status, 408);
    QVERIFY(clock.elapsed() >= 280 && clock.elapsed() < 2000);
    QTRY_VERIFY(slow.Closed());

    // A connection that sends nothing is let go after the idle time.
    TSender idle(Server->Port());
    QTRY_COMPARE(Server->ConnectionCount(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(idle.Closed(), 3000);
    QCOMPARE(Server->ConnectionCount(), 0);
    QCOMPARE(Sink.Offers, 0);
}

void TInboxServerTest::portInUseIsTold() {
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost, 0));
    TInboxServer second;
    QVERIFY(!second.Listen(other.serverPort()));
    QCOMPARE(second.Problem(),
             QStringLiteral("port %1 is in use by another program").arg(other.serverPort()));
    QVERIFY(!second.IsListening());
    QCOMPARE(TInboxServer::PortProblem(other.serverPort()), second.Problem());
    // Moving to it fails, and the port that works goes on with its connections.
    const quint16 working = Server->Port();
    TSender kept(working);
    kept.Send(Post(Path(), R"({"symbol":"A"})"));
    QTRY_COMPARE(kept.Responses.size(), size_t(1));
    QVERIFY(!Server->Listen(other.serverPort()));
    QCOMPARE(Server->Port(), working);
    kept.Send(Post(Path(), R"({"symbol":"B"})"));
    QTRY_COMPARE(kept.Responses.size(), size_t(2));
    QCOMPARE(kept.Responses[1].Status, 202);
    QCOMPARE(Ask(Post(Path(), R"({"symbol":"C"})")).Status, 202);
    Server->Close();
    QVERIFY(!Server->IsListening());
    QCOMPARE(Server->Port(), quint16(0));
}

QTEST_MAIN(TInboxServerTest)
#include "tst_inbox_server.moc"
