// The router between the outside sources and the alert windows, against a desk of fake
// components: which windows get an alert, when a window opens for it, batching, and the limits
// it answers with.
#include "components/zkComponentWrappers.h"
#include "components/zkSimAlertModel.h"
#include "config/zkWindowRecord.h"
#include "desk/zkAlertLog.h"
#include "hub/zkAlertRouter.h"
#include "zkFakeComponents.h"
#include "zkFakeDesk.h"
#include "zkTestSupport.h"
#include "zkTestSymbolLists.h"

#include <QtTest>

namespace {

TFakeZentrikWindowX& Fake(TAlertForm* w) {
    return *static_cast<TFakeZentrikWindowX*>(w->ZentrikWindowX->Component());
}

QStringList Symbols(TAlertForm* w) {
    QStringList list;
    for (const TAlertData& a : Fake(w).FExternalAlerts)
        list << a.Symbol;
    return list;
}

TSourceAlert Alert(const QString& symbol, const QString& strategy = QStringLiteral("Inbox")) {
    TSourceAlert a;
    a.Symbol = symbol;
    a.Strategy = strategy;
    return a;
}

// Keeps what it is handed, and says it is behind when told.
class TLog : public IAlertLog {
public:
    void RecordAlert(const QString& window, const IAlertData& alert) override {
        Kept << window + QLatin1Char('/') + alert.AlertSymbol() + QLatin1Char('/') +
                    alert.Description();
        Sources << alert.Source();
    }
    void RecordRefused(const QString& window, const IAlertData& alert,
                       const QString& rule) override {
        Refused << window + QLatin1Char('/') + alert.AlertSymbol() + QLatin1Char('/') + rule;
    }
    bool IsBehind() const override { return Behind; }
    QStringList Kept;
    QStringList Refused;
    QList<TAlertSource> Sources;
    bool Behind = false;
};

TSourceAlert Described(const QString& symbol, const QString& strategy, const QString& text) {
    TSourceAlert a = Alert(symbol, strategy);
    a.Description = text;
    return a;
}

QStringList Descriptions(TAlertForm* w) {
    QStringList list;
    for (const TAlertData& a : Fake(w).FExternalAlerts)
        list << a.Symbol + QLatin1Char('/') + a.Text;
    return list;
}

struct TFixture {
    TClientSandbox Sandbox;
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    TFakeDesk Desk;
    TAlertRouter Router{Desk};
    TLog Log;
    qint64 NowMs = 0;

    TFixture() {
        SetDefaultWindowRecord();
        CreateDefaultActionLists();
        Desk.Log = &Log;
        Router.MonotonicMs = [this] { return NowMs; };
    }
    // The inbox window of that name (the first), or nullptr.
    TAlertForm* named(const QString& name) const {
        for (TAlertForm* w : Desk.AlertWindows())
            if (w->ZentrikWindowX->WindowName() == name &&
                IsInboxDataConfig(w->ZentrikWindowX->DataConfig()))
                return w;
        return nullptr;
    }
    TAlertForm* window(const QString& dataConfig) {
        TAlertForm* w = Desk.NewAlertWindow();
        w->ZentrikWindowX->SetDataConfig(dataConfig);
        return w;
    }
    // An inbox window keeping only the symbols on that list.
    TAlertForm* listWindow(const QString& dataConfig, const QString& list) {
        TAlertForm* w = window(dataConfig);
        TKeepRule rule;
        rule.Kind = TKeepRuleKind::OnList;
        rule.List = list;
        w->KeepRules.Rules = {rule};
        return w;
    }
    IAlertSink::TOffer offer(QList<TSourceAlert> alerts) {
        return Router.OfferAlerts(std::move(alerts)).Offer;
    }
};

} // namespace

