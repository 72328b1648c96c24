#include "linking/zkExternalLinks.h"
#include "platform/zkErrors.h"
#include "zkFakeComponents.h"

#include <QPointer>
#include <QTest>

namespace {

// A link list whose connectors are fakes owned by their items.
struct TFakeLinks {
    QList<QPointer<TFakeConnector>> Made;
    QStringList MadeFor;
    TExternalLinkList List{[this](const QString& name) {
        auto* connector = new TFakeConnector;
        connector->SetLinkName(name);
        Made << connector;
        MadeFor << name;
        return TExternalLinkList::TConnector{std::unique_ptr<QObject>(connector), connector};
    }};
    TFakeConnector* fake(const QString& name) {
        return static_cast<TFakeConnector*>(List.ConnectorOf(name));
    }
};

} // namespace

class TLinkListsTest : public QObject {
    Q_OBJECT
private slots:
    void nameRule();
    void queuedSymbolsGoOutInOrderOnce();
    void getOrCreateIsExactAndRemovalFreesTheConnector();
    void namesSortAndMatchWithoutCase();
    void nextFreeName();
    void listsNamedByActions();
};

void TLinkListsTest::nameRule() {
    QCOMPARE(EffectiveListName(QString()), QString("MAIN LIST"));
    QCOMPARE(EffectiveListName("  \t"), QString("MAIN LIST"));
    QCOMPARE(EffectiveListName("  Scan "), QString("Scan"));
    QCOMPARE(EffectiveListName("main list"), QString("main list"));
}

void TLinkListsTest::queuedSymbolsGoOutInOrderOnce() {
    TFakeLinks links;
    links.List.QueueSymbol(" Scan", "AAPL");
    links.List.QueueSymbol("Scan ", "MSFT");
    links.List.QueueSymbol("Scan", "AAPL");
    links.List.QueueSymbol("", "IBM");
    links.List.QueueSymbol("   ", "NVDA");
    // Nothing is sent before the flush.
    QCOMPARE(links.List.Count(), 2);
    QVERIFY(links.fake("Scan")->Sent.isEmpty());

    links.List.FlushSymbols("Scan");
    QCOMPARE(links.fake("Scan")->Sent, QStringList({"AAPL", "MSFT", "AAPL"}));
    QCOMPARE(links.fake("Scan")->FSymbol, QString("AAPL"));
    links.List.FlushSymbols("Scan");
    QCOMPARE(links.fake("Scan")->Sent.size(), 3);

    // Blank names are "MAIN LIST", in queueing and in sending.
    links.List.FlushSymbols(" ");
    QCOMPARE(links.fake("MAIN LIST")->Sent, QStringList({"IBM", "NVDA"}));
    QVERIFY(links.List.Find("MAIN LIST")->PendingSymbols.isEmpty());

    // A connector that fails part-way has the failure reported once; the symbols after it are
    // not sent again by the next flush.
    struct TFailingConnector : TFakeConnector {
        void SendSymbol() override {
            if (FSymbol == "BAD")
                throw EComponentError("send failed");
            TFakeConnector::SendSymbol();
        }
    };
    TExternalLinkList failing([](const QString&) {
        auto* c = new TFailingConnector;
        return TExternalLinkList::TConnector{std::unique_ptr<QObject>(c), c};
    });
    failing.QueueSymbol("X", "A");
    failing.QueueSymbol("X", "BAD");
    failing.QueueSymbol("X", "C");
    QVERIFY_THROWS_EXCEPTION(EComponentError, failing.FlushSymbols("X"));
    failing.FlushSymbols("X");
    QCOMPARE(static_cast<TFakeConnector*>(failing.ConnectorOf("X"))->Sent, QStringList{"A"});
}

void TLinkListsTest::getOrCreateIsExactAndRemovalFreesTheConnector() {
    TFakeLinks links;
    TExternalLinkItem& scan = links.List.GetOrCreate("Scan");
    QCOMPARE(&links.List.GetOrCreate("Scan"), &scan);
    QVERIFY(&links.List.GetOrCreate("scan") != &scan);
    QCOMPARE(links.List.IndexOf("scan"), 1);
    QCOMPARE(links.List.IndexOf("Missing"), -1);
    QCOMPARE(links.List.Item(2), nullptr);
    QCOMPARE(links.List.Item(-1), nullptr);
    QCOMPARE(links.MadeFor, QStringList({"Scan", "scan"}));
    QCOMPARE(links.Made[0]->FLinkName, QString("Scan"));

    links.List.QueueSymbol("Scan", "AAPL");
    QVERIFY(links.List.Remove("Scan"));
    QVERIFY(links.Made[0].isNull());
    QVERIFY(!links.List.Remove("Scan"));
    // Named again, the list comes back empty: its unsent symbols went with it.
    links.List.FlushSymbols("Scan");
    QCOMPARE(links.Made.size(), 3);
    QVERIFY(links.Made[2]->Sent.isEmpty());

    links.List.GetOrCreate("Third");
    QStringList freed;
    for (const QPointer<TFakeConnector>& c : links.Made)
        if (c)
            QObject::connect(c, &QObject::destroyed,
                             [&freed, name = c->FLinkName] { freed << name; });
    links.List.RemoveAll();
    QCOMPARE(links.List.Count(), 0);
    QCOMPARE(freed, QStringList({"Third", "Scan", "scan"}));
}

void TLinkListsTest::namesSortAndMatchWithoutCase() {
    TLinkListNames names;
    names.Add("zeta");
    names.Add("Alpha");
    names.Add("beta");
    QCOMPARE(names.Names(), QStringList({"Alpha", "beta", "zeta"}));
    QCOMPARE(names.DisplayNames(), QStringList({"MAIN LIST", "Alpha", "beta", "zeta"}));
    QVERIFY(names.Contains("ALPHA"));
    QVERIFY(!names.Contains("alph"));
    QVERIFY(names.Replace("ZETA", "Gamma"));
    QCOMPARE(names.Names(), QStringList({"Alpha", "beta", "Gamma"}));
    QVERIFY(!names.Replace("nope", "x"));
    QVERIFY(names.Remove("BETA"));
    QVERIFY(!names.Remove("beta"));
    QCOMPARE(names.Names(), QStringList({"Alpha", "Gamma"}));
}

void TLinkListsTest::nextFreeName() {
    TLinkListNames names;
    QCOMPARE(names.NextFreeName(), QString("Window List #2"));
    names.Add("window list #2");
    QCOMPARE(names.NextFreeName(), QString("Window List #3"));
    names.Add("Window List #1");
    names.Add("WINDOW LIST #3");
    names.Add("Window List #5");
    QCOMPARE(names.NextFreeName(), QString("Window List #4"));
}

void TLinkListsTest::listsNamedByActions() {
    QStringList seen;
    const auto visit = [&seen](const QString& name) { seen << name; };
    ForEachListOfActions({"1,4,Scan", "1,2,a.wav,50,50", "1,3", "2,4,Pick, with comma", "3,2,odd",
                          "1,4,", "0,0", " 3,4, Spaced "},
                         visit);
    QCOMPARE(seen, QStringList({"Scan", "Pick, with comma", "odd", "", " Spaced "}));

    // A bad entry raises after the entries before it were taken.
    seen.clear();
    QVERIFY_THROWS_EXCEPTION(EConvertError,
                             ForEachListOfActions({"1,4,First", "x,4,Bad", "1,4,Never"}, visit));
    QCOMPARE(seen, QStringList{"First"});
}

QTEST_GUILESS_MAIN(TLinkListsTest)
#include "tst_link_lists.moc"
