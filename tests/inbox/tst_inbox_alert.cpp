#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "inbox/zkInboxAlert.h"
#include "inbox/zkInboxHttp.h"
#include "zkTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

using zkInbox::ParseInboxBody;
using TKind = TInboxError::TKind;

namespace {

TInboxParseResult Parse(const QByteArray& body, const QByteArray& type = "application/json",
                        const QByteArray& query = QByteArray()) {
    return ParseInboxBody(body, type, query);
}

const QString NoSymbol =
    QStringLiteral("the text names no symbol: start it with the symbol (AAPL or NASDAQ:AAPL), add "
                   "?symbol=AAPL to the webhook's address, or send JSON with a \"symbol\"");

QStringList Symbols(const TInboxParseResult& r) {
    QStringList symbols;
    for (const TInboxAlert& a : r.Alerts)
        symbols << a.Symbol;
    return symbols;
}

} // namespace

class TInboxAlertTest : public QObject {
    Q_OBJECT

private slots:
    void everyBodyForm();
    void fieldValues();
    void badItemRefusesTheWholeRequest_data();
    void badItemRefusesTheWholeRequest();
    void lookAlikeText();
    void textMessages();
    void symbolFromFirstWord_data();
    void symbolFromFirstWord();
    void chartingSiteFields();
    void byteOrderMark();
    void defaultsFromAnotherSource();
    void tooManyAlertsIsItsOwnKind();
    void malformedUtf8();
    void requestHeads();
    void requestHeadArrivingInPieces();
    void badRequestHeads_data();
    void badRequestHeads();
    void settingsAndToken();
};

void TInboxAlertTest::everyBodyForm() {
    const TInboxParseResult object = Parse(R"({"symbol":" AAPL ","price":189.5})");
    QVERIFY2(object.Ok(), qPrintable(object.Error.Message));
    QCOMPARE(Symbols(object), QStringList{"AAPL"});
    QCOMPARE(object.Alerts[0].Price, 189.5);
    QVERIFY(object.Alerts[0].HasPrice);
    QCOMPARE(object.Alerts[0].Strategy, QStringLiteral("Inbox"));

    const TInboxParseResult array = Parse(R"([{"symbol":"A"},{"symbol":"B","strategy":"*"}])");
    QCOMPARE(Symbols(array), (QStringList{"A", "B"}));
    QCOMPARE(array.Alerts[1].Strategy, QStringLiteral("*"));

    // JSON lines, with blank lines and CRLF, whatever the type says (charting sites say
    // text/plain), and under the JSON-lines types.
    const QByteArray lines = "{\"symbol\":\"A\"}\r\n\r\n  \n{\"symbol\":\"B\"}\n";
    QCOMPARE(Symbols(Parse(lines, "text/plain; charset=utf-8")), (QStringList{"A", "B"}));
    QCOMPARE(Symbols(Parse(lines, "application/x-ndjson")), (QStringList{"A", "B"}));
    QCOMPARE(Symbols(Parse("{\"symbol\":\"A\"}", "application/x-ndjson")), QStringList{"A"});

    const TInboxParseResult form =
        Parse("symbol=BRK.B&price=12.25&message=Gap+up%20%E2%82%AC&strategy=My+scan&symbol=X",
              "Application/X-WWW-Form-Urlencoded; charset=UTF-8");
    QVERIFY2(form.Ok(), qPrintable(form.Error.Message));
    QCOMPARE(Symbols(form), QStringList{"BRK.B"}); // the first of a repeated field
    QCOMPARE(form.Alerts[0].Price, 12.25);
    QCOMPARE(form.Alerts[0].Description, QString::fromUtf8("Gap up €"));
    QCOMPARE(form.Alerts[0].Strategy, QStringLiteral("My scan"));

    // curl -d sends JSON labelled as a form.
    QCOMPARE(Symbols(Parse(" {\"symbol\":\"J\"}", "application/x-www-form-urlencoded")),
             QStringList{"J"});

    const TInboxParseResult query = Parse("", "", "symbol=MSFT&skip=1&text=Hi");
    QCOMPARE(Symbols(query), QStringList{"MSFT"});
    QVERIFY(query.Alerts[0].Skip);
    QCOMPARE(query.Alerts[0].Description, QStringLiteral("Hi"));
    QVERIFY(!query.Alerts[0].HasPrice);

    // With a body, the query's strategy is the default of items naming none.
    const TInboxParseResult defaulted = Parse(R"([{"symbol":"A"},{"symbol":"B","strategy":"Own"}])",
                                              "application/json", "strategy=Breakouts");
    QCOMPARE(defaulted.Alerts[0].Strategy, QStringLiteral("Breakouts"));
    QCOMPARE(defaulted.Alerts[1].Strategy, QStringLiteral("Own"));
}

