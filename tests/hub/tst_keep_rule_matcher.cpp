// A window's keeping rules as the router matches them: each kind of rule, rules together, lists
// changed or deleted while rules name them, and the words' matching.
#include "desk/zkAlertSink.h"
#include "hub/zkKeepRuleMatcher.h"
#include "zkTestSymbolLists.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

TKeepRule ListRule(TKeepRuleKind kind, const QString& list, bool on = true) {
    TKeepRule rule;
    rule.Kind = kind;
    rule.List = list;
    rule.On = on;
    return rule;
}

TKeepRule PriceRule(TKeepRuleKind kind, double price) {
    TKeepRule rule;
    rule.Kind = kind;
    rule.Price = price;
    return rule;
}

TKeepRule WordsRule(TKeepRuleKind kind, const QString& words) {
    TKeepRule rule;
    rule.Kind = kind;
    rule.Words = SplitRuleWords(words);
    return rule;
}

TSourceAlert Alert(const QString& symbol, std::optional<double> price = {},
                   const QString& description = {}) {
    TSourceAlert alert;
    alert.Symbol = symbol;
    alert.HasPrice = price.has_value();
    alert.Price = price.value_or(0);
    alert.Description = description;
    return alert;
}

// Empty: kept.
QString Refusal(const TKeepRules& rules, const TSourceAlert& alert) {
    return TKeepRuleMatcher(rules).Refusal(TMatchedAlert(alert));
}

} // namespace

class TKeepRuleMatcherTest : public QObject {
    Q_OBJECT
private slots:
    void listRules() {
        TTestSymbolLists lists;
        lists.Add("Watch", {"AAPL", "msft", "BRK.B"});
        lists.Add("Banned", {"GME"});
        const TKeepRules rules{{ListRule(TKeepRuleKind::OnList, "Watch"),
                                ListRule(TKeepRuleKind::NotOnList, "Banned")}};
        QCOMPARE(Refusal(rules, Alert("AAPL")), QString());
        // Symbols compare without regard to letter case or blanks around them.
        QCOMPARE(Refusal(rules, Alert(" aapl ")), QString());
        QCOMPARE(Refusal(rules, Alert("MSFT")), QString());
        QCOMPARE(Refusal(rules, Alert("brk.b")), QString());
        QCOMPARE(Refusal(rules, Alert("IBM")), QString("symbol is on list \"Watch\""));
        // On both lists: the second rule refuses it.
        lists.Add("Both", {"GME"});
        const TKeepRules both{{ListRule(TKeepRuleKind::OnList, "Both"),
                               ListRule(TKeepRuleKind::NotOnList, "Banned")}};
        QCOMPARE(Refusal(both, Alert("GME")), QString("symbol is not on list \"Banned\""));
        // A rule that is off asks nothing.
        const TKeepRules off{{ListRule(TKeepRuleKind::OnList, "Watch", false)}};
        QVERIFY(TKeepRuleMatcher(off).KeepsAll());
        QCOMPARE(Refusal(off, Alert("IBM")), QString());
    }

    // A list changed through the dispatcher changes what is kept from the next match on; a
    // deleted list turns its rule off.
    void listChangesReachTheRules() {
        TTestSymbolLists lists;
        const int32_t watch = lists.Add("Watch", {"AAPL"});
        const TKeepRules rules{{ListRule(TKeepRuleKind::OnList, "Watch")}};
        const TKeepRuleMatcher before(rules);
        QVERIFY(!before.Refusal(TMatchedAlert(Alert("IBM"))).isEmpty());
        lists.AddSymbol(watch, "IBM");
        QCOMPARE(Refusal(rules, Alert("IBM")), QString());
        lists.Set(watch, {"TSLA"});
        QVERIFY(!Refusal(rules, Alert("IBM")).isEmpty());
        QCOMPARE(Refusal(rules, Alert("TSLA")), QString());
        // A matcher made before keeps the symbols it was made with: no list goes from under it.
        QVERIFY(!before.Refusal(TMatchedAlert(Alert("TSLA"))).isEmpty());
        lists.Delete(watch);
        QVERIFY(TKeepRuleMatcher(rules).KeepsAll());
        QCOMPARE(Refusal(rules, Alert("ANYTHING")), QString());
    }

