#include "zkSymbolListIndex.h"

#include "zkSymbolListsDispatcher.h"

#include <QHash>

namespace {

struct TIndex {
    bool Valid = false;
    QHash<QString, std::shared_ptr<const QSet<QString>>> Sets; // by list name; null: no list
};

TIndex& Index() {
    static TIndex index;
    return index;
}

const TSymbolList* FindByName(const QString& name) {
    if (const TSymbolLists* model = SymbolListModel())
        for (const std::unique_ptr<TSymbolList>& list : *model)
            if (list && list->Name == name)
                return list.get();
    return nullptr;
}

} // namespace

QString SymbolLookupKey(QStringView symbol) {
    return symbol.trimmed().toString().toUpper();
}

std::shared_ptr<const QSet<QString>> SymbolListSet(const QString& name) {
    TIndex& index = Index();
    if (!index.Valid) {
        index.Sets.clear();
        index.Valid = true;
    }
    const auto found = index.Sets.constFind(name);
    if (found != index.Sets.constEnd())
        return *found;
    std::shared_ptr<const QSet<QString>> set;
    if (const TSymbolList* list = FindByName(name)) {
        auto made = std::make_shared<QSet<QString>>();
        made->reserve(list->Symbols.Count());
        for (const QString& symbol : list->Symbols.Strings())
            made->insert(SymbolLookupKey(symbol));
        set = std::move(made);
    }
    // Names asked for that no list has are remembered too, but not without end.
    if (index.Sets.size() > 1000)
        index.Sets.clear();
    index.Sets.insert(name, set);
    return set;
}

bool SymbolListExists(const QString& name) {
    return FindByName(name) != nullptr;
}

QStringList SymbolListNames() {
    QStringList names;
    if (const TSymbolLists* model = SymbolListModel())
        for (const std::unique_ptr<TSymbolList>& list : *model)
            if (list)
                names.append(list->Name);
    return names;
}

void SymbolListsChanged() {
    Index().Valid = false;
}