void TInboxAlertTest::fieldValues() {
    const TInboxParseResult r = Parse(
        R"([{"symbol":"A","price":"  42.5 ","description":"two\r\nlines\tand tab","extra":[1]},
            {"symbol":"B","price":null,"message":"m","text":"t","skip":true},
            {"symbol":"C","price":0,"text":"t","skip":"FALSE"},
            {"symbol":"D","price":"","skip":0.5,"description":"d","message":"m"},
            {"symbol":"E","price":1e12,"skip":0}])");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(r.Alerts.size(), 5);
    QCOMPARE(r.Alerts[0].Price, 42.5);
    // Line breaks become blanks, a tab stays.
    QCOMPARE(r.Alerts[0].Description, QStringLiteral("two lines\tand tab"));
    QVERIFY(!r.Alerts[1].HasPrice);
    QCOMPARE(r.Alerts[1].Description, QStringLiteral("m")); // message before text
    QVERIFY(r.Alerts[1].Skip);
    QVERIFY(r.Alerts[2].HasPrice);
    QCOMPARE(r.Alerts[2].Price, 0.0);
    QCOMPARE(r.Alerts[2].Description, QStringLiteral("t"));
    QVERIFY(!r.Alerts[2].Skip);
    QVERIFY(!r.Alerts[3].HasPrice);
    QCOMPARE(r.Alerts[3].Description, QStringLiteral("d")); // description first
    QVERIFY(r.Alerts[3].Skip);
    QCOMPARE(r.Alerts[4].Price, 1e12);
    QVERIFY(!r.Alerts[4].Skip);

    // The limits themselves are allowed.
    const QString symbol(zkInbox::MaxSymbolChars, QLatin1Char('S'));
    const QString description(zkInbox::MaxDescriptionBytes / 2, QChar(0x00e9)); // 2 bytes each
    const TInboxParseResult limits = Parse(
        QJsonDocument(QJsonObject{{"symbol", symbol}, {"description", description}}).toJson());
    QVERIFY2(limits.Ok(), qPrintable(limits.Error.Message));
    QCOMPARE(limits.Alerts[0].Description, description);
}

void TInboxAlertTest::badItemRefusesTheWholeRequest_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QString>("message");
    const QByteArray json = "application/json";
    const QByteArray good = R"({"symbol":"OK"},)";
    QTest::newRow("no symbol") << QByteArray("[" + good + R"({"price":1}])") << json
                               << R"(item 2: "symbol" is missing)";
    QTest::newRow("symbol number")
        << QByteArray(R"({"symbol":7})") << json << R"("symbol" is not text)";
    QTest::newRow("symbol blank") << QByteArray(R"({"symbol":"  "})") << json
                                  << R"("symbol" is empty)";
    QTest::newRow("symbol long") << QByteArray(R"({"symbol":")" + QByteArray(65, 'x') + "\"}")
                                 << json << R"("symbol" is longer than 64 characters)";
    QTest::newRow("symbol control") << QByteArray(R"({"symbol":"A\u0007B"})") << json
                                    << R"("symbol" holds a control character)";
    QTest::newRow("symbol newline")
        << QByteArray(R"({"symbol":"A\nB"})") << json << R"("symbol" holds a control character)";
    // Names are matched and sent on exactly: nothing in them may hide, join or reorder text.
    QTest::newRow("symbol right-to-left override")
        << QByteArray(R"({"symbol":"\u202eLPAA"})") << json
        << R"("symbol" holds an invisible formatting character (U+202E))";
    QTest::newRow("symbol zero width space")
        << QByteArray(R"({"symbol":"AA\u200bPL"})") << json
        << R"("symbol" holds an invisible formatting character (U+200B))";
    QTest::newRow("symbol byte order mark inside")
        << QByteArray("{\"symbol\":\"AA\xEF\xBB\xBFPL\"}") << json
        << R"("symbol" holds an invisible formatting character (U+FEFF))";
    QTest::newRow("symbol language tag")
        << QByteArray(R"({"symbol":"AAPL\udb40\udc01"})") << json
        << R"("symbol" holds an invisible formatting character (U+E0001))";
    QTest::newRow("symbol line separator")
        << QByteArray(R"({"symbol":"AA\u2028PL"})") << json
        << R"("symbol" holds an invisible formatting character (U+2028))";
    // Characters that show as nothing or as a blank that is not a space, though not formatting.
    QTest::newRow("symbol variation selector")
        << QByteArray(R"({"symbol":"AAPL\ufe0f"})") << json
        << R"("symbol" holds a character that does not show (U+FE0F))";
    QTest::newRow("symbol grapheme joiner")
        << QByteArray(R"({"symbol":"AA\u034fPL"})") << json
        << R"("symbol" holds a character that does not show (U+034F))";
    QTest::newRow("symbol hangul filler")
        << QByteArray(R"({"symbol":"AAPL\u3164"})") << json
        << R"("symbol" holds a character that does not show (U+3164))";
    QTest::newRow("symbol mongolian variation selector")
        << QByteArray(R"({"symbol":"AAPL\u180b"})") << json
        << R"("symbol" holds a character that does not show (U+180B))";
    QTest::newRow("strategy braille blank")
        << QByteArray(R"({"symbol":"X","strategy":"T\u2800"})") << json
        << R"("strategy" holds a character that does not show (U+2800))";
    QTest::newRow("ticker supplementary variation selector")
        << QByteArray(R"({"ticker":"AAPL\udb40\udd00"})") << json
        << R"("ticker" holds a character that does not show (U+E0100))";
    QTest::newRow("symbol lone surrogate")
        << QByteArray(R"({"symbol":"A\ud800B"})") << json
        << R"("symbol" holds a lone surrogate (not valid Unicode))";
    QTest::newRow("symbol lone low surrogate")
        << QByteArray(R"({"symbol":"\udc00"})") << json
        << R"("symbol" holds a lone surrogate (not valid Unicode))";
    QTest::newRow("strategy isolate")
        << QByteArray(R"({"symbol":"X","strategy":"Gap\u2066Up\u2069"})") << json
        << R"("strategy" holds an invisible formatting character (U+2066))";
    QTest::newRow("strategy mark")
        << QByteArray(R"({"symbol":"X","strategy":"Gap\u200fUp"})") << json
        << R"("strategy" holds an invisible formatting character (U+200F))";
    QTest::newRow("price text") << QByteArray("[" + good + good +
                                              R"({"symbol":"X","price":"abc"}])")
                                << json << R"(item 3: "price" is not a number)";
    QTest::newRow("price NaN") << QByteArray(R"({"symbol":"X","price":"NaN"})") << json
                               << R"("price" is not a number)";
    QTest::newRow("price inf text")
        << QByteArray(R"({"symbol":"X","price":"inf"})") << json << R"("price" is not a number)";
    QTest::newRow("price hex") << QByteArray(R"({"symbol":"X","price":"0x10"})") << json
                               << R"("price" is not a number)";
    QTest::newRow("price bool") << QByteArray(R"({"symbol":"X","price":true})") << json
                                << R"("price" is not a number)";
    QTest::newRow("price huge") << QByteArray(R"({"symbol":"X","price":1.5e12})") << json
                                << R"("price" is too large (over 1e12))";
    QTest::newRow("price overflow text") << QByteArray(R"({"symbol":"X","price":"1e400"})") << json
                                         << R"("price" is too large (over 1e12))";
    QTest::newRow("price negative")
        << QByteArray(R"({"symbol":"X","price":-0.01})") << json << R"("price" is negative)";
    QTest::newRow("description long")
        << QByteArray(R"({"symbol":"X","text":")" + QByteArray(4097, 'd') + "\"}") << json
        << R"("text" is longer than 4096 bytes of UTF-8)";
    QTest::newRow("description control") << QByteArray(R"({"symbol":"X","message":"a\u001bb"})")
                                         << json << R"("message" holds a control character)";
    QTest::newRow("description object") << QByteArray(R"({"symbol":"X","description":{}})") << json
                                        << R"("description" is not text)";
    QTest::newRow("strategy empty")
        << QByteArray(R"({"symbol":"X","strategy":" "})") << json << R"("strategy" is empty)";
    QTest::newRow("strategy long")
        << QByteArray(R"({"symbol":"X","strategy":")" + QByteArray(65, 's') + "\"}") << json
        << R"("strategy" is longer than 64 characters)";
    QTest::newRow("skip word") << QByteArray(R"({"symbol":"X","skip":"maybe"})") << json
                               << R"("skip" is not true, false or a number)";
    QTest::newRow("array item") << QByteArray("[" + good + "3]") << json
                                << "item 2: not a JSON object";
    QTest::newRow("bad line") << QByteArray("{\"symbol\":\"A\"}\n[1]\n") << json
                              << "line 2: not a JSON object";
    QTest::newRow("line field") << QByteArray("{\"symbol\":\"A\"}\n\n{\"price\":1}\n") << json
                                << R"(line 3: "symbol" is missing)";
    // Text is one alert, but these name no symbol to show it under.
    QTest::newRow("not JSON") << QByteArray("symbol AAPL") << json << NoSymbol;
    QTest::newRow("broken JSON")
        << QByteArray(R"({"symbol": })") << json
        << "the body is not valid JSON (object is missing after a comma at byte 12)";
    QTest::newRow("scalar") << QByteArray("\"AAPL\"") << json << NoSymbol;
    QTest::newRow("empty array") << QByteArray("[]") << json << "no alert in the request";
    QTest::newRow("nothing") << QByteArray(" \r\n") << json << "no alert in the request";
    QTest::newRow("form price") << QByteArray("symbol=A&price=1%2C5")
                                << QByteArray("application/x-www-form-urlencoded")
                                << R"("price" is not a number)";
}

