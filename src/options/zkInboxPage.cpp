#include "zkInboxPage.h"

#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "desk/zkAlertHub.h"
#include "inbox/zkAlertInbox.h"
#include "options/zkOptionsHost.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace zkOptionsPage;

TInboxPage::TInboxPage(IOptionsHost* host, QWidget* parent) : QWidget(parent), Host(host) {
    setObjectName(QStringLiteral("InboxTabSheet"));
    QWidget* p = this;
    InboxEnabledCheckBox =
        Named(new QCheckBox(tr("Accept alerts from other programs"), p), "InboxEnabledCheckBox");
    InboxPortSpinBox = Named(new QSpinBox(p), "InboxPortSpinBox");
    InboxPortSpinBox->setRange(1, 65535);
    InboxPortSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    InboxPortSpinBox->setFixedWidth(70);
    InboxAddressEdit = Named(new QLineEdit(p), "InboxAddressEdit");
    InboxAddressEdit->setReadOnly(true);
    InboxCopyButton = Named(new QPushButton(tr("Copy"), p), "InboxCopyButton");
    InboxTokenEdit = Named(new QLineEdit(p), "InboxTokenEdit");
    InboxTokenEdit->setReadOnly(true);
    InboxNewTokenButton = Named(new QPushButton(tr("New Token"), p), "InboxNewTokenButton");
    InboxOpenWindowsCheckBox =
        Named(new QCheckBox(tr("Open a window for a new strategy"), p), "InboxOpenWindowsCheckBox");
    InboxStatusLabel = Label(QString(), p, "InboxStatusLabel");
    InboxStatusLabel->setWordWrap(true);
    // It may carry a system error text.
    InboxStatusLabel->setTextFormat(Qt::PlainText);

    connect(InboxEnabledCheckBox, &QCheckBox::toggled, this, [this] { UpdateInboxControls(); });
    connect(InboxPortSpinBox, &QSpinBox::valueChanged, this, [this] { UpdateInboxControls(); });
    connect(InboxCopyButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(InboxAddressEdit->text()); });
    connect(InboxNewTokenButton, &QPushButton::clicked, this, [this] {
        InboxTokenEdit->setText(NewInboxToken());
        UpdateInboxControls();
    });

    // The address and token take whole rows: they are long, and the address is what a user
    // reads and copies.
    auto* grid = new QGridLayout;
    grid->setContentsMargins(20, 0, 0, 0);
    auto* portRow = new QHBoxLayout;
    auto* portLabel = Label(tr("Port"), p, "InboxPortLabel");
    portLabel->setBuddy(InboxPortSpinBox);
    portRow->addWidget(portLabel);
    portRow->addWidget(InboxPortSpinBox);
    portRow->addStretch(1);
    grid->addLayout(portRow, 0, 0, 1, 2);
    auto* addressLabel = Label(tr("Address to paste into a webhook:"), p, "InboxAddressLabel");
    addressLabel->setBuddy(InboxAddressEdit);
    grid->addWidget(addressLabel, 1, 0, 1, 2);
    grid->addWidget(InboxAddressEdit, 2, 0);
    grid->addWidget(InboxCopyButton, 2, 1);
    auto* tokenLabel = Label(tr("Token:"), p, "InboxTokenLabel");
    tokenLabel->setBuddy(InboxTokenEdit);
    grid->addWidget(tokenLabel, 3, 0, 1, 2);
    grid->addWidget(InboxTokenEdit, 4, 0);
    grid->addWidget(InboxNewTokenButton, 4, 1);
    grid->setColumnStretch(0, 1);
    auto* layout = new QVBoxLayout(p);
    layout->addWidget(InboxEnabledCheckBox);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(InboxOpenWindowsCheckBox);
    layout->addSpacing(6);
    layout->addWidget(InboxStatusLabel);
    layout->addStretch(1);
}

