// What goes over the broker without the network: a message read into alerts (strategy from the
// payload, else the topic), this desk's own messages, an alert of ours as topic and payload
// that another desk reads back the same; and the broker's settings in the per-user store.
#include "broker/zkBrokerMessages.h"
#include "config/zkBrokerSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "zkTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace zkBroker;

class TBrokerMessagesTest : public QObject {
    Q_OBJECT
private slots:
    void strategyFromTheTopicsLastLevel() {
        QCOMPARE(StrategyFromTopic("velquist/alerts/Breakouts"), QString("Breakouts"));
        QCOMPARE(StrategyFromTopic("Gappers"), QString("Gappers"));
        QCOMPARE(StrategyFromTopic("velquist/alerts/ Spaced "), QString("Spaced"));
        // Levels that cannot name a window give none (the inbox's default applies).
        QCOMPARE(StrategyFromTopic("velquist/alerts/"), QString());
        QCOMPARE(StrategyFromTopic("velquist/alerts/*"), QString());
        QCOMPARE(StrategyFromTopic("a/" + QString(65, 'x')), QString());
        QCOMPARE(StrategyFromTopic("a/" + QString(64, 'x')), QString(64, 'x'));
        QCOMPARE(StrategyFromTopic(QString("a/Evil") + QChar(0x202E) + "txt"), QString());
        QCOMPARE(StrategyFromTopic(QString("a/Li") + QChar(0x2028) + "ne"), QString());
        QCOMPARE(StrategyFromTopic(QString("a/T") + QChar(0x2800)), QString());
        QCOMPARE(StrategyFromTopic(QString("a/Gap") + QChar(0xFE0F)), QString());
        QCOMPARE(StrategyFromTopic(QString("a/Gap") + QChar(0x3164) + "Up"), QString());
    }

    void messagesReadAsTheInboxReadsABody() {
        TReceived r = ReadMessage("velquist/alerts/Breakouts",
                                  R"({"symbol": "NVDA", "price": 912.4, "description": "High"})",
                                  {}, "velquist-me");
        QVERIFY(r.Parsed.Ok());
        QCOMPARE(r.Parsed.Alerts.size(), 1);
        const TInboxAlert& a = r.Parsed.Alerts[0];
        QCOMPARE(a.Symbol, QString("NVDA"));
        QCOMPARE(a.Price, 912.4);
        QCOMPARE(a.Description, QString("High"));
        QCOMPARE(a.Strategy, QString("Breakouts"));
        QVERIFY(a.FromBroker);

        // The payload's own strategy wins; an unusable topic level leaves the inbox's default.
        r = ReadMessage("velquist/alerts/Breakouts",
                        R"([{"symbol": "A", "strategy": "Gappers"}, {"symbol": "B"}])", {}, {});
        QCOMPARE(r.Parsed.Alerts.size(), 2);
        QCOMPARE(r.Parsed.Alerts[0].Strategy, QString("Gappers"));
        QCOMPARE(r.Parsed.Alerts[1].Strategy, QString("Breakouts"));
        QVERIFY(r.Parsed.Alerts[1].FromBroker);
        r = ReadMessage("velquist/alerts/*", R"({"symbol": "C"})", {}, {});
        QCOMPARE(r.Parsed.Alerts.value(0).Strategy, QString("Inbox"));
        // A topic level with "&" or "=" stays one strategy (it goes through a query).
        r = ReadMessage("x/Fast & Loose=1", R"({"symbol": "D"})", {}, {});
        QCOMPARE(r.Parsed.Alerts.value(0).Strategy, QString("Fast & Loose=1"));

        // Not an alert: the reason, nothing taken.
        r = ReadMessage("t/X", R"({"symbol": 5})", {}, {});
        QVERIFY(!r.Parsed.Ok());
        QVERIFY(r.Parsed.Alerts.isEmpty());
        QCOMPARE(r.Parsed.Error.Message, QString("\"symbol\" is not text"));
        r = ReadMessage("t/X", QByteArray(MaxPayloadBytes + 1, ' '), {}, {});
        QCOMPARE(r.Parsed.Error.Kind, TInboxError::TKind::TooLarge);
    }