class TAlertRouterTest : public QObject {
    Q_OBJECT
private slots:
    void dataConfigs() {
        QCOMPARE(InboxDataConfig("*"), QString("WN=*&Src=inbox"));
        QVERIFY(IsInboxDataConfig("WN=Scanner&Src=inbox"));
        QVERIFY(IsInboxDataConfig("Src=inbox"));
        QVERIFY(!IsInboxDataConfig("WN=Src=inbox"));
        QVERIFY(!IsInboxDataConfig("WN=A&Src=Inbox"));
        QVERIFY(!IsInboxDataConfig("WN=A&XSrc=inbox"));
        // The router and the window read "Src" alike: the first one counts, percent-decoded.
        for (const auto& [config, inbox] : {std::pair{QString("Src=x&Src=inbox"), false},
                                            std::pair{QString("WN=A&Src=%69nbox"), true}}) {
            QCOMPARE(IsInboxDataConfig(config), inbox);
            QCOMPARE(ParseSimDataConfig(config).Inbox, inbox);
        }
        QCOMPARE(InboxDataConfig("Gap Up & Go"), QString("WN=Gap%20Up%20%26%20Go&Src=inbox"));
    }

    // An alert reaches the inbox windows of its strategy only; "*" reaches every inbox window;
    // a window of the service with the same name gets nothing.
    void alertsGoToTheWindowsOfTheirStrategy() {
        TFixture f;
        TAlertForm* scanA = f.window("WN=Scanner&Src=inbox");
        TAlertForm* scanB = f.window("WN=Scanner&Src=inbox");
        TAlertForm* gaps = f.window("WN=Gaps&Src=inbox");
        TAlertForm* service = f.window("WN=Scanner");
        QCOMPARE(f.offer({Alert("NVDA", "Scanner"), Alert("AMD", "*"), Alert("TSLA", "Gaps")}),
                 IAlertSink::TOffer::Accepted);
        // Delivered on the next turn of the event loop, not inside the sender's request.
        QVERIFY(Fake(scanA).FExternalAlerts.isEmpty());
        QTRY_COMPARE(Symbols(scanA), QStringList({"NVDA", "AMD"}));
        QCOMPARE(Symbols(scanB), QStringList({"NVDA", "AMD"}));
        QCOMPARE(Symbols(gaps), QStringList({"AMD", "TSLA"}));
        QVERIFY(Fake(service).FExternalAlerts.isEmpty());
        QCOMPARE(f.Desk.NewWindows, 4); // none opened by the router
    }

    // No window of that strategy: one opens for it, with the alert as its first row, and the
    // next alerts of the strategy go to it. Price, skip and description come through; the time
    // is the arrival time.
    void aNewStrategyOpensItsWindow() {
        TFixture f;
        const QDateTime at = QDateTime::fromString("2026-12-08T15:00:00.125Z", Qt::ISODateWithMs);
        f.Router.Clock = [at] { return at; };
        TSourceAlert first = Alert("NVDA", "Gap Up & Go");
        first.Price = 912.4;
        first.HasPrice = true;
        first.Skip = true;
        first.Description = "New high";
        f.offer({first});
        f.offer({Alert("AMD", "Gap Up & Go")});
        QTRY_COMPARE(f.Desk.AlertWindows().size(), 1);
        TAlertForm* w = f.Desk.AlertWindows().first();
        QCOMPARE(w->ZentrikWindowX->DataConfig(), QString("WN=Gap%20Up%20%26%20Go&Src=inbox"));
        QCOMPARE(w->ZentrikWindowX->WindowName(), QString("Gap Up & Go"));
        QCOMPARE(Symbols(w), QStringList({"NVDA", "AMD"}));
        const TAlertData& a = Fake(w).FExternalAlerts.first();
        QCOMPARE(a.AlertPrice, 912.4);
        QCOMPARE(a.Skip, 1);
        QCOMPARE(a.Text, QString("New high"));
        QCOMPARE(a.Time, at);
        // Its actions are the default window actions, as for any new window.
        QCOMPARE(w->Actions, DefaultWindowActions());

        f.offer({Alert("TSLA", "Gap Up & Go"), Alert("XOM", "*")});
        QTRY_COMPARE(Symbols(w).size(), 4);
        QCOMPARE(f.Desk.AlertWindows().size(), 1);
    }

    void withoutNewWindowsAnUnknownStrategyOpensNothing() {
        TFixture f;
        f.Router.SetOpenNewWindows(false);
        f.offer({Alert("NVDA", "Nobody"), Alert("AMD", "*")});
        QTest::qWait(20);
        QCOMPARE(f.Router.Waiting(), 0);
        QVERIFY(f.Desk.AlertWindows().isEmpty());
    }

