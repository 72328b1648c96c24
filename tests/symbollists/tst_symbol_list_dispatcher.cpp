// The controller, provider and updater against the fake connection component's list server.
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"
#include "symbollists/zkSymbolListsDispatcher.h"
#include "zkFakeComponents.h"

#include <QtTest>

#include <functional>

namespace {

// Writes every notification it gets into a log shared by all recorders, tagged with its name.
class TRecorder : public TSymbolListChanges {
public:
    TRecorder(QString tag, QStringList& log) : Tag(std::move(tag)), Log(log) {}
    void BeginRefresh() override { Add("BeginRefresh"); }
    void ListsChanged(bool Reload) override { Add(Reload ? "ListsChanged(1)" : "ListsChanged(0)"); }
    void CreateList(int32_t id, const QString& n) override {
        Add(QString("Create(%1,%2)").arg(id).arg(n));
    }
    void RenameList(int32_t id, const QString& n) override {
        Add(QString("Rename(%1,%2)").arg(id).arg(n));
    }
    void DeleteList(int32_t id) override { Add(QString("Delete(%1)").arg(id)); }
    void SetSymbols(int32_t id, const QStringList& s) override {
        Add(QString("Set(%1,%2)").arg(id).arg(s.join(' ')));
    }
    void CopyLists(int32_t id, const QString& n, std::span<const int32_t> src) override {
        QStringList ids;
        for (int32_t s : src)
            ids << QString::number(s);
        Add(QString("Copy(%1,%2,%3)").arg(id).arg(n, ids.join(' ')));
    }
    void AddSymbol(int32_t id, const QString& s) override {
        Add(QString("Add(%1,%2)").arg(id).arg(s));
    }
    void DeleteSymbol(int32_t id, const QString& s) override {
        Add(QString("Del(%1,%2)").arg(id).arg(s));
    }

private:
    void Add(const QString& entry) { Log << Tag + ':' + entry; }
    QString Tag;
    QStringList& Log;
};

struct TDispatcherFixture {
    TFakeConnectionControl Connection;
    QStringList Log;
    TRecorder A{"A", Log}, B{"B", Log};

    explicit TDispatcherFixture(std::vector<TFakeServerList> lists = {}) {
        Connection.Server->Lists = std::move(lists);
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        StartSymbolListDispatcher(&Connection);
        SymbolListController()->AddListener(&A);
        SymbolListController()->AddListener(&B);
    }
    ~TDispatcherFixture() { StopSymbolListDispatcher(); }
    TFakeListServer& server() { return *Connection.Server; }
    QStringList model() const {
        QStringList lines;
        FillSymbolListItems(*SymbolListModel(), lines);
        return lines;
    }
    QStringList symbols(int32_t id) const {
        const int i = IndexOfListId(*SymbolListModel(), id);
        return i < 0 ? QStringList{"<none>"} : (*SymbolListModel())[size_t(i)]->Symbols.Strings();
    }
    // The server log since the last call.
    QStringList sent() {
        QStringList s = server().Log;
        server().Log.clear();
        return s;
    }
    void refresh() {
        SymbolListProvider()->Refresh();
        QTRY_VERIFY(!SymbolListProvider()->Refreshing());
        Log.clear();
        server().Log.clear();
    }
};

std::vector<TFakeServerList> TwoLists() {
    return {{1, "Tech", {"A", "B"}, true, 0}, {2, "More", {"C", "b"}, true, 0}};
}

} // namespace

class TSymbolListDispatcherTest : public QObject {
    Q_OBJECT
private slots:
    void controllerAppliesThenForwardsInOrder() {
        TDispatcherFixture f;
        SymbolListController()->CreateList(-1, "   ");
        QCOMPARE(f.model(), QStringList{"(unnamed list #1)   [Empty]"});
        QCOMPARE(f.Log,
                 QStringList({"A:Create(1,(unnamed list #1))", "B:Create(1,(unnamed list #1))",
                              "A:ListsChanged(1)", "B:ListsChanged(1)"}));
        // The updater, first listener, has written it before anyone else heard of it.
        QCOMPARE(f.sent(),
                 QStringList({"1:SetListName((unnamed list #1))", "1:RemoveSymbol(~~~~~~~~~~)"}));
    }

