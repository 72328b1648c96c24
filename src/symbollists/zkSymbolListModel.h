#pragma once

// The client's copy of the account's symbol lists: the list record, the symbol set, ordered
// collections of records, the rules for names and symbols, and the change interface through
// which every change is requested and announced. Needs Qt Core only.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Case-insensitive, locale-aware comparison of two symbols (the process locale's collation).
// Orders and compares consistently; for ASCII it is the usual case-insensitive order.
int CompareSymbols(const QString& a, const QString& b);

// A sorted set of text strings under CompareSymbols; equal strings (letter case ignored) are
// kept once, the one added first. Copies are cheap and independent (copy on write).
class TSymbolSet {
public:
    // Bisection: true when present; index is its position, or where it would go.
    bool Find(const QString& s, qsizetype& index) const;
    bool Contains(const QString& s) const;
    // False (and nothing changes) when an equal entry is there already.
    bool Add(const QString& s);
    // False when there is no equal entry.
    bool Remove(const QString& s);
    void Delete(qsizetype index) { Items.removeAt(index); }
    void Clear() { Items.clear(); }
    // Empties the set and adds each string in turn: the result is sorted and free of
    // duplicates whatever the order and repetitions of the input.
    void Assign(const QStringList& strings);
    void Assign(QStringList&& strings);

    qsizetype Count() const { return Items.size(); }
    bool IsEmpty() const { return Items.isEmpty(); }
    const QString& At(qsizetype i) const { return Items.at(i); }
    const QStringList& Strings() const { return Items; }

private:
    QStringList Items;
};

struct TSymbolList {
    int32_t ListId = 0;
    QString Name;
    TSymbolSet Symbols;
};

// An ordered sequence of owned records; the order is the order of appending.
using TSymbolLists = std::vector<std::unique_ptr<TSymbolList>>;

// Absent (nullptr): nothing happens. Otherwise frees every record, last first.
void ClearSymbolLists(TSymbolLists* lists);
// Position of the first record with the id, or -1.
int IndexOfListId(const TSymbolLists& lists, int32_t listId);
// 1 plus the largest id (taken as at least 0); 1 for an absent or empty collection.
int32_t NextListId(const TSymbolLists* lists);
// Empties target, then appends an independent copy of each record of source (empty slots are
// skipped). Nothing happens when either is absent.
void CopySymbolLists(TSymbolLists* target, const TSymbolLists* source);
// One display line per record, in collection order.
void FillSymbolListItems(const TSymbolLists& lists, QStringList& items);

// "Name   [count]", or "[Empty]" for a list without symbols.
QString SymbolListDisplayLine(const TSymbolList& list);
// Trims characters 0 to 32 at both ends; used by the name and symbol rules.
QString TrimControls(const QString& text);
// A blank name becomes "(unnamed list #<id>)"; any other name stays exactly as given.
QString ApplyNameRule(const QString& name, int32_t listId);
// Trimmed, ASCII letters upper-cased; an empty result is no symbol.
QString ApplySymbolRule(const QString& text);
// Each line through the symbol rule, empty results dropped, then sorted and de-duplicated.
QStringList NormalizeSymbolLines(const QStringList& lines);

// Every change to the symbol lists, both as a request (to the controller) and as a
// notification (from the controller to its listeners).
class TSymbolListChanges {
public:
    virtual ~TSymbolListChanges() = default;
    virtual void BeginRefresh() = 0;
    virtual void ListsChanged(bool Reload) = 0;
    virtual void CreateList(int32_t ListId, const QString& Name) = 0;
    virtual void RenameList(int32_t ListId, const QString& Name) = 0;
    virtual void DeleteList(int32_t ListId) = 0;
    virtual void SetSymbols(int32_t ListId, const QStringList& Symbols) = 0;
    virtual void CopyLists(int32_t ListId, const QString& Name,
                           std::span<const int32_t> SourceIds) = 0;
    virtual void AddSymbol(int32_t ListId, const QString& Symbol) = 0;
    virtual void DeleteSymbol(int32_t ListId, const QString& Symbol) = 0;
};
