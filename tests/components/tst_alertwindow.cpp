// The simulated alert component as the client hosts it.

#include "components/zkComponentWrappers.h"
#include "components/zkSimAlertWindow.h"
#include "components/zkSimService.h"
#include "desktop/zkTheme.h"
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"
#include "zkComponentsTestUtil.h"
#include "zkContrast.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleHints>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimeZone>
#include <QToolTip>
#include <algorithm>
#include <array>

// Counts the cells the list asks the style to draw.
class TCountingStyle : public QProxyStyle {
public:
    TCountingStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_ItemViewItem)
            ++Items;
        QProxyStyle::drawControl(element, option, painter, widget);
    }
    mutable int Items = 0;
};

// The tallest part of a widget painted at once.
class TTallestPaint : public QObject {
public:
    int Tallest = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            Tallest = std::max(Tallest, static_cast<QPaintEvent*>(event)->rect().height());
        return false;
    }
};

class TAlertWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TTestHome> Home;
    std::shared_ptr<TSimService> Service;

    QString WriteFeed(const QByteArray& lines) {
        static int n = 0;
        const QString path = Home->path() + QStringLiteral("/feed%1.jsonl").arg(++n);
        WriteTextFile(path, lines);
        return path;
    }
    void UseFeed(const QByteArray& lines) {
        Service->SetPropertyByName(QStringLiteral("SimFeedFile"), WriteFeed(lines));
    }
    static TSimZentrikWindowX* Sim(const TZentrikWindowX& w) {
        return qobject_cast<TSimZentrikWindowX*>(w.Component());
    }
    static QStringList Symbols(const QSignalSpy& spy, int argument = 1) {
        QStringList result;
        for (const QList<QVariant>& call : spy)
            result << call.at(argument).value<IAlertData*>()->AlertSymbol();
        return result;
    }
    static QStringList Rows(const TSimAlertModel& model) {
        QStringList result;
        for (int r = 0; r < model.rowCount(); ++r)
            result << model.AlertAt(r)->AlertSymbol();
        return result;
    }
    static QPoint RowCenter(TSimZentrikWindowX* sim, int row) {
        return sim->View()->visualRect(sim->Model()->index(row, 1)).center();
    }

    // Collects the symbols of OnNewAlert while the alert is alive (the pointer is only good
    // during the event).
    struct TAlertLog {
        QStringList Symbols;
        QList<int32_t> Skips;
        QList<double> Prices;
        QStringList Texts;
        QList<qint64> AtMs;
    };
    static void Record(TZentrikWindowX& w, TAlertLog& log, const QElapsedTimer& clock) {
        QObject::connect(&w, &TZentrikWindowX::OnNewAlert, &w,
                         [&log, &clock](QObject*, IAlertData* alert) {
                             log.Symbols << alert->AlertSymbol();
                             log.Skips << alert->SkipFlag();
                             log.Prices << alert->Price();
                             log.Texts << alert->Description();
                             log.AtMs << clock.elapsed();
                         });
    }