void TInboxAlertTest::lookAlikeText() {
    // The limits count characters: 64 outside the Basic Multilingual Plane fit, 65 do not.
    const QString astral = QString::fromUcs4(U"\U0001D400");
    const auto alert = [](const QString& symbol, const QString& strategy) {
        return Parse(
            QJsonDocument(QJsonObject{{"symbol", symbol}, {"strategy", strategy}}).toJson());
    };
    const TInboxParseResult wide = alert(astral.repeated(64), astral.repeated(64));
    QVERIFY2(wide.Ok(), qPrintable(wide.Error.Message));
    QCOMPARE(wide.Alerts[0].Symbol, astral.repeated(64));
    QCOMPARE(alert(astral.repeated(65), "S").Error.Message,
             QStringLiteral("\"symbol\" is longer than 64 characters"));
    QCOMPARE(alert("X", astral.repeated(65)).Error.Message,
             QStringLiteral("\"strategy\" is longer than 64 characters"));
    // A strategy in the query is a name like any other.
    QCOMPARE(
        Parse(R"({"symbol":"X"})", "application/json", "strategy=Gap%E2%80%8DUp").Error.Message,
        QStringLiteral("query: \"strategy\" holds an invisible formatting character "
                       "(U+200D)"));

    // A description shows what it says in the order it says it: formatting characters go, a
    // lone surrogate shows as U+FFFD, line and paragraph separators as a blank; an emoji stays.
    const TInboxParseResult r = Parse(
        R"([{"symbol":"A","description":"\u202eevil\u202c \u2066x\u2069 \u200bzero\ufeff"},
            {"symbol":"B","description":"half \ud83d pair \ud83d\udcc8 up\u2028two\u2029three"},
            {"symbol":"C","description":"\u200e\u200f"}])");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(r.Alerts[0].Description, QStringLiteral("evil x zero"));
    QCOMPARE(r.Alerts[1].Description,
             QString::fromUtf8("half \uFFFD pair \U0001F4C8 up two three"));
    QCOMPARE(r.Alerts[2].Description, QString());
}

