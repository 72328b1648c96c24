#pragma once

// The account's symbol lists on the simulated server, and the IListOfLists and
// ISymbolListControl objects through which the connection component serves them.

#include "zkComponents.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class TSimService;

struct TSimList {
    int32_t Id = 0;
    QString Name;
    QStringList Symbols; // the server's order, no duplicates
};

// The lists of a list file's text: the first list of each id, its symbols without repeats.
// Empty with *problem set when the text is no list file.
std::vector<TSimList> ParseSimLists(const QByteArray& text, QString* problem);
QByteArray SimListsText(const std::vector<TSimList>& lists);

// Whether list files are still being written behind (see TSimListStore), and waiting until
// they are.
bool SimListWritesPending();
void FlushSimListWrites();

// One account's lists, kept in a JSON file (0600, replaced atomically on every change):
//   {"lists": [{"id": 1, "name": "Tech", "symbols": ["AAPL", "MSFT"]}]}
// A file that cannot be read is reported, set aside as "<file>.corrupt" and started afresh.
class TSimListStore {
public:
    // seedSamples: a missing file starts with a few sample lists (the DEMO account).
    TSimListStore(QString fileName, bool seedSamples, TSimService* reporter);

    const std::vector<TSimList>& Lists() const { return Items; }
    const TSimList* Find(int32_t id) const;
    const QString& FileName() const { return Path; }

    // Each change is saved before it returns; a failed save leaves the lists as they were
    // and throws EComponentError. For stores of many symbols only the temporary file is made
    // then (a folder that cannot take it fails the change) and the file is written on a
    // thread of its own; a write that fails there is reported on the standard error. Changes to a
    // list the server does not hold create it, except removals, which then do nothing.
    void SetName(int32_t id, const QString& name);
    void Insert(int32_t id, const QString& symbol);
    void Remove(int32_t id, const QString& symbol);
    void Replace(int32_t id, const QStringList& symbols);
    void Delete(int32_t id);

private:
    TSimList& FindOrCreate(int32_t id);
    void Load(bool seedSamples, TSimService* reporter);
    // Writes the file; `before` (the lists before the change) may be taken to be freed later.
    void Save(std::vector<TSimList>& before) const;
    template <typename F> void Change(F&& change);

    QString Path;
    std::vector<TSimList> Items;
};

class TSimListOfLists : public IListOfLists {
public:
    explicit TSimListOfLists(std::shared_ptr<TSimService> service);
    ~TSimListOfLists() override;
    void RequestLists() override;
    void RestartEnumeration() override;
    std::shared_ptr<ISymbolListControl> NextList() override;
    bool Complete() const override { return IsComplete; }
    void SetComplete(bool complete) override { IsComplete = complete; }

private:
    void TryFinish();

    std::shared_ptr<TSimService> Service;
    std::unique_ptr<QObject> Guard; // context of the pending callbacks; gone with this object
    bool IsComplete = false;
    bool Pending = false;
    bool Scheduled = false;
    unsigned Generation = 0;
    std::vector<int32_t> Ids;
    size_t NextIndex = 0;
};

class TSimSymbolList : public ISymbolListControl {
public:
    TSimSymbolList(std::shared_ptr<TSimService> service, int32_t id);
    ~TSimSymbolList() override;
    void InsertSymbol(const QString& symbol) override;
    void RemoveSymbol(const QString& symbol) override;
    int32_t ServerListId() const override { return Id; }
    QString ListName() const override;
    void SetListName(const QString& name) override;
    void AddToReplacement(const QString& symbol) override;
    void AddAllToReplacement(const QStringList& symbols) override;
    void BeginReplace() override;
    void FinishReplace() override;
    void FetchSymbols() override;
    bool SymbolsValid() const override { return Valid; }
    QString SymbolAt(int32_t index) const override;
    int32_t SymbolCount() const override;
    void RemoveList() override;
    bool Fetching() const override { return IsFetching; }

private:
    TSimListStore& Store() const;

    std::shared_ptr<TSimService> Service;
    std::unique_ptr<QObject> Guard;
    int32_t Id;
    bool IsFetching = false;
    bool Valid = false;
    QStringList Fetched;
    std::optional<QStringList> Replacement;
};
