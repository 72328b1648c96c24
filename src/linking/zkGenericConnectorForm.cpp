#include "zkGenericConnectorForm.h"

#include "components/zkComponentWrappers.h"
#include "components/zkSimConnector.h"
#include "desktop/zkWindowRing.h"
#include "linking/zkLinkBroker.h"
#include "platform/zkFontFit.h"
#include "platform/zkPrompts.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
#include <QTime>
#include <QVBoxLayout>
#include <QWindow>

namespace {

constexpr int ClientWidth = 282;
constexpr int ClientHeight = 416;
// The window's smallest outer size is 290 x 385; Qt's minimum is the client area's, so a
// usual frame (8 wide, 39 high with the caption) comes off.
constexpr int MinClientWidth = 290 - 8;
constexpr int MinClientHeight = 385 - 39;
constexpr int TopPanelHeight = 70;

// The simulated connectors send through the broker and ask it for their links.
class TBrokerConnectorLink : public ISimConnectorLink {
public:
    explicit TBrokerConnectorLink(TLinkBroker* broker) : Broker(broker) {}
    void Send(const QString& linkName, const QString& symbol) override {
        if (Broker)
            Broker->Send(linkName, symbol);
    }
    int32_t LinkCount(const QString& linkName) const override {
        return Broker ? Broker->LinkCount(linkName) : 0;
    }

private:
    QPointer<TLinkBroker> Broker;
};

} // namespace

