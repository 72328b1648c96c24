#include "zkKeepRuleMatcher.h"

#include "desk/zkAlertSink.h"
#include "symbollists/zkSymbolListIndex.h"

namespace {

bool HoldsAny(const QString& text, const QStringList& words) {
    for (const QString& word : words)
        if (text.contains(word))
            return true;
    return false;
}

} // namespace

const QString& TMatchedAlert::SymbolKey() const {
    if (!Key)
        Key = SymbolLookupKey(Alert.Symbol);
    return *Key;
}

const QString& TMatchedAlert::LowerDescription() const {
    if (!Lower)
        Lower = Alert.Description.toLower();
    return *Lower;
}

TKeepRuleMatcher::TKeepRuleMatcher(const TKeepRules& rules) {
    for (const TKeepRule& rule : rules.Rules) {
        if (!rule.On)
            continue;
        if (rule.Kind == TKeepRuleKind::Emphasise) {
            // The first one counts, as everywhere else; a list that is gone turns it off.
            if (!Emphasis && rules.EmphasisOn() == &rule)
                Emphasis = SymbolListSet(rule.List);
            continue;
        }
        TCheck check{rule.Kind, nullptr, rule.Price, {}, DescribeKeepRule(rule)};
        switch (rule.Kind) {
        case TKeepRuleKind::OnList:
        case TKeepRuleKind::NotOnList:
            check.Symbols = SymbolListSet(rule.List);
            // A list that is gone turns its rule off.
            if (!check.Symbols)
                continue;
            break;
        case TKeepRuleKind::Contains:
        case TKeepRuleKind::NotContains:
            for (const QString& word : rule.Words)
                if (!word.isEmpty())
                    check.Words.append(word.toLower());
            // No words: nothing to look for, so the rule asks nothing.
            if (check.Words.isEmpty())
                continue;
            break;
        default:
            break;
        }
        Checks.push_back(std::move(check));
    }
}

QString TKeepRuleMatcher::Refusal(const TMatchedAlert& alert) const {
    for (const TCheck& check : Checks) {
        bool keeps = true;
        switch (check.Kind) {
        case TKeepRuleKind::OnList:
            keeps = check.Symbols->contains(alert.SymbolKey());
            break;
        case TKeepRuleKind::NotOnList:
            keeps = !check.Symbols->contains(alert.SymbolKey());
            break;
        case TKeepRuleKind::MinPrice:
            keeps = alert.Alert.HasPrice && alert.Alert.Price >= check.Price;
            break;
        case TKeepRuleKind::MaxPrice:
            keeps = alert.Alert.HasPrice && alert.Alert.Price <= check.Price;
            break;
        case TKeepRuleKind::Contains:
            keeps = HoldsAny(alert.LowerDescription(), check.Words);
            break;
        case TKeepRuleKind::NotContains:
            keeps = !HoldsAny(alert.LowerDescription(), check.Words);
            break;
        case TKeepRuleKind::Emphasise:
            break;
        }
        if (!keeps)
            return check.Text;
    }
    return QString();
}
