#pragma once

// The options dialog's "Alert Inbox" page: alerts from the user's own programs through a local
// webhook, its port and token, and a status line that says what Save would bring.

#include "options/zkOptionsPage.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class IAlertHub;
struct TInboxSettings;

class TInboxPage : public QWidget, public IOptionsPage {
    Q_OBJECT
public:
    explicit TInboxPage(IOptionsHost* host, QWidget* parent = nullptr);

    QCheckBox* InboxEnabledCheckBox = nullptr;
    QSpinBox* InboxPortSpinBox = nullptr;
    QLineEdit* InboxAddressEdit = nullptr;
    QPushButton* InboxCopyButton = nullptr;
    QLineEdit* InboxTokenEdit = nullptr;
    QPushButton* InboxNewTokenButton = nullptr;
    QCheckBox* InboxOpenWindowsCheckBox = nullptr;
    QLabel* InboxStatusLabel = nullptr;
    // Why the stored token could not be read when the page was loaded (the keyring locked).
    QString InboxTokenProblem;

    void Load() override;
    // Puts the page's port to the running inbox before anything is saved; a newly chosen port
    // it cannot have is the problem (the inbox is then as it was).
    TOptionsProblem Validate() override;
    void Save() override;
    void RefreshStatus() override;

private:
    // The running inbox, which the page reports on and restarts after Save.
    IAlertHub* Hub() const;
    TInboxSettings PageSettings() const;
    // False, with the reason, when a newly chosen port cannot be had.
    bool ApplyPort(QString* problem);
    void UpdateInboxControls();

    IOptionsHost* Host = nullptr;
};
