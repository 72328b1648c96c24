// The router between the inbox and the alert windows, against a desk of fake components: which
// windows get an alert, when a window opens for it, batching, and the limits it answers with.
#include "components/zkComponentWrappers.h"
#include "config/zkWindowRecord.h"
#include "inbox/zkAlertInbox.h"
#include "zkFakeComponents.h"
#include "zkFakeDesk.h"
#include "zkTestSupport.h"

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

TInboxAlert Alert(const QString& symbol, const QString& strategy = QStringLiteral("Inbox")) {
    TInboxAlert a;
    a.Symbol = symbol;
    a.Strategy = strategy;
    return a;
}

struct TFixture {
    TClientSandbox Sandbox;
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    TFakeDesk Desk;
    TInboxRouter Router{Desk};

    TFixture() {
        SetDefaultWindowRecord();
        CreateDefaultActionLists();
    }
    TAlertForm* window(const QString& dataConfig) {
        TAlertForm* w = Desk.NewAlertWindow();
        w->ZentrikWindowX->SetDataConfig(dataConfig);
        return w;
    }
    IInboxSink::TOffer offer(QList<TInboxAlert> alerts) {
        return Router.OfferAlerts(std::move(alerts));
    }
};

} // namespace

class TInboxRouterTest : public QObject {
    Q_OBJECT
private slots:
    void dataConfigs() {
        QVERIFY(IsInboxDataConfig("WN=Scanner&Src=inbox"));
        QVERIFY(IsInboxDataConfig("Src=inbox"));
        QVERIFY(!IsInboxDataConfig("WN=Src=inbox"));
        QVERIFY(!IsInboxDataConfig("WN=A&Src=Inbox"));
        QVERIFY(!IsInboxDataConfig("WN=A&XSrc=inbox"));
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
                 IInboxSink::TOffer::Accepted);
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
        TInboxAlert first = Alert("NVDA", "Gap Up & Go");
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

    // Too much waiting: Busy, and nothing of that offer is kept; closing: Closing; a Flush
    // delivers at once what was accepted.
    void limitsAndClosing() {
        TFixture f;
        TAlertForm* w = f.window("WN=Inbox&Src=inbox");
        QList<TInboxAlert> many;
        for (qsizetype i = 0; i < TInboxRouter::MaxWaiting; ++i)
            many << Alert("A");
        QCOMPARE(f.offer(many), IInboxSink::TOffer::Accepted);
        QCOMPARE(f.offer({Alert("B")}), IInboxSink::TOffer::Busy);
        QCOMPARE(f.Router.Waiting(), TInboxRouter::MaxWaiting);
        f.Router.Flush();
        QCOMPARE(Fake(w).FExternalAlerts.size(), TInboxRouter::MaxWaiting);
        QCOMPARE(f.offer({Alert("C")}), IInboxSink::TOffer::Accepted);
        f.Router.SetClosing(true);
        QCOMPARE(f.offer({Alert("D")}), IInboxSink::TOffer::Closing);
        f.Router.Flush();
        QCOMPARE(Symbols(w).last(), QString("C"));
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
};

QTEST_MAIN(TInboxRouterTest)
#include "tst_inbox_router.moc"