    void ownMessagesAreNotTakenBack() {
        TPublishedAlert alert{"MSFT", 401.5, "Up", QDateTime::currentDateTimeUtc()};
        const QByteArray mine = PublishPayload("Scan", alert, "velquist-aaaaaaaaaaaa");
        QVERIFY(ReadMessage(PublishTopic("Scan"), mine, {}, "velquist-aaaaaaaaaaaa").OwnMessage);
        // Another desk's, and one that only mentions the id in its text, are taken.
        TReceived other = ReadMessage(PublishTopic("Scan"), mine, {}, "velquist-bbbbbbbbbbbb");
        QVERIFY(!other.OwnMessage);
        QCOMPARE(other.Parsed.Alerts.size(), 1);
        const QByteArray mention = R"({"symbol": "X", "description": "see velquist-aaaaaaaaaaaa"})";
        QVERIFY(!ReadMessage("t/Y", mention, {}, "velquist-aaaaaaaaaaaa").OwnMessage);
    }

    void publishedAlertsReadBackTheSameOnAnotherDesk() {
        const QDateTime time = QDateTime::fromString("2024-03-01T14:30:05.250Z", Qt::ISODateWithMs);
        TPublishedAlert alert{"BRK.B", 0.25, "Cross \"up\", 1/2", time};
        const QByteArray payload = PublishPayload("Gap/ups", alert, "velquist-0123456789ab");
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        QCOMPARE(object.value("time").toString(), QString("2024-03-01T14:30:05.250Z"));
        QCOMPARE(object.value("desk").toString(), QString("velquist-0123456789ab"));
        QCOMPARE(PublishTopic("Gap/ups"), QString("velquist/alerts/Gap_ups"));
        const TReceived r = ReadMessage(PublishTopic("Gap/ups"), payload, {}, "velquist-other");
        QVERIFY(r.Parsed.Ok());
        const TInboxAlert& a = r.Parsed.Alerts.value(0);
        QCOMPARE(a.Symbol, QString("BRK.B"));
        QCOMPARE(a.Price, 0.25);
        QCOMPARE(a.Description, QString("Cross \"up\", 1/2"));
        QCOMPARE(a.Strategy, QString("Gap_ups"));
        // No price (0, or not a number, which would make the message unreadable) is left out
        // and read back as none, never as a price of 0.
        for (const double none : {0.0, std::numeric_limits<double>::quiet_NaN()}) {
            alert.Price = none;
            const QByteArray bare = PublishPayload("Z", alert, "d");
            QVERIFY2(!QJsonDocument::fromJson(bare).object().contains("price"), bare.constData());
            const TReceived back = ReadMessage("t/Z", bare, {}, "e");
            QVERIFY(back.Parsed.Ok());
            QVERIFY(!back.Parsed.Alerts.value(0).HasPrice);
        }
    }

    void windowNamesAsTopicLevelsAndStrategies() {
        QCOMPARE(PublishedStrategy("a+b#c/d"), QString("a_b_c_d"));
        // "*" would reach every inbox window of the desks that read it.
        QCOMPARE(PublishedStrategy("*"), QString("Inbox"));
        QCOMPARE(PublishedStrategy("  "), QString("Inbox"));
        QCOMPARE(PublishedStrategy(QString(70, 'w')), QString(64, 'w'));
        // 63 letters and a character outside the BMP: 64 characters, the pair kept whole.
        const QString astral = QString(63, 'a') + QString::fromUcs4(U"\U0001F4C8") + "tail";
        QCOMPARE(PublishedStrategy(astral), QString(63, 'a') + QString::fromUcs4(U"\U0001F4C8"));
    }