    // Too much waiting, in count or in bytes, or a history that is behind: Busy, and nothing
    // of that offer is kept; closing: Closing; a Flush delivers at once what was accepted.
    void limitsAndClosing() {
        TFixture f;
        TAlertForm* w = f.window("WN=Inbox&Src=inbox");
        QList<TSourceAlert> many;
        for (qsizetype i = 0; i < TAlertRouter::MaxWaiting; ++i)
            many << Alert("A");
        QCOMPARE(f.offer(many), IAlertSink::TOffer::Accepted);
        QCOMPARE(f.offer({Alert("B")}), IAlertSink::TOffer::Busy);
        QCOMPARE(f.Router.Waiting(), TAlertRouter::MaxWaiting);
        QVERIFY(f.Router.IsBusy());
        f.Router.Flush();
        QVERIFY(!f.Router.IsBusy());
        QCOMPARE(Fake(w).FExternalAlerts.size(), TAlertRouter::MaxWaiting);
        QCOMPARE(f.Router.WaitingBytes(), 0);

        // Long descriptions reach the bound in bytes long before the count.
        const TSourceAlert big = Described("L", "Inbox", QString(4000, QLatin1Char('d')));
        int taken = 0;
        while (f.offer(QList<TSourceAlert>(100, big)) == IAlertSink::TOffer::Accepted)
            taken += 100;
        QVERIFY(taken > 0 && taken < 10000);
        QVERIFY(f.Router.WaitingBytes() <= TAlertRouter::MaxWaitingBytes);
        QVERIFY(f.Router.WaitingBytes() > TAlertRouter::MaxWaitingBytes - 100 * 9000);
        f.Router.Flush();

        f.Log.Behind = true;
        QVERIFY(f.Router.IsBusy());
        QCOMPARE(f.offer({Alert("B")}), IAlertSink::TOffer::Busy);
        QCOMPARE(f.Router.Waiting(), 0);
        f.Log.Behind = false;
        QCOMPARE(f.offer({Alert("C")}), IAlertSink::TOffer::Accepted);
        f.Router.SetClosing(true);
        QCOMPARE(f.offer({Alert("D")}), IAlertSink::TOffer::Closing);
        f.Router.Flush();
        QCOMPARE(Symbols(w).last(), QString("C"));
    }

    // A request naming many new strategies: windows open one per turn of the event loop, at
    // most MaxNewWindowsPerMinute in a minute; the alerts of the others go to one catch-all
    // window ("Inbox", WN=*), with their strategy in front. A minute later new windows open
    // again; a window the user has is used whatever the count.
    void newWindowsAreRationed() {
        TFixture f;
        f.Router.SetMaxNewWindowsPerMinute(3);
        QList<TSourceAlert> alerts;
        for (int i = 0; i < 6; ++i)
            alerts << Described(QStringLiteral("S%1").arg(i), QStringLiteral("W%1").arg(i),
                                i == 4 ? QString() : QStringLiteral("up"));
        alerts << Described("T0", "W0", "again") << Described("T5", "W5", "again")
               << Alert("ALL", "*");
        QCOMPARE(f.offer(alerts), IAlertSink::TOffer::Accepted);
        QCoreApplication::sendPostedEvents(&f.Router);
        QCOMPARE(f.Desk.NewWindows, 1);
        QCoreApplication::sendPostedEvents(&f.Router);
        QCOMPARE(f.Desk.NewWindows, 2);
        QTRY_COMPARE(f.Router.Waiting(), 0);
        QCOMPARE(f.Desk.NewWindows, 4); // three strategies and the catch-all
        for (int i = 1; i < 3; ++i)
            QCOMPARE(Descriptions(f.named(QStringLiteral("W%1").arg(i))),
                     QStringList({QStringLiteral("S%1/up").arg(i), "ALL/"}));
        QCOMPARE(Descriptions(f.named("W0")), QStringList({"S0/up", "T0/again", "ALL/"}));
        TAlertForm* catchAll = f.named("*");
        QVERIFY(catchAll);
        QCOMPARE(catchAll->ZentrikWindowX->DataConfig(), QString("WN=*&Src=inbox"));
        QCOMPARE(catchAll->windowTitle(), QString("Inbox"));
        QCOMPARE(Descriptions(catchAll),
                 QStringList({"S3/W3: up", "S4/W4", "S5/W5: up", "T5/W5: again", "ALL/"}));

        // Still within the minute: the catch-all; a window the user has is used.
        f.NowMs = 59999;
        TAlertForm* own = f.window("WN=Mine&Src=inbox");
        f.offer({Alert("X", "W9"), Alert("Y", "Mine")});
        QTRY_COMPARE(Symbols(catchAll).last(), QString("X"));
        QCOMPARE(Symbols(own), QStringList({"Y"}));
        f.NowMs = 60000;
        f.offer({Alert("Z", "W9")});
        QTRY_VERIFY(f.named("W9"));
        QCOMPARE(Symbols(f.named("W9")), QStringList({"Z"}));

        // None at all: every new strategy goes to the catch-all.
        f.Router.SetMaxNewWindowsPerMinute(0);
        f.NowMs = 10 * 60000;
        f.offer({Alert("Q", "W10")});
        QTRY_COMPARE(Symbols(catchAll).last(), QString("Q"));
        QVERIFY(!f.named("W10"));
    }

