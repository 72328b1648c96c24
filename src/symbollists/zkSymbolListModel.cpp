#include "zkSymbolListModel.h"

#include <QCollator>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

const QCollator& Collator() {
    static const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setNumericMode(false);
        c.setIgnorePunctuation(false);
        // Set up now, once: comparing then only reads it, also on a worker thread.
        c.compare(QStringLiteral("a"), QStringLiteral("b"));
        return c;
    }();
    return collator;
}

bool CLocale() {
    static const bool c = Collator().locale().language() == QLocale::C;
    return c;
}

// Sorts and de-duplicates as CompareSymbols would, by keys compared as bytes, when that gives
// the same order: in the C locale and for ASCII only. False (nothing done) otherwise.
bool SortFoldedAscii(QStringList& strings) {
    if (!CLocale())
        return false;
    std::vector<std::pair<std::string, qsizetype>> keys;
    keys.reserve(size_t(strings.size()));
    for (qsizetype i = 0; i < strings.size(); ++i) {
        const QString& s = strings.at(i);
        std::string key(size_t(s.size()), '\0');
        for (qsizetype j = 0; j < s.size(); ++j) {
            char16_t c = s.at(j).unicode();
            if (c >= 0x80)
                return false;
            if (c >= u'A' && c <= u'Z')
                c += u'a' - u'A';
            key[size_t(j)] = char(c);
        }
        keys.emplace_back(std::move(key), i);
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList sorted;
    sorted.reserve(strings.size());
    for (size_t i = 0; i < keys.size(); ++i)
        if (i == 0 || keys[i].first != keys[i - 1].first)
            sorted.append(strings.at(keys[i].second));
    strings = std::move(sorted);
    return true;
}

} // namespace

int CompareSymbols(const QString& a, const QString& b) {
    // In the C locale the collator compares letter by letter with case folded. The same is done
    // here for the ASCII part, which is all of most symbols, without the collator's overhead.
    if (!CLocale())
        return Collator().compare(a, b);
    const qsizetype n = qMin(a.size(), b.size());
    const QChar* pa = a.constData();
    const QChar* pb = b.constData();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t ca = pa[i].unicode();
        char16_t cb = pb[i].unicode();
        if (ca >= 0x80 || cb >= 0x80)
            return Collator().compare(QStringView(a).mid(i), QStringView(b).mid(i));
        if (ca >= u'A' && ca <= u'Z')
            ca += u'a' - u'A';
        if (cb >= u'A' && cb <= u'Z')
            cb += u'a' - u'A';
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// --- TSymbolSet ---------------------------------------------------------------------------

bool TSymbolSet::Find(const QString& s, qsizetype& index) const {
    qsizetype low = 0;
    qsizetype high = Items.size() - 1;
    while (low <= high) {
        const qsizetype mid = low + (high - low) / 2;
        const int c = CompareSymbols(Items.at(mid), s);
        if (c < 0) {
            low = mid + 1;
        } else if (c > 0) {
            high = mid - 1;
        } else {
            index = mid;
            return true;
        }
    }
    index = low;
    return false;
}

bool TSymbolSet::Contains(const QString& s) const {
    qsizetype index = 0;
    return Find(s, index);
}

bool TSymbolSet::Add(const QString& s) {
    qsizetype index = 0;
    if (Find(s, index))
        return false;
    Items.insert(index, s);
    return true;
}

bool TSymbolSet::Remove(const QString& s) {
    qsizetype index = 0;
    if (!Find(s, index))
        return false;
    Items.removeAt(index);
    return true;
}

void TSymbolSet::Assign(const QStringList& strings) {
    Assign(QStringList(strings));
}

void TSymbolSet::Assign(QStringList&& strings) {
    // The same result as adding one by one, without the quadratic inserts: a stable sort keeps
    // equal strings in input order, so the one kept is the one that came first. Input that is
    // already strictly ascending (the usual case: what the server or a saved file sends) is
    // taken as it is.
    bool ascending = true;
    for (qsizetype i = 1; i < strings.size() && ascending; ++i)
        ascending = CompareSymbols(strings.at(i - 1), strings.at(i)) < 0;
    if (!ascending && SortFoldedAscii(strings))
        ascending = true;
    if (!ascending) {
        std::stable_sort(strings.begin(), strings.end(), [](const QString& a, const QString& b) {
            return CompareSymbols(a, b) < 0;
        });
        strings.erase(std::unique(strings.begin(), strings.end(),
                                  [](const QString& a, const QString& b) {
                                      return CompareSymbols(a, b) == 0;
                                  }),
                      strings.end());
    }
    Items = std::move(strings);
}

// --- collections --------------------------------------------------------------------------

void ClearSymbolLists(TSymbolLists* lists) {
    if (!lists)
        return;
    while (!lists->empty())
        lists->pop_back();
}

int IndexOfListId(const TSymbolLists& lists, int32_t listId) {
    for (size_t i = 0; i < lists.size(); ++i)
        if (lists[i] && lists[i]->ListId == listId)
            return int(i);
    return -1;
}

int32_t NextListId(const TSymbolLists* lists) {
    int32_t largest = 0;
    if (lists)
        for (const auto& list : *lists)
            if (list && list->ListId > largest)
                largest = list->ListId;
    return largest + 1;
}

void CopySymbolLists(TSymbolLists* target, const TSymbolLists* source) {
    if (!target || !source || target == source)
        return;
    ClearSymbolLists(target);
    target->reserve(source->size());
    for (const auto& list : *source)
        if (list)
            target->push_back(std::make_unique<TSymbolList>(*list));
}

void FillSymbolListItems(const TSymbolLists& lists, QStringList& items) {
    items.clear();
    items.reserve(qsizetype(lists.size()));
    for (const auto& list : lists)
        if (list)
            items.append(SymbolListDisplayLine(*list));
}

// --- rules --------------------------------------------------------------------------------

QString SymbolListDisplayLine(const TSymbolList& list) {
    const QString count =
        list.Symbols.IsEmpty() ? QStringLiteral("Empty") : QString::number(list.Symbols.Count());
    return QStringLiteral("%1   [%2]").arg(list.Name, count);
}

QString TrimControls(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return begin == 0 && end == text.size() ? text : text.mid(begin, end - begin);
}

QString ApplyNameRule(const QString& name, int32_t listId) {
    if (TrimControls(name).isEmpty())
        return QStringLiteral("(unnamed list #%1)").arg(listId);
    return name;
}

QString ApplySymbolRule(const QString& text) {
    QString symbol = TrimControls(text);
    for (qsizetype i = 0; i < symbol.size(); ++i) {
        const char16_t c = symbol.at(i).unicode();
        if (c >= u'a' && c <= u'z')
            symbol[i] = QChar(char16_t(c - u'a' + u'A'));
    }
    return symbol;
}

QStringList NormalizeSymbolLines(const QStringList& lines) {
    QStringList symbols;
    symbols.reserve(lines.size());
    for (const QString& line : lines) {
        QString symbol = ApplySymbolRule(line);
        if (!symbol.isEmpty())
            symbols.append(std::move(symbol));
    }
    TSymbolSet set;
    set.Assign(std::move(symbols));
    return set.Strings();
}