TGenericConnectorForm::TGenericConnectorForm(QWidget* owner)
    : QWidget(owner, Qt::Window),
      LinkList([this](const QString& name) { return MakeConnector(name); }) {
    setObjectName(QStringLiteral("GenericConnectorForm"));
    setWindowTitle(tr("Set Up External Linking"));
    resize(ClientWidth, ClientHeight);
    // No narrower than its buttons' captions need in the desktop's font.
    zkFontFit::MinimumSizeAtLeast(this, QSize(MinClientWidth, MinClientHeight));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    TopPanel = new QWidget(this);
    TopPanel->setObjectName(QStringLiteral("TopPanel"));
    TopPanel->setFixedHeight(TopPanelHeight);
    auto* top = new QVBoxLayout(TopPanel);
    // Three buttons side by side in 282 pixels: little room to spare around them.
    top->setContentsMargins(4, 6, 4, 6);
    top->setSpacing(6);
    auto* nameRow = new QHBoxLayout;
    ListNameLabel = new QLabel(tr("Current List Name:"), TopPanel);
    ListNameLabel->setObjectName(QStringLiteral("ListNameLabel"));
    ListNameComboBox = new QComboBox(TopPanel);
    ListNameComboBox->setObjectName(QStringLiteral("ListNameComboBox"));
    ListNameLabel->setBuddy(ListNameComboBox);
    nameRow->addWidget(ListNameLabel);
    nameRow->addWidget(ListNameComboBox, 1);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(4);
    CreateNewListButton = new QPushButton(tr("Create New List"), TopPanel);
    CreateNewListButton->setObjectName(QStringLiteral("CreateNewListButton"));
    DeleteButton = new QPushButton(tr("Delete List"), TopPanel);
    DeleteButton->setObjectName(QStringLiteral("DeleteButton"));
    RenameButton = new QPushButton(tr("Rename List"), TopPanel);
    RenameButton->setObjectName(QStringLiteral("RenameButton"));
    for (QPushButton* b : {CreateNewListButton, DeleteButton, RenameButton}) {
        b->setAutoDefault(false);
        buttonRow->addWidget(b);
    }
    top->addLayout(nameRow);
    top->addLayout(buttonRow);

    ConnectorsPanel = new QWidget(this);
    ConnectorsPanel->setObjectName(QStringLiteral("ConnectorsPanel"));
    ConnectorsStack = new QStackedLayout(ConnectorsPanel);
    ConnectorsStack->setContentsMargins(0, 0, 0, 0);

    SentFromAfarLabel = new QLabel(this);
    SentFromAfarLabel->setObjectName(QStringLiteral("SentFromAfarLabel"));
    // The symbol and the list come from another device: text, never markup.
    SentFromAfarLabel->setTextFormat(Qt::PlainText);
    SentFromAfarLabel->setWordWrap(true);
    SentFromAfarLabel->setContentsMargins(10, 4, 10, 4);
    SentFromAfarLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    SentFromAfarLabel->hide();

    layout->addWidget(TopPanel);
    layout->addWidget(SentFromAfarLabel);
    layout->addWidget(ConnectorsPanel, 1);

    connect(ListNameComboBox, &QComboBox::activated, this, [this] { ListNameComboBoxSelect(); });
    connect(CreateNewListButton, &QPushButton::clicked, this,
            [this] { CreateNewListButtonClick(); });
    connect(DeleteButton, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
    connect(RenameButton, &QPushButton::clicked, this, [this] { RenameButtonClick(); });

    FormCreate();
}

TGenericConnectorForm::~TGenericConnectorForm() {
    FormDestroy();
}

void TGenericConnectorForm::FormCreate() {
    JoinWindowRing();
    KeyPreview = true;
    LinkList.RemoveAll();
    ListNames.Clear();
    DisplayNames.clear();
    CurrentListName = MainListName();

    LinkBroker = new TLinkBroker(this);
    LinkBroker->Listen(TLinkBroker::DefaultSocketPath());
    InstalledLink = std::make_shared<TBrokerConnectorLink>(LinkBroker);
    SetSimConnectorLink(InstalledLink);
}

void TGenericConnectorForm::FormDestroy() {
    // Connectors first, while the window they sit in is whole.
    LinkList.RemoveAll();
    ListNames.Clear();
    DisplayNames.clear();
    if (InstalledLink && SimConnectorLink() == InstalledLink)
        SetSimConnectorLink(nullptr);
    InstalledLink.reset();
    if (LinkBroker)
        LinkBroker->Close();
}

QString TGenericConnectorForm::ConnectorName(const QString& listName) {
    return tr("Programs linked to %1").arg(listName);
}

TExternalLinkList::TConnector TGenericConnectorForm::MakeConnector(const QString& name) {
    auto connector = std::make_unique<TZentrikGenericConnector2X>(ConnectorsPanel);
    connector->SetAutoSave(false);
    connector->setFocusPolicy(Qt::StrongFocus);
    connector->SetLinkName(name);
    // It takes the focus, so a screen reader says what it is.
    connector->setAccessibleName(ConnectorName(name));
    connector->InitializeConnector();
    // Not made current: the list on show stays in front (the very first one is the only one).
    // The stack shows its first widget, which lays the component out, text and all; while this
    // window is hidden (it is, at start-up) that waits until the window is shown.
    QLayout* own = isVisible() ? nullptr : connector->layout();
    if (own)
        own->setEnabled(false);
    ConnectorsStack->addWidget(connector.get());
    if (own)
        own->setEnabled(true);
    IZentrikGenericConnector2X* component = connector->Component();
    return {std::unique_ptr<QObject>(connector.release()), component};
}

void TGenericConnectorForm::QueueSymbol(const QString& listName, const QString& symbol) {
    LinkList.QueueSymbol(listName, symbol);
}

void TGenericConnectorForm::FlushSymbols(const QString& listName) {
    LinkList.FlushSymbols(listName);
}

bool TGenericConnectorForm::SendFromAfar(const QString& listName, const QString& symbol) {
    const QString name = EffectiveListName(listName);
    const QString when = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    // Another device cannot make lists here (each one is a connector): only those the desk
    // has, or that a program waits on.
    const bool known = name == MainListName() || LinkList.IndexOf(name) >= 0 ||
                       (LinkBroker && LinkBroker->LinkCount(name) > 0);
    if (!known) {
        SentFromAfarLabel->setText(tr("%1: %2 came from another device through the broker for "
                                      "the list \"%3\", which this desk does not have: not sent.")
                                       .arg(when, symbol, name));
        SentFromAfarLabel->show();
        return false;
    }
    QueueSymbol(name, symbol);
    FlushSymbols(name);
    const int32_t linked = LinkBroker ? LinkBroker->LinkCount(name) : 0;
    SentFromAfarLabel->setText(
        linked > 0 ? tr("%1: %2 came from another device through the broker and was sent to "
                        "\"%3\".")
                         .arg(when, symbol, name)
                   : tr("%1: %2 came from another device through the broker for \"%3\"; no "
                        "program is linked to it.")
                         .arg(when, symbol, name));
    SentFromAfarLabel->show();
    return true;
}

TZentrikGenericConnector2X* TGenericConnectorForm::Connector(const QString& listName) {
    TExternalLinkItem& item = LinkList.GetOrCreate(EffectiveListName(listName));
    return static_cast<TZentrikGenericConnector2X*>(item.Owner.get());
}

TZentrikGenericConnector2X* TGenericConnectorForm::FrontConnector() const {
    return qobject_cast<TZentrikGenericConnector2X*>(ConnectorsStack->currentWidget());
}

void TGenericConnectorForm::SetComboNames() {
    bool same = ListNameComboBox->count() == DisplayNames.size();
    for (int i = 0; same && i < ListNameComboBox->count(); ++i)
        same = ListNameComboBox->itemText(i) == DisplayNames[i];
    if (same)
        return;
    const QString shown = ListNameComboBox->currentText();
    const QSignalBlocker quiet(ListNameComboBox);
    ListNameComboBox->clear();
    ListNameComboBox->addItems(DisplayNames);
    SelectName(shown);
}

void TGenericConnectorForm::SelectName(const QString& name) {
    // Drop-down list: setting the text is selecting the item that matches, letter case aside.
    ListNameComboBox->setCurrentIndex(ListNameComboBox->findText(name, Qt::MatchFixedString));
}

void TGenericConnectorForm::RefreshNames() {
    DisplayNames = ListNames.DisplayNames();
    SetComboNames();
    emit DisplayNamesChanged();
}

void TGenericConnectorForm::ShowList(const QString& listName) {
    const QString name = EffectiveListName(listName);
    SetComboNames();
    SelectName(name);
    if (auto* connector = Connector(name))
        ConnectorsStack->setCurrentWidget(connector);
    // Whoever shows a list (the idle step too), the buttons follow what is selected now.
    UpdateButtons();
}

void TGenericConnectorForm::EnsureList(const QString& listName) {
    const QString name = listName.trimmed();
    if (name.isEmpty() || LinkList.IndexOf(name) >= 0)
        return;
    LinkList.GetOrCreate(name);
    if (name != MainListName()) {
        ListNames.Add(name);
        RefreshNames();
    }
}

void TGenericConnectorForm::EnsureListsForActions(const QStringList& actions) {
    ForEachListOfActions(actions, [this](const QString& name) { EnsureList(name); });
}

void TGenericConnectorForm::UpdateButtons() {
    const bool userList = ListNameComboBox->currentIndex() > 0;
    DeleteButton->setEnabled(userList);
    RenameButton->setEnabled(userList);
}

void TGenericConnectorForm::FormShow() {
    EnsureList(MainListName());
    RefreshNames();
    ShowList(CurrentListName);
    UpdateButtons();
}

void TGenericConnectorForm::ListNameComboBoxSelect() {
    ShowList(ListNameComboBox->currentText());
    UpdateButtons();
}

void TGenericConnectorForm::CreateNewListButtonClick() {
    QString name = NextFreeListName();
    if (!zkPrompts::InputQuery(tr("Create New List"), tr("New List:"), name, this))
        return;
    EnsureList(name);
    SelectName(name.trimmed());
    ShowList(ListNameComboBox->currentText());
    UpdateButtons();
}

void TGenericConnectorForm::DeleteButtonClick() {
    // "MAIN LIST" stays, whatever calls this.
    if (ListNameComboBox->currentIndex() <= 0)
        return;
    const QString name = ListNameComboBox->currentText();
    if (zkPrompts::MessageBox(tr("List \"%1\" will be deleted.\r\nContinue?").arg(name),
                              tr("Confirm"), zkPrompts::TIcon::Question, zkPrompts::TButtons::YesNo,
                              this) != zkPrompts::TAnswer::Yes)
        return;
    LinkList.Remove(name);
    ListNames.Remove(name);
    RefreshNames();
    ListNameComboBox->setCurrentIndex(0);
    ShowList(ListNameComboBox->currentText());
    UpdateButtons();
}

void TGenericConnectorForm::RenameButtonClick() {
    if (ListNameComboBox->currentIndex() <= 0)
        return;
    const QString oldName = ListNameComboBox->currentText();
    QString proposed = oldName;
    QString entered;
    while (true) {
        entered = proposed;
        if (!zkPrompts::InputQuery(tr("Rename List"), tr("New List Name:"), entered, this))
            return;
        // "MAIN LIST" is taken too, although ListNames does not hold it.
        const QString candidate = entered.trimmed();
        if (!ListNames.Contains(candidate) &&
            candidate.compare(MainListName(), Qt::CaseInsensitive) != 0)
            break;
        zkPrompts::MessageBox(
            tr("List \"%1\" already exists.\r\nPlease enter another name.").arg(entered),
            tr("Information"), zkPrompts::TIcon::Information, zkPrompts::TButtons::OK, this);
        proposed = entered;
    }
    const QString newName = entered.trimmed();
    if (!newName.isEmpty()) {
        TExternalLinkItem* item = LinkList.Find(oldName);
        if (!item) {
            EnsureList(newName);
        } else if (LinkList.IndexOf(newName) >= 0) {
            // A list of that name already runs (recreated for an action after it was deleted):
            // the renamed one gives way to it rather than doubling it.
            LinkList.Remove(oldName);
            ListNames.Replace(oldName, newName);
            RefreshNames();
        } else {
            item->Name = newName;
            if (item->Connector)
                item->Connector->SetLinkName(newName);
            if (auto* area = qobject_cast<QWidget*>(item->Owner.get()))
                area->setAccessibleName(ConnectorName(newName));
            if (!ListNames.Replace(oldName, newName))
                ListNames.Add(newName);
            RefreshNames();
        }
    }
    SelectName(newName);
    ShowList(newName);
    UpdateButtons();
}

void TGenericConnectorForm::showEvent(QShowEvent* event) {
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
    QWidget::showEvent(event);
    FormShow();
}

void TGenericConnectorForm::closeEvent(QCloseEvent* event) {
    // Companion windows are made once: closing only hides.
    hide();
    event->ignore();
}

bool TGenericConnectorForm::eventFilter(QObject* watched, QEvent* event) {
    if (KeyPreview && event->type() == QEvent::KeyRelease && watched == windowHandle()) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        int key = keyEvent->key();
        FormKeyUp(key, keyEvent->modifiers());
        if (key == 0)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TGenericConnectorForm::FormKeyUp(int& key, Qt::KeyboardModifiers shift) {
    if (HandleRingKeys(key, shift))
        key = 0;
}