    void unknownIdsStillReachServerAndListeners() {
        TDispatcherFixture f(TwoLists());
        f.refresh();
        SymbolListController()->AddSymbol(42, "X");
        SymbolListController()->RenameList(43, "  ");
        QCOMPARE(f.model(), QStringList({"Tech   [2]", "More   [2]"}));
        QCOMPARE(f.sent(), QStringList({"42:InsertSymbol(X)", "43:SetListName(  )",
                                        "43:RemoveSymbol(~~~~~~~~~~)"}));
        QCOMPARE(f.Log.mid(0, 3), QStringList({"A:Add(42,X)", "B:Add(42,X)", "A:ListsChanged(1)"}));
        QVERIFY(f.Log.contains("B:Rename(43,  )")); // the text as requested
    }

    void updaterCallSequences() {
        TDispatcherFixture f(TwoLists());
        f.refresh();
        const int32_t sources[] = {1, 2, 99};
        SymbolListController()->CopyLists(-1, "Both", sources);
        QCOMPARE(f.symbols(3), QStringList({"A", "B", "C"}));
        QCOMPARE(f.sent(),
                 QStringList({"3:SetListName(Both)", "3:BeginReplace", "3:AddToReplacement(A)",
                              "3:AddToReplacement(B)", "3:AddToReplacement(b)",
                              "3:AddToReplacement(C)", "3:FinishReplace"}));
        SymbolListController()->SetSymbols(1, {"z", "Y", "z"});
        QCOMPARE(f.symbols(1), QStringList({"Y", "z"}));
        QCOMPARE(f.sent(),
                 QStringList({"1:BeginReplace", "1:AddToReplacement(z)", "1:AddToReplacement(Y)",
                              "1:AddToReplacement(z)", "1:FinishReplace"}));
        SymbolListController()->RenameList(1, " ");
        SymbolListController()->DeleteSymbol(1, "y");
        SymbolListController()->AddSymbol(1, "Z");
        SymbolListController()->DeleteList(2);
        QCOMPARE(f.model(), QStringList({"(unnamed list #1)   [1]", "Both   [3]"}));
        QCOMPARE(f.sent(),
                 QStringList({"1:SetListName((unnamed list #1))", "1:RemoveSymbol(~~~~~~~~~~)",
                              "1:RemoveSymbol(y)", "1:InsertSymbol(Z)", "2:RemoveList"}));
        // Without an object for the list nothing is sent; the model still changes.
        f.Connection.NoSymbolLists = true;
        SymbolListController()->CreateList(-1, "Quiet");
        QVERIFY(f.sent().isEmpty());
        QCOMPARE(f.model().last(), QString("Quiet   [Empty]"));
    }

    void refreshKeepsServerOrderAndNewIdsComeLast() {
        TDispatcherFixture f(
            {{5, "five", {"X"}, true, 0}, {2, "two", {"Q"}, false, 0}, {7, "seven", {}, true, 0}});
        SymbolListProvider()->Refresh();
        // Complete at once: no tick needed.
        QVERIFY(!SymbolListProvider()->Refreshing());
        QCOMPARE(f.Log, QStringList({"A:BeginRefresh", "B:BeginRefresh", "A:ListsChanged(1)",
                                     "B:ListsChanged(1)"}));
        QCOMPARE(f.model(), QStringList({"five   [1]", "two   [Empty]", "seven   [Empty]"}));
        SymbolListController()->CreateList(-1, "new");
        QCOMPARE(f.model().last(), QString("new   [Empty]"));
        QCOMPARE(IndexOfListId(*SymbolListModel(), 8), 3);
    }

