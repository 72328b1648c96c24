#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <array>

class IAccountDesk;
class IConnectionControl;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The login dialog. It moves the user name and password between its edits, the connection
// component and the per-user store (key "\Settings", values "UserName" and "Password"; the
// password in the desktop's keyring when one answers, config/zkSecrets.h), makes
// an empty user name the demonstration account "DEMO", and shows up to three configured web
// links in a strip at the bottom. Created once by the main window, shown modelessly; closing
// or confirming it only hides it.
class TLoginForm : public QDialog {
    Q_OBJECT
public:
    // The account desk (nullptr without one) is told of new credentials.
    explicit TLoginForm(QWidget* owner, IAccountDesk* account = nullptr);

    struct TLink {
        QString Caption;
        QString Target;
    };

    // --- controls ---
    QFrame* Bevel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* UserNameEdit = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* PasswordEdit = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QLabel* URLLabel1 = nullptr;
    QLabel* URLLabel2 = nullptr;
    QLabel* URLLabel3 = nullptr;

    // --- state ---
    // One (caption, target) pair per link label, refilled from the configuration at each showing.
    std::array<TLink, 3> Links;
    // The labels with a caption, in label order; refilled at each showing.
    QList<QLabel*> VisibleLinks;

    // Start-up: the stored credentials go into the edits and, exactly as stored, to the
    // connection; only then does an empty user name become "DEMO" in the edit. The dialog
    // works with this connection from now on (the main window keeps it alive longer).
    void LoadStoredCredentials(IConnectionControl& connection);
    // Edits -> connection -> store, then the symbol lists are read again for the account.
    void ApplyCredentials();
    // The URL handler's login: applies the given credentials without showing the dialog.
    void LoginWith(const QString& UserName, const QString& Password);
    void StoreCredentials();
    // Connection -> edits, the "DEMO" rule applied to the user name.
    void RevertToConnection();
    void ArrangeLinkLabels();

    // --- handlers ---
    void OKButtonClick();
    void CancelButtonClick();
    void URLLabel1Click();
    void URLLabel2Click();
    void URLLabel3Click();
    void FormShow();

    static constexpr int ClientWidth = 310;
    static constexpr int ClientHeightWithLinks = 190;
    static constexpr int ClientHeightWithoutLinks = 145;
    static constexpr int LinkTop = 155;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    IConnectionControl& ConnectionControl() const;
    void URLLabelClick(int index);
    void CenterOnScreen();

    IAccountDesk* const Account;
    IConnectionControl* Connection = nullptr;
    QWidget* ClientPanel = nullptr;
    QFrame* LinkSeparator = nullptr;
};
