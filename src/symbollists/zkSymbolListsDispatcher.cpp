#include "zkSymbolListsDispatcher.h"

#include "zkSymbolListIndex.h"

#include "components/zkComponents.h"
#include "platform/zkErrors.h"
#include "platform/zkPrompts.h"

#include <QCoreApplication>

#include <optional>

namespace {

// Shared, so that a refresh whose load waits for the server keeps the model and the provider
// alive even when the main window goes (and stops the dispatcher) during that wait.
struct TDispatcher {
    std::shared_ptr<TSymbolLists> Model;
    std::shared_ptr<TPrimarySymbolListProvider> Provider;
    std::shared_ptr<TPrimarySymbolListController> Controller;
    std::shared_ptr<TPrimarySymbolListUpdater> Updater;
};

TDispatcher& Dispatcher() {
    static TDispatcher dispatcher;
    return dispatcher;
}

bool Terminating = false;

// Removed after every naming: the server keeps a list that has a name but no symbols alive
// with this placeholder, which must not stay once the list is the user's.
const QString PlaceholderSymbol = QStringLiteral("~~~~~~~~~~");

TSymbolList* FindList(int32_t listId) {
    TSymbolLists* model = SymbolListModel();
    if (!model)
        return nullptr;
    const int index = IndexOfListId(*model, listId);
    return index < 0 ? nullptr : (*model)[size_t(index)].get();
}

// After a write the server refused, only the server knows what it holds now (a change of
// several calls may have gone in part): the lists are read again once the failed command has
// ended, not inside it.
void RereadAfterFailedWrite() {
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        TPrimarySymbolListProvider* provider = SymbolListProvider();
        if (!provider || provider->Refreshing())
            return;
        try {
            provider->Refresh();
        } catch (const EZkError& e) {
            zkPrompts::ShowErrorReport(e.message());
        }
    });
}

// Waits for one list's symbols with the user interface live. It sleeps until an event comes
// (a slow tick wakes it for components that answer without one) and ends at once, with false,
// when the application is terminating.
bool WaitWhileFetching(const ISymbolListControl& list) {
    if (!list.Fetching())
        return true;
    // What has arrived already is handled without going to sleep first.
    QCoreApplication::processEvents();
    if (SymbolListsTerminating())
        return false;
    if (!list.Fetching())
        return true;
    QTimer wake;
    wake.start(50);
    do {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (SymbolListsTerminating())
            return false;
    } while (list.Fetching());
    return true;
}

// Holds the provider and the model for the length of a refresh. When the dispatcher has let
// them go meanwhile, they are released later, from the event loop: the provider's own call
// (and its timer's signal) must not end inside a destroyed object.
struct TKeepAlive {
    std::shared_ptr<TPrimarySymbolListProvider> Provider;
    std::shared_ptr<TSymbolLists> Model;
    ~TKeepAlive() {
        if (Provider && Provider.use_count() == 1 && QCoreApplication::instance())
            QTimer::singleShot(0, QCoreApplication::instance(), [p = Provider, m = Model] {});
    }
};

} // namespace

// --- provider -----------------------------------------------------------------------------

TPrimarySymbolListProvider::TPrimarySymbolListProvider(std::shared_ptr<IListOfLists> lists)
    : ListOfLists(std::move(lists)) {
    PollTimer.setInterval(500);
    QObject::connect(&PollTimer, &QTimer::timeout, [this] { OnPollTimer(); });
}

TPrimarySymbolListProvider::~TPrimarySymbolListProvider() {
    PollTimer.stop();
}

void TPrimarySymbolListProvider::OnPollTimer() {
    // A failing poll is reported and polled again at the next tick; the ticks that come while
    // its report is still open are skipped, so the reports do not pile up.
    if (SymbolListsTerminating() || Polling)
        return;
    Polling = true;
    struct TClear {
        bool& Flag;
        ~TClear() { Flag = false; }
    } clear{Polling};
    try {
        Refresh();
    } catch (const EZkError& e) {
        zkPrompts::ShowErrorReport(e.message());
    }
}

