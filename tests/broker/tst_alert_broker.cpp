// The broker source in-process against a real mosquitto (TLS, password file): received alerts
// reach the sink and wait while it is busy, none lost; alerts to publish wait in a bounded queue
// while no broker answers, the oldest given up and counted, and the rest go out in order once
// one does; settings that change move the connection. Symbols other devices send to the desk's
// link topic are checked, sent on once however often the broker delivers them, never when
// retained, and never taken for alerts.
#include "broker/zkAlertBroker.h"
#include "components/zkComponents.h"
#include "zkMosquitto.h"
#include "zkRecordingSink.h"
#include "zkTcpRelay.h"
#include "zkTestSupport.h"

#include <QSignalSpy>

#include <QtTest>

namespace {

TBrokerSettings SettingsFor(const TMosquitto& broker) {
    return broker.DeskSettings(
        QStringLiteral("velquist-test%1").arg(QRandomGenerator::global()->bounded(1000000)));
}

// Until the broker has answered that many subscriptions of the client (events go on meanwhile:
// a relay in this thread may carry them).
bool Subscribed(TMosquitto& broker, const QString& clientId, int count = 1, int ms = 10000) {
    return QTest::qWaitFor(
        [&] { return broker.log().count("Sending SUBACK to " + clientId.toLatin1()) >= count; },
        ms);
}

// Where other devices send symbols for the desk's lists.
QString LinkTopic(const TBrokerSettings& settings, const QString& list) {
    return QStringLiteral("velquist/desk/%1/link/%2").arg(settings.ClientId, list);
}

QStringList SentSymbols(const QSignalSpy& spy) {
    QStringList sent;
    for (const QList<QVariant>& arguments : spy)
        sent << arguments.at(0).toString() + QLatin1Char(':') + arguments.at(1).toString();
    return sent;
}

// A broker source with its sink and a real mosquitto; Start connects it with the settings
// (changed before, as a case needs) and waits until the broker answered its subscriptions.
struct TConnectedBroker {
    TMosquitto mosquitto;
    TRecordingSink sink;
    TAlertBroker broker{sink};
    TBrokerSettings settings = SettingsFor(mosquitto);

    bool Start(int subscriptions = 1) {
        if (!mosquitto.isRunning())
            return false;
        broker.Apply(settings);
        return QTest::qWaitFor(
                   [this] { return broker.State().Phase == TBrokerState::TPhase::Connected; },
                   10000) &&
               Subscribed(mosquitto, settings.ClientId, subscriptions);
    }
    QByteArray Problem() { return mosquitto.problem().toUtf8() + mosquitto.log().right(3000); }
};

} // namespace

class TAlertBrokerTest : public QObject {
    Q_OBJECT
private slots:
    void receivedAlertsWaitWhileTheRouterIsBusy() {
        TConnectedBroker c;
        c.sink.Answer = IAlertSink::TOffer::Busy;
        QVERIFY2(c.Start(), c.Problem().constData());
        TMosquitto& mosquitto = c.mosquitto;
        TRecordingSink& sink = c.sink;
        TAlertBroker& broker = c.broker;
        TBrokerSettings& settings = c.settings;
        QCOMPARE(broker.StatusText(), QString("Connected to 127.0.0.1:%1").arg(mosquitto.port()));

        QVERIFY(mosquitto.publish("velquist/alerts/Busy", R"({"symbol": "A"})"));
        QTRY_VERIFY(sink.Offers >= 1);
        // Held by the broker while the router is busy; the connection's count still moves.
        for (const char* symbol : {"B", "C"})
            QVERIFY(mosquitto.publish("velquist/alerts/Busy",
                                      R"({"symbol": ")" + QByteArray(symbol) + R"("})"));
        QTRY_COMPARE(broker.State().Received, quint64(3));
        QVERIFY(sink.Offers >= 2); // offered, refused, offered again
        QVERIFY(sink.Alerts.isEmpty());
        sink.Answer = IAlertSink::TOffer::Accepted;
        QTRY_COMPARE(sink.Alerts.size(), 3);
        QStringList symbols;
        for (const TSourceAlert& a : sink.Alerts) {
            symbols << a.Symbol;
            QCOMPARE(a.Strategy, QString("Busy"));
            QVERIFY(a.FromBroker);
        }
        QCOMPARE(symbols, QStringList({"A", "B", "C"}));
        QCOMPARE(broker.State().Received, quint64(3));

        // Another topic filter: the new connection gives the old subscription up.
        TBrokerSettings other = settings;
        other.Topic = QStringLiteral("elsewhere/#");
        broker.Apply(other);
        QTRY_COMPARE(broker.State().Phase, TBrokerState::TPhase::Connected);
        QTRY_VERIFY(
            mosquitto.log().contains("Received UNSUBSCRIBE from " + settings.ClientId.toLatin1()));
        QVERIFY(mosquitto.publish("velquist/alerts/Busy", R"({"symbol": "OLD"})"));
        QVERIFY(mosquitto.publish("elsewhere/Now", R"({"symbol": "NEW"})"));
        QTRY_COMPARE(sink.Alerts.size(), 4);
        QCOMPARE(sink.Alerts.last().Symbol, QString("NEW"));

        broker.Apply(TBrokerSettings());
        QVERIFY(!broker.IsEnabled());
        QCOMPARE(broker.StatusText(), QString("Not connected: alerts from a broker are off"));
    }