void TInboxAlertTest::textMessages() {
    // A charting site's plain-text message: one alert, the whole text its description.
    TInboxParseResult r =
        Parse("NASDAQ:AAPL Crossing 189.50\r\nOn the 1h chart ", "text/plain; charset=utf-8");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(Symbols(r), QStringList{"AAPL"});
    QCOMPARE(r.Alerts[0].Description,
             QStringLiteral("NASDAQ:AAPL Crossing 189.50 On the 1h chart"));
    QCOMPARE(r.Alerts[0].Strategy, QStringLiteral("Inbox"));
    QVERIFY(!r.Alerts[0].HasPrice);

    // The query names the symbol and the window; its symbol wins over the first word.
    r = Parse("Buy signal on the daily", "text/plain", "symbol=BRK.B&strategy=Charts");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(Symbols(r), QStringList{"BRK.B"});
    QCOMPARE(r.Alerts[0].Strategy, QStringLiteral("Charts"));
    QCOMPARE(Symbols(Parse("MSFT up", "text/plain", "symbol=IBM")), QStringList{"IBM"});

    // Whatever the type: JSON's, a form's ("curl -d" labels text so), JSON lines', none.
    for (const QByteArray type : {"application/json", "application/x-www-form-urlencoded",
                                  "application/x-ndjson", "", "application/octet-stream"}) {
        r = Parse("TSLA up 5% = big", type);
        QVERIFY2(r.Ok(), type + ": " + r.Error.Message.toUtf8());
        QCOMPARE(Symbols(r), QStringList{"TSLA"});
        QCOMPARE(r.Alerts[0].Description, QStringLiteral("TSLA up 5% = big"));
    }
    // A form with an alert's field names stays a form.
    QCOMPARE(Symbols(Parse("ticker=IBM&note=x", "application/x-www-form-urlencoded")),
             QStringList{"IBM"});

    // Text that begins with a bracket is text when it is not JSON, and JSON gone wrong tells both
    // readings; labelled JSON is read as JSON only.
    r = Parse("[Long] entry filled", "text/plain", "symbol=ES1!");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(r.Alerts[0].Description, QStringLiteral("[Long] entry filled"));
    r = Parse(R"({"symbol": })", "text/plain");
    QCOMPARE(r.Error.Message,
             QStringLiteral("the body is not valid JSON (object is missing after a comma at byte "
                            "12); read as text, ") +
                 NoSymbol);
    QCOMPARE(Parse(R"({"symbol": })", "application/json", "symbol=A").Error.Message,
             QStringLiteral("the body is not valid JSON (object is missing after a comma at byte "
                            "12)"));
    // JSON lines are still told line by line.
    QCOMPARE(Parse("{\"symbol\":\"A\"}\n{\"price\":1}", "text/plain").Error.Message,
             QStringLiteral("line 2: \"symbol\" is missing"));

    // The description's rules hold for text.
    r = Parse("GOOG \xE2\x80\xAEpu\xE2\x80\xAC ok\tgo", "text/plain");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(r.Alerts[0].Description, QStringLiteral("GOOG pu ok\tgo"));
    QCOMPARE(Parse(QByteArray("GOOG a\x1b") + 'b', "text/plain").Error.Message,
             QStringLiteral("the text holds a control character"));
    QVERIFY(Parse("GOOG " + QByteArray(4091, 'x'), "text/plain").Ok());
    QCOMPARE(Parse("GOOG " + QByteArray(4092, 'x'), "text/plain").Error.Message,
             QStringLiteral("the text is longer than 4096 bytes of UTF-8"));
    QCOMPARE(Parse("GOOG \xC3", "text/plain").Error.Message,
             QStringLiteral("the body is not valid UTF-8 (byte 5)"));

    // The query's symbol is a name like any other; without one, the answer says how to give it.
    QCOMPARE(Parse("up", "text/plain", "symbol=AA%E2%80%8BPL").Error.Message,
             QStringLiteral("query: \"symbol\" holds an invisible formatting character (U+200B)"));
    QCOMPARE(Parse("up", "text/plain", "symbol=+").Error.Message,
             QStringLiteral("query: \"symbol\" is empty"));
    r = Parse("crossing up", "text/plain");
    QCOMPARE(r.Error.Kind, TKind::BadInput);
    QCOMPARE(r.Error.Message, NoSymbol);
    // A query symbol that is not used refuses nothing.
    QVERIFY(Parse(R"({"symbol":"A"})", "application/json", "symbol=+").Ok());
}

