#pragma once

#include <QDialog>

class IConnectionControl;

// The login dialog. Its dialog part is a stand-in until the login work lands; the stored
// credentials are handed to the connection already.
class TLoginForm : public QDialog {
    Q_OBJECT
public:
    explicit TLoginForm(QWidget* owner);
    // Reads "UserName" and "Password" of the per-user key "\Settings" into the connection.
    void LoadStoredCredentials(IConnectionControl& connection);
};
