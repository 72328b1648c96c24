#include "zkConnectionPage.h"

#include "components/zkComponents.h"
#include "components/zkConnectionConfig.h"
#include "config/zkConfig.h"
#include "desktop/zkAccessibility.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace zkOptionsPage;

namespace {

const QString SettingsSection = QStringLiteral("Settings");

// Numeric fields of the dialog: anything that is not integer text counts as 0.
int32_t IntegerOrZero(const QString& text) {
    int32_t value = 0;
    return TryParseIntegerText(text, value) ? value : 0;
}

// The fields of the proxy of a type (1 HTTP, 2 SOCKS), as the page's four edits show them.
struct TProxyFields {
    QString* Host;
    int32_t* Port;
    QString* Username;
    QString* Password;
};
TProxyFields ProxyFields(TConnectionSettings& e, int type) {
    if (type == 2)
        return {&e.SocksHost, &e.SocksPort, &e.SocksUsername, &e.SocksPassword};
    return {&e.ProxyServer, &e.ProxyPort, &e.ProxyUsername, &e.ProxyPassword};
}

} // namespace

TConnectionPage::TConnectionPage(IOptionsHost* host, QWidget* parent)
    : QWidget(parent), Host(host) {
    setObjectName(QStringLiteral("ConnectionTabSheet"));
    QWidget* p = this;
    UseHTTPCheckBox =
        Named(new QCheckBox(tr("Use HTTP port 80 for connection"), p), "UseHTTPCheckBox");
    ProxyTypeComboBox = Named(new QComboBox(p), "ProxyTypeComboBox");
    ProxyTypeComboBox->addItems({tr("None"), tr("HTTP"), tr("SOCKS")});
    connect(ProxyTypeComboBox, &QComboBox::activated, this, [this] { UpdateProxyControls(); });

    SOCKSVersionLabel = Label(tr("SOCKS version"), p, "SOCKSVersionLabel");
    SOCKSVersionEdit = Named(new QLineEdit(p), "SOCKSVersionEdit");
    HostLabel = Label(tr("Host"), p, "HostLabel");
    HostEdit = Named(new QLineEdit(p), "HostEdit");
    PortLabel = Label(tr("Port"), p, "PortLabel");
    PortEdit = Named(new QLineEdit(p), "PortEdit");
    UsernameLabel = Label(tr("Username"), p, "UsernameLabel");
    UsernameEdit = Named(new QLineEdit(p), "UsernameEdit");
    PasswordLabel = Label(tr("Password"), p, "PasswordLabel");
    PasswordEdit = Named(new QLineEdit(p), "PasswordEdit");
    PasswordEdit->setEchoMode(QLineEdit::Password);
    PasswordEdit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    SOCKSVersionEdit->setFixedWidth(60);
    PortEdit->setFixedWidth(60);
    SOCKSVersionLabel->setBuddy(SOCKSVersionEdit);
    HostLabel->setBuddy(HostEdit);
    PortLabel->setBuddy(PortEdit);
    UsernameLabel->setBuddy(UsernameEdit);
    PasswordLabel->setBuddy(PasswordEdit);
    zkAccessibility::SetLabel(ProxyTypeComboBox, tr("Proxy type"));

    auto* grid = new QGridLayout;
    // The rows below stay in place while the version is hidden.
    for (QWidget* w : std::initializer_list<QWidget*>{SOCKSVersionLabel, SOCKSVersionEdit}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    grid->addWidget(SOCKSVersionLabel, 0, 0);
    grid->addWidget(SOCKSVersionEdit, 0, 1, Qt::AlignLeft);
    grid->addWidget(HostLabel, 1, 0);
    grid->addWidget(HostEdit, 1, 1);
    grid->addWidget(PortLabel, 2, 0);
    grid->addWidget(PortEdit, 2, 1, Qt::AlignLeft);
    grid->addWidget(UsernameLabel, 3, 0);
    grid->addWidget(UsernameEdit, 3, 1);
    grid->addWidget(PasswordLabel, 4, 0);
    grid->addWidget(PasswordEdit, 4, 1);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(p);
    layout->addWidget(Heading(tr("HTTP Tunneling"), p, "Label12"));
    layout->addWidget(UseHTTPCheckBox);
    layout->addSpacing(10);
    layout->addWidget(Heading(tr("Proxy configuration"), p, "Label13"));
    layout->addWidget(ProxyTypeComboBox, 0, Qt::AlignLeft);
    layout->addLayout(grid);
    layout->addStretch(1);
}

void TConnectionPage::Load() {
    const IConnectionControl& c = zkOptionsPage::Connection(Host);
    EditedConnection = {c.UseHttpTunnel(), c.ProxyServer(),  c.ProxyPort(), c.ProxyUsername(),
                        c.ProxyPassword(), c.SocksHost(),    c.SocksPort(), c.SocksVersion(),
                        c.SocksUsername(), c.SocksPassword()};
    const TConnectionSettings& e = EditedConnection;
    UseHTTPCheckBox->setChecked(e.UseHttpTunnel != 0);
    const int type = !e.SocksHost.trimmed().isEmpty()     ? 2
                     : !e.ProxyServer.trimmed().isEmpty() ? 1
                                                          : 0;
    ProxyTypeComboBox->setCurrentIndex(type);
    if (type > 0) {
        const TProxyFields proxy = ProxyFields(EditedConnection, type);
        HostEdit->setText(*proxy.Host);
        PortEdit->setText(QString::number(*proxy.Port));
        UsernameEdit->setText(*proxy.Username);
        PasswordEdit->setText(*proxy.Password);
        if (type == 2)
            SOCKSVersionEdit->setText(QString::number(e.SocksVersion));
    } else {
        for (QLineEdit* edit : {HostEdit, PortEdit, UsernameEdit, PasswordEdit})
            edit->clear();
    }
    UpdateProxyControls();
}

void TConnectionPage::UpdateProxyControls() {
    const int type = ProxyTypeComboBox->currentIndex();
    for (QWidget* w :
         std::initializer_list<QWidget*>{HostLabel, HostEdit, PortLabel, PortEdit, UsernameLabel,
                                         UsernameEdit, PasswordLabel, PasswordEdit})
        w->setEnabled(type > 0);
    SOCKSVersionLabel->setVisible(type == 2);
    SOCKSVersionEdit->setVisible(type == 2);
}

void TConnectionPage::Save() {
    EditedConnection = TConnectionSettings();
    TConnectionSettings& e = EditedConnection;
    e.UseHttpTunnel = UseHTTPCheckBox->isChecked() ? 1 : 0;
    const int type = ProxyTypeComboBox->currentIndex();
    if (type == 1 || type == 2) {
        const TProxyFields proxy = ProxyFields(e, type);
        *proxy.Host = HostEdit->text();
        *proxy.Port = IntegerOrZero(PortEdit->text());
        *proxy.Username = UsernameEdit->text();
        *proxy.Password = PasswordEdit->text();
        if (type == 2)
            e.SocksVersion = IntegerOrZero(SOCKSVersionEdit->text());
    }
    const TSettingsStore local = LocalIniStore();
    {
        TSettingsBatch batch(local);
        WriteConnectionSettings(local, SettingsSection, e);
        batch.Commit();
    }
    if (ConnectionSettingsChanged()) {
        // Keys the component refuses are skipped; the rest still take effect.
        QStringList ignored;
        ApplyIniSectionByName(QDir::current().absoluteFilePath(local.fileName()), SettingsSection,
                              zkOptionsPage::Connection(Host), &ignored);
    }
}

bool TConnectionPage::ConnectionSettingsChanged() {
    const IConnectionControl& c = zkOptionsPage::Connection(Host);
    const TConnectionSettings& e = EditedConnection;
    return e.UseHttpTunnel != c.UseHttpTunnel() || e.ProxyServer != c.ProxyServer() ||
           e.ProxyPort != c.ProxyPort() || e.ProxyUsername != c.ProxyUsername() ||
           e.ProxyPassword != c.ProxyPassword() || e.SocksHost != c.SocksHost() ||
           e.SocksPort != c.SocksPort() || e.SocksVersion != c.SocksVersion() ||
           e.SocksUsername != c.SocksUsername() || e.SocksPassword != c.SocksPassword();
}
