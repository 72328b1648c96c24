#include "zkOptionsForm.h"

#include "options/zkBrokerPage.h"
#include "options/zkConnectionPage.h"
#include "options/zkGeneralPage.h"
#include "options/zkInboxPage.h"
#include "options/zkLayoutsPage.h"
#include "options/zkOptionsIcons.h"
#include "options/zkUpdatesPage.h"
#include "platform/zkApplication.h"
#include "platform/zkFontFit.h"
#include "platform/zkPrompts.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

TOptionsForm* TheOptionsForm = nullptr;

template <typename T> T* Named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The selected tree item is blue while the tree has the focus, and the menu-highlight colour
// otherwise.
class TPagesTreeDelegate : public QStyledItemDelegate {
public:
    explicit TPagesTreeDelegate(QTreeWidget* tree) : QStyledItemDelegate(tree), Tree(tree) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QColor fill = Tree->hasFocus()
                                ? QColor(0, 0, 255)
                                : QApplication::palette("QMenu").color(QPalette::Highlight);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            option->palette.setColor(group, QPalette::Highlight, fill);
            option->palette.setColor(group, QPalette::HighlightedText, Qt::white);
        }
    }

private:
    QTreeWidget* Tree;
};

} // namespace

TOptionsForm* OptionsForm() {
    return TheOptionsForm;
}

TOptionsForm::TOptionsForm(IOptionsHost* host, QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(tr("Options"));
    // Fixed single border with the system menu only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    zkFontFit::FixedSizeAtLeast(this, QSize(575, 428)); // grown for a large desktop font

    PagesTreeView = Named(new QTreeWidget(this), "PagesTreeView");
    PagesTreeView->setAccessibleName(tr("Pages"));
    // Hidden, but screen readers still read the header: Qt would name its column "1".
    PagesTreeView->setHeaderLabel(tr("Pages"));
    PagesTreeView->setHeaderHidden(true);
    PagesTreeView->setRootIsDecorated(false);
    PagesTreeView->setItemsExpandable(false);
    PagesTreeView->setIndentation(0);
    PagesTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    PagesTreeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    PagesTreeView->setIconSize(QSize(32, 32));
    PagesTreeView->setFixedWidth(140);
    PagesTreeView->setItemDelegate(new TPagesTreeDelegate(PagesTreeView));
    PagesTreeView->installEventFilter(this);

    PagesControl = Named(new QTabWidget(this), "PagesControl");
    PagesControl->tabBar()->hide(); // the tree is the only way between pages
    // Nor may Tab stop at the hidden tabs: Tab from the tree goes into the page.
    PagesControl->setFocusPolicy(Qt::NoFocus);
    PagesControl->tabBar()->setFocusPolicy(Qt::NoFocus);
    PagesControl->setIconSize(QSize(16, 16));

    GeneralPage = new TGeneralPage(host);
    ConnectionPage = new TConnectionPage(host);
    UpdatesPage = new TUpdatesPage(host);
    LayoutsPage = new TLayoutsPage(host);
    InboxPage = new TInboxPage(host);
    BrokerPage = new TBrokerPage(host);
    const struct {
        QString Text;
        QIcon Icon;
        QWidget* Sheet;
        IOptionsPage* Page;
    } pages[] = {
        {tr("General"), OptionsIcon(TOptionsIcon::General), GeneralPage, GeneralPage},
        {tr("Connection"), OptionsIcon(TOptionsIcon::Connection), ConnectionPage, ConnectionPage},
        {tr("Updates"), OptionsIcon(TOptionsIcon::Updates), UpdatesPage, UpdatesPage},
        {tr("Layouts"), OptionsIcon(TOptionsIcon::Layouts), LayoutsPage, LayoutsPage},
        {tr("Alert Inbox"), OptionsIcon(TOptionsIcon::Inbox), InboxPage, InboxPage},
        {tr("Broker"), OptionsIcon(TOptionsIcon::Broker), BrokerPage, BrokerPage},
    };
    for (const auto& page : pages) {
        auto* item = new QTreeWidgetItem(PagesTreeView, QStringList(page.Text));
        item->setIcon(0, page.Icon);
        item->setSizeHint(0, QSize(120, 44));
        PagesControl->addTab(page.Sheet, page.Icon, page.Text);
        Pages.append(page.Page);
    }
    connect(PagesTreeView, &QTreeWidget::itemSelectionChanged, this,
            [this] { PagesTreeViewChange(); });

    SaveButton = Named(new QPushButton(tr("Save"), this), "SaveButton");
    CancelButton = Named(new QPushButton(tr("Cancel"), this), "CancelButton");
    SaveButton->setDefault(true);
    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(PagesTreeView);
    top->addWidget(PagesControl, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);

    TheOptionsForm = this;
    connect(this, &QObject::destroyed, [] { TheOptionsForm = nullptr; });
}

// --- showing and navigation ---------------------------------------------------------------

void TOptionsForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        ReportErrors([this] { FormShow(); });
}

void TOptionsForm::FormShow() {
    LoadAllPages();
    PagesTreeView->setCurrentItem(PagesTreeView->topLevelItem(0));
    ShowPage(0);
}

bool TOptionsForm::eventFilter(QObject* watched, QEvent* event) {
    // The selection colour follows the tree's focus.
    if (watched == PagesTreeView &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        PagesTreeView->viewport()->update();
    return QDialog::eventFilter(watched, event);
}

void TOptionsForm::PagesTreeViewChange() {
    // The selection, not the current item: a selection made without moving the current item
    // (as assistive technologies make it) must change the page too.
    const QList<QTreeWidgetItem*> selection = PagesTreeView->selectedItems();
    if (selection.isEmpty())
        return;
    const QTreeWidgetItem* selected = selection.constFirst();
    for (int i = 0; i < PagesTreeView->topLevelItemCount(); ++i)
        if (PagesTreeView->topLevelItem(i)->text(0) == selected->text(0)) {
            ShowPage(i);
            return;
        }
}

void TOptionsForm::ShowPage(int Index) {
    if (Index < 0 || Index >= PagesControl->count())
        return;
    for (int i = 0; i < PagesControl->count(); ++i)
        PagesControl->setTabVisible(i, i == Index);
    PagesControl->setCurrentIndex(Index);
}

// --- loading and saving ---------------------------------------------------------------------

void TOptionsForm::LoadAllPages() {
    for (IOptionsPage* page : std::as_const(Pages))
        page->Load();
}

void TOptionsForm::SaveButtonClick() {
    // A page whose choices cannot be saved is told at once, and the dialog stays with nothing
    // saved: the user corrects it, or cancels.
    for (int i = 0; i < Pages.size(); ++i) {
        const TOptionsProblem problem = Pages[i]->Validate();
        if (problem.Text.isEmpty())
            continue;
        ShowPage(i);
        Pages[i]->RefreshStatus();
        zkPrompts::MessageBox(problem.Text, ApplicationTitle(), zkPrompts::TIcon::Warning,
                              zkPrompts::TButtons::OK, this);
        if (problem.Focus) {
            problem.Focus->setFocus();
            if (auto* spin = qobject_cast<QAbstractSpinBox*>(problem.Focus))
                spin->selectAll();
            else if (auto* edit = qobject_cast<QLineEdit*>(problem.Focus))
                edit->selectAll();
        }
        return;
    }
    // The dialog closes with OK even when a step fails (the report says which), so the main
    // window still applies what was saved before it.
    ReportErrors([this] { SaveAllPages(); });
    accept();
}

void TOptionsForm::SaveAllPages() {
    for (IOptionsPage* page : std::as_const(Pages))
        page->Save();
}