    // A delivery reaches no more windows than can repaint in a turn; the others' alerts follow
    // in later turns, each window's in arrival order, and an alert for every window waits for
    // those before it.
    void aDeliveryReachesFewWindowsWhenTheyRepaintSlowly() {
        TFixture f;
        QList<TAlertForm*> w;
        for (int i = 0; i < 5; ++i)
            w << f.window(QStringLiteral("WN=W%1&Src=inbox").arg(i));
        f.Router.RepaintMsPerWindow = 10;
        QCOMPARE(f.Router.WindowsPerTurn(), 2);
        f.offer({Alert("a", "W0"), Alert("b", "W1"), Alert("c", "W2"), Alert("d", "W0"),
                 Alert("e", "*"), Alert("f", "W3")});
        QCoreApplication::sendPostedEvents(&f.Router);
        QCOMPARE(Symbols(w[0]), QStringList({"a", "d"}));
        QCOMPARE(Symbols(w[1]), QStringList({"b"}));
        QVERIFY(Symbols(w[2]).isEmpty());
        QCOMPARE(f.Router.Waiting(), 3);
        QTRY_COMPARE(f.Router.Waiting(), 0);
        QCOMPARE(Symbols(w[0]), QStringList({"a", "d", "e"}));
        QCOMPARE(Symbols(w[2]), QStringList({"c", "e"}));
        QCOMPARE(Symbols(w[3]), QStringList({"e", "f"}));
        QCOMPARE(Symbols(w[4]), QStringList({"e"}));
    }

    // What a delivery costs is the processor time it took: one that only waited (a busy
    // machine gave the processor to other programs meanwhile) neither holds the next delivery
    // back nor makes the windows look slow to repaint.
    void aDeliveryThatWaitedDoesNotHoldTheNextBack() {
        TFixture f;
        TAlertForm* w = f.window(QStringLiteral("WN=W0&Src=inbox"));
        // Sleeping takes the time without the processor, as being passed over does.
        f.Router.Delivered = [](qsizetype) { QThread::msleep(100); };
        f.offer({Alert("a", "W0")});
        QCoreApplication::sendPostedEvents(&f.Router);
        QCOMPARE(Symbols(w), QStringList({"a"}));
        // The delivery's cost is taken once its windows have repainted; counted as work, the
        // 100 ms would space the next delivery the longest there is.
        QTRY_VERIFY(f.Router.SpacingMs() >= 0);
        QVERIFY2(f.Router.SpacingMs() < TAlertRouter::MaxSpacingMs / 2,
                 qPrintable(QString::number(f.Router.SpacingMs())));
        QVERIFY2(f.Router.WindowsPerTurn() >= 11,
                 qPrintable(QString::number(f.Router.RepaintMsPerWindow)));
        QTRY_VERIFY(f.Router.DeliveryDue());
        f.offer({Alert("b", "W0")});
        QCoreApplication::sendPostedEvents(&f.Router);
        QCOMPARE(Symbols(w), QStringList({"a", "b"}));
    }