    void cancelBeforeAndAfterCompletion() {
        TDispatcherFixture f(TwoLists());
        f.refresh();
        f.server().CompleteOnRequest = false;
        f.server().Lists.pop_back();
        SymbolListProvider()->Refresh();
        QVERIFY(SymbolListProvider()->Refreshing());
        SymbolListProvider()->CancelRefresh();
        QTRY_VERIFY_WITH_TIMEOUT(!SymbolListProvider()->Refreshing(), 2000);
        QCOMPARE(f.Log.last(), QString("B:ListsChanged(0)"));
        QCOMPARE(f.model().size(), 2); // the previous refresh's lists

        // The lists arrive, then the user cancels before the next tick: nothing is loaded.
        f.Log.clear();
        SymbolListProvider()->Refresh();
        f.server().Complete = true;
        SymbolListProvider()->CancelRefresh();
        SymbolListProvider()->Refresh(); // the tick
        QVERIFY(!SymbolListProvider()->Refreshing());
        QVERIFY(!f.server().Log.contains("RestartEnumeration"));
        QCOMPARE(f.Log.last(), QString("B:ListsChanged(0)"));
        QCOMPARE(f.model().size(), 2);

        // Without cancelling, a later tick loads.
        f.server().Log.clear();
        SymbolListProvider()->Refresh();
        QTimer::singleShot(100, [&] { f.server().Complete = true; });
        QTRY_VERIFY_WITH_TIMEOUT(!SymbolListProvider()->Refreshing(), 2000);
        QCOMPARE(f.Log.last(), QString("B:ListsChanged(1)"));
        QCOMPARE(f.model(), QStringList{"Tech   [2]"});
    }

    void terminatingDuringAFetchEndsTheLoadAtOnce() {
        std::vector<TFakeServerList> lists = TwoLists();
        lists[0].FetchPolls = 1000000;
        TDispatcherFixture f(lists);
        QTimer::singleShot(20, [] { SetSymbolListsTerminating(true); });
        SymbolListProvider()->Refresh();
        QCOMPARE(f.model(), QStringList{"Tech   [Empty]"});
        QCOMPARE(f.Log.last(), QString("B:ListsChanged(1)"));
        QVERIFY(!f.server().Log.contains("2:FetchSymbols"));

        // The main window goes (stopping the dispatcher) while the load waits: the load ends
        // without touching what is gone, and nobody is told any more.
        SetSymbolListsTerminating(false);
        f.Log.clear();
        QTimer::singleShot(20, [] {
            StopSymbolListDispatcher();
            SetSymbolListsTerminating(true);
        });
        SymbolListProvider()->Refresh();
        QVERIFY(!SymbolListProvider());
        QCOMPARE(f.Log, QStringList({"A:BeginRefresh", "B:BeginRefresh"}));
    }

    // A failure while a refresh starts or loads ends the refresh: the listeners hear
    // ListsChanged(false), the error goes on, and the next refresh works.
    void failureEndsTheRefreshCleanly() {
        TDispatcherFixture f(TwoLists());
        f.server().FailOnce = {"RequestLists"};
        QVERIFY_THROWS_EXCEPTION(EComponentError, SymbolListProvider()->Refresh());
        QVERIFY(!SymbolListProvider()->Refreshing());
        QCOMPARE(f.Log, QStringList({"A:BeginRefresh", "B:BeginRefresh", "A:ListsChanged(0)",
                                     "B:ListsChanged(0)"}));

        f.Log.clear();
        f.server().FailOnce = {"FetchSymbols"};
        f.server().Lists[1].FetchPolls = 0;
        QVERIFY_THROWS_EXCEPTION(EComponentError, SymbolListProvider()->Refresh());
        QCOMPARE(f.Log.last(), QString("B:ListsChanged(0)"));
        QCOMPARE(f.model(), QStringList{"Tech   [Empty]"}); // what was read stays

        f.refresh();
        QCOMPARE(f.model(), QStringList({"Tech   [2]", "More   [2]"}));
    }

