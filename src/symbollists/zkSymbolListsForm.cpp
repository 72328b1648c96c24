#include "zkSymbolListsForm.h"

#include "desktop/zkWindowRing.h"
#include "platform/zkApplication.h"
#include "platform/zkButtonText.h"
#include "platform/zkPrompts.h"
#include "zkSymbolListEditorForm.h"
#include "zkSymbolListsDispatcher.h"

#include <QCloseEvent>
#include <QFrame>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

namespace {

// Sizes at 96 dpi: the client area, the list box and the bottom panel.
constexpr int ClientWidth = 302;
constexpr int ClientHeight = 230;
constexpr QRect ListBoxRect(6, 8, 289, 89);
constexpr QRect PanelRect(-5, 104, 313, 133);

} // namespace

// --- listener -----------------------------------------------------------------------------

TSymbolListsFormListener::~TSymbolListsFormListener() {
    ClearSymbolLists(&Snapshot);
}

void TSymbolListsFormListener::BeginRefresh() {
    Form->RememberSelection();
    Form->SetControlsEnabled(false);
    Refreshing = true;
    Form->ShowRefreshPending();
}

void TSymbolListsFormListener::ListsChanged(bool Reload) {
    if (Form->ReloadWhenRefreshEnds) {
        // The refresh a login cut short has ended: whatever it brought may be the previous
        // account's. The window stays waiting until the new account's lists are read, which
        // starts once the provider's call has ended.
        Form->ReloadWhenRefreshEnds = false;
        QTimer::singleShot(0, Form, [form = Form] { form->ReloadForAccount(); });
        return;
    }
    Refreshing = false;
    Form->SetControlsEnabled(true);
    if (Reload)
        CopySymbolLists(&Snapshot, SymbolListModel());
    Form->ShowSnapshot();
}

// --- window -------------------------------------------------------------------------------

TSymbolListsForm::TSymbolListsForm(QWidget* owner) : QWidget(owner, Qt::Window) {
    FormCreate();
}

TSymbolListsForm::~TSymbolListsForm() {
    SelectedIds.clear();
    // Normally the controller has gone first; a window closed before it must not be called.
    if (TPrimarySymbolListController* controller = SymbolListController())
        controller->RemoveListener(Listener.get());
}

