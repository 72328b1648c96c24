#pragma once

// The options dialog's "Broker" page: receiving alerts from an MQTT broker (and publishing to
// it), the connection's settings and a status line that follows the running connection.

#include "config/zkBrokerSettings.h"
#include "options/zkOptionsPage.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class IAlertHub;

class TBrokerPage : public QWidget, public IOptionsPage {
    Q_OBJECT
public:
    explicit TBrokerPage(IOptionsHost* host, QWidget* parent = nullptr);

    QCheckBox* BrokerEnabledCheckBox = nullptr;
    QLineEdit* BrokerHostEdit = nullptr;
    QSpinBox* BrokerPortSpinBox = nullptr;
    QCheckBox* BrokerTLSCheckBox = nullptr;
    QLineEdit* BrokerCAFileEdit = nullptr;
    QPushButton* BrokerCABrowseButton = nullptr;
    QLineEdit* BrokerUserNameEdit = nullptr;
    QLineEdit* BrokerPasswordEdit = nullptr;
    QLineEdit* BrokerTopicEdit = nullptr;
    // This desk's name at the broker (its client id), read only: where other devices send it
    // symbols.
    QLineEdit* BrokerDeskNameEdit = nullptr;
    // Without TLS to another machine: the password travels in the clear.
    QLabel* BrokerWarningLabel = nullptr;
    QLabel* BrokerStatusLabel = nullptr;

    // The stored settings, and the running broker's status as it changes.
    void Load() override;
    // Stores the settings (with a client id made once) and reconnects the running broker.
    void Save() override;
    void RefreshStatus() override;
    // What the page shows, with the client id it was loaded with.
    TBrokerSettings Settings() const;

private:
    // The alert hub, whose broker the page reports on and reconnects after Save.
    IAlertHub* Hub() const;
    // Shows the settings, and the broker's status as it changes (nullptr: none).
    void ShowSettings(const TBrokerSettings& settings, IAlertHub* hub);
    void UpdateWarning();
    void BrowseCAFile();

    IOptionsHost* Host = nullptr;
    QString ClientId;
    // Why the stored password could not be read when the page was loaded (the keyring locked).
    QString PasswordProblem;
    IAlertHub* LiveHub = nullptr;
    QMetaObject::Connection StatusConnection;
};