    // A poll that fails is reported and polled again; Cancel still ends the refresh.
    void failingPollsAreReportedAndCancelWorks() {
        struct TFailingPoll : TFakeListOfLists {
            using TFakeListOfLists::TFakeListOfLists;
            bool Fail = false;
            bool Complete() const override {
                if (Fail)
                    throw EComponentError("poll failed");
                return TFakeListOfLists::Complete();
            }
        };
        TFakeConnectionControl connection;
        auto lists = std::make_shared<TFailingPoll>(connection.Server);
        connection.Lists = lists;
        connection.Server->CompleteOnRequest = false;
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        StartSymbolListDispatcher(&connection);
        SymbolListProvider()->Refresh();
        lists->Fail = true;
        QTRY_VERIFY_WITH_TIMEOUT(!zkPrompts::Shown().isEmpty(), 2000);
        QCOMPARE(zkPrompts::Shown().first().Text, QString("poll failed"));
        QVERIFY(SymbolListProvider()->Refreshing());
        SymbolListProvider()->CancelRefresh();
        QTRY_VERIFY_WITH_TIMEOUT(!SymbolListProvider()->Refreshing(), 2000);
        StopSymbolListDispatcher();
    }

    // A change the server refuses is taken back out of the model, whatever the change (the
    // window would otherwise show it as saved at the next change), and the lists are read
    // again once the command has ended.
    void serverFailureTakesTheChangeBack() {
        TDispatcherFixture f(TwoLists());
        f.refresh();
        const QStringList lists = f.model();
        const QStringList tech = f.symbols(1), more = f.symbols(2);
        f.server().FailOnce = {"InsertSymbol"};
        QVERIFY_THROWS_EXCEPTION(EComponentError, SymbolListController()->AddSymbol(1, "N"));
        QCOMPARE(f.symbols(1), tech);
        QVERIFY(f.Log.isEmpty()); // the updater failed first: the window hears nothing

        auto fails = [&](const QString& operation, const std::function<void()>& change) {
            f.server().FailOnce = {operation};
            QVERIFY_THROWS_EXCEPTION(EComponentError, change());
            QVERIFY2(f.server().FailOnce.isEmpty(), qPrintable(operation));
        };
        fails("RemoveList", [] { SymbolListController()->DeleteList(1); });
        fails("SetListName", [] { SymbolListController()->RenameList(2, "X"); });
        fails("SetListName", [] { SymbolListController()->CreateList(-1, "New"); });
        fails("FinishReplace", [] { SymbolListController()->SetSymbols(2, {"Q"}); });
        fails("RemoveSymbol", [] { SymbolListController()->DeleteSymbol(1, "A"); });
        const int32_t sources[] = {1, 2};
        fails("BeginReplace", [&] { SymbolListController()->CopyLists(-1, "Copy", sources); });
        QCOMPARE(f.model(), lists);
        QCOMPARE(f.symbols(1), tech);
        QCOMPARE(f.symbols(2), more);
        QVERIFY(f.Log.isEmpty());

        QVERIFY(!f.server().Log.contains("RequestLists"));
        QTRY_VERIFY(f.server().Log.contains("RequestLists"));
        // The copy was named on the server before its symbols were refused.
        QTRY_COMPARE(f.model(), QStringList({"Tech   [2]", "More   [2]", "Copy   [Empty]"}));
    }

    // Cancel while the lists load: the load goes on, and what it loaded is announced. A refresh
    // asked for meanwhile does not start another one over it.
    void cancelOrRefreshWhileLoading() {
        std::vector<TFakeServerList> lists = TwoLists();
        lists[0].FetchPolls = 3;
        TDispatcherFixture f(lists);
        QTimer::singleShot(0, [] {
            SymbolListProvider()->Refresh();
            SymbolListProvider()->CancelRefresh();
        });
        SymbolListProvider()->Refresh();
        QCOMPARE(f.server().Log.count("RequestLists"), 1);
        QCOMPARE(f.Log, QStringList({"A:BeginRefresh", "B:BeginRefresh", "A:ListsChanged(1)",
                                     "B:ListsChanged(1)"}));
        QCOMPARE(f.model(), QStringList({"Tech   [2]", "More   [2]"}));
        QVERIFY(!SymbolListProvider()->Refreshing());
    }
};

QTEST_MAIN(TSymbolListDispatcherTest)
#include "tst_symbol_list_dispatcher.moc"