    // A flood into many windows is handed over in turns of at most MaxRowsPerTurn rows, however
    // fast the windows take them; each window gets its alerts in their order, the alerts for
    // every window included, and none twice. Closing while some wait delivers them at once.
    void aFloodGoesInBoundedTurnsInOrder() {
        TFixture f;
        constexpr int Windows = 12;
        QList<TAlertForm*> w;
        for (int i = 0; i < Windows; ++i)
            w << f.window(QStringLiteral("WN=W%1&Src=inbox").arg(i));
        QList<qsizetype> turns;
        f.Router.Delivered = [&turns](qsizetype rows) { turns << rows; };
        QList<QStringList> expected(Windows);
        QList<TSourceAlert> flood;
        for (int n = 0; n < 6000; ++n) {
            const bool toEvery = n % 97 == 0;
            const QString symbol = QStringLiteral("S%1").arg(n);
            flood << Alert(symbol,
                           toEvery ? QStringLiteral("*") : QStringLiteral("W%1").arg(n % 7));
            for (int i = 0; i < Windows; ++i)
                if (toEvery || i == n % 7)
                    expected[i] << symbol;
        }
        QCOMPARE(f.offer(flood), IAlertSink::TOffer::Accepted);
        QTRY_COMPARE(f.Router.Waiting(), 0);
        QVERIFY2(turns.size() > 6, qPrintable(QString::number(turns.size())));
        qsizetype rows = 0;
        for (qsizetype turn : std::as_const(turns)) {
            QVERIFY2(turn > 0 && turn <= TAlertRouter::MaxRowsPerTurn,
                     qPrintable(QString::number(turn)));
            rows += turn;
        }
        for (int i = 0; i < Windows; ++i)
            QCOMPARE(Symbols(w[i]), expected[i]);
        QCOMPARE(rows, 6000 + (6000 / 97 + 1) * (Windows - 1));

        // One turn, then the client closes: what waits goes in now, after what went before.
        for (TAlertForm* window : w)
            Fake(window).FExternalAlerts.clear();
        turns.clear();
        QTRY_VERIFY(f.Router.DeliveryDue());
        QCOMPARE(f.offer(flood), IAlertSink::TOffer::Accepted);
        QCoreApplication::sendPostedEvents(&f.Router);
        QCOMPARE(turns.size(), 1);
        QVERIFY(f.Router.Waiting() > 0);
        f.Router.SetClosing(true);
        f.Router.Flush();
        QCOMPARE(f.Router.Waiting(), 0);
        for (int i = 0; i < Windows; ++i)
            QCOMPARE(Symbols(w[i]), expected[i]);
        QCOMPARE(f.Router.WaitingBytes(), 0);
    }

    // However slowly they come, the inbox opens no window while MaxInboxWindows inbox windows
    // are open.
    void inboxWindowsHaveACeiling() {
        TFixture f;
        f.Router.SetMaxNewWindowsPerMinute(1000);
        for (int i = 0; i < TAlertRouter::MaxInboxWindows - 1; ++i)
            f.window(QStringLiteral("WN=L%1&Src=inbox").arg(i));
        f.window("WN=Service"); // not an inbox window: not counted
        f.offer({Alert("A", "New1"), Alert("B", "New2")});
        QTRY_COMPARE(f.Router.Waiting(), 0);
        QVERIFY(f.named("New1"));
        QVERIFY(!f.named("New2"));
        QCOMPARE(Symbols(f.named("*")), QStringList({"B"}));
    }

