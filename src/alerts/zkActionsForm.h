#pragma once

#include <QDialog>
#include <QMetaObject>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The Actions dialog of an alert window: what happens on each alert (sound, showing the window,
// a desktop notification, publishing to the broker, sending the symbol to a link list), to which
// list a selected alert's symbol goes and whether a selected alert is published. The main
// window creates it once; EditWindowActions fills Actions, shows it modally and takes Actions
// back after OK.
class IAlertDesk;
class TGenericConnectorForm;

class TActionsForm : public QDialog {
    Q_OBJECT
public:
    // The desk (nullptr without one) gives the connector window, whose lists the list boxes
    // offer.
    explicit TActionsForm(QWidget* owner, IAlertDesk* desk = nullptr);

    // --- state ---
    // The action list being edited: read when shown, rebuilt by OK.
    QStringList Actions;
    // The sound setup text of the "Play Sound" action; "<Default>" when none is given.
    QString SoundSetup;

    // --- controls ---
    QGroupBox* OnEachAlertGroupBox = nullptr;
    QCheckBox* PlaySoundCheckBox = nullptr;
    QPushButton* SetupSoundButton = nullptr;
    QPlainTextEdit* SoundSetupMemo = nullptr;
    QCheckBox* ShowAlertWindowCheckBox = nullptr;
    QCheckBox* ShowNotificationCheckBox = nullptr;
    QCheckBox* PublishCheckBox = nullptr; // "1,6"
    QCheckBox* SendToCheckBox = nullptr;
    QLabel* ListNameLabel1 = nullptr;
    QComboBox* OnEachComboBox = nullptr;
    QGroupBox* SendGroupBox = nullptr;
    QLabel* ListNameLabel2 = nullptr;
    QComboBox* OnSelectComboBox = nullptr;
    QCheckBox* PublishOnSelectCheckBox = nullptr; // selection trigger, ",6"
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

    // Takes the text ("<Default>" when empty) and shows its description in the memo.
    void SetSoundSetup(const QString& setup);
    // "<Default>", or the file (shortened), volume and left/right shares of a setup text.
    static QString SoundSetupDescription(const QString& setup);
    // A path of more than three pieces as its first piece, "...", and its last two pieces.
    static QString ShortenPath(const QString& path);

    // The enabling rules of the sound button and the on-each-alert list.
    void UpdateControls();
    // New list names while the dialog is open: both lists take them, keeping their choice.
    void UpdateListNames(const QStringList& names);

    // Whether the machine has a sound output device; tests put in their own answer.
    static std::function<bool()> SoundDevicePresent;

    // --- handlers ---
    void FormShow();
    void OKButtonClick();
    void SetupSoundButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QMetaObject::Connection NamesConnection;
    TGenericConnectorForm* Connectors() const;

    IAlertDesk* const Desk;
};