private slots:
    void initTestCase() { qRegisterMetaType<IAlertData*>(); }
    void init() {
        Home = std::make_unique<TTestHome>();
        Service = FreshService();
        Service->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("0"));
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
    }
    void cleanup() {
        zkPrompts::ClearScript();
        Service.reset();
        TSimService::ResetInstance();
        Home.reset();
    }

    void windowNameComesFromDataConfig_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("name");
        QTest::newRow("encoded blank") << "WN=Running%20Up&S="
                                       << "Running Up";
        QTest::newRow("not first, plus") << "S=AAPL&WN=Gap+Up%21"
                                         << "Gap Up!";
        QTest::newRow("utf-8") << "WN=%C3%9Cber%20%E2%82%AC" << QString::fromUtf8("Über €");
        QTest::newRow("empty name") << "WN=&S=AAPL"
                                    << "";
        QTest::newRow("no WN") << "S=AAPL"
                               << "";
        QTest::newRow("key compares exactly") << "XWN=a&wn=b"
                                              << "";
        QTest::newRow("raw characters kept") << "WN=A%2FB%3AC"
                                             << "A/B:C";
    }
    void windowNameComesFromDataConfig() {
        QFETCH(QString, config);
        QFETCH(QString, name);
        TZentrikWindowX w;
        QCOMPARE(w.WindowName(), QStringLiteral("Running Up")); // the default strategy
        w.SetNotifyOnWindowNameChanged(true);
        QSignalSpy changed(&w, &TZentrikWindowX::OnWindowNameChanged);
        w.SetDataConfig(config);
        QCOMPARE(w.DataConfig(), config);
        QCOMPARE(w.WindowName(), name);
        QCOMPARE(changed.count(), name == QLatin1String("Running Up") ? 0 : 1);
        if (!changed.isEmpty())
            QCOMPARE(changed.first().first().value<QObject*>(), &w);
        QCOMPARE(w.SuggestedFileName(),
                 (name.trimmed().isEmpty() ? QStringLiteral("Alerts") : name) +
                     QStringLiteral(".zka"));
    }

    void nameChangesAreOnlyReportedWhenAskedFor() {
        TZentrikWindowX w;
        QSignalSpy changed(&w, &TZentrikWindowX::OnWindowNameChanged);
        w.SetDataConfig(QStringLiteral("WN=One"));
        QCOMPARE(changed.count(), 0);
        w.SetNotifyOnWindowNameChanged(true);
        w.SetDataConfig(QStringLiteral("WN=One&S=AAPL")); // same name
        QCOMPARE(changed.count(), 0);
        w.SetDataConfig(QString()); // back to the default
        QCOMPARE(changed.count(), 1);
        QCOMPARE(w.WindowName(), QStringLiteral("Running Up"));
        QVERIFY(!w.DataConfig().isEmpty());
    }

    void configurationTextsComeBackWhole() {
        TZentrikWindowX w;
        const QString longText = QStringLiteral("WN=Long&X=") + QString(5000, QLatin1Char('x'));
        w.SetDataConfig(longText);
        w.SetWindowConfig(QStringLiteral("CW=90,50,61&Keep=") + QString(3000, QLatin1Char('k')));
        w.SetStrategyConfig(QString(4000, QLatin1Char('s')));
        QCOMPARE(w.DataConfig(), longText);
        QCOMPARE(w.WindowConfig().size(), 3000 + 17);
        QCOMPARE(w.StrategyConfig().size(), 4000);
        QHeaderView* header = Sim(w)->View()->horizontalHeader();
        QCOMPARE(header->sectionSize(0), 90);
        QCOMPARE(header->sectionSize(1), 50);
        QCOMPARE(header->sectionSize(2), 61);
        w.SetWindowConfig(QStringLiteral("CW=bad"));
        QCOMPARE(header->sectionSize(0), 70); // back to the default widths
    }

    void feedIsReplayedInOrderWithItsTimingAndFilters() {
        UseFeed(R"({"delay_ms": 0, "symbol": "AAPL"}
{"delay_ms": 150, "symbol": "MSFT", "strategy": "Gappers"}
{"delay_ms": 150, "symbol": "NVDA", "strategy": "Running Up", "skip": true, "price": 900.5, "description": "New high"}
this is not json
{"delay_ms": -4, "symbol": "BAD"}
{"delay_ms": 10, "price": 3}

{"delay_ms": 100, "symbol": "TSLA", "strategy": "*", "skip": false}
)");
        QElapsedTimer clock;
        clock.start();
        TStderrCapture capture;
        TZentrikWindowX running, gappers;
        gappers.SetDataConfig(QStringLiteral("WN=Gappers"));
        TAlertLog runningLog, gappersLog;
        running.SetNotifyOnEachAlert(true);
        gappers.SetNotifyOnEachAlert(true);
        Record(running, runningLog, clock);
        Record(gappers, gappersLog, clock);
        QTRY_COMPARE(runningLog.Symbols.size(), 3);
        QTRY_COMPARE(gappersLog.Symbols.size(), 3);
        QTest::qWait(100);
        capture.Restore();

        QCOMPARE(runningLog.Symbols, QStringList({"AAPL", "NVDA", "TSLA"}));
        QCOMPARE(gappersLog.Symbols, QStringList({"AAPL", "MSFT", "TSLA"}));
        QCOMPARE(runningLog.Skips, QList<int32_t>({0, 1, 0}));
        QCOMPARE(runningLog.Prices.at(1), 900.5);
        QVERIFY(runningLog.Prices.at(0) > 0); // from the market when the line has none
        QCOMPARE(runningLog.Texts.at(1), QStringLiteral("New high"));
        // Delays count from the previous line, filtered or not.
        QVERIFY2(runningLog.AtMs.at(1) >= 290, qPrintable(QString::number(runningLog.AtMs[1])));
        QVERIFY2(runningLog.AtMs.at(2) >= 390, qPrintable(QString::number(runningLog.AtMs[2])));
        QVERIFY(gappersLog.AtMs.at(1) >= 140);
        QCOMPARE(Rows(*Sim(running)->Model()), QStringList({"TSLA", "NVDA", "AAPL"}));

        // Each bad line is reported once, however many windows replay the feed.
        const QString report = capture.Text();
        QCOMPARE(report.count(QLatin1String("line 4:")), 1);
        QCOMPARE(report.count(QLatin1String("line 5:")), 1);
        QCOMPARE(report.count(QLatin1String("line 6:")), 1);
        QVERIFY(!report.contains(QLatin1String("line 7:")));
    }

    void hugeFeedDelaysAreSkippedNotWrapped() {
        QStringList problems;
        const TSimFeed feed = ParseSimFeed(R"({"delay_ms": 1e308, "symbol": "HUGE"}
{"delay_ms": 9.3e18, "symbol": "WRAP"}
{"delay_ms": 86400000, "symbol": "DAY"}
{"delay_ms": 5, "symbol": "NEXT"}
)",
                                           &problems);
        QCOMPARE(feed.Lines.size(), size_t(2));
        QCOMPARE(feed.Lines[0].AtMs, MaxFeedDelayMs);
        QCOMPARE(feed.Lines[1].AtMs, MaxFeedDelayMs + 5);
        QCOMPARE(problems.size(), 2);
        QVERIFY(problems[0].startsWith("line 1:") && problems[1].startsWith("line 2:"));
    }

    // Symbols go on to linked programs and terminals; prices below zero are no prices.
    void hostileFeedLinesAreSkippedWithTheReason() {
        QStringList problems;
        const QByteArray longest(MaxFeedSymbolChars, 'L');
        const TSimFeed feed =
            ParseSimFeed("{\"symbol\": \"A\\u001b[2J\"}\n{\"symbol\": \"B\\u0007\"}\n"
                         "{\"symbol\": \"C\\u0000D\"}\n{\"symbol\": \"E\\u009bF\"}\n"
                         "{\"symbol\": \"" +
                             longest +
                             "X\"}\n{\"symbol\": \"NEG\", \"price\": -0.5}\n"
                             "{\"symbol\": \"" +
                             longest +
                             "\"}\n{\"symbol\": \"ZERO\", \"price\": 0}\n"
                             "{\"symbol\": \"BRK.B-\u00e9\"}\n",
                         &problems);
        QCOMPARE(feed.Lines.size(), size_t(3));
        QCOMPARE(feed.Lines[0].Symbol, QString::fromLatin1(longest));
        QCOMPARE(feed.Lines[1].Price.value_or(-1), 0.0);
        QCOMPARE(feed.Lines[2].Symbol, QString::fromUtf8("BRK.B-\u00e9"));
        QCOMPARE(problems.size(), 6);
        for (int line = 1; line <= 4; ++line)
            QVERIFY2(problems[line - 1] ==
                         QStringLiteral("line %1: \"symbol\" holds a control character").arg(line),
                     qPrintable(problems[line - 1]));
        QCOMPARE(problems[4], QString("line 5: \"symbol\" is longer than 64 characters"));
        QCOMPARE(problems[5], QString("line 6: \"price\" is negative"));
    }

    // A feed file's text is held to the inbox's rules: names with what does not show are
    // refused, descriptions lose their formatting characters and may hold no control character
    // but a line break (a blank) or a tab.
    void feedTextFollowsTheInboxsRules_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("problem");
        QTest::newRow("symbol override")
            << QByteArray(R"({"symbol": "\u202eLPAA"})")
            << R"("symbol" holds an invisible formatting character (U+202E))";
        QTest::newRow("symbol zero width space")
            << QByteArray(R"({"symbol": "AA\u200bPL"})")
            << R"("symbol" holds an invisible formatting character (U+200B))";
        QTest::newRow("symbol variation selector")
            << QByteArray(R"({"symbol": "AAPL\ufe0f"})")
            << R"("symbol" holds a character that does not show (U+FE0F))";
        QTest::newRow("strategy braille blank")
            << QByteArray(R"({"symbol": "T", "strategy": "T\u2800"})")
            << R"("strategy" holds a character that does not show (U+2800))";
        QTest::newRow("strategy escape")
            << QByteArray(R"({"symbol": "T", "strategy": "\u001b[2J"})")
            << R"("strategy" holds a control character)";
        QTest::newRow("strategy number")
            << QByteArray(R"({"symbol": "T", "strategy": 5})") << R"("strategy" is not text)";
        QTest::newRow("description escape")
            << QByteArray(R"({"symbol": "T", "description": "up \u001b]0;x\u0007"})")
            << R"("description" holds a control character)";
        QTest::newRow("description number")
            << QByteArray(R"({"symbol": "T", "description": 1})") << R"("description" is not text)";
    }
    void feedTextFollowsTheInboxsRules() {
        QFETCH(QByteArray, line);
        QFETCH(QString, problem);
        QStringList problems;
        const TSimFeed feed = ParseSimFeed(line + "\n", &problems);
        QCOMPARE(feed.Lines.size(), size_t(0));
        QCOMPARE(problems, QStringList{QStringLiteral("line 1: ") + problem});
    }
    void feedDescriptionsShowOnlyWhatShows() {
        QStringList problems;
        const TSimFeed feed = ParseSimFeed(
            R"({"symbol": " AAPL ", "strategy": " Gap Up ", "description": "a\u202eb\u200bc\r\nd\te \u2764\ufe0f"})",
            &problems);
        QCOMPARE(problems, QStringList());
        QCOMPARE(feed.Lines.size(), size_t(1));
        QCOMPARE(feed.Lines[0].Symbol, QString("AAPL"));
        QCOMPARE(feed.Lines[0].Strategy, QString("Gap Up"));
        QCOMPARE(feed.Lines[0].Description, QString::fromUcs4(U"abc d\te \u2764\ufe0f"));
    }

    void feedReplaysWithoutAConnectionAndStartsAgainWhenReplaced() {
        QCOMPARE(Service->ConnectionStatus(), 0);
        UseFeed("{\"symbol\": \"AAPL\"}\n");
        TZentrikWindowX w;
        QTRY_COMPARE(Sim(w)->Model()->rowCount(), 1);
        QCOMPARE(Sim(w)->Model()->AlertAt(0)->Source(), TAlertSource::Feed);
        UseFeed("{\"symbol\": \"XOM\"}\n{\"symbol\": \"CVX\"}\n");
        QTRY_COMPARE(Sim(w)->Model()->rowCount(), 3);
        QCOMPARE(Rows(*Sim(w)->Model()), QStringList({"CVX", "XOM", "AAPL"}));
    }

    void missingOrEmptyFeedDoesNoHarm() {
        TStderrCapture capture;
        const QString missing = Home->path() + QStringLiteral("/nothing.jsonl");
        Service->SetPropertyByName(QStringLiteral("SimFeedFile"), missing);
        TZentrikWindowX a, b;
        UseFeed("");
        TZentrikWindowX c;
        QTest::qWait(50);
        capture.Restore();
        QCOMPARE(capture.Text().count(missing), 1);
        QCOMPARE(Sim(c)->Model()->rowCount(), 0);
    }

    // An inbox window takes neither generated nor replayed alerts, only those handed to it,
    // connected or not; each is shown and raised like the component's own. Leaving "Src=inbox"
    // gives it back to the generator.
    void inboxWindowShowsOnlyExternalAlerts() {
        Service->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("20"));
        UseFeed("{\"symbol\": \"FEED\"}\n");
        TZentrikWindowX w;
        w.SetNotifyOnEachAlert(true);
        w.SetDataConfig(QStringLiteral("WN=Scanner&Src=inbox"));
        QElapsedTimer clock;
        clock.start();
        TAlertLog log;
        Record(w, log, clock);
        QTest::qWait(80);
        QCOMPARE(Sim(w)->Model()->rowCount(), 0); // the feed is not replayed here
        QCOMPARE(Sim(w)->View()->Placeholder, QString("Waiting for alerts..."));
        const QDateTime at = QDateTime::fromString("2026-12-08T15:30:00.250Z", Qt::ISODateWithMs);
        w.AddExternalAlerts(
            {TAlertData("NVDA", 0, at, 912.4, "New high"), TAlertData("AMD", 1, at, 0, QString())});
        QCOMPARE(Rows(*Sim(w)->Model()), QStringList({"AMD", "NVDA"}));
        QCOMPARE(log.Symbols, QStringList({"NVDA", "AMD"}));
        QCOMPARE(log.Skips, (QList<int32_t>{0, 1}));
        QCOMPARE(log.Prices, (QList<double>{912.4, 0}));
        QCOMPARE(log.Texts, QStringList({"New high", ""}));
        QCOMPARE(Sim(w)->Model()->AlertAt(1)->AlertTime(), at);
        QCOMPARE(Sim(w)->Model()->AlertAt(0)->Source(), TAlertSource::Inbox);

        // Connected, the generator still leaves it alone.
        UseFeed("");
        Service->SetPropertyByName(QStringLiteral("SimFeedFile"), QString());
        Service->SetUserName(QStringLiteral("DEMO"));
        QTRY_COMPARE(Service->ConnectionStatus(), 1);
        QTest::qWait(120);
        QCOMPARE(Sim(w)->Model()->rowCount(), 2);
        w.SetDataConfig(QStringLiteral("WN=Scanner"));
        QTRY_VERIFY(Sim(w)->Model()->rowCount() > 2);
        QCOMPARE(Sim(w)->Model()->AlertAt(0)->Source(), TAlertSource::Service);
    }

    // A sender's symbol and description in a row's tooltip are shown as the characters they are:
    // no bold, no link, and no image read from a file of the user's.
    void tooltipShowsTheSendersTextAsIs() {
        const QString image = Home->path() + QStringLiteral("/x.png");
        QImage(8, 8, QImage::Format_RGB32).save(image);
        TZentrikWindowX w;
        w.SetDataConfig(QStringLiteral("WN=Scanner&Src=inbox"));
        w.resize(600, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QString symbol = QStringLiteral("<b>X</b>");
        const QString description = QStringLiteral("Gap <font size=7>up</font> <img src='%1'> "
                                                   "<a href='http://x'>go</a> &amp;")
                                        .arg(image);
        w.AddExternalAlerts(
            {TAlertData(symbol, 0, QDateTime::currentDateTimeUtc(), 1.5, description)});
        TSimAlertTable* view = Sim(w)->View();
        const QPoint at = RowCenter(Sim(w), 0);
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &help);
        QLabel* tip = nullptr;
        QTRY_VERIFY((tip = [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->objectName() == QLatin1String("qtooltip_label") && top->isVisible())
                    return qobject_cast<QLabel*>(top);
            return static_cast<QLabel*>(nullptr);
        }()));
        // What the label renders: Qt reads text that looks like HTML as rich text.
        QTextDocument shown;
        if (tip->textFormat() == Qt::RichText ||
            (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text())))
            shown.setHtml(tip->text());
        else
            shown.setPlainText(tip->text());
        const QString text = shown.toPlainText();
        QVERIFY2(text.startsWith(symbol + QStringLiteral("  ")), qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("  ") + description), qPrintable(text));
        for (QTextBlock block = shown.begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                QVERIFY(!it.fragment().charFormat().isImageFormat());
        QToolTip::hideText();
    }

    // A notification's click selects its alert's row: the newest row with all four values the
    // same, without a selection event (the user picked nothing); a gone alert selects nothing.
    void selectAlertFindsTheRowQuietly() {
        TZentrikWindowX w;
        w.SetNotifyOnEachAlert(true);
        w.SetAllowAlertSelectionType(3);
        w.SetDataConfig(QStringLiteral("WN=Scanner&Src=inbox"));
        const QDateTime at = QDateTime::fromString("2026-12-08T15:30:00Z", Qt::ISODate);
        const TAlertData nvda("NVDA", 0, at, 912.4, "New high");
        w.AddExternalAlerts({nvda, TAlertData("NVDA", 0, at, 913.0, "New high"),
                             TAlertData("AMD", 0, at, 171.5, "Range break")});
        int selections = 0;
        connect(w.Component(), &IZentrikWindowX::OnAlertSelected, this, [&] { ++selections; });
        QVERIFY(w.SelectAlert(nvda));
        const QModelIndexList rows = Sim(w)->View()->selectionModel()->selectedRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().row(), 2); // newest first: AMD, NVDA 913, NVDA 912.40
        QCOMPARE(Sim(w)->View()->currentIndex().row(), 2);
        QCOMPARE(selections, 0);
        QVERIFY(!w.SelectAlert(TAlertData("NVDA", 0, at, 912.4, "Other")));
        QCOMPARE(Sim(w)->View()->selectionModel()->selectedRows().first().row(), 2);
    }

    void generatorRunsWhileConnectedOverTheStrategysSymbols() {
        Service->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("25"));
        TZentrikWindowX w;
        w.SetDataConfig(QStringLiteral("WN=Watch&S=aapl,MSFT"));
        QTest::qWait(150);
        QCOMPARE(Sim(w)->Model()->rowCount(), 0); // not connected
        Service->SetUserName(QStringLiteral("DEMO"));
        QTRY_VERIFY(Sim(w)->Model()->rowCount() >= 5);
        for (int r = 0; r < Sim(w)->Model()->rowCount(); ++r) {
            const std::shared_ptr<TSimAlert> alert = Sim(w)->Model()->AlertAt(r);
            QVERIFY(QStringList({"AAPL", "MSFT"}).contains(alert->AlertSymbol()));
            QVERIFY(alert->Price() > 0);
            QVERIFY(!alert->Description().isEmpty());
            QCOMPARE(alert->SkipFlag(), 0);
        }
        // A strategy named for a direction shows alerts of that direction only.
        TZentrikWindowX up, down;
        up.SetDataConfig(QStringLiteral("WN=Running%20Up&S=AAPL"));
        down.SetDataConfig(QStringLiteral("WN=New%20Lows&S=AAPL"));
        QTRY_VERIFY(Sim(up)->Model()->rowCount() >= 20 && Sim(down)->Model()->rowCount() >= 20);
        const QStringList falling = {"New low",  "Running down", "below", "Gap down",
                                     "Pullback", "volume",       "Volume"};
        const QStringList rising = {"New high", "Running up", "above", "Gap up",
                                    "Bounce",   "volume",     "Volume"};
        const auto has = [](const QString& text, const QStringList& words) {
            return std::any_of(words.begin(), words.end(),
                               [&](const QString& w) { return text.contains(w); });
        };
        for (int r = 0; r < Sim(up)->Model()->rowCount(); ++r) {
            const QString text = Sim(up)->Model()->AlertAt(r)->Description();
            QVERIFY2(!has(text, falling), qPrintable(text));
        }
        for (int r = 0; r < Sim(down)->Model()->rowCount(); ++r) {
            const QString text = Sim(down)->Model()->AlertAt(r)->Description();
            QVERIFY2(!has(text, rising), qPrintable(text));
        }

        Service->SetUserName(QString());
        QTest::qWait(60);
        const int rows = Sim(w)->Model()->rowCount();
        QTest::qWait(150);
        QCOMPARE(Sim(w)->Model()->rowCount(), rows);
    }

    void sameSeedAndStrategyGiveTheSameAlerts() {
        Service->SetPropertyByName(QStringLiteral("SimSeed"), QStringLiteral("99"));
        Service->SetUserName(QStringLiteral("DEMO"));
        QTRY_COMPARE(Service->ConnectionStatus(), 1);
        auto run = [this](const QString& config) {
            TZentrikWindowX w;
            w.SetDataConfig(config);
            Service->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("20"));
            if (!QTest::qWaitFor([&] { return Sim(w)->Model()->rowCount() >= 8; }, 3000))
                return QStringList();
            Service->SetPropertyByName(QStringLiteral("SimAlertInterval"), QStringLiteral("0"));
            QStringList seen = Rows(*Sim(w)->Model());
            std::reverse(seen.begin(), seen.end());
            return seen.mid(0, 8);
        };
        const QStringList first = run(QStringLiteral("WN=Seeded"));
        QCOMPARE(first.size(), 8);
        QCOMPARE(run(QStringLiteral("WN=Seeded")), first);
        QVERIFY(run(QStringLiteral("WN=Other")) != first);
    }

    void clicksSelectAsAllowed_data() {
        QTest::addColumn<int>("allow");
        QTest::addColumn<bool>("clickSelects");
        QTest::addColumn<bool>("doubleClickSelects");
        QTest::newRow("both") << 3 << true << true;
        QTest::newRow("click only") << 1 << true << false;
        QTest::newRow("double click only") << 2 << false << true;
        QTest::newRow("none") << 0 << false << false;
    }
    void clicksSelectAsAllowed() {
        QFETCH(int, allow);
        QFETCH(bool, clickSelects);
        QFETCH(bool, doubleClickSelects);
        UseFeed("{\"symbol\": \"AAPL\"}\n{\"symbol\": \"MSFT\"}\n{\"symbol\": \"NVDA\"}\n");
        TZentrikWindowX w;
        w.resize(452, 446);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.SetAllowAlertSelectionType(allow);
        TSimZentrikWindowX* sim = Sim(w);
        QTRY_COMPARE(sim->Model()->rowCount(), 3);
        QStringList selected;
        QList<int32_t> types;
        connect(&w, &TZentrikWindowX::OnAlertSelected, this,
                [&](QObject* sender, IAlertData* alert) {
                    QCOMPARE(sender, &w);
                    selected << alert->AlertSymbol();
                    types << w.AlertSelectionType();
                });
        QWidget* viewport = sim->View()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, RowCenter(sim, 1)); // MSFT
        QCOMPARE(w.AlertSelectionType(), 1);
        QCOMPARE(selected, clickSelects ? QStringList({"MSFT"}) : QStringList());
        selected.clear();
        types.clear();
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
        // As the window system delivers a double click: press, release, double click, release.
        const QPoint aapl = RowCenter(sim, 2);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, aapl);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, aapl);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, aapl);
        QCOMPARE(w.AlertSelectionType(), 2);
        // One click and one double click, never a second click from the closing release.
        QList<int32_t> expected;
        if (clickSelects)
            expected << 1;
        if (doubleClickSelects)
            expected << 2;
        QCOMPARE(types, expected);
        QCOMPARE(selected, QStringList(expected.size(), QStringLiteral("AAPL")));
    }

    void contextMenuHoldsOwnAndCustomEntries() {
        UseFeed("{\"symbol\": \"AAPL\"}\n{\"symbol\": \"MSFT\"}\n");
        TZentrikWindowX w;
        w.resize(452, 446);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.AddCustomMenuItem(QStringLiteral("-"), 0);
        w.AddCustomMenuItem(QStringLiteral("Actions..."), 1000);
        w.AddCustomMenuItem(QStringLiteral("-"), 7);
        w.AddCustomMenuItem(QStringLiteral("Duplicate window"), 1001);
        TSimZentrikWindowX* sim = Sim(w);
        QTRY_COMPARE(sim->Model()->rowCount(), 2);

        // A right click on the list (as the window system delivers it) opens the menu.
        QWidget* viewport = sim->View()->viewport();
        QContextMenuEvent event(QContextMenuEvent::Mouse, RowCenter(sim, 0),
                                viewport->mapToGlobal(RowCenter(sim, 0)));
        QApplication::sendEvent(viewport, &event);
        QMenu* menu = sim->View()->findChild<QMenu*>(QStringLiteral("AlertContextMenu"));
        QVERIFY(menu);
        QStringList entries;
        for (QAction* a : menu->actions())
            entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(entries, QStringList({"Copy Symbol", "Clear Alerts", "-", "-", "Actions...", "-",
                                       "Duplicate window"}));

        QSignalSpy custom(&w, &TZentrikWindowX::OnCustomMenuItem);
        menu->actions().at(6)->trigger();
        QCOMPARE(custom.count(), 0); // delivered once the menu is gone
        QTRY_COMPARE(custom.count(), 1);
        QCOMPARE(custom.first().at(0).value<QObject*>(), &w);
        QCOMPARE(custom.first().at(1).toString(), QStringLiteral("Duplicate window"));
        QCOMPARE(custom.first().at(2).toInt(), 1001);
        menu->close();

        // The component's own entries work on the row under the pointer.
        QMenu* second = sim->ShowContextMenu(RowCenter(sim, 0));
        second->actions().at(0)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("MSFT"));
        second->actions().at(1)->trigger();
        QCOMPARE(sim->Model()->rowCount(), 0);
        QCOMPARE(custom.count(), 1);
    }

    // The list is light or dark with the theme, also while it is shown, and every cell's text
    // reads on its row (plain, alternate, selected) whatever colour the window's font has.
    void listFollowsTheThemeReadably() {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        UseFeed("{\"symbol\": \"AAPL\"}\n{\"symbol\": \"MSFT\"}\n{\"symbol\": \"NVDA\"}\n");
        TZentrikWindowX w;
        TSimZentrikWindowX* sim = Sim(w);
        QTRY_COMPARE(sim->Model()->rowCount(), 3);
        TSimAlertTable* view = sim->View();
        view->resize(420, 160);
        view->show();
        view->selectRow(1);
        TThemeController& theme = TThemeController::Instance();
        for (const TThemeChoice choice : {TThemeChoice::Dark, TThemeChoice::Light}) {
            theme.SetChoice(choice);
            const bool dark = choice == TThemeChoice::Dark;
            // The window text colour (the default), then colours that vanish on one theme.
            for (const int32_t colour :
                 {int32_t(0xFF000008), 0x000000, 0xFFFFFF, 0x0000FF, 0x00FFFF, 0x008000}) {
                w.SetFontColor(colour);
                const QImage shot = view->viewport()->grab().toImage();
                for (int row = 0; row < 3; ++row) {
                    const QRect cells =
                        view->visualRect(sim->Model()->index(row, TSimAlertModel::TimeColumn))
                            .united(view->visualRect(
                                sim->Model()->index(row, TSimAlertModel::SymbolColumn)))
                            .adjusted(1, 1, -1, -1);
                    const TRegionContrast c = MeasureContrast(shot, cells);
                    const QString what = QStringLiteral("%1 theme, colour %2, row %3: %4")
                                             .arg(dark ? "dark" : "light")
                                             .arg(colour, 0, 16)
                                             .arg(row)
                                             .arg(Describe(c));
                    QVERIFY2((zkTheme::Luminance(c.Background) < 0.2) == dark, qPrintable(what));
                    QVERIFY2(c.Ratio >= zkTheme::MinimumTextContrast, qPrintable(what));
                }
            }
        }
        // The colour stays the one chosen: only its drawing is adjusted.
        QCOMPARE(w.FontColor(), 0x008000);
        theme.SetChoice(TThemeChoice::System);
    }

    void fontColourGridAndTimeOffsetShowInTheList() {
        UseFeed("{\"symbol\": \"AAPL\"}\n");
        TZentrikWindowX w;
        TSimZentrikWindowX* sim = Sim(w);
        QTRY_COMPARE(sim->Model()->rowCount(), 1);
        const QModelIndex cell = sim->Model()->index(0, TSimAlertModel::SymbolColumn);
        w.SetFontColor(0x0000FF); // 0x00BBGGRR: red
        QCOMPARE(w.FontColor(), 0x0000FF);
        QCOMPARE(cell.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
        w.SetFontColor(0x804020);
        QCOMPARE(cell.data(Qt::ForegroundRole).value<QColor>(), QColor(0x20, 0x40, 0x80));

        QFont font(QStringLiteral("Monospace"), 15);
        font.setItalic(true);
        w.SetFont(font);
        QCOMPARE(w.Font(), font);
        QCOMPARE(sim->View()->font().pointSize(), 15);
        QVERIFY(sim->View()->verticalHeader()->defaultSectionSize() > QFontMetrics(font).height());

        Service->SetShowGrid(0);
        QVERIFY(!sim->View()->showGrid());
        Service->SetPropertyByName(QStringLiteral("ShowGrid"), QStringLiteral("1"));
        QVERIFY(sim->View()->showGrid());

        const QModelIndex time = sim->Model()->index(0, TSimAlertModel::TimeColumn);
        const QTime plain = QTime::fromString(time.data().toString(), QStringLiteral("HH:mm:ss"));
        Service->SetPropertyByName(QStringLiteral("TimeOffset"), QStringLiteral("-90"));
        const QTime shifted = QTime::fromString(time.data().toString(), QStringLiteral("HH:mm:ss"));
        QVERIFY(plain.isValid() && shifted.isValid());
        QCOMPARE(shifted, plain.addSecs(-90 * 60));
    }

    // The time column's text is kept for a second; rows of other seconds or offsets and
    // alerts out of order get their own.
    void timeTextsFollowEachAlert() {
        TSimAlertModel model;
        const QDateTime at(QDate(2024, 7, 1), QTime(13, 0, 0, 250), Qt::UTC); // 09:00 in NY
        const TSimAlert a(QStringLiteral("A"), 0, at), b(QStringLiteral("B"), 0, at.addMSecs(500)),
            c(QStringLiteral("C"), 0, at.addSecs(61)), none(QStringLiteral("N"), 0, QDateTime());
        QCOMPARE(model.TimeText(a), QStringLiteral("09:00:00"));
        QCOMPARE(model.TimeText(b), QStringLiteral("09:00:00"));
        QCOMPARE(model.TimeText(c), QStringLiteral("09:01:01"));
        QCOMPARE(model.TimeText(a), QStringLiteral("09:00:00"));
        QCOMPARE(model.TimeText(none), QString());
        model.SetTimeOffset(-90);
        QCOMPARE(model.TimeText(a), QStringLiteral("07:30:00"));
    }

    void accountStatusChangesAreForwardedWhenAskedFor() {
        TZentrikWindowX asked, silent;
        asked.SetNotifyOnAccountStatusChanged(true);
        QSignalSpy askedSpy(&asked, &TZentrikWindowX::OnAccountStatusChanged);
        QSignalSpy silentSpy(&silent, &TZentrikWindowX::OnAccountStatusChanged);
        Service->SetUserName(QStringLiteral("DEMO"));
        QTRY_COMPARE(askedSpy.count(), 1);
        QCOMPARE(askedSpy.first().first().value<QObject*>(), &asked);
        QCOMPARE(silentSpy.count(), 0);
    }

    // The view turns every decoration it paints into an icon with its own pixmap cache entry;
    // only a shared icon per mark keeps a busy list from filling that cache.
    void directionMarksAreSharedIcons() {
        TSimAlertModel model;
        std::vector<std::shared_ptr<TSimAlert>> alerts;
        for (int direction : {1, -1, 0, 1}) {
            alerts.push_back(std::make_shared<TSimAlert>(QStringLiteral("X"), 0));
            alerts.back()->Direction = direction;
        }
        model.AddAlerts(alerts);
        auto icon = [&model](int row) {
            const QVariant v =
                model.index(row, TSimAlertModel::DescriptionColumn).data(Qt::DecorationRole);
            return v.value<QIcon>();
        };
        // Rows are newest first: 0 up, 1 neither, 2 down, 3 up.
        QVERIFY(!icon(0).isNull());
        QCOMPARE(icon(0).cacheKey(), icon(3).cacheKey());
        QCOMPARE(icon(0).cacheKey(), icon(0).cacheKey());
        QVERIFY(icon(0).cacheKey() != icon(2).cacheKey());
        QVERIFY(icon(1).cacheKey() != icon(2).cacheKey());
        QVERIFY(!model.index(0, TSimAlertModel::SymbolColumn).data(Qt::DecorationRole).isValid());
    }

    void historyIsBoundedAndGrowsAtTheTop() {
        TSimAlertModel model;
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
        int next = 0;
        auto batch = [&next](int count) {
            std::vector<std::shared_ptr<TSimAlert>> alerts;
            for (int i = 0; i < count; ++i)
                alerts.push_back(std::make_shared<TSimAlert>(QString::number(next++), 0));
            return alerts;
        };
        for (int i = 0; i < 8; ++i)
            model.AddAlerts(batch(700)); // 5600 in all
        QCOMPARE(model.rowCount(), TSimAlertModel::DefaultMaxRows);
        QCOMPARE(model.AlertAt(0)->AlertSymbol(), QStringLiteral("5599"));
        QCOMPARE(model.AlertAt(4999)->AlertSymbol(), QStringLiteral("600"));
        QCOMPARE(resets.count(), 0);
        QCOMPARE(inserts.count(), 8);
        // A batch beyond the bound keeps its newest.
        model.AddAlerts(batch(6000));
        QCOMPARE(model.rowCount(), 5000);
        QCOMPARE(model.AlertAt(0)->AlertSymbol(), QString::number(next - 1));
        QCOMPARE(model.AlertAt(4999)->AlertSymbol(), QString::number(next - 5000));
    }

    // A description longer than its column could show is shown cut, never within a
    // character, and less so as the column widens; the alert and its tooltip keep it whole.
    void longDescriptionsAreShownCut() {
        const int max = 100;
        const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // a surrogate pair
        const QString whole = QString(max - 2, QLatin1Char('a')) + smile + QString(10, 'b');
        QCOMPARE(TSimAlertModel::ShownDescription(whole, max),
                 QString(max - 2, 'a') + QChar(0x2026));
        QCOMPARE(TSimAlertModel::ShownDescription(whole.left(max), max), whole.left(max));

        TSimZentrikWindowX window(Service);
        window.Widget()->resize(400, 300);
        window.Widget()->show();
        window.AddExternalAlerts({TAlertData("A", 0, QDateTime(), 1, QString(4000, 'w'))});
        auto shown = [&window](int role) {
            return window.Model()
                ->index(0, TSimAlertModel::DescriptionColumn)
                .data(role)
                .toString();
        };
        const qsizetype narrow = shown(Qt::DisplayRole).size();
        QVERIFY2(narrow > 20 && narrow < 400, qPrintable(QString::number(narrow)));
        window.Widget()->resize(1600, 300);
        QTRY_VERIFY(shown(Qt::DisplayRole).size() > narrow + 200);
        QCOMPARE(window.Model()->AlertAt(0)->Description().size(), 4000);
        QVERIFY(shown(Qt::ToolTipRole).contains(QString(4000, 'w')));
    }

    // Long alerts: all lists together keep at most MaxBytesAll, each its share, the newest
    // rows kept; a list that goes gives its bytes back.
    void historyIsBoundedInBytes() {
        const qint64 before = TSimAlertModel::BytesAll();
        const QString text(4000, QLatin1Char('d')); // shared: the test itself holds little
        int next = 0;
        auto batch = [&](int count) {
            std::vector<std::shared_ptr<TSimAlert>> alerts;
            for (int i = 0; i < count; ++i)
                alerts.push_back(
                    std::make_shared<TSimAlert>(QString::number(next++), 0, QDateTime(), 1, text));
            return alerts;
        };
        const qint64 rowBytes = TSimAlertModel::AlertBytes(*batch(1).front());
        QVERIFY(rowBytes > 8000);
        std::vector<std::unique_ptr<TSimAlertModel>> lists;
        for (int i = 0; i < 10; ++i)
            lists.push_back(std::make_unique<TSimAlertModel>());
        std::vector<int> newest;
        for (auto& list : lists) {
            for (int b = 0; b < 5; ++b)
                list->AddAlerts(batch(1000));
            newest.push_back(next - 1);
        }
        QVERIFY(TSimAlertModel::BytesAll() <= TSimAlertModel::MaxBytesAll);
        const qint64 share = TSimAlertModel::MaxBytesAll / 10;
        for (size_t i = 0; i < lists.size(); ++i) {
            TSimAlertModel& list = *lists[i];
            QVERIFY(list.Bytes() <= share);
            QVERIFY(list.Bytes() > share / 2); // the lists that came later took only their share
            QVERIFY(list.rowCount() <= share / (rowBytes - 16)); // not the count's 5,000
            // The newest rows stay, in order.
            QCOMPARE(list.AlertAt(0)->AlertSymbol(), QString::number(newest[i]));
            QCOMPARE(list.AlertAt(list.rowCount() - 1)->AlertSymbol(),
                     QString::number(newest[i] - list.rowCount() + 1));
        }
        // One list clearing or going gives its bytes back.
        const qint64 all = TSimAlertModel::BytesAll();
        const qint64 first = lists[0]->Bytes();
        lists[0]->Clear();
        QCOMPARE(TSimAlertModel::BytesAll(), all - first);
        lists.clear();
        QCOMPARE(TSimAlertModel::BytesAll(), before);
    }

    void handlerErrorsAreReportedAndLaterAlertsStillArrive() {
        UseFeed("{\"symbol\": \"A\"}\n{\"symbol\": \"B\"}\n{\"symbol\": \"C\"}\n");
        TZentrikWindowX w;
        w.SetNotifyOnEachAlert(true);
        QStringList seen;
        connect(&w, &TZentrikWindowX::OnNewAlert, this, [&seen](QObject*, IAlertData* alert) {
            seen << alert->AlertSymbol();
            if (alert->AlertSymbol() == QLatin1String("A"))
                throw EZkError(QStringLiteral("sound device busy"));
        });
        QTRY_COMPARE(seen.size(), 3);
        const QList<zkPrompts::TPromptRecord> shown = zkPrompts::Shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().Text, QStringLiteral("sound device busy"));
    }

    // Cells are drawn from text laid out when their row first shows and from pictures of what
    // the style draws around it, exactly as the style draws them at every paint: light, dark
    // and high-contrast palettes, coloured text, cut descriptions, a selected row, emphasised
    // rows, marks, right-aligned prices, other scripts; and again once rows move down, a
    // column narrows and the font changes (to twice its size too). A repaint lays out only the
    // rows that are new, and draws no look it has drawn before.
    void cachedCellsLookAsTheStyleDrawsThem() {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        TSimZentrikWindowX window(Service);
        TSimAlertTable* view = window.View();
        auto* cells = dynamic_cast<TSimReadableCellDelegate*>(view->itemDelegate());
        QVERIFY(cells);
        view->resize(520, 260);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        const QDateTime at(QDate(2024, 3, 5), QTime(14, 30, 5), Qt::UTC);
        QList<TAlertData> alerts;
        const QStringList texts = {
            QStringLiteral("New high (+1.25%)"),
            QString(300, QLatin1Char('w')) + QStringLiteral(" cut here"),
            QString::fromUtf8("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D gap \xF0\x9F\x98\x80 ") +
                QString(80, QLatin1Char('x')),
            QString(),
            QStringLiteral("two\nlines, left to the style"),
            QStringLiteral("Volume spike (3.1x)")};
        for (int i = 0; i < texts.size(); ++i) {
            alerts.append(TAlertData(QStringLiteral("SYM%1").arg(i), 0, at.addSecs(i),
                                     i == 3 ? 0 : 10.5 * (i + 1), texts[i]));
            alerts.back().Emphasised = i == 1 || i == 5;
        }
        window.AddExternalAlerts(alerts);
        view->selectRow(2);
        auto compare = [&](const QString& what) {
            cells->SetCached(false);
            const QImage styled = view->viewport()->grab().toImage();
            cells->SetCached(true);
            cells->SetLooksKept(false);
            const QImage styledLooks = view->viewport()->grab().toImage();
            cells->SetLooksKept(true);
            const quint64 looks = cells->LooksDrawn();
            const QImage first = view->viewport()->grab().toImage(); // lays out
            const quint64 laidOut = cells->LayOuts();
            QVERIFY2(cells->LooksDrawn() > looks, qPrintable(what + QStringLiteral(": no look")));
            const quint64 looksDrawn = cells->LooksDrawn();
            const QImage second = view->viewport()->grab().toImage(); // from the layouts
            QCOMPARE(cells->LayOuts(), laidOut);
            QCOMPARE(cells->LooksDrawn(), looksDrawn);
            QVERIFY2(styledLooks == styled, qPrintable(what + QStringLiteral(": laid out")));
            QVERIFY2(first == styled, qPrintable(what + QStringLiteral(": first paint")));
            QVERIFY2(second == styled, qPrintable(what + QStringLiteral(": repaint")));
        };
        TThemeController& theme = TThemeController::Instance();
        for (const TThemeChoice choice : {TThemeChoice::Dark, TThemeChoice::Light}) {
            theme.SetChoice(choice);
            for (const int32_t colour : {int32_t(0xFF000008), 0x000000, 0x0000FF}) {
                window.SetFontColor(colour);
                compare(QStringLiteral("theme %1, colour %2").arg(int(choice)).arg(colour, 0, 16));
            }
        }
        // A high-contrast desktop palette, taken as the system's.
        theme.SetChoice(TThemeChoice::System);
        const QPalette original = QGuiApplication::palette();
        QPalette contrast(Qt::white, Qt::black);
        contrast.setColor(QPalette::Base, Qt::black);
        contrast.setColor(QPalette::Text, Qt::white);
        contrast.setColor(QPalette::Highlight, Qt::yellow);
        contrast.setColor(QPalette::HighlightedText, Qt::black);
        QApplication::setPalette(contrast);
        window.SetFontColor(int32_t(0xFF000008));
        compare(QStringLiteral("high contrast"));
        QApplication::setPalette(original);
        window.SetFontColor(int32_t(0xFF000008));
        view->viewport()->grab();
        // One more row: every row moves down a place, only the new one is laid out.
        const quint64 before = cells->LayOuts();
        window.AddExternalAlerts({TAlertData("NEW", 0, at, 1.5, QStringLiteral("Gap up"))});
        view->viewport()->grab();
        QCOMPARE(cells->LayOuts() - before, quint64(TSimAlertModel::ColumnCount));
        compare(QStringLiteral("after a new row"));
        view->horizontalHeader()->resizeSection(TSimAlertModel::SymbolColumn, 30);
        compare(QStringLiteral("narrow symbols"));
        QFont font(QStringLiteral("Serif"), 13);
        font.setItalic(true);
        window.SetFont(font);
        compare(QStringLiteral("other font"));
        font.setPointSize(26);
        window.SetFont(font);
        compare(QStringLiteral("font at twice the size"));
        theme.SetChoice(TThemeChoice::System);
    }

    // Painting the list asks the style to draw a cell only for a look it has not drawn yet
    // (not for every cell at every paint), and shapes a text once for all the cells of a
    // column that show it (the same second, price or kind of alert).
    void theStyleDrawsEachLookOnce() {
        TCountingStyle style;
        TSimZentrikWindowX window(Service);
        TSimAlertTable* view = window.View();
        auto* cells = dynamic_cast<TSimReadableCellDelegate*>(view->itemDelegate());
        QVERIFY(cells);
        view->setStyle(&style);
        view->setFocusPolicy(Qt::NoFocus); // a focused cell is the style's to draw
        view->resize(520, 300);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        const QDateTime at(QDate(2024, 3, 5), QTime(14, 30, 5), Qt::UTC);
        QList<TAlertData> alerts;
        for (int i = 0; i < 40; ++i) {
            alerts.append(
                TAlertData(QStringLiteral("S%1").arg(i), 0, at, 12.5,
                           i % 2 ? QStringLiteral("New high") : QStringLiteral("Gap up")));
            alerts.back().Emphasised = i % 5 == 0;
        }
        window.AddExternalAlerts(alerts);
        view->selectionModel()->select(view->model()->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const int rowsShown = view->viewport()->height() / view->rowHeight(0);
        QVERIFY(rowsShown >= 8);
        const quint64 laidOut = cells->LayOuts(), shaped = cells->Shapings();
        style.Items = 0;
        view->viewport()->repaint();
        // Four columns, two bands, plain, emphasised or selected: at most 24 looks.
        QVERIFY2(style.Items <= 24, qPrintable(QString::number(style.Items)));
        QVERIFY(cells->CellPaints() >= quint64(rowsShown * TSimAlertModel::ColumnCount));
        // One time, price and two descriptions; the symbols all differ.
        const quint64 rowsLaidOut = (cells->LayOuts() - laidOut) / TSimAlertModel::ColumnCount;
        QVERIFY(rowsLaidOut >= quint64(rowsShown));
        QCOMPARE(cells->Shapings() - shaped, rowsLaidOut + 4);
        style.Items = 0;
        view->viewport()->repaint();
        QCOMPARE(style.Items, 0);
        // What the pictures show is what the style draws.
        const QImage kept = view->viewport()->grab().toImage();
        cells->SetCached(false);
        QCOMPARE(view->viewport()->grab().toImage(), kept);
        QVERIFY(style.Items >= rowsShown * TSimAlertModel::ColumnCount);
        view->setStyle(nullptr);
    }

    // New rows at the top move the rows painted before down the window's pixels and only the
    // new ones are painted, one at a time or in bursts; the window then shows what painting it
    // whole shows (rows in order, each keeping its shade). The scroll bar is painted again only
    // when its handle moves.
    void newRowsMoveThePaintedRowsDown() {
        TSimZentrikWindowX window(Service);
        TSimAlertTable* view = window.View();
        auto* cells = dynamic_cast<TSimReadableCellDelegate*>(view->itemDelegate());
        auto* bar = qobject_cast<TSimScrollBar*>(view->verticalScrollBar());
        QVERIFY(cells && bar);
        view->resize(240, 360); // narrower than the columns: both scroll bars show
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        const QDateTime at(QDate(2024, 3, 5), QTime(14, 30, 5), Qt::UTC);
        int next = 0;
        // The view's layout, then the window's repaint.
        auto settle = [] {
            for (int i = 0; i < 3; ++i) {
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
            }
        };
        auto add = [&](int count) {
            QList<TAlertData> alerts;
            for (int i = 0; i < count; ++i, ++next)
                alerts.append(TAlertData(QStringLiteral("S%1").arg(next), 0, at.addSecs(next),
                                         1.5 + next, QStringLiteral("alert %1").arg(next)));
            window.AddExternalAlerts(alerts);
            settle();
        };
        auto shownIsWhole = [&](const QString& what) {
            const QImage shown = view->screen()
                                     ->grabWindow(view->winId())
                                     .toImage()
                                     .convertToFormat(QImage::Format_RGB32);
            const QImage whole = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY2(shown == whole, qPrintable(what));
        };
        add(1);
        shownIsWhole(QStringLiteral("first row"));
        add(30); // more than fit: the scroll bar shows
        shownIsWhole(QStringLiteral("a full list"));
        const int rowsShown = view->viewport()->height() / view->rowHeight(0);
        QVERIFY(rowsShown >= 10);
        // A handle that shrinks by a row's share is painted again only around its end.
        TTallestPaint barPainting;
        bar->installEventFilter(&barPainting);
        int shrunk = 0;
        for (const int burst : {1, 1, 2, 3, 1, 5, 1, 30, 1, 1}) {
            const quint64 painted = cells->CellPaints();
            const quint64 barPainted = bar->Paints();
            barPainting.Tallest = 0;
            add(burst);
            if (burst == 1 && bar->Paints() > barPainted) {
                ++shrunk;
                QVERIFY2(barPainting.Tallest <= 12,
                         qPrintable(QString::number(barPainting.Tallest)));
            }
            const quint64 cellsPainted = cells->CellPaints() - painted;
            QVERIFY2(cellsPainted <=
                         quint64((std::min(burst, rowsShown) + 1) * TSimAlertModel::ColumnCount),
                     qPrintable(QStringLiteral("%1 new: %2 cells").arg(burst).arg(cellsPainted)));
            shownIsWhole(QStringLiteral("after %1 new, %2 rows").arg(burst).arg(next));
            QCOMPARE(view->rowAt(0), 0); // the newest in view
        }
        QVERIFY(shrunk > 0);
        bar->removeEventFilter(&barPainting);
        QStringList newestFirst;
        for (int i = next - 1; i >= 0; --i)
            newestFirst << QStringLiteral("S%1").arg(i);
        QCOMPARE(Rows(*window.Model()), newestFirst);
        // Past a few hundred rows the handle keeps its size and place at the top.
        add(600);
        auto* across = qobject_cast<TSimScrollBar*>(view->horizontalScrollBar());
        QVERIFY(across && across->isVisible());
        const quint64 barPaints = bar->Paints(), acrossPaints = across->Paints();
        for (int i = 0; i < 5; ++i)
            add(1);
        QCOMPARE(bar->Paints(), barPaints);
        QCOMPARE(across->Paints(), acrossPaints);
        // The scroll bar is where the view's whole layout puts it.
        const std::array<int, 3> kept = {bar->maximum(), bar->pageStep(), bar->singleStep()};
        view->doItemsLayout();
        QCOMPARE(kept, (std::array<int, 3>{bar->maximum(), bar->pageStep(), bar->singleStep()}));
        shownIsWhole(QStringLiteral("long list"));
        // Scrolled away from the top, the rows shown stay where they are: the new rows push
        // them down a strip and the scroll back pulls them up, no more is painted.
        view->verticalScrollBar()->setValue(5 * view->rowHeight(0));
        settle();
        const QString firstShown = view->model()->index(view->rowAt(0), 1).data().toString();
        for (const int burst : {1, 2, 1}) {
            const quint64 painted = cells->CellPaints();
            add(burst);
            QVERIFY(cells->CellPaints() - painted <=
                    quint64((2 * burst + 2) * TSimAlertModel::ColumnCount));
            QCOMPARE(view->model()->index(view->rowAt(0), 1).data().toString(), firstShown);
            shownIsWhole(QStringLiteral("scrolled list, %1 new").arg(burst));
        }
    }

    // Past the bound of rows the oldest go. A current (clicked) row among them is dropped with
    // its selection, never moved to the oldest row kept: the view would scroll down there, and
    // a window that follows the newest alerts would show them no more. A window scrolled away
    // keeps its rows in place, as below the bound.
    void rowsTrimmedPastTheBoundTakeNoViewAlong() {
        TSimZentrikWindowX window(Service);
        TSimAlertTable* view = window.View();
        view->resize(420, 300);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        const int bound = window.Model()->MaxRows();
        int next = 0;
        auto add = [&](int count) {
            QList<TAlertData> alerts;
            for (int i = 0; i < count; ++i, ++next)
                alerts.append(TAlertData(QStringLiteral("S%1").arg(next), 0));
            window.AddExternalAlerts(alerts);
            QCoreApplication::processEvents();
        };
        auto topSymbol = [&] {
            return window.Model()->index(view->rowAt(0), TSimAlertModel::SymbolColumn).data();
        };
        auto clickRow = [&](int row) {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, RowCenter(&window, row));
            QCOMPARE(view->currentIndex().row(), row);
            QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
        };
        QScrollBar* bar = view->verticalScrollBar();
        // 10 + the bound + 3, and a burst of twice the bound, each with a clicked row that goes.
        for (const int burst : {bound, 2 * bound}) {
            add(10);
            clickRow(3);
            add(burst);
            QCOMPARE(bar->value(), 0);
            QVERIFY(!view->currentIndex().isValid());
            QVERIFY(view->selectionModel()->selectedRows().isEmpty());
            add(3);
            QCOMPARE(bar->value(), 0);
            QCOMPARE(topSymbol(), QVariant(QStringLiteral("S%1").arg(next - 1)));
            QVERIFY(view->selectionModel()->selectedRows().isEmpty());
        }
        // A kept current row stays current and selected, and stays with its alert.
        clickRow(2);
        const QString clicked = window.Model()->AlertAt(2)->AlertSymbol();
        add(5);
        QCOMPARE(window.Model()->AlertAt(view->currentIndex().row())->AlertSymbol(), clicked);
        QCOMPARE(view->selectionModel()->selectedRows().value(0).row(), 7);
        QCOMPARE(bar->value(), 0);
        // Scrolled away: the rows shown stay in place while the oldest go, the current one too.
        bar->setValue(bar->maximum() - 2 * view->rowHeight(0));
        clickRow(view->rowAt(view->viewport()->height() / 2));
        const QVariant shown = topSymbol();
        add(2);
        QCOMPARE(topSymbol(), shown);
        QVERIFY(view->currentIndex().isValid()); // two of its rows were below it
        add(view->viewport()->height() / view->rowHeight(0) + 4);
        QCOMPARE(window.Model()->rowCount(), bound);
        QVERIFY(!view->currentIndex().isValid());
        QVERIFY(view->selectionModel()->selectedRows().isEmpty());
        QVERIFY(bar->value() > bar->maximum() / 2); // not brought to the top either
    }

    // Each list shades its rows in turn, whatever the other lists take meanwhile: two windows
    // taking one alert each in turn show alternating bands, each of them.
    void eachListAlternatesItsShadesWhateverTheOthersTake() {
        std::vector<std::unique_ptr<TSimZentrikWindowX>> windows;
        for (int i = 0; i < 2; ++i) {
            windows.push_back(std::make_unique<TSimZentrikWindowX>(Service));
            TSimAlertTable* view = windows.back()->View();
            QVERIFY(view->alternatingRowColors());
            view->resize(420, 400);
            view->show();
            QVERIFY(QTest::qWaitForWindowExposed(view));
        }
        constexpr int Rows = 12;
        for (int i = 0; i < Rows; ++i)
            for (size_t w = 0; w < windows.size(); ++w) {
                windows[w]->AddExternalAlerts(
                    {TAlertData(QStringLiteral("W%1N%2").arg(w).arg(i), 0)});
                QCoreApplication::processEvents();
            }
        for (size_t w = 0; w < windows.size(); ++w) {
            TSimAlertTable* view = windows[w]->View();
            QVERIFY(view->rowAt(view->viewport()->height() - 1) < 0); // every row in sight
            const QImage shot = view->viewport()->grab().toImage();
            // Right of the symbol's text: the row's own background.
            const int x = view->columnViewportPosition(TSimAlertModel::SymbolColumn) +
                          view->columnWidth(TSimAlertModel::SymbolColumn) - 6;
            QList<QRgb> shades;
            for (int row = 0; row < Rows; ++row)
                shades << (shot.pixel(x,
                                      view->rowViewportPosition(row) + view->rowHeight(row) / 2) &
                           0xffffff);
            for (int row = 1; row < Rows; ++row)
                QVERIFY2(shades[row] != shades[row - 1] &&
                             (row < 2 || shades[row] == shades[row - 2]),
                         qPrintable(QStringLiteral("window %1, row %2").arg(w).arg(row)));
        }
    }

    // An emphasised row is filled with the list's highlight colour, its text readable on it,
    // on both themes; it keeps that as new rows push it down, and says so to a screen reader.
    void emphasisedRowsShowInTheHighlightColour() {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        TSimZentrikWindowX w(Service);
        TSimAlertTable* view = w.View();
        view->resize(420, 400);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        constexpr int Rows = 9;
        // Added one by one, so the rows painted before move down the window's pixels.
        for (int i = 0; i < Rows; ++i) {
            TAlertData alert(QStringLiteral("S%1").arg(i), 0);
            alert.Emphasised = i % 3 == 0;
            w.AddExternalAlerts({alert});
            QCoreApplication::processEvents();
        }
        TSimAlertModel* model = w.Model();
        TThemeController& theme = TThemeController::Instance();
        for (const TThemeChoice choice : {TThemeChoice::Dark, TThemeChoice::Light}) {
            theme.SetChoice(choice);
            w.SetFontColor(w.FontColor()); // the list's colours for the theme now in force
            const QColor highlight = SimListColors(QGuiApplication::palette()).Highlight;
            const QImage shot = view->viewport()->grab().toImage();
            for (int row = 0; row < Rows; ++row) {
                const bool emphasised = model->AlertAt(row)->Emphasised;
                const QRect cells =
                    view->visualRect(model->index(row, TSimAlertModel::TimeColumn))
                        .united(view->visualRect(model->index(row, TSimAlertModel::SymbolColumn)))
                        .adjusted(1, 1, -1, -1);
                const TRegionContrast c = MeasureContrast(shot, cells);
                const QString what =
                    QStringLiteral("row %1 (%2): %3").arg(row).arg(emphasised).arg(Describe(c));
                QVERIFY2((c.Background.rgb() == highlight.rgb()) == emphasised, qPrintable(what));
                QVERIFY2(c.Ratio >= zkTheme::MinimumTextContrast, qPrintable(what));
                const QString spoken = model->index(row, TSimAlertModel::SymbolColumn)
                                           .data(Qt::AccessibleTextRole)
                                           .toString();
                QCOMPARE(spoken.contains(QStringLiteral("emphasised")), emphasised);
            }
        }
        theme.SetChoice(TThemeChoice::System);
    }

    // The kept cells stay near what the list shows, however many rows come.
    void cachedCellsAreBounded() {
        TSimZentrikWindowX window(Service);
        TSimAlertTable* view = window.View();
        auto* cells = dynamic_cast<TSimReadableCellDelegate*>(view->itemDelegate());
        view->resize(400, 200);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        for (int i = 0; i < 300; ++i) {
            window.AddExternalAlerts({TAlertData(QStringLiteral("S%1").arg(i), 0,
                                                 QDateTime::currentDateTimeUtc(), 1, "x")});
            view->viewport()->repaint();
        }
        const int rowsShown = 200 / view->verticalHeader()->defaultSectionSize() + 2;
        QVERIFY2(cells->CachedCells() <=
                     qsizetype(rowsShown * TSimAlertModel::ColumnCount * 2 + 64),
                 qPrintable(QString::number(cells->CachedCells())));
        QVERIFY(cells->CachedCells() >= TSimAlertModel::ColumnCount);
    }

    void handlerMayDestroyTheWindow() {
        UseFeed("{\"symbol\": \"A\"}\n{\"symbol\": \"B\"}\n{\"symbol\": \"C\"}\n");
        auto* w = new TZentrikWindowX();
        w->SetNotifyOnEachAlert(true);
        QPointer<TZentrikWindowX> alive(w);
        int calls = 0;
        connect(w, &TZentrikWindowX::OnNewAlert, this, [&calls, w](QObject*, IAlertData*) {
            ++calls;
            delete w;
        });
        QTRY_VERIFY(!alive);
        QTest::qWait(50);
        QCOMPARE(calls, 1);
    }
};

QTEST_MAIN(TAlertWindowTest)
#include "tst_alertwindow.moc"
