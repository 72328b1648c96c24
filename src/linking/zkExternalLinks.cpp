#include "zkExternalLinks.h"

#include "components/zkComponents.h"
#include "config/zkActionFields.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

QString MainListName() {
    return QStringLiteral("MAIN LIST");
}

QString EffectiveListName(const QString& name) {
    const QString trimmed = name.trimmed();
    return trimmed.isEmpty() ? MainListName() : trimmed;
}

// --- TExternalLinkList ----------------------------------------------------------------------

TExternalLinkList::TExternalLinkList(TConnectorMaker maker) : Maker(std::move(maker)) {}

TExternalLinkList::~TExternalLinkList() {
    RemoveAll();
}

qsizetype TExternalLinkList::IndexOf(const QString& name) const {
    if (LastHit >= 0 && LastHit < Count() && Items[size_t(LastHit)]->Name == name)
        return LastHit;
    for (size_t i = 0; i < Items.size(); ++i) {
        if (Items[i]->Name == name) {
            LastHit = qsizetype(i);
            return LastHit;
        }
    }
    return -1;
}

TExternalLinkItem* TExternalLinkList::Item(qsizetype index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return Items[size_t(index)].get();
}

TExternalLinkItem* TExternalLinkList::Find(const QString& name) const {
    return Item(IndexOf(name));
}

TExternalLinkItem& TExternalLinkList::GetOrCreate(const QString& name) {
    if (TExternalLinkItem* item = Find(name))
        return *item;
    auto item = std::make_unique<TExternalLinkItem>();
    item->Name = name;
    TConnector made = Maker ? Maker(name) : TConnector{};
    item->Connector = made.Connector;
    item->Owner = std::move(made.Owner);
    Items.push_back(std::move(item));
    LastHit = Count() - 1;
    return *Items.back();
}

bool TExternalLinkList::Remove(const QString& name) {
    const qsizetype index = IndexOf(name);
    if (index < 0)
        return false;
    // Out of the list first, so nothing the connector does on its way out finds the item.
    std::unique_ptr<TExternalLinkItem> item = std::move(Items[size_t(index)]);
    Items.erase(Items.begin() + index);
    LastHit = -1;
    item->PendingSymbols.clear();
    item->Connector = nullptr;
    item->Owner.reset();
    return true;
}

void TExternalLinkList::RemoveAll() {
    while (!Items.empty()) {
        std::unique_ptr<TExternalLinkItem> item = std::move(Items.back());
        Items.pop_back();
        item->Connector = nullptr;
        item->Owner.reset();
    }
    LastHit = -1;
}

void TExternalLinkList::QueueSymbol(const QString& listName, const QString& symbol) {
    GetOrCreate(EffectiveListName(listName)).PendingSymbols.append(symbol);
}

void TExternalLinkList::FlushSymbols(const QString& listName) {
    TExternalLinkItem& item = GetOrCreate(EffectiveListName(listName));
    if (item.PendingSymbols.isEmpty())
        return;
    // Taken out before sending: a connector that fails mid-way reports once, and the next
    // idle step does not send the same symbols again.
    const QStringList symbols = std::exchange(item.PendingSymbols, QStringList());
    IZentrikGenericConnector2X* connector = item.Connector;
    if (!connector)
        return;
    for (const QString& symbol : symbols) {
        connector->SetSymbol(symbol);
        connector->SendSymbol();
    }
}

IZentrikGenericConnector2X* TExternalLinkList::ConnectorOf(const QString& listName) {
    return GetOrCreate(EffectiveListName(listName)).Connector;
}

// --- TLinkListNames ---------------------------------------------------------------------------

qsizetype TLinkListNames::IndexOf(const QString& name) const {
    for (qsizetype i = 0; i < List.size(); ++i)
        if (List[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void TLinkListNames::Add(const QString& name) {
    List.append(name);
    Sort();
}

bool TLinkListNames::Remove(const QString& name) {
    const qsizetype index = IndexOf(name);
    if (index < 0)
        return false;
    List.removeAt(index);
    return true;
}

bool TLinkListNames::Replace(const QString& oldName, const QString& newName) {
    const qsizetype index = IndexOf(oldName);
    if (index < 0)
        return false;
    List[index] = newName;
    Sort();
    return true;
}

QStringList TLinkListNames::DisplayNames() const {
    QStringList names;
    names.reserve(List.size() + 1);
    names.append(MainListName());
    names.append(List);
    return names;
}

QString TLinkListNames::NextFreeName() const {
    for (int n = 2;; ++n) {
        const QString candidate =
            QCoreApplication::translate("TGenericConnectorForm", "Window List #%1").arg(n);
        if (!Contains(candidate))
            return candidate;
    }
}

void TLinkListNames::Sort() {
    std::stable_sort(List.begin(), List.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
}

void ForEachListOfActions(const QStringList& actions,
                          const std::function<void(const QString&)>& visit) {
    for (const QString& action : actions) {
        const TActionFields fields = SplitAction(action);
        const int32_t trigger = ActionInteger(fields.Trigger);
        const int32_t kind = ActionInteger(fields.Kind);
        if ((trigger == 1 && kind == 4) || trigger == 2 || trigger == 3)
            visit(fields.Parameter);
    }
}