void TInboxAlertTest::symbolFromFirstWord_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("symbol"); // empty: none
    QTest::newRow("plain") << "AAPL crossing"
                           << "AAPL";
    QTest::newRow("alone") << "  NVDA  "
                           << "NVDA";
    QTest::newRow("exchange") << "NASDAQ:AAPL, 1h: up"
                              << "AAPL";
    QTest::newRow("futures") << "CME_MINI:ES1! long"
                             << "ES1!";
    QTest::newRow("digits after exchange") << "HKEX:700 up"
                                           << "700";
    QTest::newRow("class share") << "BRK.B."
                                 << "BRK.B";
    QTest::newRow("pair") << "EUR/USD\tdown"
                          << "EUR/USD";
    QTest::newRow("index") << "^SPX new high"
                           << "^SPX";
    QTest::newRow("dotted suffix") << "BINANCE:BTCUSDT.P; funding"
                                   << "BTCUSDT.P";
    QTest::newRow("one letter") << "F up"
                                << "F";
    QTest::newRow("after a line break") << "ABC\ncrossed"
                                        << "ABC";
    QTest::newRow("word") << "Buy AAPL"
                          << "";
    QTest::newRow("lower case") << "aapl up"
                                << "";
    QTest::newRow("number") << "1,000 shares"
                            << "";
    QTest::newRow("digits alone") << "700 up"
                                  << "";
    QTest::newRow("bracket") << "[LONG] AAPL"
                             << "";
    QTest::newRow("placeholder") << "{{ticker}} up"
                                 << "";
    QTest::newRow("empty exchange") << ":AAPL up"
                                    << "";
    QTest::newRow("lower exchange") << "nasdaq:AAPL up"
                                    << "";
    QTest::newRow("colon after") << "AAPL: crossing"
                                 << "AAPL";
    QTest::newRow("two colons") << "A:B:C up"
                                << "";
    QTest::newRow("cashtag") << "$AAPL up"
                             << "";
    QTest::newRow("markup") << "<b>AAPL</b>"
                            << "";
    QTest::newRow("form-like") << "FOO=bar&X=1"
                               << "";
    QTest::newRow("too long") << QString(65, QLatin1Char('A')) << "";
    QTest::newRow("longest") << QString(64, QLatin1Char('A')) << QString(64, QLatin1Char('A'));
}

void TInboxAlertTest::symbolFromFirstWord() {
    QFETCH(QString, text);
    QFETCH(QString, symbol);
    const TInboxParseResult r = Parse(text.toUtf8(), "text/plain");
    if (symbol.isEmpty()) {
        // After what a reading as JSON found, if the text begins with a bracket.
        QVERIFY2(r.Error.Message.endsWith(NoSymbol), qPrintable(r.Error.Message));
        return;
    }
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(Symbols(r), QStringList{symbol});
    QCOMPARE(r.Alerts[0].Description, text.trimmed().replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

void TInboxAlertTest::chartingSiteFields() {
    // The names charting sites' templates use; their own fields are ignored, whatever they hold.
    TInboxParseResult r = Parse(
        R"([{"ticker":"AAPL","close":"189.5","message":"m","alert_name":"Cross",
             "exchange":"NASDAQ","time":"2024-05-01T13:30:00Z","interval":{"x":[1]},"volume":null},
            {"ticker":"B","last":2,"comment":"c","name":"Scan"},
            {"ticker":"C","close":3,"text":"t"},
            {"symbol":"D","ticker":"no","price":4,"close":"x","last":"y",
             "description":"d","comment":"no","strategy":"S","alert_name":"no","name":"no"},
            {"ticker":"E","close":null,"last":5,"alert_name":null,"name":"N"}])",
        "text/plain");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(Symbols(r), (QStringList{"AAPL", "B", "C", "D", "E"}));
    QCOMPARE(r.Alerts[0].Price, 189.5);
    QCOMPARE(r.Alerts[0].Description, QStringLiteral("m"));
    QCOMPARE(r.Alerts[0].Strategy, QStringLiteral("Cross"));
    QCOMPARE(r.Alerts[1].Price, 2.0);
    QCOMPARE(r.Alerts[1].Description, QStringLiteral("c"));
    QCOMPARE(r.Alerts[1].Strategy, QStringLiteral("Scan"));
    QCOMPARE(r.Alerts[2].Price, 3.0);
    QCOMPARE(r.Alerts[2].Strategy, QStringLiteral("Inbox"));
    // Our own names first, then the first present of the others.
    QCOMPARE(r.Alerts[3].Price, 4.0);
    QCOMPARE(r.Alerts[3].Description, QStringLiteral("d"));
    QCOMPARE(r.Alerts[3].Strategy, QStringLiteral("S"));
    QCOMPARE(r.Alerts[4].Price, 5.0);
    QCOMPARE(r.Alerts[4].Strategy, QStringLiteral("N"));

    // The same in a form, and in the query of an empty body.
    r = Parse("ticker=IBM&close=12&comment=Gap&alert_name=Forms",
              "application/x-www-form-urlencoded");
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(r.Alerts[0].Symbol, QStringLiteral("IBM"));
    QCOMPARE(r.Alerts[0].Price, 12.0);
    QCOMPARE(r.Alerts[0].Strategy, QStringLiteral("Forms"));
    QCOMPARE(Symbols(Parse("", "", "ticker=XOM")), QStringList{"XOM"});

    // Their values keep every rule, and an error names the field sent.
    const auto error = [](const QByteArray& body) { return Parse(body).Error.Message; };
    QCOMPARE(error(R"({"ticker":"AA\u200bPL"})"),
             QStringLiteral("\"ticker\" holds an invisible formatting character (U+200B)"));
    QCOMPARE(error(R"({"ticker":"A","close":"1,5"})"), QStringLiteral("\"close\" is not a number"));
    QCOMPARE(error(R"({"ticker":"A","comment":")" + QByteArray(4097, 'c') + "\"}"),
             QStringLiteral("\"comment\" is longer than 4096 bytes of UTF-8"));
    QCOMPARE(error(R"({"ticker":"A","alert_name":"Gap\u2066Up"})"),
             QStringLiteral("\"alert_name\" holds an invisible formatting character (U+2066)"));
    QCOMPARE(error(R"({"ticker":null,"exchange":"X"})"), QStringLiteral("\"symbol\" is missing"));
}

