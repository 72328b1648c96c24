#pragma once

// The named link lists that alert actions send symbols to, without any window: the connector
// window (zkGenericConnectorForm) owns one TExternalLinkList and places the connectors.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class IZentrikGenericConnector2X;

// The list that always exists and stands for an empty or blank name.
QString MainListName();
// The name rule of every operation by name: trimmed, and empty means "MAIN LIST".
QString EffectiveListName(const QString& name);

// One link list.
struct TExternalLinkItem {
    // Exact, case-sensitive.
    QString Name;
    // The hosted connector serving the list, and the object that owns it (its wrapper in the
    // connector window, or the component itself); freeing Owner frees the connector.
    IZentrikGenericConnector2X* Connector = nullptr;
    std::unique_ptr<QObject> Owner;
    // Queued by alert actions, sent by the next idle step.
    QStringList PendingSymbols;
};

class TExternalLinkList {
public:
    // What a new item gets as its connector. The maker creates and prepares it for the name.
    struct TConnector {
        std::unique_ptr<QObject> Owner;
        IZentrikGenericConnector2X* Connector = nullptr;
    };
    using TConnectorMaker = std::function<TConnector(const QString& name)>;

    explicit TExternalLinkList(TConnectorMaker maker);
    ~TExternalLinkList();
    TExternalLinkList(const TExternalLinkList&) = delete;
    TExternalLinkList& operator=(const TExternalLinkList&) = delete;

    qsizetype Count() const { return qsizetype(Items.size()); }
    // Exact comparison; -1 when there is none.
    qsizetype IndexOf(const QString& name) const;
    // nullptr outside the list.
    TExternalLinkItem* Item(qsizetype index) const;
    TExternalLinkItem* Find(const QString& name) const;
    // The item of that exact name, created (and appended) when missing.
    TExternalLinkItem& GetOrCreate(const QString& name);
    // Frees the item's connector and drops its queued symbols. False when there is none.
    bool Remove(const QString& name);
    // Newest first.
    void RemoveAll();

    // The operations alert actions use; each applies EffectiveListName and get-or-create.
    void QueueSymbol(const QString& listName, const QString& symbol);
    // Sends every queued symbol of the list through its connector, in order.
    void FlushSymbols(const QString& listName);
    IZentrikGenericConnector2X* ConnectorOf(const QString& listName);

private:
    TConnectorMaker Maker;
    std::vector<std::unique_ptr<TExternalLinkItem>> Items;
    // The item found last; alerts mostly go to the same few lists in a row.
    mutable qsizetype LastHit = -1;
};

// The names of the user's lists, without "MAIN LIST": kept sorted (letter case ignored) and
// tested for membership ignoring letter case.
class TLinkListNames {
public:
    const QStringList& Names() const { return List; }
    bool Contains(const QString& name) const { return IndexOf(name) >= 0; }
    qsizetype IndexOf(const QString& name) const;
    // Adds and sorts.
    void Add(const QString& name);
    // Removes the first entry matching without regard to case; false when there is none.
    bool Remove(const QString& name);
    // The entry of oldName (case ignored) becomes newName; false when oldName is not here.
    bool Replace(const QString& oldName, const QString& newName);
    void Clear() { List.clear(); }
    // "MAIN LIST" followed by the names: the items of every list-name combo box.
    QStringList DisplayNames() const;
    // "Window List #2", #3, ...: the first one not among the names, ignoring case.
    QString NextFreeName() const;

private:
    void Sort();
    QStringList List;
};

// The link lists an action list names, for EnsureListsForActions: visits the parameter of each
// "1,4,..." entry and of each entry with trigger 2 or 3, in order. A trigger or kind that is
// not an integer raises EConvertError there, after the entries before it were visited.
void ForEachListOfActions(const QStringList& actions,
                          const std::function<void(const QString&)>& visit);