    // With OpenNewWindows off, an alert no open window takes is kept in the history at once
    // (its strategy as the window) and counted apart; a catch-all window that is open takes
    // them instead.
    void unroutedAlertsAreCountedAndKept() {
        TFixture f;
        f.Router.SetOpenNewWindows(false);
        const IAlertSink::TAnswer none = f.Router.OfferAlerts({Alert("Z", "*")});
        QCOMPARE(none.Offer, IAlertSink::TOffer::Accepted);
        QCOMPARE(none.Unrouted, 1);
        QCOMPARE(f.Log.Kept, QStringList({"*/Z/"}));
        TAlertForm* a = f.window("WN=A&Src=inbox");
        const IAlertSink::TAnswer answer =
            f.Router.OfferAlerts({Alert("X", "A"), Described("Y", "B", "lost?"), Alert("W", "*")});
        QCOMPARE(answer.Offer, IAlertSink::TOffer::Accepted);
        QCOMPARE(answer.Unrouted, 1);
        QCOMPARE(f.Log.Kept, QStringList({"*/Z/", "B/Y/lost?"}));
        QCOMPARE(f.Log.Sources.last(), TAlertSource::Inbox);
        // A broker's alert is kept as the broker's, as it would be in its window.
        TSourceAlert fromBroker = Alert("Q", "B");
        fromBroker.FromBroker = true;
        QCOMPARE(f.Router.OfferAlerts({fromBroker}).Unrouted, 1);
        QCOMPARE(f.Log.Sources.last(), TAlertSource::Broker);
        f.Log.Kept.removeLast();
        QCOMPARE(f.Router.Waiting(), 2);
        QTRY_COMPARE(Symbols(a), QStringList({"X", "W"}));

        TAlertForm* catchAll = f.window("WN=*&Src=inbox");
        QCOMPARE(f.Router.OfferAlerts({Described("V", "B", "found")}).Unrouted, 0);
        QTRY_COMPARE(Descriptions(catchAll), QStringList({"V/B: found"}));
        QVERIFY(f.named("B") == nullptr);
        // A window that closes before its alert is delivered: the history still has it.
        delete catchAll;
        f.window("WN=C&Src=inbox");
        f.offer({Alert("U", "C")});
        delete f.named("C");
        QTRY_COMPARE(f.Router.Waiting(), 0);
        QCOMPARE(f.Log.Kept.last(), QString("C/U/"));
    }

    // While held (a layout being restored), deliveries posted before or during the hold do
    // nothing; what is offered meanwhile is taken without asking the half-made desk, and all
    // goes, in order, in the turn after the last hold ends, to the windows there by then. A
    // Flush does not wait; a hold may outlive its router.
    void aHeldRouterDeliversOnceReleased() {
        TFixture f;
        f.Router.SetOpenNewWindows(false);
        TAlertForm* a = f.window("WN=A&Src=inbox");
        f.offer({Alert("1", "A")}); // its delivery is posted already
        TAlertForm* b = nullptr;
        {
            auto outer = std::make_unique<TAlertRouter::THold>(f.Router);
            {
                const TAlertRouter::THold inner(f.Router);
                // No window of B yet: taken all the same, not found unrouted.
                const IAlertSink::TAnswer answer =
                    f.Router.OfferAlerts({Alert("2", "B"), Alert("3", "A"), Alert("4", "*")});
                QCOMPARE(answer.Offer, IAlertSink::TOffer::Accepted);
                QCOMPARE(answer.Unrouted, 0);
                b = f.window("WN=B&Src=inbox");
            }
            QVERIFY(f.Router.Held());
            QTest::qWait(20);
            QVERIFY(Symbols(a).isEmpty() && Symbols(b).isEmpty());
            QCOMPARE(f.Router.Waiting(), 4);
            f.offer({Alert("5", "C")}); // no window ever: kept unrouted once delivered
            outer.reset();
            QVERIFY(!f.Router.Held());
            QVERIFY(Symbols(a).isEmpty()); // delivered on the next turn, not inside the restore
        }
        QTRY_COMPARE(f.Router.Waiting(), 0);
        QCOMPARE(Symbols(a), QStringList({"1", "3", "4"}));
        QCOMPARE(Symbols(b), QStringList({"2", "4"}));
        QCOMPARE(f.Log.Kept.filter("C/").join(","), QString("C/5/"));
        QCOMPARE(f.Desk.NewWindows, 2);

        {
            const TAlertRouter::THold hold(f.Router);
            f.offer({Alert("6", "A")});
            f.Router.Flush();
            QCOMPARE(Symbols(a).last(), QString("6"));
        }
        auto router = std::make_unique<TAlertRouter>(f.Desk);
        auto hold = std::make_unique<TAlertRouter::THold>(*router);
        router.reset();
        hold.reset();
    }

