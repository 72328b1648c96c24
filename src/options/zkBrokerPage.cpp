#include "zkBrokerPage.h"

#include "broker/zkAlertBroker.h"
#include "config/zkSettings.h"
#include "desk/zkAlertHub.h"
#include "options/zkOptionsHost.h"
#include "platform/zkPrompts.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

template <typename T> T* Named(T* widget, const char* name, const QString& accessibleName) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setAccessibleName(accessibleName);
    return widget;
}

// MQTT's registered ports: 8883 with TLS, 1883 without.
constexpr int TlsPort = 8883;
constexpr int PlainPort = 1883;

} // namespace

TBrokerPage::TBrokerPage(IOptionsHost* host, QWidget* parent) : QWidget(parent), Host(host) {
    setObjectName(QStringLiteral("BrokerTabSheet"));
    BrokerEnabledCheckBox =
        Named(new QCheckBox(tr("Receive alerts from an MQTT broker"), this),
              "BrokerEnabledCheckBox", tr("Receive alerts from an MQTT broker"));
    BrokerHostEdit = Named(new QLineEdit(this), "BrokerHostEdit", tr("Broker host"));
    BrokerHostEdit->setPlaceholderText(tr("broker.example.com"));
    BrokerPortSpinBox = Named(new QSpinBox(this), "BrokerPortSpinBox", tr("Broker port"));
    BrokerPortSpinBox->setRange(1, 65535);
    BrokerPortSpinBox->setValue(TlsPort);
    BrokerPortSpinBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    BrokerPortSpinBox->setFixedWidth(70);
    BrokerTLSCheckBox =
        Named(new QCheckBox(tr("Use TLS"), this), "BrokerTLSCheckBox", tr("Use TLS"));
    BrokerTLSCheckBox->setChecked(true);
    BrokerCAFileEdit = Named(new QLineEdit(this), "BrokerCAFileEdit", tr("CA file"));
    BrokerCAFileEdit->setPlaceholderText(tr("the system's certificate authorities"));
    BrokerCABrowseButton = Named(new QPushButton(tr("Browse..."), this), "BrokerCABrowseButton",
                                 tr("Choose the CA file"));
    BrokerCABrowseButton->setAutoDefault(false);
    BrokerUserNameEdit = Named(new QLineEdit(this), "BrokerUserNameEdit", tr("Broker user name"));
    BrokerPasswordEdit = Named(new QLineEdit(this), "BrokerPasswordEdit", tr("Broker password"));
    BrokerPasswordEdit->setEchoMode(QLineEdit::Password);
    BrokerTopicEdit = Named(new QLineEdit(this), "BrokerTopicEdit", tr("Topic filter"));
    BrokerDeskNameEdit = Named(new QLineEdit(this), "BrokerDeskNameEdit", tr("Desk name"));
    BrokerDeskNameEdit->setReadOnly(true);
    BrokerDeskNameEdit->setPlaceholderText(tr("made when the settings are saved"));
    BrokerWarningLabel = Named(new QLabel(this), "BrokerWarningLabel", tr("Warning"));
    BrokerWarningLabel->setWordWrap(true);
    BrokerWarningLabel->setTextFormat(Qt::PlainText);
    BrokerStatusLabel = Named(new QLabel(this), "BrokerStatusLabel", tr("Broker status"));
    BrokerStatusLabel->setWordWrap(true);
    // It carries the broker's and the system's texts.
    BrokerStatusLabel->setTextFormat(Qt::PlainText);
    BrokerStatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                               Qt::TextSelectableByKeyboard);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(20, 0, 0, 0);
    int row = 0;
    auto addRow = [&](const QString& text, const char* name, QWidget* field, QWidget* extra) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        if (extra) {
            auto* line = new QHBoxLayout;
            line->addWidget(field, 1);
            line->addWidget(extra);
            grid->addLayout(line, row, 1);
        } else {
            grid->addWidget(field, row, 1);
        }
        ++row;
    };
    auto* port = new QWidget(this);
    auto* portLine = new QHBoxLayout(port);
    portLine->setContentsMargins(0, 0, 0, 0);
    portLine->addWidget(BrokerPortSpinBox);
    portLine->addSpacing(12);
    portLine->addWidget(BrokerTLSCheckBox);
    portLine->addStretch(1);
    addRow(tr("&Host:"), "BrokerHostLabel", BrokerHostEdit, nullptr);
    auto* portLabel = new QLabel(tr("&Port:"), this);
    portLabel->setObjectName(QStringLiteral("BrokerPortLabel"));
    portLabel->setBuddy(BrokerPortSpinBox);
    grid->addWidget(portLabel, row, 0);
    grid->addWidget(port, row++, 1);
    addRow(tr("&CA file:"), "BrokerCAFileLabel", BrokerCAFileEdit, BrokerCABrowseButton);
    addRow(tr("&User name:"), "BrokerUserNameLabel", BrokerUserNameEdit, nullptr);
    addRow(tr("Pass&word:"), "BrokerPasswordLabel", BrokerPasswordEdit, nullptr);
    addRow(tr("&Topic filter:"), "BrokerTopicLabel", BrokerTopicEdit, nullptr);
    addRow(tr("&Desk name:"), "BrokerDeskNameLabel", BrokerDeskNameEdit, nullptr);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BrokerEnabledCheckBox);
    layout->addLayout(grid);
    layout->addWidget(BrokerWarningLabel);
    layout->addSpacing(6);
    layout->addWidget(BrokerStatusLabel);
    layout->addStretch(1);

    connect(BrokerHostEdit, &QLineEdit::textChanged, this, [this] { UpdateWarning(); });
    connect(BrokerTLSCheckBox, &QCheckBox::toggled, this, [this](bool tls) {
        // The port follows TLS while it is the registered one of the other choice.
        if (tls && BrokerPortSpinBox->value() == PlainPort)
            BrokerPortSpinBox->setValue(TlsPort);
        else if (!tls && BrokerPortSpinBox->value() == TlsPort)
            BrokerPortSpinBox->setValue(PlainPort);
        BrokerCAFileEdit->setEnabled(tls);
        BrokerCABrowseButton->setEnabled(tls);
        UpdateWarning();
    });
    connect(BrokerCABrowseButton, &QPushButton::clicked, this, [this] { BrowseCAFile(); });
}