    void priceRules() {
        const TKeepRules range{
            {PriceRule(TKeepRuleKind::MinPrice, 10), PriceRule(TKeepRuleKind::MaxPrice, 20.5)}};
        QCOMPARE(Refusal(range, Alert("A", 10)), QString());
        QCOMPARE(Refusal(range, Alert("A", 20.5)), QString());
        QCOMPARE(Refusal(range, Alert("A", 9.99)), QString("price at least 10"));
        QCOMPARE(Refusal(range, Alert("A", 21)), QString("price at most 20.5"));
        // Without a price it cannot be shown to be in the range.
        QCOMPARE(Refusal(range, Alert("A")), QString("price at least 10"));
        const TKeepRules most{{PriceRule(TKeepRuleKind::MaxPrice, 5)}};
        QCOMPARE(Refusal(most, Alert("A", 0)), QString());
    }

    void wordRules() {
        const TKeepRules contains{{WordsRule(TKeepRuleKind::Contains, "breakout, GAP")}};
        QCOMPARE(Refusal(contains, Alert("A", {}, "Gap up on volume")), QString());
        QCOMPARE(Refusal(contains, Alert("A", {}, "BREAKOUT above 50")), QString());
        QCOMPARE(Refusal(contains, Alert("A", {}, "new high")),
                 QString("description contains one of: breakout GAP"));
        QVERIFY(!Refusal(contains, Alert("A")).isEmpty());
        const TKeepRules none{{WordsRule(TKeepRuleKind::NotContains, "halt")}};
        QCOMPARE(Refusal(none, Alert("A", {}, "new high")), QString());
        QVERIFY(!Refusal(none, Alert("A", {}, "Trading HALTED")).isEmpty());
        // Plain words: what would be a pattern elsewhere is looked for as it is.
        const TKeepRules plain{{WordsRule(TKeepRuleKind::Contains, ".* [a-z]+")}};
        QVERIFY(!Refusal(plain, Alert("A", {}, "anything at all")).isEmpty());
        QCOMPARE(Refusal(plain, Alert("A", {}, "x.*y")), QString());
        // A rule without words asks nothing.
        QVERIFY(
            TKeepRuleMatcher(TKeepRules{{WordsRule(TKeepRuleKind::Contains, " , ")}}).KeepsAll());
    }

    // A 5,000-symbol list is looked up by hash: matching many alerts costs little.
    void largeListMatchesFast() {
        TTestSymbolLists lists;
        QStringList symbols;
        for (int i = 0; i < 5000; ++i)
            symbols << QStringLiteral("S%1").arg(i);
        lists.Add("Big", symbols);
        const TKeepRules rules{{ListRule(TKeepRuleKind::OnList, "Big"),
                                PriceRule(TKeepRuleKind::MinPrice, 1),
                                WordsRule(TKeepRuleKind::NotContains, "halt")}};
        const TKeepRuleMatcher matcher(rules);
        QElapsedTimer timer;
        timer.start();
        int kept = 0;
        for (int i = 0; i < 100000; ++i) {
            const TSourceAlert alert =
                Alert(QStringLiteral("S%1").arg(i % 10000), 5, QStringLiteral("Gap up"));
            kept += matcher.Refusal(TMatchedAlert(alert)).isEmpty() ? 1 : 0;
        }
        QCOMPARE(kept, 50000);
        // About a microsecond an alert; a walk through the list would take minutes. Generous
        // for slow machines.
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TKeepRuleMatcherTest)
#include "tst_keep_rule_matcher.moc"