    // A window's actions may close another window the same batch was meant for.
    void aWindowClosedDuringDeliveryIsSkipped() {
        TFixture f;
        TAlertForm* first = f.window("WN=X&Src=inbox");
        QPointer<TAlertForm> second = f.window("WN=X&Src=inbox");
        Fake(first).SetNotifyOnEachAlert(true);
        QObject::connect(first->ZentrikWindowX, &TZentrikWindowX::OnNewAlert,
                         [&second](QObject*, IAlertData*) { delete second.data(); });
        f.offer({Alert("NVDA", "X")});
        QTRY_COMPARE(Symbols(first), QStringList({"NVDA"}));
        QVERIFY(!second);
    }

    // An alert a window's rules refuse is kept in the history as refused by it and never
    // reaches the window; one refused by every window it goes to is counted as filtered.
    void refusedAlertsAreKeptButNotShown() {
        TFixture f;
        TTestSymbolLists lists;
        const int32_t watch = lists.Add("Watch", {"AAPL"});
        TAlertForm* w = f.listWindow("WN=Scanner&Src=inbox", "Watch");
        Fake(w).SetNotifyOnEachAlert(true);
        const IAlertSink::TAnswer answer =
            f.Router.OfferAlerts({Alert("AAPL", "Scanner"), Alert("IBM", "Scanner")});
        QCOMPARE(answer.Offer, IAlertSink::TOffer::Accepted);
        QCOMPARE(answer.Filtered, 1);
        QCOMPARE(answer.Unrouted, 0);
        QCOMPARE(f.Log.Refused, QStringList({"Scanner/IBM/symbol is on list \"Watch\""}));
        f.Router.Flush();
        QCOMPARE(Symbols(w), QStringList({"AAPL"}));
        QCOMPARE(f.Log.Kept, QStringList({"Scanner/AAPL/"}));
        // The list changed through the dispatcher: the next alert follows it.
        lists.AddSymbol(watch, "IBM");
        QCOMPARE(f.Router.OfferAlerts({Alert("IBM", "Scanner")}).Filtered, 0);
        f.Router.Flush();
        QCOMPARE(Symbols(w), QStringList({"AAPL", "IBM"}));
        // Deleted, the list's rule is off.
        lists.Delete(watch);
        QCOMPARE(f.Router.OfferAlerts({Alert("MSFT", "Scanner")}).Filtered, 0);
        f.Router.Flush();
        QCOMPARE(Symbols(w).last(), QString("MSFT"));
        QCOMPARE(f.Log.Refused.size(), 1);
    }

    // An alert for several windows: those whose rules refuse it record so, the others show
    // it, and it is not filtered. Rules changed while it waits are asked at delivery.
    void rulesAreAskedPerWindow() {
        TFixture f;
        TTestSymbolLists lists;
        lists.Add("Watch", {"AAPL"});
        TAlertForm* open = f.window("WN=A&Src=inbox");
        TAlertForm* narrow = f.listWindow("WN=B&Src=inbox", "Watch");
        QCOMPARE(f.Router.OfferAlerts({Alert("IBM", "*")}).Filtered, 0);
        f.Router.Flush();
        QCOMPARE(Symbols(open), QStringList({"IBM"}));
        QVERIFY(Symbols(narrow).isEmpty());
        QCOMPARE(f.Log.Refused, QStringList({"B/IBM/symbol is on list \"Watch\""}));
        // Taken while A kept everything, refused by the time it is delivered.
        QCOMPARE(f.Router.OfferAlerts({Alert("TSLA", "A")}).Filtered, 0);
        open->KeepRules = narrow->KeepRules;
        f.Router.Flush();
        QCOMPARE(Symbols(open), QStringList({"IBM"}));
        QCOMPARE(f.Log.Refused.last(), QString("A/TSLA/symbol is on list \"Watch\""));
        // The catch-all's rules apply to what it takes for others.
        f.Router.SetOpenNewWindows(false);
        TAlertForm* catchAll = f.listWindow("WN=*&Src=inbox", "Watch");
        QCOMPARE(f.Router.OfferAlerts({Alert("IBM", "Nowhere")}).Filtered, 1);
        QCOMPARE(f.Log.Refused.last(), QString("Inbox/IBM/symbol is on list \"Watch\""));
        QCOMPARE(f.Router.OfferAlerts({Alert("AAPL", "Nowhere")}).Filtered, 0);
        f.Router.Flush();
        QCOMPARE(Descriptions(catchAll), QStringList({"AAPL/Nowhere"}));
    }

