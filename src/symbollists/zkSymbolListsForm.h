#pragma once

#include "zkSymbolListEditorForm.h"
#include "zkSymbolListModel.h"

#include <QWidget>

#include <memory>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TSymbolListsForm;

// The window's view of the controller: keeps a deep copy of the model as of the last change
// (the snapshot the list box shows) and whether a refresh is pending.
class TSymbolListsFormListener : public TSymbolListChanges {
public:
    explicit TSymbolListsFormListener(TSymbolListsForm* form) : Form(form) {}
    ~TSymbolListsFormListener() override;

    void BeginRefresh() override;
    void ListsChanged(bool Reload) override;
    void CreateList(int32_t, const QString&) override {}
    void RenameList(int32_t, const QString&) override {}
    void DeleteList(int32_t) override {}
    void SetSymbols(int32_t, const QStringList&) override {}
    void CopyLists(int32_t, const QString&, std::span<const int32_t>) override {}
    void AddSymbol(int32_t, const QString&) override {}
    void DeleteSymbol(int32_t, const QString&) override {}

    TSymbolLists Snapshot;
    bool Refreshing = false;

private:
    TSymbolListsForm* Form;
};

// "Symbol Lists": the account's lists, refreshed from the server and changed through the
// controller; the window redraws only when its listener hears of a change. Created once by the
// main window after the dispatcher has started; closing it hides it.
class TSymbolListsForm : public QWidget, public ISymbolListEditorOwner {
    Q_OBJECT
public:
    explicit TSymbolListsForm(QWidget* owner);
    ~TSymbolListsForm() override;

    // --- state ---
    std::vector<int32_t> SelectedIds;
    std::unique_ptr<TSymbolListsFormListener> Listener;
    // Counts logins; an action that asked the user something drops its change when a login
    // came meanwhile.
    unsigned AccountGeneration = 0;
    bool EditorOpen = false;
    // A login cut a refresh short: the new account's lists are read once it has ended.
    bool ReloadWhenRefreshEnds = false;

    // --- controls ---
    QListWidget* SymbolListsListBox = nullptr;
    QWidget* Panel = nullptr;
    QPushButton* RefreshFromServerButton = nullptr;
    QPushButton* EditListButton = nullptr;
    QPushButton* CreateNewListButton = nullptr;
    QPushButton* RenameListButton = nullptr;
    QPushButton* DeleteButton = nullptr;
    QPushButton* CopyButton = nullptr;
    QFrame* SymbolFrame = nullptr;
    QLabel* SymbolLabel = nullptr;
    QLineEdit* SymbolEdit = nullptr;
    QPushButton* AddButton = nullptr;
    QPushButton* DeleteSymbolButton = nullptr;

    // --- operations ---
    void RememberSelection();
    void RestoreSelection();
    void SetControlsEnabled(bool enabled);
    void UpdateButtons();
    // The editor confirmed: the list's symbols become these lines.
    void SetListSymbols(int32_t listId, const QStringList& lines) override;
    QWidget* EditorOwnerWindow() override { return this; }
    // The snapshot record behind the first selected entry, or nullptr.
    const TSymbolList* SelectedList() const;

    // New credentials were applied: the lists on screen, in the model and in an open editor
    // are another account's now. They go, and the lists are read for the new account (after
    // a refresh still running has ended).
    void AccountChanged();
    void ReloadForAccount();

    // --- actions ---
    void RefreshFromServerButtonClick();
    void EditListButtonClick();
    void CreateNewListButtonClick();
    void RenameListButtonClick();
    void DeleteButtonClick();
    void CopyButtonClick();
    void AddButtonClick();
    void DeleteSymbolButtonClick();

    // Listener notifications.
    void ShowRefreshPending();
    void ShowSnapshot();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // Lays the symbol row out for the window's font: "Symbol:" above the edit, the edit and its
    // buttons as tall as the font needs, the frame around them; the panel and the window grow
    // by what the row grew, so nothing covers the label or falls off the window's bottom.
    void FitSymbolRow();
    int RowGrowth = 0; // how much taller than designed the symbol row is
    // The list box and the panel placed for the window's size.
    void PlaceControls();
    void SymbolEditChange();
    void UpdateSymbolButtons(int selected);
    // Add or Delete symbol: the typed symbol to or from each selected list, then an empty edit.
    void SymbolToSelectedLists(void (TSymbolListChanges::*change)(int32_t, const QString&));
};