void TBrokerPage::Load() {
    ShowSettings(ReadBrokerSettings(TSettingsStore::Registry()), Hub());
}

void TBrokerPage::Save() {
    TBrokerSettings settings = Settings();
    EnsureBrokerClientId(settings);
    WriteBrokerSettings(TSettingsStore::Registry(), settings);
    if (IAlertHub* hub = Hub())
        hub->ApplyBrokerSettings(settings);
}

IAlertHub* TBrokerPage::Hub() const {
    return Host ? Host->OptionsAlertHub() : nullptr;
}

void TBrokerPage::ShowSettings(const TBrokerSettings& settings, IAlertHub* hub) {
    ClientId = settings.ClientId;
    BrokerDeskNameEdit->setText(ClientId);
    BrokerEnabledCheckBox->setChecked(settings.Enabled);
    BrokerHostEdit->setText(settings.Host);
    // TLS first: ticking it may move the port.
    BrokerTLSCheckBox->setChecked(settings.TLS);
    BrokerCAFileEdit->setEnabled(settings.TLS);
    BrokerCABrowseButton->setEnabled(settings.TLS);
    BrokerPortSpinBox->setValue(settings.Port);
    BrokerCAFileEdit->setText(settings.CAFile);
    BrokerUserNameEdit->setText(settings.UserName);
    BrokerPasswordEdit->setText(settings.Password);
    // An empty field here is not an empty password: Save leaves the keyring's as it is.
    PasswordProblem = settings.Password.isEmpty() ? settings.PasswordProblem : QString();
    BrokerPasswordEdit->setPlaceholderText(
        PasswordProblem.isEmpty() ? QString()
                                  : tr("Kept in the desktop's keyring, which is locked"));
    BrokerTopicEdit->setText(settings.Topic);
    disconnect(StatusConnection);
    LiveHub = hub;
    if (hub)
        StatusConnection = hub->WatchBroker(this, [this] { RefreshStatus(); });
    UpdateWarning();
    RefreshStatus();
}

TBrokerSettings TBrokerPage::Settings() const {
    TBrokerSettings settings;
    settings.Enabled = BrokerEnabledCheckBox->isChecked();
    settings.Host = BrokerHostEdit->text().trimmed();
    settings.Port = quint16(BrokerPortSpinBox->value());
    settings.TLS = BrokerTLSCheckBox->isChecked();
    settings.CAFile = BrokerCAFileEdit->text().trimmed();
    settings.UserName = BrokerUserNameEdit->text();
    settings.Password = BrokerPasswordEdit->text();
    if (settings.Password.isEmpty())
        settings.PasswordProblem = PasswordProblem;
    settings.Topic = BrokerTopicEdit->text().trimmed();
    if (settings.Topic.isEmpty())
        settings.Topic = TBrokerSettings().Topic;
    settings.ClientId = ClientId;
    return settings;
}

void TBrokerPage::UpdateWarning() {
    const QString warning =
        TAlertBroker::Warning(BrokerHostEdit->text(), BrokerTLSCheckBox->isChecked());
    BrokerWarningLabel->setText(warning);
    BrokerWarningLabel->setVisible(!warning.isEmpty());
}

void TBrokerPage::RefreshStatus() {
    BrokerStatusLabel->setText(LiveHub ? LiveHub->BrokerStatusText() : QString());
}

void TBrokerPage::BrowseCAFile() {
    zkPrompts::TFileDialogSpec spec;
    spec.Title = tr("CA File");
    spec.Filter = tr("Certificates (*.pem *.crt)|*.pem;*.crt|All files (*)|*");
    spec.FileMustExist = true;
    const QString current = BrokerCAFileEdit->text().trimmed();
    spec.InitialDir =
        current.isEmpty() ? QStringLiteral("/etc/ssl/certs") : QFileInfo(current).absolutePath();
    QString name;
    if (zkPrompts::OpenFileName(spec, name, this))
        BrokerCAFileEdit->setText(name);
}
