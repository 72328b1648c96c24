#pragma once

// The options dialog's "Broker" page: receiving alerts from an MQTT broker (and publishing to
// it), the connection's settings and a status line that follows the running connection.

#include "config/zkBrokerSettings.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class IAlertHub;

class TBrokerPage : public QWidget {
    Q_OBJECT
public:
    explicit TBrokerPage(QWidget* parent = nullptr);

    QCheckBox* BrokerEnabledCheckBox = nullptr;
    QLineEdit* BrokerHostEdit = nullptr;
    QSpinBox* BrokerPortSpinBox = nullptr;
    QCheckBox* BrokerTLSCheckBox = nullptr;
    QLineEdit* BrokerCAFileEdit = nullptr;
    QPushButton* BrokerCABrowseButton = nullptr;
    QLineEdit* BrokerUserNameEdit = nullptr;
    QLineEdit* BrokerPasswordEdit = nullptr;
    QLineEdit* BrokerTopicEdit = nullptr;
    // Without TLS to another machine: the password travels in the clear.
    QLabel* BrokerWarningLabel = nullptr;
    QLabel* BrokerStatusLabel = nullptr;

    // Shows the settings, and the running broker's status as it changes (nullptr: none).
    void Load(const TBrokerSettings& settings, IAlertHub* hub);
    // What the page shows, with the client id it was loaded with.
    TBrokerSettings Settings() const;

private:
    void UpdateWarning();
    void UpdateStatus();
    void BrowseCAFile();

    QString ClientId;
    // Why the stored password could not be read when the page was loaded (the keyring locked).
    QString PasswordProblem;
    IAlertHub* Hub = nullptr;
    QMetaObject::Connection StatusConnection;
};