void TPrimarySymbolListProvider::Refresh() {
    TPrimarySymbolListController* controller = SymbolListController();
    if (!ListOfLists || !controller)
        return;
    // A refresh asked for while the lists load (the load lets events run) would empty the
    // model under it; the load under way brings the lists anyway.
    if (Loading)
        return;
    const TKeepAlive keep{Dispatcher().Provider, Dispatcher().Model};
    if (!PollTimer.isActive()) {
        controller->BeginRefresh();
        CancelFlag = false;
        bool complete = false;
        try {
            ListOfLists->SetComplete(false);
            ListOfLists->RequestLists();
            PollTimer.start();
            complete = ListOfLists->Complete();
        } catch (...) {
            Abandon();
        }
        if (complete)
            Complete();
        return;
    }
    // A poll. The cancel flag is tested first: a cancelled refresh ends without new content
    // whether or not the lists have come, and so Cancel works even while the component fails.
    if (CancelFlag) {
        PollTimer.stop();
        controller->ListsChanged(false);
        return;
    }
    if (ListOfLists->Complete())
        Complete();
}

void TPrimarySymbolListProvider::Complete() {
    PollTimer.stop();
    // A cancel that comes while the lists load does not stop the load, and once the model
    // holds the new lists the window must show them too: anything else leaves it showing lists
    // the model no longer has (an empty box after the first load), which the next change would
    // swap in unasked.
    const bool load = !CancelFlag;
    if (load) {
        Loading = true;
        struct TClear {
            bool& Flag;
            ~TClear() { Flag = false; }
        } clear{Loading};
        try {
            LoadSymbolLists();
        } catch (...) {
            Abandon();
        }
    }
    if (TPrimarySymbolListController* controller = SymbolListController())
        controller->ListsChanged(load);
}

void TPrimarySymbolListProvider::Abandon() {
    // Without this the window would stay in its refresh state for good, with Cancel Refresh
    // doing nothing: it goes back to its last lists, ready for the next refresh.
    PollTimer.stop();
    if (TPrimarySymbolListController* controller = SymbolListController()) {
        try {
            controller->ListsChanged(false);
        } catch (...) {
            // The first error is the one the user needs to see.
        }
    }
    throw;
}

void TPrimarySymbolListProvider::CancelRefresh() {
    CancelFlag = true;
}

void TPrimarySymbolListProvider::LoadSymbolLists() {
    TSymbolLists* model = SymbolListModel();
    if (!model)
        return;
    ClearSymbolLists(model);
    if (!ListOfLists->Complete())
        return;
    ListOfLists->RestartEnumeration();
    while (std::shared_ptr<ISymbolListControl> list = ListOfLists->NextList()) {
        auto record = std::make_unique<TSymbolList>();
        record->ListId = list->ServerListId();
        record->Name = list->ListName();
        TSymbolList* added = record.get();
        model->push_back(std::move(record));

        list->FetchSymbols();
        if (!WaitWhileFetching(*list))
            return; // what was read so far stays; the refresh ends as after a complete load
        if (list->SymbolsValid()) {
            const int32_t count = list->SymbolCount();
            QStringList symbols;
            symbols.reserve(qMax(count, 0));
            for (int32_t i = 0; i < count; ++i)
                symbols.append(list->SymbolAt(i));
            added->Symbols.Assign(std::move(symbols));
        }
    }
}

// --- controller ---------------------------------------------------------------------------

// The model's record of one list as it was before a change, so that a change the server did
// not take can be taken back out of the model.
struct TPrimarySymbolListController::TListBefore {
    int32_t ListId = 0;
    int Index = -1; // -1: the model did not hold the list
    std::optional<TSymbolList> Record;

    explicit TListBefore(int32_t listId) : ListId(listId) {
        if (const TSymbolLists* model = SymbolListModel()) {
            Index = IndexOfListId(*model, listId);
            if (Index >= 0)
                Record = *(*model)[size_t(Index)];
        }
    }
    void Restore() const {
        SymbolListsChanged();
        TSymbolLists* model = SymbolListModel();
        if (!model)
            return;
        const int now = IndexOfListId(*model, ListId);
        if (!Record) {
            if (now >= 0) // added by the change
                model->erase(model->begin() + now);
        } else if (now >= 0) {
            *(*model)[size_t(now)] = *Record;
        } else { // deleted by the change
            const size_t at = qMin(size_t(Index), model->size());
            model->insert(model->begin() + qsizetype(at), std::make_unique<TSymbolList>(*Record));
        }
    }
};

void TPrimarySymbolListController::AddListener(TSymbolListChanges* listener) {
    if (listener)
        Listeners.append(listener);
}

void TPrimarySymbolListController::RemoveListener(TSymbolListChanges* listener) {
    Listeners.removeAll(listener);
}

