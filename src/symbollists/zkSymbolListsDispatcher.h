#pragma once

// Keeps the account's symbol lists in step with the server: the controller through which every
// change passes, the provider that reads the lists from the server, and the updater that writes
// each change to it. Everything runs on the user-interface thread.

#include "zkSymbolListModel.h"

#include <QList>
#include <QTimer>

#include <functional>
#include <memory>

class IConnectionControl;
class IListOfLists;
class ISymbolListControl;

class TSymbolListProvider {
public:
    virtual ~TSymbolListProvider() = default;
    virtual void Refresh() = 0;
    virtual void CancelRefresh() = 0;
};

// Reads all lists from the server on request. Refresh starts a refresh, or, while one is in
// progress, polls it; the poll timer (500 ms) is the only record of a refresh in progress.
class TPrimarySymbolListProvider : public TSymbolListProvider {
public:
    TPrimarySymbolListProvider(std::shared_ptr<IListOfLists> lists);
    ~TPrimarySymbolListProvider() override;
    void Refresh() override;
    void CancelRefresh() override;

    // Waiting for the server, or loading the lists it gave.
    bool Refreshing() const { return PollTimer.isActive() || Loading; }
    bool Cancelled() const { return CancelFlag; }

private:
    void OnPollTimer();
    void Complete();
    void LoadSymbolLists();
    // The refresh ends without new content; the error that ended it goes on to the report.
    [[noreturn]] void Abandon();

    std::shared_ptr<IListOfLists> ListOfLists;
    bool CancelFlag = false;
    bool Polling = false;
    bool Loading = false;
    QTimer PollTimer;
};

// The single place through which every change passes: applies it to the model, forwards it to
// every listener in registration order, then tells them all ListsChanged(true).
class TPrimarySymbolListController : public TSymbolListChanges {
public:
    void AddListener(TSymbolListChanges* listener);
    // A listener that goes before the controller must not be called any more.
    void RemoveListener(TSymbolListChanges* listener);

    void BeginRefresh() override;
    void ListsChanged(bool Reload) override;
    void CreateList(int32_t ListId, const QString& Name) override;
    void RenameList(int32_t ListId, const QString& Name) override;
    void DeleteList(int32_t ListId) override;
    void SetSymbols(int32_t ListId, const QStringList& Symbols) override;
    void CopyLists(int32_t ListId, const QString& Name,
                   std::span<const int32_t> SourceIds) override;
    void AddSymbol(int32_t ListId, const QString& Symbol) override;
    void DeleteSymbol(int32_t ListId, const QString& Symbol) override;

private:
    template <typename F> void Forward(F&& call);
    // ListsChanged(true) to every listener, after each change.
    void AllChanged();
    // What the model held of one list before a change of it (or before it was made).
    struct TListBefore;
    // Forwards the change, then ListsChanged(true). A failure on the way (the server refusing
    // it) takes the change back out of the model and reads the lists again soon after.
    template <typename F> void Announce(const TListBefore& before, F&& call);

    QList<TSymbolListChanges*> Listeners; // not owned
};

// The first listener: writes each change to the server through the connection component.
class TPrimarySymbolListUpdater : public TSymbolListChanges {
public:
    explicit TPrimarySymbolListUpdater(IConnectionControl* connection);
    ~TPrimarySymbolListUpdater() override;

    void BeginRefresh() override {}
    void ListsChanged(bool) override {}
    void CreateList(int32_t ListId, const QString& Name) override;
    void RenameList(int32_t ListId, const QString& Name) override;
    void DeleteList(int32_t ListId) override;
    void SetSymbols(int32_t ListId, const QStringList& Symbols) override;
    void CopyLists(int32_t ListId, const QString& Name,
                   std::span<const int32_t> SourceIds) override;
    void AddSymbol(int32_t ListId, const QString& Symbol) override;
    void DeleteSymbol(int32_t ListId, const QString& Symbol) override;

private:
    // The server's object for the list, or nullptr when the change cannot be sent.
    ISymbolListControl* Get(int32_t listId);
    void WriteName(int32_t listId, const QString& name);

    IConnectionControl* Connection;
    std::shared_ptr<ISymbolListControl> SymbolList;
};

// Created by the main window after its connection component, freed before it goes.
void StartSymbolListDispatcher(IConnectionControl* connection);
void StopSymbolListDispatcher();

// Empties the model: after a login its lists are another account's, and nothing may show them
// or send them on. Not while the lists load.
void ForgetSymbolLists();

TSymbolLists* SymbolListModel();
TPrimarySymbolListProvider* SymbolListProvider();
TPrimarySymbolListController* SymbolListController();

// Whether the application is ending: a load waiting for the server stops at once then. The
// shell says so when its main window closes; leaving the event loop counts too.
void SetSymbolListsTerminating(bool terminating);
bool SymbolListsTerminating();