    void symbolsSentToADesk() {
        QCOMPARE(LinkTopicFilter("velquist-3f9a0c12d4e7"),
                 QString("velquist/desk/velquist-3f9a0c12d4e7/link/+"));
        // A name that would make more levels or a wildcard names no topic of its own.
        for (const char* name : {"", "a/b", "a+", "#"})
            QCOMPARE(LinkTopicFilter(name), QString());

        const TLinkRead read =
            ReadLinkMessage("velquist/desk/d/link/ Gap ups ", R"({"symbol":" BRK.B ","time":"x"})");
        QVERIFY(read.Request);
        QCOMPARE(read.Request->ListName, QString("Gap ups"));
        QCOMPARE(read.Request->Symbol, QString("BRK.B"));
        // A blank list is left to the linking code's own rule (MAIN LIST).
        QCOMPARE(ReadLinkMessage("velquist/desk/d/link/ ", R"({"symbol":"A"})").Request->ListName,
                 QString());
        // The longest symbol an alert may carry, counted in characters, not UTF-16 units.
        const QString longest = QString(63, 'X') + QString::fromUcs4(U"\U0001F600", 1);
        QVERIFY(ReadLinkMessage("a/b", QJsonDocument(QJsonObject{{"symbol", longest}}).toJson())
                    .Request);
        QVERIFY(
            !ReadLinkMessage("a/b", QJsonDocument(QJsonObject{{"symbol", longest + "Y"}}).toJson())
                 .Request);
        const TLinkRead bad = ReadLinkMessage("a/b", "{");
        QVERIFY(!bad.Request);
        QVERIFY(!bad.Problem.isEmpty());
    }

    void printableText() {
        QCOMPARE(PrintableText(QString("a\nb") + QChar(0x202E) + "c"), QString("a?b?c"));
        QCOMPARE(PrintableText(QString(10, 'x'), 4), QString("xxxx..."));
    }

    void settingsInThePerUserStore() {
        TClientSandbox sandbox;
        const TSettingsStore store = TSettingsStore::Registry();
        const TBrokerSettings defaults = ReadBrokerSettings(store);
        QVERIFY(!defaults.Enabled);
        QCOMPARE(defaults.Port, quint16(8883));
        QVERIFY(defaults.TLS);
        QCOMPARE(defaults.Topic, QString("velquist/alerts/#"));
        QVERIFY(defaults.ClientId.isEmpty());

        TBrokerSettings s;
        s.Enabled = true;
        s.Host = "broker.example.com";
        s.Port = 1883;
        s.TLS = false;
        s.CAFile = "/etc/velquist/ca.pem";
        s.UserName = "desk1";
        s.Password = "p\\w;\"x";
        s.Topic = "team/+/alerts";
        QVERIFY(EnsureBrokerClientId(s));
        QVERIFY(!EnsureBrokerClientId(s)); // made once
        QVERIFY(QRegularExpression("^velquist-[0-9a-f]{12}$").match(s.ClientId).hasMatch());
        QVERIFY(s.ClientId != NewBrokerClientId());
        WriteBrokerSettings(store, s);
        QCOMPARE(ReadBrokerSettings(store), s);
        QCOMPARE(ReadStringValue(store, SettingsKeyPath() + "\\Settings\\Broker", "Password", {}),
                 s.Password);

        // A port out of range, an empty topic: the defaults.
        WriteIntegerValue(store, BrokerSettingsPath(), "Port", 70000);
        WriteStringValue(store, BrokerSettingsPath(), "Topic", "  ");
        QCOMPARE(ReadBrokerSettings(store).Port, quint16(8883));
        QCOMPARE(ReadBrokerSettings(store).Topic, QString("velquist/alerts/#"));
    }

    void loopbackHosts() {
        for (const char* host :
             {"localhost", "LOCALHOST", "127.0.0.1", "127.1.2.3", "::1", "desk.localhost"})
            QVERIFY2(IsLoopbackHost(host), host);
        for (const char* host : {"", "broker.example.com", "10.0.0.1", "localhost.example.com",
                                 "127.0.0.1.example.com"})
            QVERIFY2(!IsLoopbackHost(host), host);
        // Addresses as the resolver reads them: short and hex forms, IPv6 spellings and zones.
        for (const char* host : {"127.1", "0x7f000001", " 127.0.0.1 ", "0:0:0:0:0:0:0:1", "::1%lo",
                                 "::ffff:127.0.0.1"})
            QVERIFY2(IsLoopbackHost(host), host);
        // Not addresses at all, so names the resolver would look up elsewhere, or not loopback.
        for (const char* host : {"+127.0.0.1", "127.0.0.1 x", "127.0.0.256", "[::1]", "::2",
                                 "::ffff:10.0.0.1", "127.0.0.1%lo", "128.0.0.1"})
            QVERIFY2(!IsLoopbackHost(host), host);
    }
};

QTEST_MAIN(TBrokerMessagesTest)
#include "tst_broker_messages.moc"
