#pragma once

// The options dialog's "Connection" page: HTTP tunnelling and the proxy the connection
// component goes through.

#include "config/zkSettings.h"
#include "options/zkOptionsPage.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

class TConnectionPage : public QWidget, public IOptionsPage {
    Q_OBJECT
public:
    explicit TConnectionPage(IOptionsHost* host, QWidget* parent = nullptr);

    QCheckBox* UseHTTPCheckBox = nullptr;
    QComboBox* ProxyTypeComboBox = nullptr;
    QLabel* SOCKSVersionLabel = nullptr;
    QLineEdit* SOCKSVersionEdit = nullptr;
    QLabel* HostLabel = nullptr;
    QLineEdit* HostEdit = nullptr;
    QLabel* PortLabel = nullptr;
    QLineEdit* PortEdit = nullptr;
    QLabel* UsernameLabel = nullptr;
    QLineEdit* UsernameEdit = nullptr;
    QLabel* PasswordLabel = nullptr;
    QLineEdit* PasswordEdit = nullptr;

    // The settings as last loaded or saved.
    TConnectionSettings EditedConnection;

    void Load() override;
    void Save() override;
    void UpdateProxyControls();

private:
    bool ConnectionSettingsChanged();

    IOptionsHost* Host = nullptr;
};