void TInboxAlertTest::byteOrderMark() {
    const QByteArray bom = "\xEF\xBB\xBF";
    for (const QByteArray type : {"text/plain", "application/json", ""}) {
        const TInboxParseResult json = Parse(bom + R"({"ticker":"AAPL","close":1})", type);
        QVERIFY2(json.Ok(), qPrintable(json.Error.Message));
        QCOMPARE(Symbols(json), QStringList{"AAPL"});
    }
    QCOMPARE(Symbols(Parse(bom + "{\"symbol\":\"A\"}\n{\"symbol\":\"B\"}", "text/plain")),
             (QStringList{"A", "B"}));
    const TInboxParseResult text = Parse(bom + "MSFT up", "text/plain");
    QVERIFY2(text.Ok(), qPrintable(text.Error.Message));
    QCOMPARE(text.Alerts[0].Description, QStringLiteral("MSFT up"));
    QCOMPARE(Symbols(Parse(bom + "symbol=IBM", "application/x-www-form-urlencoded")),
             QStringList{"IBM"});
    // A mark alone is an empty body; offsets count it, as the sender's bytes do.
    QCOMPARE(Symbols(Parse(bom, "text/plain", "symbol=Q")), QStringList{"Q"});
    QCOMPARE(Parse(bom + "A\xFF").Error.Message,
             QStringLiteral("the body is not valid UTF-8 (byte 4)"));
    // Only one, at the start, is taken off: another is a formatting character of the text.
    QCOMPARE(Parse(bom + bom + "{\"symbol\":\"A\"}", "application/json").Error.Message, NoSymbol);
}

void TInboxAlertTest::defaultsFromAnotherSource() {
    // A broker's message: the topic's last level is the strategy of alerts that name none.
    TInboxDefaults topic;
    topic.Strategy = QStringLiteral("Scanner");
    topic.Origin = QStringLiteral("topic");
    TInboxParseResult r = zkInbox::ParseInboxMessage(
        R"([{"symbol":"A"},{"symbol":"B","strategy":"Own"}])", QByteArray(), topic);
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(r.Alerts[0].Strategy, QStringLiteral("Scanner"));
    QCOMPARE(r.Alerts[1].Strategy, QStringLiteral("Own"));
    r = zkInbox::ParseInboxMessage("AMD breakout", QByteArray(), topic);
    QVERIFY2(r.Ok(), qPrintable(r.Error.Message));
    QCOMPARE(Symbols(r), QStringList{"AMD"});
    QCOMPARE(r.Alerts[0].Strategy, QStringLiteral("Scanner"));

    topic.Strategy = QStringLiteral("Gap\u202eUp");
    QCOMPARE(zkInbox::ParseInboxMessage(R"({"symbol":"A"})", QByteArray(), topic).Error.Message,
             QStringLiteral("topic: \"strategy\" holds an invisible formatting character "
                            "(U+202E)"));
    // A blank message is no alert: there is no query to take one from.
    QCOMPARE(zkInbox::ParseInboxMessage(" \n", QByteArray(), TInboxDefaults()).Error.Message,
             QStringLiteral("no alert in the request"));
}

void TInboxAlertTest::badItemRefusesTheWholeRequest() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, type);
    QFETCH(QString, message);
    const TInboxParseResult r = Parse(body, type);
    QVERIFY(!r.Ok());
    QCOMPARE(r.Error.Kind, TKind::BadInput);
    QCOMPARE(r.Error.Message, message);
    QVERIFY(r.Alerts.isEmpty());
}

void TInboxAlertTest::tooManyAlertsIsItsOwnKind() {
    QByteArray lines;
    for (int i = 0; i < 10000; ++i)
        lines += "{\"symbol\":\"S" + QByteArray::number(i) + "\"}\n";
    const TInboxParseResult most = Parse(lines);
    QCOMPARE(most.Alerts.size(), 10000);
    QCOMPARE(most.Alerts.last().Symbol, QStringLiteral("S9999"));
    // One more is refused as a whole, even with a bad item among them.
    const TInboxParseResult tooMany = Parse("{\"price\":\"x\"}\n" + lines);
    QCOMPARE(tooMany.Error.Kind, TKind::TooLarge);
    QCOMPARE(tooMany.Error.Message, QStringLiteral("more than 10000 alerts in one request"));
    QVERIFY(tooMany.Alerts.isEmpty());

    QByteArray array = "[";
    for (int i = 0; i <= 10000; ++i)
        array += "{\"symbol\":\"S\"},";
    array.chop(1);
    array += "]";
    QCOMPARE(Parse(array).Error.Kind, TKind::TooLarge);
}