void TInboxPage::Load() {
    const TInboxSettings settings = ReadInboxSettings(TSettingsStore::Registry());
    InboxEnabledCheckBox->setChecked(settings.Enabled);
    InboxPortSpinBox->setValue(settings.Port);
    InboxTokenEdit->setText(settings.Token);
    InboxTokenProblem = settings.Token.isEmpty() ? settings.TokenProblem : QString();
    InboxTokenEdit->setPlaceholderText(InboxTokenProblem.isEmpty()
                                           ? QString()
                                           : tr("Kept in the desktop's keyring, which is locked"));
    InboxOpenWindowsCheckBox->setChecked(settings.OpenNewWindows);
    UpdateInboxControls();
}

void TInboxPage::UpdateInboxControls() {
    // A token is made as soon as the inbox is switched on, so the address can be copied before
    // Save; it is kept only if Save comes.
    // Not while the token the keyring holds cannot be read: it is the one programs have.
    const bool tokenUnread = !InboxTokenProblem.isEmpty() && InboxTokenEdit->text().isEmpty();
    if (InboxEnabledCheckBox->isChecked() && InboxTokenEdit->text().isEmpty() && !tokenUnread)
        InboxTokenEdit->setText(NewInboxToken());
    TInboxSettings shown;
    shown.Port = quint16(InboxPortSpinBox->value());
    shown.Token = InboxTokenEdit->text();
    InboxAddressEdit->setText(shown.Token.isEmpty() ? QString() : InboxWebhookAddress(shown));
    // From its start: "http://127.0.0.1:<port>" is the part a reader checks.
    InboxAddressEdit->setCursorPosition(0);
    InboxTokenEdit->setCursorPosition(0);
    InboxCopyButton->setEnabled(!shown.Token.isEmpty());
    // What Save would bring, as the choices change.
    IAlertHub* hub = Hub();
    if (tokenUnread && InboxEnabledCheckBox->isChecked())
        InboxStatusLabel->setText(TAlertInbox::TokenProblemText(InboxTokenProblem));
    else
        InboxStatusLabel->setText(
            hub ? hub->InboxPlanText(InboxEnabledCheckBox->isChecked(), shown.Port) : QString());
}

TInboxSettings TInboxPage::PageSettings() const {
    // What the page does not show is kept as stored.
    TInboxSettings settings = ReadInboxSettings(TSettingsStore::Registry());
    settings.Enabled = InboxEnabledCheckBox->isChecked();
    settings.Port = quint16(InboxPortSpinBox->value());
    // Left empty because the keyring would not give the token: the stored one, as read now.
    if (!InboxTokenEdit->text().isEmpty() || InboxTokenProblem.isEmpty())
        settings.Token = InboxTokenEdit->text();
    settings.OpenNewWindows = InboxOpenWindowsCheckBox->isChecked();
    EnsureInboxToken(settings);
    return settings;
}

bool TInboxPage::ApplyPort(QString* problem) {
    IAlertHub* hub = Hub();
    if (!hub)
        return true;
    const TInboxSettings chosen = PageSettings();
    if (hub->ApplyInboxSettings(chosen))
        return true;
    // A port that could not be had before the dialog either is saved as it is; the page's
    // status line says why nothing listens.
    const TInboxSettings stored = ReadInboxSettings(TSettingsStore::Registry());
    if (stored.Enabled == chosen.Enabled && stored.Port == chosen.Port)
        return true;
    *problem = hub->InboxProblem();
    // The token and the rest as they were, with the listener that works.
    hub->ApplyInboxSettings(stored);
    return false;
}

void TInboxPage::Save() {
    const TInboxSettings settings = PageSettings();
    WriteInboxSettings(TSettingsStore::Registry(), settings);
    if (IAlertHub* hub = Hub())
        hub->ApplyInboxSettings(settings);
}

TOptionsProblem TInboxPage::Validate() {
    // A port the inbox cannot have is told at once, and the dialog stays with nothing saved:
    // the listener that works goes on, and the user chooses again.
    QString problem;
    if (ApplyPort(&problem))
        return {};
    return {tr("The alert inbox cannot listen on port %1: %2.\n\nChoose another port, or turn "
               "the inbox off. Nothing was saved.")
                .arg(InboxPortSpinBox->value())
                .arg(problem),
            InboxPortSpinBox};
}

void TInboxPage::RefreshStatus() {
    UpdateInboxControls();
}

IAlertHub* TInboxPage::Hub() const {
    return Host ? Host->OptionsAlertHub() : nullptr;
}