    // The emphasis rule marks the rows of symbols on its list, in the windows that keep them,
    // beside or without keeping rules; off or with its list gone, it marks nothing.
    void emphasisMarksTheRowsOfItsList() {
        TFixture f;
        TTestSymbolLists lists;
        lists.Add("Watch", {"AAPL", "MSFT"});
        const int32_t hot = lists.Add("Hot", {"AAPL"});
        TKeepRule emphasis;
        emphasis.Kind = TKeepRuleKind::Emphasise;
        emphasis.List = "Hot";
        TAlertForm* plain = f.window("WN=A&Src=inbox");
        plain->KeepRules.Rules = {emphasis};
        TAlertForm* narrow = f.listWindow("WN=B&Src=inbox", "Watch");
        narrow->KeepRules.Rules.push_back(emphasis);
        const auto marked = [](TAlertForm* w) {
            QStringList rows;
            for (const TAlertData& a : Fake(w).FExternalAlerts)
                rows << a.Symbol + (a.Emphasised ? "*" : "");
            return rows;
        };
        QCOMPARE(f.Router.OfferAlerts({Alert("AAPL", "*"), Alert("MSFT", "*"), Alert("IBM", "*")})
                     .Filtered,
                 0);
        f.Router.Flush();
        QCOMPARE(marked(plain), QStringList({"AAPL*", "MSFT", "IBM"}));
        QCOMPARE(marked(narrow), QStringList({"AAPL*", "MSFT"}));
        QCOMPARE(f.Log.Refused, QStringList({"B/IBM/symbol is on list \"Watch\""}));

        plain->KeepRules.Rules[0].On = false;
        f.Router.OfferAlerts({Alert("AAPL", "A")});
        f.Router.Flush();
        QCOMPARE(marked(plain).last(), QString("AAPL"));
        lists.Delete(hot);
        f.Router.OfferAlerts({Alert("AAPL", "B")});
        f.Router.Flush();
        QCOMPARE(marked(narrow).last(), QString("AAPL"));
    }

    // A dry run says where each alert would go and which rule would refuse it, taking nothing.
    void dryRunTellsWhereAlertsWouldGo() {
        TFixture f;
        TTestSymbolLists lists;
        lists.Add("Watch", {"AAPL"});
        f.window("WN=A&Src=inbox");
        f.listWindow("WN=B&Src=inbox", "Watch");
        const auto verdicts =
            f.Router.TryAlerts({Alert("IBM", "*"), Alert("AAPL", "B"), Alert("X", "New")});
        QCOMPARE(verdicts.size(), 3);
        QCOMPARE(verdicts[0].size(), 2);
        QCOMPARE(verdicts[0][0].Window, QString("A"));
        QVERIFY(verdicts[0][0].Refused.isEmpty());
        QCOMPARE(verdicts[0][1].Window, QString("B"));
        QCOMPARE(verdicts[0][1].Refused, QString("symbol is on list \"Watch\""));
        QCOMPARE(verdicts[1].size(), 1);
        QVERIFY(verdicts[1][0].Refused.isEmpty());
        QCOMPARE(verdicts[2].size(), 1);
        QVERIFY(verdicts[2][0].Opens);
        QCOMPARE(verdicts[2][0].Window, QString("New"));
        // Nothing was taken, recorded or opened.
        QCOMPARE(f.Router.Waiting(), 0);
        QVERIFY(f.Log.Kept.isEmpty() && f.Log.Refused.isEmpty());
        QCOMPARE(f.Desk.AlertWindows().size(), 2);
        f.Router.SetOpenNewWindows(false);
        QVERIFY(f.Router.TryAlerts({Alert("X", "New")}).first().isEmpty());
    }
};

QTEST_MAIN(TAlertRouterTest)
#include "tst_alert_router.moc"
