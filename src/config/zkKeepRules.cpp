#include "zkKeepRules.h"

#include "zkActionFields.h"
#include "zkSettings.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <utility>

namespace {

const QString kCount = QStringLiteral("KeepRules");
const QString kRule = QStringLiteral("KeepRule");
const QString kSound = QStringLiteral("KeepRuleSound");

const std::array<std::pair<TKeepRuleKind, const char*>, 7> KindNames{{
    {TKeepRuleKind::OnList, "on-list"},
    {TKeepRuleKind::NotOnList, "not-on-list"},
    {TKeepRuleKind::MinPrice, "min-price"},
    {TKeepRuleKind::MaxPrice, "max-price"},
    {TKeepRuleKind::Contains, "contains"},
    {TKeepRuleKind::NotContains, "not-contains"},
    {TKeepRuleKind::Emphasise, "emphasise"},
}};

bool NamesList(TKeepRuleKind kind) {
    return kind == TKeepRuleKind::OnList || kind == TKeepRuleKind::NotOnList ||
           kind == TKeepRuleKind::Emphasise;
}

bool HoldsWords(TKeepRuleKind kind) {
    return kind == TKeepRuleKind::Contains || kind == TKeepRuleKind::NotContains;
}

// Control characters would hide what a name says (and a line end would end the stored text).
QString WithoutControls(QStringView text, qsizetype max) {
    QString out;
    out.reserve(std::min(text.size(), max));
    for (const QChar c : text) {
        if (out.size() >= max)
            break;
        if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            out.append(c);
    }
    return out;
}

QString PriceText(double price) {
    return QString::number(price, 'g', 15);
}

} // namespace

bool TKeepRules::AnyKeepingRuleOn() const {
    for (const TKeepRule& rule : Rules)
        if (rule.On && rule.Kind != TKeepRuleKind::Emphasise)
            return true;
    return false;
}

const TKeepRule* TKeepRules::Find(TKeepRuleKind kind) const {
    for (const TKeepRule& rule : Rules)
        if (rule.Kind == kind)
            return &rule;
    return nullptr;
}

const TKeepRule* TKeepRules::EmphasisOn() const {
    const TKeepRule* rule = Find(TKeepRuleKind::Emphasise);
    return rule && rule->On ? rule : nullptr;
}

QStringList SplitRuleWords(const QString& text) {
    QStringList words;
    QString word;
    const auto flush = [&] {
        if (!word.isEmpty() && words.size() < TKeepRules::MaxWords)
            words.append(word.left(TKeepRules::MaxWordLength));
        word.clear();
    };
    for (const QChar c : text) {
        if (c.isSpace() || c == u',')
            flush();
        else if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            word.append(c);
    }
    flush();
    return words;
}

bool ParseKeepRule(const QString& text, TKeepRule& rule) {
    if (text.size() > TKeepRules::MaxTextLength)
        return false;
    const TActionFields fields = SplitAction(text);
    TKeepRule parsed;
    if (fields.Trigger == u"1")
        parsed.On = true;
    else if (fields.Trigger == u"0")
        parsed.On = false;
    else
        return false;
    bool known = false;
    for (const auto& [kind, name] : KindNames)
        if (fields.Kind == QLatin1String(name)) {
            parsed.Kind = kind;
            known = true;
        }
    if (!known)
        return false;
    if (NamesList(parsed.Kind)) {
        parsed.List = WithoutControls(fields.Parameter, TKeepRules::MaxNameLength);
        if (parsed.List.trimmed().isEmpty())
            return false;
    } else if (HoldsWords(parsed.Kind)) {
        parsed.Words = SplitRuleWords(fields.Parameter);
    } else {
        bool ok = false;
        parsed.Price = QLocale::c().toDouble(fields.Parameter.trimmed(), &ok);
        if (!ok || !std::isfinite(parsed.Price))
            return false;
    }
    rule = std::move(parsed);
    return true;
}

QString KeepRuleText(const TKeepRule& rule) {
    QString kind;
    for (const auto& [k, name] : KindNames)
        if (k == rule.Kind)
            kind = QLatin1String(name);
    QString parameter;
    if (NamesList(rule.Kind))
        parameter = rule.List;
    else if (HoldsWords(rule.Kind))
        parameter = rule.Words.join(u' ');
    else
        parameter = PriceText(rule.Price);
    return (rule.On ? QStringLiteral("1,") : QStringLiteral("0,")) + kind + u',' + parameter;
}

QString DescribeKeepRule(const TKeepRule& rule) {
    switch (rule.Kind) {
    case TKeepRuleKind::OnList:
        return QStringLiteral("symbol is on list \"%1\"").arg(rule.List);
    case TKeepRuleKind::NotOnList:
        return QStringLiteral("symbol is not on list \"%1\"").arg(rule.List);
    case TKeepRuleKind::MinPrice:
        return QStringLiteral("price at least %1").arg(PriceText(rule.Price));
    case TKeepRuleKind::MaxPrice:
        return QStringLiteral("price at most %1").arg(PriceText(rule.Price));
    case TKeepRuleKind::Contains:
        return QStringLiteral("description contains one of: %1").arg(rule.Words.join(u' '));
    case TKeepRuleKind::NotContains:
        return QStringLiteral("description contains none of: %1").arg(rule.Words.join(u' '));
    case TKeepRuleKind::Emphasise:
        return QStringLiteral("emphasise symbols on list \"%1\"").arg(rule.List);
    }
    return QString();
}

TKeepRules ReadKeepRules(const TSettingsStore& store, const QString& path) {
    TKeepRules rules;
    const int32_t count = ReadIntegerValue(store, path, kCount, 0);
    const int32_t n = std::clamp(count, 0, int32_t(TKeepRules::MaxRules));
    for (int32_t i = 0; i < n; ++i) {
        TKeepRule rule;
        if (!ParseKeepRule(ReadStringValue(store, path, kRule + QString::number(i), QString()),
                           rule))
            continue;
        if (rule.Kind == TKeepRuleKind::Emphasise)
            rule.Sound = WithoutControls(
                ReadStringValue(store, path, kSound + QString::number(i), QString()), 4096);
        rules.Rules.push_back(std::move(rule));
    }
    return rules;
}

void WriteKeepRules(const TSettingsStore& store, const QString& path, const TKeepRules& rules) {
    if (rules.IsEmpty()) {
        // A record written before with rules keeps its keys in a per-user store (its group is
        // not emptied): a count of 0 makes readers ignore them.
        if (ReadIntegerValue(store, path, kCount, 0) != 0)
            WriteIntegerValue(store, path, kCount, 0);
        return;
    }
    const qsizetype n = std::min<qsizetype>(qsizetype(rules.Rules.size()), TKeepRules::MaxRules);
    for (qsizetype i = 0; i < n; ++i) {
        const TKeepRule& rule = rules.Rules[size_t(i)];
        WriteStringValue(store, path, kRule + QString::number(i), KeepRuleText(rule));
        if (rule.Kind == TKeepRuleKind::Emphasise && !rule.Sound.isEmpty())
            WriteStringValue(store, path, kSound + QString::number(i), rule.Sound);
        else if (!ReadStringValue(store, path, kSound + QString::number(i), QString()).isEmpty())
            WriteStringValue(store, path, kSound + QString::number(i), QString());
    }
    WriteIntegerValue(store, path, kCount, int32_t(n));
}