template <typename F> void TPrimarySymbolListController::Forward(F&& call) {
    // By index: a listener may not be added while forwarding, but nothing is assumed.
    for (qsizetype i = 0; i < Listeners.size(); ++i)
        if (TSymbolListChanges* listener = Listeners.at(i))
            call(*listener);
}

void TPrimarySymbolListController::AllChanged() {
    SymbolListsChanged();
    Forward([](TSymbolListChanges& l) { l.ListsChanged(true); });
}

template <typename F>
void TPrimarySymbolListController::Announce(const TListBefore& before, F&& call) {
    // The model already holds the change; the updater, first listener, sends it. When that
    // fails, the model must not keep what the server did not take: the window would show it as
    // saved at the next change, and a copy would send it on.
    try {
        Forward(std::forward<F>(call));
    } catch (...) {
        before.Restore();
        RereadAfterFailedWrite();
        throw;
    }
    AllChanged();
}

void TPrimarySymbolListController::BeginRefresh() {
    Forward([](TSymbolListChanges& l) { l.BeginRefresh(); });
}

void TPrimarySymbolListController::ListsChanged(bool Reload) {
    SymbolListsChanged();
    Forward([Reload](TSymbolListChanges& l) { l.ListsChanged(Reload); });
}

void TPrimarySymbolListController::CreateList(int32_t, const QString& Name) {
    TSymbolLists* model = SymbolListModel();
    const int32_t id = NextListId(model);
    const QString name = ApplyNameRule(Name, id);
    const TListBefore before(id);
    if (model)
        model->push_back(std::make_unique<TSymbolList>(TSymbolList{id, name, {}}));
    Announce(before, [&](TSymbolListChanges& l) { l.CreateList(id, name); });
}

void TPrimarySymbolListController::RenameList(int32_t ListId, const QString& Name) {
    QString name = Name;
    const TListBefore before(ListId);
    if (TSymbolList* list = FindList(ListId)) {
        name = ApplyNameRule(Name, ListId);
        list->Name = name;
    }
    Announce(before, [&](TSymbolListChanges& l) { l.RenameList(ListId, name); });
}

void TPrimarySymbolListController::DeleteList(int32_t ListId) {
    const TListBefore before(ListId);
    if (TSymbolLists* model = SymbolListModel()) {
        const int index = IndexOfListId(*model, ListId);
        if (index >= 0)
            model->erase(model->begin() + index);
    }
    Announce(before, [&](TSymbolListChanges& l) { l.DeleteList(ListId); });
}

void TPrimarySymbolListController::SetSymbols(int32_t ListId, const QStringList& Symbols) {
    const TListBefore before(ListId);
    if (TSymbolList* list = FindList(ListId))
        list->Symbols.Assign(Symbols);
    Announce(before, [&](TSymbolListChanges& l) { l.SetSymbols(ListId, Symbols); });
}

void TPrimarySymbolListController::CopyLists(int32_t, const QString& Name,
                                             std::span<const int32_t> SourceIds) {
    TSymbolLists* model = SymbolListModel();
    const int32_t id = NextListId(model);
    const QString name = ApplyNameRule(Name, id);
    const TListBefore before(id);
    if (model) {
        auto record = std::make_unique<TSymbolList>(TSymbolList{id, name, {}});
        for (int32_t source : SourceIds) {
            const int index = IndexOfListId(*model, source);
            if (index < 0)
                continue;
            const TSymbolSet& symbols = (*model)[size_t(index)]->Symbols;
            if (record->Symbols.IsEmpty()) {
                record->Symbols = symbols; // the first source needs no lookups
                continue;
            }
            for (const QString& s : symbols.Strings())
                record->Symbols.Add(s);
        }
        model->push_back(std::move(record));
    }
    Announce(before, [&](TSymbolListChanges& l) { l.CopyLists(id, name, SourceIds); });
}

void TPrimarySymbolListController::AddSymbol(int32_t ListId, const QString& Symbol) {
    const TListBefore before(ListId);
    if (TSymbolList* list = FindList(ListId))
        list->Symbols.Add(Symbol);
    Announce(before, [&](TSymbolListChanges& l) { l.AddSymbol(ListId, Symbol); });
}