void TSymbolListsForm::FormCreate() {
    setObjectName(QStringLiteral("SymbolListsForm"));
    setWindowTitle(tr("Symbol Lists"));
    resize(ClientWidth, ClientHeight);

    SymbolListsListBox = new QListWidget(this);
    SymbolListsListBox->setObjectName(QStringLiteral("SymbolListsListBox"));
    SymbolListsListBox->setAccessibleName(tr("Symbol lists"));
    SymbolListsListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SymbolListsListBox->setGeometry(ListBoxRect);

    Panel = new QWidget(this);
    Panel->setObjectName(QStringLiteral("Panel"));
    Panel->setGeometry(PanelRect);

    auto button = [this](QPushButton*& b, const QString& caption, const char* name,
                         const QRect& r) {
        b = new QPushButton(caption, Panel);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(r);
        // Enter on a focused button presses it, as on any dialog.
        b->setAutoDefault(true);
    };
    button(RefreshFromServerButton, tr("Refresh from Server"), "RefreshFromServerButton",
           QRect(11, 8, 105, 25));
    button(EditListButton, tr("Edit List"), "EditListButton", QRect(124, 8, 80, 25));
    button(CreateNewListButton, tr("Create New List"), "CreateNewListButton",
           QRect(212, 8, 88, 25));
    button(RenameListButton, tr("Rename List"), "RenameListButton", QRect(11, 36, 105, 25));
    button(DeleteButton, tr("Delete List"), "DeleteButton", QRect(124, 36, 80, 25));
    button(CopyButton, tr("Copy List"), "CopyButton", QRect(212, 36, 88, 25));

    SymbolFrame = new QFrame(Panel);
    SymbolFrame->setObjectName(QStringLiteral("SymbolFrame"));
    SymbolFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    SymbolFrame->setGeometry(12, 65, 289, 57);
    SymbolFrame->lower();

    SymbolLabel = new QLabel(tr("Symbol:"), Panel);
    SymbolLabel->setObjectName(QStringLiteral("SymbolLabel"));
    SymbolLabel->move(19, 72);
    SymbolLabel->adjustSize();

    SymbolEdit = new QLineEdit(Panel);
    SymbolEdit->setObjectName(QStringLiteral("SymbolEdit"));
    SymbolEdit->setGeometry(21, 87, 121, 21);
    SymbolLabel->setBuddy(SymbolEdit);

    button(AddButton, tr("&Add"), "AddButton", QRect(152, 85, 68, 25));
    AddButton->setDefault(true);
    button(DeleteSymbolButton, tr("&Delete"), "DeleteSymbolButton", QRect(224, 85, 68, 25));

    // Tab order: the list box, then the controls in the order of the panel.
    QWidget* order[] = {SymbolListsListBox, RefreshFromServerButton,
                        EditListButton,     CreateNewListButton,
                        RenameListButton,   DeleteButton,
                        CopyButton,         SymbolEdit,
                        AddButton,          DeleteSymbolButton};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    // Each button with every caption it may show, all in one font.
    FitButtonGroupCaptionsWhenShown(
        this, {{RefreshFromServerButton, {tr("Refresh from Server"), tr("Cancel Refresh")}},
               {CopyButton, {tr("Copy List"), tr("Copy Lists")}},
               {DeleteButton, {tr("Delete List"), tr("Delete Lists")}},
               {EditListButton, {EditListButton->text()}},
               {CreateNewListButton, {CreateNewListButton->text()}},
               {RenameListButton, {RenameListButton->text()}},
               {AddButton, {AddButton->text()}},
               {DeleteSymbolButton, {DeleteSymbolButton->text()}}});

    auto on = [this](QPushButton* b, void (TSymbolListsForm::*handler)()) {
        connect(b, &QPushButton::clicked, this,
                [this, handler] { ReportErrors([&] { (this->*handler)(); }); });
    };
    on(RefreshFromServerButton, &TSymbolListsForm::RefreshFromServerButtonClick);
    on(EditListButton, &TSymbolListsForm::EditListButtonClick);
    on(CreateNewListButton, &TSymbolListsForm::CreateNewListButtonClick);
    on(RenameListButton, &TSymbolListsForm::RenameListButtonClick);
    on(DeleteButton, &TSymbolListsForm::DeleteButtonClick);
    on(CopyButton, &TSymbolListsForm::CopyButtonClick);
    on(AddButton, &TSymbolListsForm::AddButtonClick);
    on(DeleteSymbolButton, &TSymbolListsForm::DeleteSymbolButtonClick);
    connect(SymbolListsListBox, &QListWidget::itemSelectionChanged, this,
            [this] { UpdateButtons(); });
    connect(SymbolListsListBox, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) {
                if (SymbolListsListBox->selectedItems().size() != 1)
                    return;
                // The entry double-clicked is the one to edit. A Ctrl+double-click on one of two
                // selected entries takes it out of the selection, leaving the other selected.
                if (!item->isSelected())
                    SymbolListsListBox->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
                ReportErrors([this] { EditListButtonClick(); });
            });
    connect(SymbolEdit, &QLineEdit::textChanged, this, [this] { SymbolEditChange(); });

    // Key preview: the line edit keeps its key releases to itself, so each control's are
    // looked at before the control gets them.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    FitSymbolRow();

    Listener = std::make_unique<TSymbolListsFormListener>(this);
    if (TPrimarySymbolListController* controller = SymbolListController())
        controller->AddListener(Listener.get());
    UpdateButtons();
    JoinWindowRing();
}