void TInboxAlertTest::malformedUtf8() {
    using zkInbox::InvalidUtf8At;
    QCOMPARE(InvalidUtf8At("plain"), qsizetype(-1));
    QCOMPARE(InvalidUtf8At("\xE2\x82\xAC \xF0\x9F\x93\x88"), qsizetype(-1));
    QCOMPARE(InvalidUtf8At("ab\xFF"), qsizetype(2));
    QCOMPARE(InvalidUtf8At("a\xC0\xAF"), qsizetype(1));        // overlong "/"
    QCOMPARE(InvalidUtf8At("a\xED\xA0\x80"), qsizetype(1));    // a surrogate
    QCOMPARE(InvalidUtf8At("a\xE2\x82"), qsizetype(1));        // cut short
    QCOMPARE(InvalidUtf8At("\xF4\x90\x80\x80"), qsizetype(0)); // past U+10FFFF

    const TInboxParseResult body = Parse("{\"symbol\":\"A\xFF\"}");
    QCOMPARE(body.Error.Message, QStringLiteral("the body is not valid UTF-8 (byte 12)"));
    QCOMPARE(
        Parse("{\"symbol\":\"A\"}\n{\"symbol\":\"\xC3\"}", "application/x-ndjson").Error.Message,
        QStringLiteral("line 2: not valid UTF-8"));
    QCOMPARE(Parse("symbol=%FF", "application/x-www-form-urlencoded").Error.Message,
             QStringLiteral("the form is not valid UTF-8"));
    QCOMPARE(Parse("", "", "symbol=%C3%28").Error.Message,
             QStringLiteral("the query is not valid UTF-8"));
}

void TInboxAlertTest::requestHeads() {
    using namespace zkInboxHttp;
    const QByteArray request = "POST /alerts/abc?symbol=A&x=1 HTTP/1.1\r\n"
                               "Host: 127.0.0.1:8731\r\n"
                               "content-length:  12 \r\n"
                               "Content-Type: application/json\r\n"
                               "Authorization: Bearer t0k\r\n"
                               "Expect: 100-continue\r\n"
                               "Connection: Upgrade, close\r\n\r\nBODY";
    THttpRequestHead head;
    qsizetype scan = 0, bytes = 0;
    QCOMPARE(ParseRequestHead(request, 16384, scan, head, bytes, nullptr), THeadStatus::Complete);
    QCOMPARE(bytes, request.size() - 4);
    QCOMPARE(head.Method, QByteArray("POST"));
    QCOMPARE(head.Path, QByteArray("/alerts/abc"));
    QCOMPARE(head.Query, QByteArray("symbol=A&x=1"));
    QCOMPARE(head.ContentLength, qint64(12));
    QCOMPARE(head.ContentType, QByteArray("application/json"));
    QCOMPARE(head.Authorization, QByteArray("Bearer t0k"));
    QVERIFY(head.ExpectContinue);
    QVERIFY(!head.KeepAlive);

    // Bare line feeds; HTTP/1.0 closes unless asked to keep alive.
    scan = 0;
    QCOMPARE(ParseRequestHead("GET / HTTP/1.0\n\n", 100, scan, head, bytes, nullptr),
             THeadStatus::Complete);
    QCOMPARE(bytes, qsizetype(16));
    QVERIFY(!head.KeepAlive);
    QCOMPARE(head.ContentLength, qint64(-1));
    scan = 0;
    QCOMPARE(ParseRequestHead("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", 100, scan, head,
                              bytes, nullptr),
             THeadStatus::Complete);
    QVERIFY(head.KeepAlive);
    scan = 0;
    QCOMPARE(ParseRequestHead("GET / HTTP/1.1\r\nHost: x\r\n\r\n", 100, scan, head, bytes, nullptr),
             THeadStatus::Complete);
    QVERIFY(head.KeepAlive);

    // The absolute form a tunnel may pass on: its path and query count, as for a path alone.
    const struct {
        const char* Target;
        const char* Path;
        const char* Query;
    } absolute[] = {
        {"http://tunnel.example:443/alerts/abc?symbol=A", "/alerts/abc", "symbol=A"},
        {"HTTPS://[::1]:8731/alerts", "/alerts", ""},
        {"http://h?x=1", "/", "x=1"},
        {"http://h", "/", ""},
    };
    for (const auto& a : absolute) {
        scan = 0;
        const char* problem = nullptr;
        QCOMPARE(ParseRequestHead("POST " + QByteArray(a.Target) + " HTTP/1.1\r\nHost: h\r\n\r\n",
                                  1000, scan, head, bytes, &problem),
                 THeadStatus::Complete);
        QCOMPARE(head.Path, QByteArray(a.Path));
        QCOMPARE(head.Query, QByteArray(a.Query));
    }
}

void TInboxAlertTest::requestHeadArrivingInPieces() {
    using namespace zkInboxHttp;
    const QByteArray request = "POST /alerts HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\n\r\n{}";
    QByteArray buffer;
    qsizetype scan = 0, bytes = 0;
    THttpRequestHead head;
    THeadStatus status = THeadStatus::Incomplete;
    qsizetype i = 0;
    for (; i < request.size() && status == THeadStatus::Incomplete; ++i) {
        buffer += request[i];
        status = ParseRequestHead(buffer, 16384, scan, head, bytes, nullptr);
    }
    QCOMPARE(status, THeadStatus::Complete);
    QCOMPARE(i, request.size() - 2); // complete at the blank line's last byte, not before
    QCOMPARE(bytes, i);
    QCOMPARE(head.ContentLength, qint64(2));

    // The limit counts the whole head: one byte less than it needs is too large, whether the
    // head is whole or not.
    scan = 0;
    QCOMPARE(ParseRequestHead(request, bytes, scan, head, bytes, nullptr), THeadStatus::Complete);
    scan = 0;
    QCOMPARE(ParseRequestHead(request, bytes - 1, scan, head, bytes, nullptr),
             THeadStatus::TooLarge);
    scan = 0;
    QCOMPARE(ParseRequestHead(QByteArray(200, 'a'), 100, scan, head, bytes, nullptr),
             THeadStatus::TooLarge);
}

