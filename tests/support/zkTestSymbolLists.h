#pragma once

// The account's symbol lists for a test without a server: changed through the dispatcher's
// controller, as the Symbol Lists window changes them.

#include "symbollists/zkSymbolListsDispatcher.h"

#include <QStringList>

class TTestSymbolLists {
public:
    TTestSymbolLists() { StartSymbolListDispatcher(nullptr); }
    ~TTestSymbolLists() { StopSymbolListDispatcher(); }
    TTestSymbolLists(const TTestSymbolLists&) = delete;
    TTestSymbolLists& operator=(const TTestSymbolLists&) = delete;

    // The new list's id.
    int32_t Add(const QString& name, const QStringList& symbols) {
        const int32_t id = NextListId(SymbolListModel());
        SymbolListController()->CreateList(0, name);
        SymbolListController()->SetSymbols(id, symbols);
        return id;
    }
    void Set(int32_t id, const QStringList& symbols) {
        SymbolListController()->SetSymbols(id, symbols);
    }
    void AddSymbol(int32_t id, const QString& symbol) {
        SymbolListController()->AddSymbol(id, symbol);
    }
    void Delete(int32_t id) { SymbolListController()->DeleteList(id); }
};