void TSymbolListsForm::FitSymbolRow() {
    // The designed places, in the panel: the label's top, the edit's top and height, the
    // buttons' height and the frame's top and bottom.
    constexpr int LabelTop = 72, EditTop = 87, EditHeight = 21, ButtonHeight = 25;
    constexpr int FrameTop = 65, FrameBottom = 122;
    SymbolLabel->adjustSize();
    const int editTop = qMax(EditTop, SymbolLabel->y() + SymbolLabel->height());
    // A line of text and the edit's frame; a button's caption and its bevel. In the font the
    // window was drawn for (DejaVu Sans 9) these are the designed heights.
    const int textHeight =
        qMax(SymbolEdit->fontMetrics().height(), AddButton->fontMetrics().height());
    const int editHeight = qMax(EditHeight, textHeight + 6);
    const int buttonHeight = qMax(ButtonHeight, textHeight + 8);
    // The buttons centred on the edit, as designed (two pixels above and below it).
    const int buttonTop = editTop - (buttonHeight - editHeight) / 2;
    SymbolLabel->move(SymbolLabel->x(), LabelTop);
    SymbolEdit->setGeometry(SymbolEdit->x(), editTop, SymbolEdit->width(), editHeight);
    for (QPushButton* b : {AddButton, DeleteSymbolButton})
        b->setGeometry(b->x(), buttonTop, b->width(), buttonHeight);
    const int rowBottom = qMax(editTop + editHeight, buttonTop + buttonHeight);
    const int frameBottom = qMax(FrameBottom, rowBottom + (FrameBottom - 110));
    SymbolFrame->setGeometry(SymbolFrame->x(), FrameTop, SymbolFrame->width(),
                             frameBottom - FrameTop);
    const int growth = frameBottom - FrameBottom;
    Panel->resize(PanelRect.width(), PanelRect.height() + growth);
    const int grown = growth - RowGrowth;
    RowGrowth = growth;
    setMinimumSize(ClientWidth, ClientHeight + RowGrowth - ListBoxRect.height() / 2);
    if (grown != 0)
        resize(width(), qMax(minimumHeight(), height() + grown));
    PlaceControls();
}

void TSymbolListsForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitSymbolRow();
}

void TSymbolListsForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceControls();
}

void TSymbolListsForm::PlaceControls() {
    // The list box follows every edge; the panel keeps its size, at the bottom, centred.
    const int dw = width() - ClientWidth;
    const int dh = height() - ClientHeight - RowGrowth;
    SymbolListsListBox->setGeometry(ListBoxRect.x(), ListBoxRect.y(), ListBoxRect.width() + dw,
                                    ListBoxRect.height() + dh);
    Panel->move((width() - PanelRect.width()) / 2, PanelRect.y() + dh);
}

void TSymbolListsForm::RememberSelection() {
    SelectedIds.clear();
    const TSymbolLists& snapshot = Listener->Snapshot;
    for (int i = 0; i < SymbolListsListBox->count(); ++i)
        if (SymbolListsListBox->item(i)->isSelected() && size_t(i) < snapshot.size())
            SelectedIds.push_back(snapshot[size_t(i)]->ListId);
}

