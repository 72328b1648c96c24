#pragma once

// A window's own rules for the alerts it takes from outside (the inbox, a broker), as they are
// stored with the window's record. Each rule is on or off; an alert is kept only when every
// rule that is on lets it through. Stored as a count and one text a rule (see WriteKeepRules),
// so a reader that knows no rules ignores them, and one that knows fewer kinds skips the rest.

#include <QString>
#include <QStringList>

#include <vector>

class TSettingsStore;

enum class TKeepRuleKind {
    OnList,      // the symbol is on the list
    NotOnList,   // the symbol is not on the list
    MinPrice,    // the alert has a price of at least Price
    MaxPrice,    // the alert has a price of at most Price
    Contains,    // the description holds one of the words
    NotContains, // the description holds none of the words
    Emphasise,   // not a keeping rule: rows of symbols on the list are emphasised
};

struct TKeepRule {
    TKeepRuleKind Kind = TKeepRuleKind::OnList;
    bool On = true;
    QString List;      // OnList, NotOnList, Emphasise: the symbol list's name
    double Price = 0;  // MinPrice, MaxPrice
    QStringList Words; // Contains, NotContains: plain words, as typed
    QString Sound;     // Emphasise: a sound file of its own (empty: the window's)

    bool operator==(const TKeepRule&) const = default;
};

struct TKeepRules {
    std::vector<TKeepRule> Rules;

    // Bounds of what is read from a file: more is dropped.
    static constexpr int MaxRules = 32;
    static constexpr int MaxWords = 64;
    static constexpr int MaxWordLength = 64;
    static constexpr int MaxNameLength = 256;
    static constexpr int MaxTextLength = 8192;

    bool IsEmpty() const { return Rules.empty(); }
    // Whether any rule that keeps or refuses alerts is on.
    bool AnyKeepingRuleOn() const;
    // The first rule of that kind, or nullptr.
    const TKeepRule* Find(TKeepRuleKind kind) const;
    // The emphasis rule when it is on, or nullptr.
    const TKeepRule* EmphasisOn() const;
    bool operator==(const TKeepRules&) const = default;
};

// The words of a text as rules hold them: split at blanks and commas, control characters
// dropped, each word at most MaxWordLength characters, at most MaxWords of them.
QStringList SplitRuleWords(const QString& text);

// One rule as stored: "<1|0>,<kind>,<parameter>"; kinds are "on-list", "not-on-list",
// "min-price", "max-price", "contains", "not-contains", "emphasise". False for a text this
// version cannot read (an unknown kind, a bad price, an empty list name).
bool ParseKeepRule(const QString& text, TKeepRule& rule);
QString KeepRuleText(const TKeepRule& rule);
// What a rule asks, as the user reads it ("symbol is on list \"Watch\"").
QString DescribeKeepRule(const TKeepRule& rule);

// Reads "KeepRules" (the count) and "KeepRule0".. at path; no count: no rules. Unreadable
// rules are skipped; at most MaxRules are read.
TKeepRules ReadKeepRules(const TSettingsStore& store, const QString& path);
// Writes the count and the rules; without rules nothing is written, unless a count is stored
// already (a per-user store keeps the keys of a record written before), which becomes 0.
void WriteKeepRules(const TSettingsStore& store, const QString& path, const TKeepRules& rules);