    // A flood the router could not take at first goes to it in offers of at most
    // MaxOfferedPerTurn, in order; closing while some still wait hands those over at once.
    void aFloodIsOfferedInBoundedTurns() {
        TConnectedBroker c;
        c.sink.Answer = IAlertSink::TOffer::Busy;
        QVERIFY2(c.Start(), c.Problem().constData());
        TMosquitto& mosquitto = c.mosquitto;
        TRecordingSink& sink = c.sink;
        TAlertBroker& broker = c.broker;

        constexpr int Flood = 2500;
        const auto publish = [&](int first) {
            QList<QByteArray> payloads;
            for (int n = first; n < first + Flood; ++n)
                payloads << "{\"symbol\": \"S" + QByteArray::number(n) + "\"}";
            auto publisher =
                mosquitto.startPublishing(QStringLiteral("velquist/alerts/F"), payloads);
            return publisher->waitForFinished(60000) && publisher->exitCode() == 0;
        };
        // The first count alerts taken are S0, S1, ... in order, with none missing between.
        const auto inOrder = [&sink](int count) {
            for (int n = 0; n < count; ++n)
                if (sink.Alerts.value(n).Symbol != QStringLiteral("S%1").arg(n))
                    return false;
            return true;
        };
        // While the router is busy the broker holds what it took and leaves the rest with the
        // connection; once it has offered, the router takes the flood.
        QVERIFY(publish(0));
        QTRY_VERIFY(sink.Offers > 0);
        sink.Answer = IAlertSink::TOffer::Accepted;
        QTRY_COMPARE_WITH_TIMEOUT(sink.Alerts.size(), Flood, 60000);
        QVERIFY(inOrder(Flood));
        QVERIFY2(sink.Taken.size() >= 3, qPrintable(QString::number(sink.Taken.size())));
        for (qsizetype offer : std::as_const(sink.Taken))
            QVERIFY2(offer <= TAlertBroker::MaxOfferedPerTurn, qPrintable(QString::number(offer)));

        // Closing with a flood held hands over what it holds at once, in order.
        sink.Answer = IAlertSink::TOffer::Busy;
        const int offersBefore = sink.Offers;
        QVERIFY(publish(Flood));
        QTRY_VERIFY(sink.Offers > offersBefore);
        sink.Answer = IAlertSink::TOffer::Accepted;
        broker.Close(); // no turn of the event loop in between
        QVERIFY2(sink.Alerts.size() > Flood && sink.Alerts.size() <= 2 * Flood,
                 qPrintable(QString::number(sink.Alerts.size())));
        QVERIFY(inOrder(int(sink.Alerts.size())));
    }