void TPrimarySymbolListController::DeleteSymbol(int32_t ListId, const QString& Symbol) {
    const TListBefore before(ListId);
    if (TSymbolList* list = FindList(ListId))
        list->Symbols.Remove(Symbol);
    Announce(before, [&](TSymbolListChanges& l) { l.DeleteSymbol(ListId, Symbol); });
}

// --- updater ------------------------------------------------------------------------------

TPrimarySymbolListUpdater::TPrimarySymbolListUpdater(IConnectionControl* connection)
    : Connection(connection) {}

TPrimarySymbolListUpdater::~TPrimarySymbolListUpdater() = default;

ISymbolListControl* TPrimarySymbolListUpdater::Get(int32_t listId) {
    SymbolList.reset();
    if (Connection)
        SymbolList = Connection->GetSymbolList(listId);
    return SymbolList.get();
}

void TPrimarySymbolListUpdater::WriteName(int32_t listId, const QString& name) {
    if (ISymbolListControl* list = Get(listId)) {
        list->SetListName(name);
        list->RemoveSymbol(PlaceholderSymbol);
    }
}

void TPrimarySymbolListUpdater::CreateList(int32_t ListId, const QString& Name) {
    WriteName(ListId, Name);
}

void TPrimarySymbolListUpdater::RenameList(int32_t ListId, const QString& Name) {
    WriteName(ListId, Name);
}

void TPrimarySymbolListUpdater::DeleteList(int32_t ListId) {
    if (ISymbolListControl* list = Get(ListId))
        list->RemoveList();
}

void TPrimarySymbolListUpdater::SetSymbols(int32_t ListId, const QStringList& Symbols) {
    if (ISymbolListControl* list = Get(ListId)) {
        list->BeginReplace();
        list->AddAllToReplacement(Symbols);
        list->FinishReplace();
    }
}

void TPrimarySymbolListUpdater::CopyLists(int32_t ListId, const QString& Name,
                                          std::span<const int32_t> SourceIds) {
    ISymbolListControl* list = Get(ListId);
    if (!list)
        return;
    list->SetListName(Name);
    list->BeginReplace();
    // Each source's symbols as the model holds them; a symbol in several sources goes once
    // for each.
    if (const TSymbolLists* model = SymbolListModel()) {
        for (int32_t source : SourceIds) {
            const int index = IndexOfListId(*model, source);
            if (index < 0)
                continue;
            for (const QString& s : (*model)[size_t(index)]->Symbols.Strings())
                list->AddToReplacement(s);
        }
    }
    list->FinishReplace();
}

void TPrimarySymbolListUpdater::AddSymbol(int32_t ListId, const QString& Symbol) {
    if (ISymbolListControl* list = Get(ListId))
        list->InsertSymbol(Symbol);
}

void TPrimarySymbolListUpdater::DeleteSymbol(int32_t ListId, const QString& Symbol) {
    if (ISymbolListControl* list = Get(ListId))
        list->RemoveSymbol(Symbol);
}

// --- start, stop, accessors ---------------------------------------------------------------

void StartSymbolListDispatcher(IConnectionControl* connection) {
    TDispatcher& d = Dispatcher();
    StopSymbolListDispatcher();
    SymbolListsChanged();
    Terminating = false;
    d.Model = std::make_unique<TSymbolLists>();
    d.Provider = std::make_unique<TPrimarySymbolListProvider>(connection ? connection->ListOfLists()
                                                                         : nullptr);
    d.Controller = std::make_unique<TPrimarySymbolListController>();
    d.Updater = std::make_unique<TPrimarySymbolListUpdater>(connection);
    d.Controller->AddListener(d.Updater.get());
}

void StopSymbolListDispatcher() {
    TDispatcher& d = Dispatcher();
    SymbolListsChanged();
    // The model's records go with it (later, if a load still holds it).
    d.Model.reset();
    d.Provider.reset();
    d.Controller.reset();
    d.Updater.reset();
}

void ForgetSymbolLists() {
    SymbolListsChanged();
    ClearSymbolLists(SymbolListModel());
}

TSymbolLists* SymbolListModel() {
    return Dispatcher().Model.get();
}

TPrimarySymbolListProvider* SymbolListProvider() {
    return Dispatcher().Provider.get();
}

TPrimarySymbolListController* SymbolListController() {
    return Dispatcher().Controller.get();
}

void SetSymbolListsTerminating(bool terminating) {
    Terminating = terminating;
}

bool SymbolListsTerminating() {
    return Terminating || QCoreApplication::closingDown();
}
