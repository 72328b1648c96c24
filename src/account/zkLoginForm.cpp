#include "zkLoginForm.h"

#include "components/zkComponents.h"
#include "config/zkConfig.h"
#include "config/zkSecrets.h"
#include "config/zkSettings.h"
#include "desk/zkAccountDesk.h"
#include "desktop/zkTheme.h"
#include "platform/zkErrors.h"
#include "platform/zkLinkLabel.h"
#include "platform/zkOutsideText.h"
#include "platform/zkShell.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QString DemoUserName = QStringLiteral("DEMO");

QString CredentialsKey() {
    return SettingsValuesPath();
}

TLinkLabel* newLinkLabel(const QString& name, int designLeft, QWidget* parent) {
    auto* label = new TLinkLabel(parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setUnderline(true);
    label->setFont(font);
    zkTheme::KeepReadable(label, QPalette::WindowText, QColor(0, 0, 255), QPalette::Window);
    label->setCursor(Qt::PointingHandCursor);
    label->move(designLeft, TLoginForm::LinkTop);
    label->hide();
    return label;
}
} // namespace

TLoginForm::TLoginForm(QWidget* owner, IAccountDesk* account) : QDialog(owner), Account(account) {
    setObjectName(QStringLiteral("LoginForm"));
    setWindowTitle(tr("Please login"));
    // Fixed border, system menu and close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(false);

    // The fields and buttons sit in the upper part, laid out by Qt so they follow the user's
    // font; the link strip below is placed by hand (ArrangeLinkLabels).
    ClientPanel = new QWidget(this);
    ClientPanel->setGeometry(0, 0, ClientWidth, ClientHeightWithoutLinks);

    Bevel1 = new QFrame(ClientPanel);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    Label1 = new QLabel(tr("&User Name:"), Bevel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    UserNameEdit = new QLineEdit(Bevel1);
    UserNameEdit->setObjectName(QStringLiteral("UserNameEdit"));
    UserNameEdit->setText(DemoUserName);
    Label1->setBuddy(UserNameEdit);

    Label2 = new QLabel(tr("&Password:"), Bevel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    PasswordEdit = new QLineEdit(Bevel1);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    // A star for each character, as the proxy password in Options shows it.
    PasswordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    Label2->setBuddy(PasswordEdit);

    auto* fields = new QGridLayout(Bevel1);
    fields->setContentsMargins(12, 6, 12, 6);
    fields->setHorizontalSpacing(10);
    fields->setVerticalSpacing(8);
    fields->addWidget(Label1, 1, 0, Qt::AlignLeft | Qt::AlignVCenter);
    fields->addWidget(UserNameEdit, 1, 1);
    fields->addWidget(Label2, 2, 0, Qt::AlignLeft | Qt::AlignVCenter);
    fields->addWidget(PasswordEdit, 2, 1);
    fields->setColumnStretch(1, 1);
    // The frame takes the spare height; the fields stay centred in it.
    fields->setRowStretch(0, 1);
    fields->setRowStretch(3, 1);

    OKButton = new QPushButton(tr("OK"), ClientPanel);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(tr("Cancel"), ClientPanel);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    // Equal button widths, as a dialog's button row has them.
    const int buttonWidth =
        std::max({OKButton->sizeHint().width(), CancelButton->sizeHint().width(), 80});
    OKButton->setFixedWidth(buttonWidth);
    CancelButton->setFixedWidth(buttonWidth);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);

    auto* client = new QVBoxLayout(ClientPanel);
    client->setContentsMargins(8, 8, 8, 8);
    client->setSpacing(8);
    client->addWidget(Bevel1, 1);
    client->addLayout(buttons);

    LinkSeparator = new QFrame(this);
    LinkSeparator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    LinkSeparator->setGeometry(8, ClientHeightWithoutLinks, ClientWidth - 16, 2);
    LinkSeparator->hide();

    TLinkLabel* links[] = {newLinkLabel(QStringLiteral("URLLabel1"), 8, this),
                           newLinkLabel(QStringLiteral("URLLabel2"), 84, this),
                           newLinkLabel(QStringLiteral("URLLabel3"), 160, this)};
    URLLabel1 = links[0];
    URLLabel2 = links[1];
    URLLabel3 = links[2];
    // A click, or Enter on a link the Tab key reached.
    connect(links[0], &TLinkLabel::Activated, this, &TLoginForm::URLLabel1Click);
    connect(links[1], &TLinkLabel::Activated, this, &TLoginForm::URLLabel2Click);
    connect(links[2], &TLinkLabel::Activated, this, &TLoginForm::URLLabel3Click);

    setTabOrder(UserNameEdit, PasswordEdit);
    setTabOrder(PasswordEdit, OKButton);
    setTabOrder(OKButton, CancelButton);
    setTabOrder(CancelButton, URLLabel1);
    setTabOrder(URLLabel1, URLLabel2);
    setTabOrder(URLLabel2, URLLabel3);
    UserNameEdit->setFocus();

    connect(OKButton, &QPushButton::clicked, this, &TLoginForm::OKButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TLoginForm::CancelButtonClick);

    VisibleLinks.clear();
    setFixedSize(ClientWidth, ClientHeightWithLinks);
}

IConnectionControl& TLoginForm::ConnectionControl() const {
    if (Connection)
        return *Connection;
    // Not loaded yet: the main window's component is the one there is.
    if (IConnectionControl* connection = Account ? Account->AccountConnection() : nullptr)
        return *connection;
    throw EComponentError(QStringLiteral("The connection component is not available"));
}

void TLoginForm::LoadStoredCredentials(IConnectionControl& connection) {
    Connection = &connection;
    const TSettingsStore store = TSettingsStore::Registry();
    const QString key = CredentialsKey();
    const QString userName = ReadStringValue(store, key, QStringLiteral("UserName"), QString());
    const QString password =
        ReadSecret(store, key, QStringLiteral("Password"), TSecretKind::LoginPassword);
    UserNameEdit->setText(userName);
    PasswordEdit->setText(password);
    // Handed over as read: an empty user name stays empty for the component, which is what
    // makes the main window ask for a login.
    connection.SetUserName(userName);
    connection.SetPassword(password);
    if (UserNameEdit->text().isEmpty())
        UserNameEdit->setText(DemoUserName);
}

void TLoginForm::ApplyCredentials() {
    IConnectionControl& connection = ConnectionControl();
    connection.SetUserName(UserNameEdit->text());
    connection.SetPassword(PasswordEdit->text());
    StoreCredentials();
    // A click on "Refresh from Server": the lists are read again for the new account (or a
    // refresh still running is cancelled).
    if (Account)
        Account->RefreshSymbolLists();
}

void TLoginForm::LoginWith(const QString& UserName, const QString& Password) {
    UserNameEdit->setText(UserName);
    PasswordEdit->setText(Password);
    ApplyCredentials();
}

void TLoginForm::StoreCredentials() {
    const TSettingsStore store = TSettingsStore::Registry();
    const QString key = CredentialsKey();
    // One unit, so a failed write never leaves a user name stored with another's password.
    TSettingsBatch batch(store);
    WriteStringValue(store, key, QStringLiteral("UserName"), UserNameEdit->text());
    WriteSecret(store, key, QStringLiteral("Password"), TSecretKind::LoginPassword,
                PasswordEdit->text());
    batch.Commit();
}

void TLoginForm::RevertToConnection() {
    const IConnectionControl& connection = ConnectionControl();
    UserNameEdit->setText(connection.UserName());
    PasswordEdit->setText(connection.Password());
    if (UserNameEdit->text().isEmpty())
        UserNameEdit->setText(DemoUserName);
}

void TLoginForm::ArrangeLinkLabels() {
    for (QLabel* label : {URLLabel1, URLLabel2, URLLabel3})
        label->hide();
    setFixedSize(ClientWidth,
                 VisibleLinks.isEmpty() ? ClientHeightWithoutLinks : ClientHeightWithLinks);
    LinkSeparator->setVisible(!VisibleLinks.isEmpty());

    const int W = width();
    QList<int> w;
    for (QLabel* label : VisibleLinks) {
        label->adjustSize();
        w << label->width();
    }
    auto place = [](QLabel* label, int left) {
        label->move(left, LinkTop);
        label->show();
    };
    // Integer division truncates toward zero, also for a caption wider than the dialog.
    switch (VisibleLinks.size()) {
    case 1:
        place(VisibleLinks[0], (W - w[0]) / 2);
        break;
    case 2:
        place(VisibleLinks[0], 10);
        place(VisibleLinks[1], W - w[1] - 10);
        break;
    case 3:
        place(VisibleLinks[0], 10);
        place(VisibleLinks[2], W - w[2] - 10);
        place(VisibleLinks[1], (W - 20 - w[0] - w[2] - w[1]) / 2 + w[0] + 10);
        break;
    default:
        break;
    }
}

void TLoginForm::OKButtonClick() {
    if (UserNameEdit->text().isEmpty())
        UserNameEdit->setText(DemoUserName);
    ApplyCredentials();
    if (Account)
        Account->RefreshAccountStatus();
    hide();
}

void TLoginForm::CancelButtonClick() {
    RevertToConnection();
    hide();
}

void TLoginForm::URLLabelClick(int index) {
    RevertToConnection();
    hide();
    // A link configured without a target has nothing to open; opening "" would show the
    // installation folder instead.
    const QString target = Links[size_t(index)].Target;
    if (!target.isEmpty())
        OpenLink(target);
}

void TLoginForm::URLLabel1Click() {
    URLLabelClick(0);
}
void TLoginForm::URLLabel2Click() {
    URLLabelClick(1);
}
void TLoginForm::URLLabel3Click() {
    URLLabelClick(2);
}

void TLoginForm::FormShow() {
    VisibleLinks.clear();
    const TConfigInfo& config = ConfigInfo();
    const std::array<QString, 3> values = {config.LoginURLLink1, config.LoginURLLink2,
                                           config.LoginURLLink3};
    const std::array<QLabel*, 3> labels = {URLLabel1, URLLabel2, URLLabel3};
    for (size_t n = 0; n < labels.size(); ++n) {
        const QString& value = values[n];
        const qsizetype bar = value.indexOf(QLatin1Char('|'));
        Links[n].Caption = bar < 0 ? value : value.left(bar);
        Links[n].Target = bar < 0 ? QString() : value.mid(bar + 1);
        labels[n]->setText(Links[n].Caption);
        labels[n]->setToolTip(zkOutsideText::ToolTip(Links[n].Target));
        if (!Links[n].Caption.isEmpty())
            VisibleLinks << labels[n];
    }
    ArrangeLinkLabels();
}

void TLoginForm::CenterOnScreen() {
    QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void TLoginForm::showEvent(QShowEvent* event) {
    // A window restored by the window system is not a new showing.
    if (!event->spontaneous()) {
        FormShow();
        CenterOnScreen();
    }
    QDialog::showEvent(event);
}

void TLoginForm::keyPressEvent(QKeyEvent* event) {
    // Escape is the Cancel button here; the close box alone leaves the edits as typed.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        CancelButtonClick();
        return;
    }
    QDialog::keyPressEvent(event);
}