void TInboxAlertTest::badRequestHeads_data() {
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status");
    const int bad = int(zkInboxHttp::THeadStatus::Bad);
    QTest::newRow("no version") << QByteArray("POST /alerts\r\n\r\n") << bad;
    // Targets other than a path or an http(s) address.
    QTest::newRow("other scheme") << QByteArray("POST ftp://x/alerts HTTP/1.1\r\nHost: x\r\n\r\n")
                                  << bad;
    QTest::newRow("scheme alone") << QByteArray("POST http:// HTTP/1.1\r\nHost: x\r\n\r\n") << bad;
    QTest::newRow("absolute without host")
        << QByteArray("POST http:///alerts HTTP/1.1\r\nHost: x\r\n\r\n") << bad;
    QTest::newRow("absolute with user")
        << QByteArray("POST http://u:p@x/alerts HTTP/1.1\r\nHost: x\r\n\r\n") << bad;
    QTest::newRow("absolute with fragment")
        << QByteArray("POST http://x/alerts#f HTTP/1.1\r\nHost: x\r\n\r\n") << bad;
    QTest::newRow("absolute without Host field")
        << QByteArray("POST http://x/alerts HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("authority form")
        << QByteArray("CONNECT x:443 HTTP/1.1\r\nHost: x\r\n\r\n") << bad;
    QTest::newRow("asterisk form") << QByteArray("OPTIONS * HTTP/1.1\r\nHost: x\r\n\r\n") << bad;
    QTest::newRow("two lengths") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n"
                                               "Content-Length: 2\r\n\r\n")
                                 << bad;
    QTest::newRow("signed length")
        << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: +1\r\n\r\n") << bad;
    QTest::newRow("length and coding")
        << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n")
        << bad;
    QTest::newRow("blank before colon") << QByteArray("POST / HTTP/1.1\r\nHost : x\r\n\r\n") << bad;
    QTest::newRow("folded") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\n y\r\n\r\n") << bad;
    QTest::newRow("bare CR") << QByteArray("POST / HTTP/1.1\r\nHost: x\rEvil: 1\r\n\r\n") << bad;
    QTest::newRow("NUL in value") << QByteArray("POST / HTTP/1.1\r\nHost: x\0y\r\n\r\n", 30) << bad;
    QTest::newRow("no host") << QByteArray("POST / HTTP/1.1\r\n\r\n") << bad;
    QTest::newRow("HTTP/2") << QByteArray("POST / HTTP/2.0\r\n\r\n")
                            << int(zkInboxHttp::THeadStatus::BadVersion);
}

void TInboxAlertTest::badRequestHeads() {
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    THttpRequestHead parsed;
    qsizetype scan = 0, bytes = 0;
    const char* problem = nullptr;
    QCOMPARE(int(zkInboxHttp::ParseRequestHead(head, 16384, scan, parsed, bytes, &problem)),
             status);
    QVERIFY(problem && *problem);
}

void TInboxAlertTest::settingsAndToken() {
    TTestHome home;
    TUserStore store(home.configHome() + QStringLiteral("/store.sqlite3"));
    const TSettingsStore reg = TSettingsStore::Registry(store);
    const TInboxSettings defaults = ReadInboxSettings(reg);
    QVERIFY(!defaults.Enabled);
    QCOMPARE(defaults.Port, quint16(8731));
    QVERIFY(defaults.Token.isEmpty());
    QVERIFY(defaults.OpenNewWindows);

    TInboxSettings s;
    s.Enabled = true;
    QVERIFY(EnsureInboxToken(s));
    const QString token = s.Token;
    QVERIFY(!EnsureInboxToken(s)); // one already
    QCOMPARE(s.Token, token);
    s.Port = 9000;
    s.OpenNewWindows = false;
    WriteInboxSettings(reg, s);
    QCOMPARE(ReadIntegerValue(reg, SettingsKeyPath() + "\\Settings\\Inbox", "Port", 0), 9000);
    const TInboxSettings back = ReadInboxSettings(reg);
    QVERIFY(back.Enabled);
    QCOMPARE(back.Port, quint16(9000));
    QCOMPARE(back.Token, token);
    QVERIFY(!back.OpenNewWindows);
    QCOMPARE(InboxWebhookAddress(back), "http://127.0.0.1:9000/alerts/" + token);
    WriteIntegerValue(reg, InboxSettingsPath(), "Port", 70000);
    QCOMPARE(ReadInboxSettings(reg).Port, quint16(8731));

    TInboxSettings disabled;
    QVERIFY(!EnsureInboxToken(disabled));
    QVERIFY(disabled.Token.isEmpty());

    // Tokens: 160 bits as hex, never the same twice, every bit in use.
    const QRegularExpression hex(QStringLiteral("^[0-9a-f]{40}$"));
    QSet<QString> seen;
    QByteArray orBits(20, 0), andBits(20, char(0xff));
    for (int i = 0; i < 200; ++i) {
        const QString t = NewInboxToken();
        QVERIFY(hex.match(t).hasMatch());
        seen.insert(t);
        const QByteArray bits = QByteArray::fromHex(t.toLatin1());
        for (int k = 0; k < 20; ++k) {
            orBits[k] = char(orBits[k] | bits[k]);
            andBits[k] = char(andBits[k] & bits[k]);
        }
    }
    QCOMPARE(seen.size(), 200);
    QCOMPARE(orBits, QByteArray(20, char(0xff)));
    QCOMPARE(andBits, QByteArray(20, 0));
}

QTEST_MAIN(TInboxAlertTest)
#include "tst_inbox_alert.moc"