    void symbolsSentToTheDeskAreCheckedAndNeverRetainedOnes() {
        TConnectedBroker c;
        TMosquitto& mosquitto = c.mosquitto;
        TRecordingSink& sink = c.sink;
        TAlertBroker& broker = c.broker;
        TBrokerSettings& settings = c.settings;
        // Every topic: the symbols' topics match the alerts' filter too, and are still no alerts.
        settings.Topic = QStringLiteral("#");
        QCOMPARE(broker.LinkTopicFilter(), QString());
        // Retained before the desk came: an old symbol, never sent on.
        QVERIFY(
            mosquitto.publish(LinkTopic(settings, "MAIN LIST"), "{\"symbol\":\"STALE\"}", {"-r"}));
        QSignalSpy sent(&broker, &TAlertBroker::SymbolSent);
        QVERIFY2(c.Start(2), c.Problem().constData());
        QCOMPARE(broker.LinkTopicFilter(), LinkTopic(settings, "+"));

        QVERIFY(mosquitto.publish(LinkTopic(settings, "MAIN LIST"), "{\"symbol\":\" AAPL \"}"));
        QTRY_COMPARE(SentSymbols(sent), QStringList{"MAIN LIST:AAPL"});

        const QList<std::pair<QString, QByteArray>> skipped = {
            {"MAIN LIST", "AAPL"},
            {"MAIN LIST", "[\"AAPL\"]"},
            {"MAIN LIST", "{\"symbol\":5}"},
            {"MAIN LIST", "{\"symbol\":\"   \"}"},
            {"MAIN LIST", "{\"symbol\":\"A\\u0007B\"}"},
            {"MAIN LIST", "{\"symbol\":\"<b>A</b>\\u202e\"}"},
            {"MAIN LIST", "{\"symbol\":\"" + QByteArray(65, 'X') + "\"}"},
            {"MAIN LIST", "{\"symbol\":\"A\",\"pad\":\"" + QByteArray(1100, ' ') + "\"}"},
            {QString("Sc") + QChar(0x2028) + "an", "{\"symbol\":\"MSFT\"}"},
        };
        for (const auto& [list, payload] : skipped)
            QVERIFY(mosquitto.publish(LinkTopic(settings, list), payload));
        // Not this desk's, or not a list of it: nothing, neither symbol nor alert.
        QVERIFY(mosquitto.publish("velquist/desk/another/link/MAIN LIST", "{\"symbol\":\"B\"}"));
        QVERIFY(mosquitto.publish(LinkTopic(settings, "Scan/deeper"), "{\"symbol\":\"C\"}"));
        // Published retained while the desk listens: left as well.
        QVERIFY(mosquitto.publish(LinkTopic(settings, "Scan"), "{\"symbol\":\"RET\"}", {"-r"}));
        QVERIFY(mosquitto.publish(LinkTopic(settings, "Scan"), "{\"symbol\":\"<i>MSFT</i>\"}"));
        QTRY_COMPARE(SentSymbols(sent).size(), 2);
        QCOMPARE(SentSymbols(sent), QStringList({"MAIN LIST:AAPL", "Scan:<i>MSFT</i>"}));
        // The retained one published live counts too.
        QCOMPARE(broker.State().LinkSkipped, quint64(skipped.size() + 1));
        QCOMPARE(broker.State().Skipped, quint64(0));
        QCOMPARE(broker.LinkRepeats(), quint64(0));
        // An alert still is one, and none of the above was.
        QVERIFY(mosquitto.publish("velquist/alerts/Scan", "{\"symbol\":\"ALERT\"}"));
        QTRY_COMPARE(sink.Alerts.size(), 1);
        QCOMPARE(sink.Alerts[0].Symbol, QString("ALERT"));
        QCOMPARE(sent.size(), 2);
    }