void TSymbolListsForm::RestoreSelection() {
    const QSignalBlocker blocker(SymbolListsListBox);
    // One selection change for all of them: selecting entry by entry costs a view update each.
    QItemSelection selection;
    QAbstractItemModel* model = SymbolListsListBox->model();
    for (int32_t id : SelectedIds) {
        const int index = IndexOfListId(Listener->Snapshot, id);
        if (index >= 0 && index < SymbolListsListBox->count())
            selection.select(model->index(index, 0), model->index(index, 0));
    }
    SymbolListsListBox->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void TSymbolListsForm::SetControlsEnabled(bool enabled) {
    for (QWidget* w :
         {static_cast<QWidget*>(SymbolListsListBox), static_cast<QWidget*>(CreateNewListButton),
          static_cast<QWidget*>(CopyButton), static_cast<QWidget*>(DeleteButton),
          static_cast<QWidget*>(EditListButton), static_cast<QWidget*>(RenameListButton),
          static_cast<QWidget*>(AddButton), static_cast<QWidget*>(DeleteSymbolButton),
          static_cast<QWidget*>(SymbolEdit)})
        w->setEnabled(enabled);
}

void TSymbolListsForm::UpdateButtons() {
    const int selected = int(SymbolListsListBox->selectedItems().size());
    const bool several = selected > 1;
    CopyButton->setText(several ? tr("Copy Lists") : tr("Copy List"));
    DeleteButton->setText(several ? tr("Delete Lists") : tr("Delete List"));
    CopyButton->setEnabled(selected > 0);
    DeleteButton->setEnabled(selected > 0);
    EditListButton->setEnabled(selected == 1);
    RenameListButton->setEnabled(selected == 1);
    UpdateSymbolButtons(selected);
}

void TSymbolListsForm::UpdateSymbolButtons(int selected) {
    const bool can = selected > 0 && !TrimControls(SymbolEdit->text()).isEmpty();
    AddButton->setEnabled(can);
    DeleteSymbolButton->setEnabled(can);
}

void TSymbolListsForm::SymbolEditChange() {
    UpdateSymbolButtons(int(SymbolListsListBox->selectedItems().size()));
}

void TSymbolListsForm::ShowRefreshPending() {
    {
        const QSignalBlocker blocker(SymbolListsListBox);
        SymbolListsListBox->clearSelection();
        SymbolListsListBox->clear();
        SymbolListsListBox->addItem(tr("Please wait..."));
    }
    RefreshFromServerButton->setText(tr("Cancel Refresh"));
    UpdateButtons();
}

void TSymbolListsForm::ShowSnapshot() {
    RefreshFromServerButton->setText(tr("Refresh from Server"));
    QStringList items;
    FillSymbolListItems(Listener->Snapshot, items);
    {
        const QSignalBlocker blocker(SymbolListsListBox);
        SymbolListsListBox->setUpdatesEnabled(false);
        SymbolListsListBox->clear();
        SymbolListsListBox->addItems(items);
        SymbolListsListBox->setUpdatesEnabled(true);
    }
    RestoreSelection();
    UpdateButtons();
}

const TSymbolList* TSymbolListsForm::SelectedList() const {
    const TSymbolLists& snapshot = Listener->Snapshot;
    for (int i = 0; i < SymbolListsListBox->count() && size_t(i) < snapshot.size(); ++i)
        if (SymbolListsListBox->item(i)->isSelected())
            return snapshot[size_t(i)].get();
    return nullptr;
}

void TSymbolListsForm::SetListSymbols(int32_t listId, const QStringList& lines) {
    if (TPrimarySymbolListController* controller = SymbolListController())
        controller->SetSymbols(listId, lines);
}

// --- actions ------------------------------------------------------------------------------

void TSymbolListsForm::RefreshFromServerButtonClick() {
    RememberSelection();
    TPrimarySymbolListProvider* provider = SymbolListProvider();
    if (!provider)
        return;
    if (Listener->Refreshing)
        provider->CancelRefresh();
    else
        provider->Refresh();
}

void TSymbolListsForm::EditListButtonClick() {
    RememberSelection();
    const TSymbolList* list = SelectedList();
    TSymbolListEditorForm* editor = SymbolListEditorForm();
    if (!list || !editor)
        return;
    editor->OpenForList(*list, this);
    EditorOpen = true;
    struct TClear {
        bool& Flag;
        ~TClear() { Flag = false; }
    } clear{EditorOpen};
    editor->exec();
    // Back to this window, also where the window manager would choose another one.
    if (isVisible()) {
        raise();
        activateWindow();
    }
}

void TSymbolListsForm::CreateNewListButtonClick() {
    RememberSelection();
    const unsigned account = AccountGeneration;
    QString name;
    if (!zkPrompts::InputQuery(tr("Create New List"), tr("New List:"), name, this))
        return;
    // A login while the question was open: the new account's lists are still being read, and
    // the id chosen now could be one of them.
    if (account != AccountGeneration)
        return;
    if (TPrimarySymbolListController* controller = SymbolListController())
        controller->CreateList(-1, name);
}

void TSymbolListsForm::RenameListButtonClick() {
    RememberSelection();
    const TSymbolList* list = SelectedList();
    if (!list)
        return;
    const int32_t id = list->ListId;
    const unsigned account = AccountGeneration;
    QString name = list->Name;
    if (!zkPrompts::InputQuery(tr("Rename List"), tr("New List Name:"), name, this))
        return;
    if (account != AccountGeneration)
        return; // the list was another account's
    if (TPrimarySymbolListController* controller = SymbolListController())
        controller->RenameList(id, name);
}

void TSymbolListsForm::DeleteButtonClick() {
    RememberSelection();
    const std::vector<int32_t> ids = SelectedIds;
    for (int32_t id : ids)
        if (TPrimarySymbolListController* controller = SymbolListController())
            controller->DeleteList(id);
}

void TSymbolListsForm::CopyButtonClick() {
    RememberSelection();
    const std::vector<int32_t> ids = SelectedIds;
    const unsigned account = AccountGeneration;
    QString name;
    if (!zkPrompts::InputQuery(tr("Copy List(s) To New List"), tr("New List Name:"), name, this))
        return;
    if (account != AccountGeneration)
        return; // the lists were another account's
    if (TPrimarySymbolListController* controller = SymbolListController())
        controller->CopyLists(-1, name, ids);
}

void TSymbolListsForm::AccountChanged() {
    ++AccountGeneration;
    // An editor open on one of the lists would send its lines to the new account's list of
    // that id; it closes as on Cancel.
    if (TSymbolListEditorForm* editor = ExistingSymbolListEditorForm(); editor && EditorOpen)
        editor->reject();
    SelectedIds.clear();
    ClearSymbolLists(&Listener->Snapshot);
    ReloadForAccount();
}

void TSymbolListsForm::ReloadForAccount() {
    TPrimarySymbolListProvider* provider = SymbolListProvider();
    if (provider && provider->Refreshing()) {
        // The lists it brings may be the previous account's; it is let go, and the reading
        // starts again when it has ended.
        ReloadWhenRefreshEnds = true;
        provider->CancelRefresh();
        return;
    }
    // Nothing of the previous account stays to be shown by a later change (the model), nor on
    // screen, even if the reading fails or is cancelled.
    ForgetSymbolLists();
    ClearSymbolLists(&Listener->Snapshot);
    SelectedIds.clear();
    Listener->Refreshing = false;
    SetControlsEnabled(true);
    ShowSnapshot();
    if (provider)
        ReportErrors([provider] { provider->Refresh(); });
}

void TSymbolListsForm::AddButtonClick() {
    SymbolToSelectedLists(&TSymbolListChanges::AddSymbol);
}

void TSymbolListsForm::DeleteSymbolButtonClick() {
    SymbolToSelectedLists(&TSymbolListChanges::DeleteSymbol);
}

void TSymbolListsForm::SymbolToSelectedLists(void (TSymbolListChanges::*change)(int32_t,
                                                                                const QString&)) {
    RememberSelection();
    const QString symbol = ApplySymbolRule(SymbolEdit->text());
    const std::vector<int32_t> ids = SelectedIds;
    if (!symbol.isEmpty())
        for (int32_t id : ids)
            if (TPrimarySymbolListController* controller = SymbolListController())
                (controller->*change)(id, symbol);
    SymbolEdit->clear();
}

// --- events -------------------------------------------------------------------------------

void TSymbolListsForm::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

void TSymbolListsForm::keyPressEvent(QKeyEvent* event) {
    // Add is the window's default button; a focused button takes Enter itself (auto-default).
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        if (AddButton->isEnabled())
            ReportErrors([this] { AddButtonClick(); });
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSymbolListsForm::keyReleaseEvent(QKeyEvent* event) {
    if (!HandleRingKeys(event))
        QWidget::keyReleaseEvent(event);
}

bool TSymbolListsForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && HandleRingKeys(static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}
