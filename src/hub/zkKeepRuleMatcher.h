#pragma once

// A window's keeping and emphasis rules made ready for matching many alerts: the lists they name as
// hash sets, the words lower-cased. Made once per delivery for each window that has rules.

#include "config/zkKeepRules.h"

#include <QSet>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct TSourceAlert;

// An alert being matched against several windows' rules: what the rules compare is worked out
// once, when a rule first needs it.
class TMatchedAlert {
public:
    explicit TMatchedAlert(const TSourceAlert& alert) : Alert(alert) {}
    const TSourceAlert& Alert;
    const QString& SymbolKey() const;
    const QString& LowerDescription() const;

private:
    mutable std::optional<QString> Key;
    mutable std::optional<QString> Lower;
};

class TKeepRuleMatcher {
public:
    explicit TKeepRuleMatcher(const TKeepRules& rules);
    // No rule that is on (a rule whose list is gone counts as off).
    bool KeepsAll() const { return Checks.empty(); }
    // Empty when the rules keep the alert; otherwise the rule that refused it, as the user
    // reads it.
    QString Refusal(const TMatchedAlert& alert) const;
    // Whether the emphasis rule (on, its list there) picks the alert out: one lookup.
    bool Emphasises(const TMatchedAlert& alert) const {
        return Emphasis && Emphasis->contains(alert.SymbolKey());
    }
    bool EmphasisesAny() const { return Emphasis != nullptr; }

private:
    struct TCheck {
        TKeepRuleKind Kind;
        std::shared_ptr<const QSet<QString>> Symbols;
        double Price = 0;
        QStringList Words; // lower-cased
        QString Text;      // the rule, as the user reads it
    };
    std::vector<TCheck> Checks;
    std::shared_ptr<const QSet<QString>> Emphasis;
};