    void aSymbolTheBrokerSendsAgainGoesOnOnce() {
        TConnectedBroker c;
        TMosquitto& mosquitto = c.mosquitto;
        TAlertBroker& broker = c.broker;
        TBrokerSettings& settings = c.settings;
        TTcpRelay relay(mosquitto.port());
        settings.Port = relay.port();
        QSignalSpy sent(&broker, &TAlertBroker::SymbolSent);
        QVERIFY2(c.Start(2), c.Problem().constData());

        // The desk's acknowledgement never reaches the broker, then the connection breaks: the
        // broker sends the symbol again, with its packet id, to the desk's next connection.
        relay.setHoldClientBytes(true);
        QVERIFY(mosquitto.publish(LinkTopic(settings, "MAIN LIST"), R"({"symbol":"AAPL"})"));
        QTRY_COMPARE(SentSymbols(sent), QStringList{"MAIN LIST:AAPL"});
        QTest::qWait(200); // its acknowledgement went, into nothing
        relay.cutAll();
        relay.setHoldClientBytes(false);
        QTRY_VERIFY2_WITH_TIMEOUT(broker.LinkRepeats() == 1,
                                  mosquitto.log().right(3000).constData(), 15000);
        QVERIFY(relay.connections() >= 2);
        // A new tap on the same symbol is a new send.
        QVERIFY(mosquitto.publish(LinkTopic(settings, "MAIN LIST"), R"({"symbol":"AAPL"})"));
        QTRY_COMPARE(SentSymbols(sent), QStringList({"MAIN LIST:AAPL", "MAIN LIST:AAPL"}));
        QCOMPARE(broker.LinkRepeats(), quint64(1));
    }

    void publishingWaitsBoundedWhileNoBrokerAnswers() {
        TRecordingSink sink;
        TAlertBroker broker(sink);
        TBrokerSettings nowhere;
        nowhere.Enabled = true;
        nowhere.Host = QStringLiteral("127.0.0.1");
        nowhere.Port = FreePort();
        nowhere.TLS = false;
        nowhere.ClientId = QStringLiteral("velquist-bounded");
        broker.Apply(nowhere);
        QTRY_COMPARE(broker.State().Phase, TBrokerState::TPhase::Waiting);
        QVERIFY2(
            broker.StatusText().startsWith(
                QString("Not connected: 127.0.0.1:%1 refused the connection").arg(nowhere.Port)),
            qPrintable(broker.StatusText()));
        // The delay before the next attempt grows.
        QTRY_COMPARE_WITH_TIMEOUT(broker.State().RetrySeconds, 2, 5000);
        QVERIFY2(broker.StatusText().contains("; trying again in 2 s"),
                 qPrintable(broker.StatusText()));
        // Saved again unchanged: tried again at once, from the first delay.
        broker.Apply(nowhere);
        QTRY_COMPARE(broker.State().RetrySeconds, 1);

        const qsizetype extra = 5;
        QElapsedTimer clock;
        clock.start();
        for (qsizetype i = 0; i < TBrokerConnection::MaxPublishWaiting + extra; ++i)
            broker.PublishAlert("Out", TAlertData(QStringLiteral("S%1").arg(i), 0,
                                                  QDateTime::currentDateTimeUtc(), 1.5));
        // It never waited on the network (a generous bound: 10,005 queued in memory).
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(broker.State().PublishWaiting, TBrokerConnection::MaxPublishWaiting);
        QCOMPARE(broker.State().PublishGivenUp, quint64(extra));
        QVERIFY2(broker.StatusText().endsWith(
                     "; 10000 alerts wait to be published; 5 alerts could not be published"),
                 qPrintable(broker.StatusText()));

        // A broker that answers: what waited goes out, oldest first, the first five given up.
        TMosquitto mosquitto;
        QVERIFY2(mosquitto.isRunning(), qPrintable(mosquitto.problem()));
        TMosquittoSubscriber subscriber(mosquitto, "velquist/alerts/#",
                                        int(TBrokerConnection::MaxPublishWaiting));
        QVERIFY(subscriber.waitSubscribed(mosquitto));
        TBrokerSettings live = SettingsFor(mosquitto);
        live.ClientId = nowhere.ClientId;
        broker.Apply(live);
        const QList<QByteArray> lines =
            subscriber.waitLines(int(TBrokerConnection::MaxPublishWaiting), 60000);
        QCOMPARE(lines.size(), TBrokerConnection::MaxPublishWaiting);
        QVERIFY2(
            lines.first().startsWith(
                R"(velquist/alerts/Out {"description":"","desk":"velquist-bounded","price":1.5,"strategy":"Out","symbol":"S5",)"),
            lines.first().constData());
        QVERIFY2(lines.last().contains(R"("symbol":"S10004")"), lines.last().constData());
        QTRY_COMPARE(broker.State().PublishWaiting, 0);
        QCOMPARE(broker.State().PublishGivenUp, quint64(extra));
    }
};

QTEST_MAIN(TAlertBrokerTest)
#include "tst_alert_broker.moc"
