#include "alerts/zkActions.h"
#include "alerts/zkActionsForm.h"
#include "alerts/zkAlertForm.h"
#include "alerts/zkSoundSetupForm.h"
#include "components/zkComponentWrappers.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// A main window with fake components in a private installation folder, and its Actions
// dialog; the machine has a sound device unless a test says otherwise.
struct TActionsFixture {
    TTestHome Home;
    QTemporaryDir Install;
    QString OldDir = QDir::currentPath();
    std::shared_ptr<TFakeComponentFactory> Factory = std::make_shared<TFakeComponentFactory>();
    TScopedComponentFactory Scope{Factory};
    std::unique_ptr<TZentrikProMainForm> Main;
    TActionsForm* Dialog = nullptr;
    std::function<bool()> OldDevice = TActionsForm::SoundDevicePresent;

    TActionsFixture() {
        QDir::setCurrent(Install.path());
        TUserStore::ResetInstance();
        SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        WriteStringValue(TSettingsStore::Registry(), SettingsKeyPath() + "\\Settings", "UserName",
                         "DEMO");
        TActionsForm::SoundDevicePresent = [] { return true; };
        Main = std::make_unique<TZentrikProMainForm>();
        Main->ConnectorForm->EnsureListsForActions({"1,4,Scan", "1,4,Other"});
        Dialog = Main->ActionsDialog();
    }
    ~TActionsFixture() {
        Main.reset();
        TActionsForm::SoundDevicePresent = OldDevice;
        QDir::setCurrent(OldDir);
        TUserStore::ResetInstance();
    }
    // Shows the dialog on the actions and ends it with OK; the rebuilt list.
    QStringList okWith(const QStringList& actions) {
        Dialog->Actions = actions;
        Dialog->show();
        Dialog->OKButtonClick();
        return Dialog->Actions;
    }
};

// Runs fn on the next modal dialog once it is up.
void OnNextModal(std::function<void(QWidget*)> fn) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, fn] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        fn(modal);
    });
    poll->start(5);
}

QStringList items(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

} // namespace

class TActionsFormTest : public QObject {
    Q_OBJECT
private slots:
    void showReadsEveryActionAndOkRebuildsThem();
    void listNamesNotFoundAndEmptyLists();
    void desktopNotificationCheckBox();
    void publishToTheBrokerCheckBoxes();
    void enablingRules();
    void descriptionAndShortPaths();
    void setupSoundUsesTheSoundSetupDialog();
    void editingAWindowsActions();
};

void TActionsFormTest::showReadsEveryActionAndOkRebuildsThem() {
    TActionsFixture f;
    TActionsForm* d = f.Dialog;
    QCOMPARE(d->size(), QSize(279, 334));
    d->Actions = {"2,4,Other", "1,3", "1,4,scan", "1,2,/home/u/velquist/Sounds/ding.wav,80,30"};
    d->show();
    QCOMPARE(items(d->OnEachComboBox), QStringList({"MAIN LIST", "Other", "Scan"}));
    QCOMPARE(items(d->OnSelectComboBox), items(d->OnEachComboBox));
    QVERIFY(d->PlaySoundCheckBox->isChecked());
    QVERIFY(d->ShowAlertWindowCheckBox->isChecked());
    QVERIFY(d->SendToCheckBox->isChecked());
    QCOMPARE(d->OnEachComboBox->currentText(), QString("Scan"));
    QCOMPARE(d->OnSelectComboBox->currentText(), QString("Other"));
    QCOMPARE(d->SoundSetup, QString("/home/u/velquist/Sounds/ding.wav,80,30"));
    QCOMPARE(d->SoundSetupMemo->toPlainText(),
             QString("File: /.../Sounds/ding.wav\nVolume: 80%\nLeft/Right: 70%/30%"));
    QVERIFY(!d->SoundSetupMemo->isEnabled());
    QVERIFY(d->SoundSetupMemo->isReadOnly());
    QCOMPARE(d->SendGroupBox->title(), QString("On double-click send symbol to"));

    // The rebuilt order is fixed, whatever the stored order; names take the list's spelling.
    d->OKButtonClick();
    QCOMPARE(d->result(), int(QDialog::Accepted));
    QCOMPARE(d->Actions, QStringList({"1,2,/home/u/velquist/Sounds/ding.wav,80,30", "1,3",
                                      "1,4,Scan", "2,4,Other"}));

    // Showing again starts from scratch.
    QCOMPARE(f.okWith({"3,4,Scan"}), QStringList{"2,4,Scan"});
    QVERIFY(!d->PlaySoundCheckBox->isChecked());
    QCOMPARE(d->SoundSetupMemo->toPlainText(), QString("<Default>"));

    // After the click choice every selection entry is written with trigger 3.
    DefaultWindowActions() = {"3,4,MAIN LIST"};
    QCOMPARE(f.okWith({"2,4,Scan", "1,2,"}), QStringList({"1,2,<Default>", "3,4,Scan"}));
    QCOMPARE(d->SendGroupBox->title(), QString("On click send symbol to"));
}

void TActionsFormTest::desktopNotificationCheckBox() {
    TActionsFixture f;
    TActionsForm* d = f.Dialog;
    QCOMPARE(d->ShowNotificationCheckBox->text(), QString("Show a desktop &notification"));
    QCOMPARE(d->ShowNotificationCheckBox->parentWidget(), d->OnEachAlertGroupBox);
    // Read from any place in the list, written after the older kinds.
    QCOMPARE(f.okWith({"1,5", "1,3", "2,4,Other"}), QStringList({"1,3", "1,5", "2,4,Other"}));
    QVERIFY(d->ShowNotificationCheckBox->isChecked());
    QCOMPARE(f.okWith({"1,2,a.wav,50,50", "1,5", "1,4,Scan"}),
             QStringList({"1,2,a.wav,50,50", "1,4,Scan", "1,5", "2,4,MAIN LIST"}));
    // A list without it comes back as it was, and the box starts unticked.
    QCOMPARE(f.okWith({"1,3", "2,4,Other"}), QStringList({"1,3", "2,4,Other"}));
    QVERIFY(!d->ShowNotificationCheckBox->isChecked());
    // Ticked by the user.
    d->Actions = {"2,4,Other"};
    d->show();
    d->ShowNotificationCheckBox->click();
    d->OKButtonClick();
    QCOMPARE(d->Actions, QStringList({"1,5", "2,4,Other"}));
    // Every control still fits the dialog's fixed client area.
    for (QWidget* w : d->findChildren<QWidget*>())
        if (w->isVisible())
            QVERIFY2(d->rect().contains(QRect(w->mapTo(d, QPoint(0, 0)), w->size())),
                     qPrintable(w->objectName()));
}

void TActionsFormTest::publishToTheBrokerCheckBoxes() {
    TActionsFixture f;
    TActionsForm* d = f.Dialog;
    QCOMPARE(d->PublishCheckBox->parentWidget(), d->OnEachAlertGroupBox);
    QCOMPARE(d->PublishOnSelectCheckBox->parentWidget(), d->SendGroupBox);
    QVERIFY(!d->PublishCheckBox->accessibleName().isEmpty());
    QVERIFY(!d->PublishOnSelectCheckBox->accessibleName().isEmpty());
    // Read from any place; the selection's entry after the send, which a selection acts on first.
    QCOMPARE(f.okWith({"2,6", "1,6", "1,3", "2,4,Other"}),
             QStringList({"1,3", "1,6", "2,4,Other", "2,6"}));
    QVERIFY(d->PublishCheckBox->isChecked());
    QVERIFY(d->PublishOnSelectCheckBox->isChecked());
    QCOMPARE(f.okWith({"1,3", "2,4,Other"}), QStringList({"1,3", "2,4,Other"}));
    QVERIFY(!d->PublishCheckBox->isChecked());
    QVERIFY(!d->PublishOnSelectCheckBox->isChecked());
    // The selection entry takes the click choice as the send's does.
    DefaultWindowActions() = {"3,4,MAIN LIST"};
    QCOMPARE(f.okWith({"2,4,Scan", "2,6"}), QStringList({"3,4,Scan", "3,6"}));
    // Ticked by the user, from the keyboard as well (both have a mnemonic).
    d->Actions = {"2,4,Other"};
    d->show();
    d->PublishCheckBox->click();
    d->PublishOnSelectCheckBox->click();
    d->OKButtonClick();
    QCOMPARE(d->Actions, QStringList({"1,6", "3,4,Other", "3,6"}));
    QVERIFY(d->PublishCheckBox->text().contains('&'));
    QVERIFY(d->PublishOnSelectCheckBox->text().contains('&'));
    for (QWidget* w : d->findChildren<QWidget*>())
        if (w->isVisible())
            QVERIFY2(d->rect().contains(QRect(w->mapTo(d, QPoint(0, 0)), w->size())),
                     qPrintable(w->objectName()));
}

void TActionsFormTest::listNamesNotFoundAndEmptyLists() {
    TActionsFixture f;
    TActionsForm* d = f.Dialog;
    d->Actions = {"2,4,Gone", "1,4,"};
    d->show();
    // A name not among the lists selects nothing; OK then stores an empty name, which sends
    // to "MAIN LIST".
    QCOMPARE(d->OnSelectComboBox->currentIndex(), -1);
    QCOMPARE(d->OnEachComboBox->currentIndex(), 0);
    d->OKButtonClick();
    QCOMPARE(d->Actions, QStringList({"1,4,MAIN LIST", "2,4,"}));

    QCOMPARE(f.okWith({}), QStringList{"2,4,MAIN LIST"});
    QCOMPARE(f.okWith({"0,0"}), QStringList{"2,4,MAIN LIST"});

    // Lists made while the dialog is open join both boxes; the choices stay.
    d->Actions = {"1,4,Scan", "2,4,Gone"};
    d->show();
    f.Main->ConnectorForm->EnsureList("Added");
    QCOMPARE(items(d->OnEachComboBox), QStringList({"MAIN LIST", "Added", "Other", "Scan"}));
    QCOMPARE(d->OnEachComboBox->currentText(), QString("Scan"));
    QCOMPARE(d->OnSelectComboBox->currentIndex(), -1);
    d->hide();
    f.Main->ConnectorForm->EnsureList("Later");
    QCOMPARE(d->OnEachComboBox->count(), 4);
}

void TActionsFormTest::enablingRules() {
    TActionsFixture f;
    TActionsForm* d = f.Dialog;
    d->Actions = {"1,2,a.wav,50,50"};
    d->show();
    QVERIFY(d->SetupSoundButton->isEnabled());
    QVERIFY(!d->OnEachComboBox->isEnabled());

    // Clicking the boxes applies the rules at once.
    d->PlaySoundCheckBox->click();
    QVERIFY(!d->SetupSoundButton->isEnabled());
    d->SendToCheckBox->click();
    QVERIFY(d->OnEachComboBox->isEnabled());
    d->SendToCheckBox->click();
    QVERIFY(!d->OnEachComboBox->isEnabled());
    QCOMPARE(d->SoundSetup, QString("a.wav,50,50")); // unticking keeps the setup
    d->PlaySoundCheckBox->click();
    d->OKButtonClick();
    QCOMPARE(d->Actions, QStringList({"1,2,a.wav,50,50", "2,4,MAIN LIST"}));

    // Without a sound device the button stays off, even with Play Sound ticked.
    TActionsForm::SoundDevicePresent = [] { return false; };
    d->Actions = {"1,2,a.wav,50,50"};
    d->show();
    QVERIFY(d->PlaySoundCheckBox->isChecked());
    QVERIFY(!d->SetupSoundButton->isEnabled());
    d->ShowAlertWindowCheckBox->click();
    QVERIFY(!d->SetupSoundButton->isEnabled());
}

void TActionsFormTest::descriptionAndShortPaths() {
    QCOMPARE(TActionsForm::ShortenPath("/home/u/Sounds/ding.wav"), QString("/.../Sounds/ding.wav"));
    QCOMPARE(TActionsForm::ShortenPath("/Sounds/ding.wav"), QString("/Sounds/ding.wav"));
    QCOMPARE(TActionsForm::ShortenPath("a/b/c/d.wav"), QString("a/.../c/d.wav"));
    QCOMPARE(TActionsForm::ShortenPath("a/b/d.wav"), QString("a/b/d.wav"));
    // The walk stops at the first empty piece.
    QCOMPARE(TActionsForm::ShortenPath("/home//u/Sounds/ding.wav"),
             QString("/home//u/Sounds/ding.wav"));
    QCOMPARE(TActionsForm::ShortenPath("a/b/c/d/"), QString("a/.../c/d"));
    QCOMPARE(TActionsForm::ShortenPath("ding.wav"), QString("ding.wav"));

    QCOMPARE(TActionsForm::SoundSetupDescription("<Default>"), QString("<Default>"));
    QCOMPARE(TActionsForm::SoundSetupDescription("x.wav,abc,30"),
             QString("File: x.wav\r\nVolume: 50%\r\nLeft/Right: 70%/30%"));
    QCOMPARE(TActionsForm::SoundSetupDescription("<default>"),
             QString("File: <default>\r\nVolume: 50%\r\nLeft/Right: 50%/50%"));

    TActionsFixture f;
    f.Dialog->SetSoundSetup(QString());
    QCOMPARE(f.Dialog->SoundSetup, QString("<Default>"));
    QCOMPARE(f.Dialog->SoundSetupMemo->toPlainText(), QString("<Default>"));
}

void TActionsFormTest::setupSoundUsesTheSoundSetupDialog() {
    TActionsFixture f;
    new TSoundSetupForm(f.Main.get(), f.Main.get());
    const QString wave = QDir::currentPath() + "/Sounds/ding.wav";
    WriteTextFile(wave, "RIFF");
    TActionsForm* d = f.Dialog;
    d->Actions = {"1,2," + wave + ",80,30"};
    d->show();

    QString shownFile;
    OnNextModal([&](QWidget* modal) {
        auto* setup = qobject_cast<TSoundSetupForm*>(modal);
        QVERIFY(setup);
        shownFile = setup->FileNameEdit->text();
        setup->VolumeTrackBar->setValue(50);
        setup->OKButton->click();
    });
    d->SetupSoundButton->click();
    QCOMPARE(shownFile, wave);
    QCOMPARE(d->SoundSetup, wave + ",50,30");

    // Cancel keeps the setup.
    OnNextModal([](QWidget* modal) {
        auto* setup = qobject_cast<TSoundSetupForm*>(modal);
        QVERIFY(setup);
        setup->VolumeTrackBar->setValue(0);
        setup->CancelButton->click();
    });
    d->SetupSoundButton->click();
    QCOMPARE(d->SoundSetup, wave + ",50,30");
    d->OKButtonClick();
    QCOMPARE(d->Actions.first(), "1,2," + wave + ",50,30");
}

void TActionsFormTest::editingAWindowsActions() {
    TActionsFixture f;
    TAlertForm* w = f.Main->NewAlertWindow();
    auto& fake = *static_cast<TFakeZentrikWindowX*>(w->ZentrikWindowX->Component());
    bool modalWhileOpen = false;
    QString caption;
    OnNextModal([&](QWidget* modal) {
        QCOMPARE(modal, f.Dialog);
        modalWhileOpen = f.Main->ModalDialogOpen;
        caption = modal->windowTitle();
        f.Dialog->ShowAlertWindowCheckBox->click();
        f.Dialog->SendToCheckBox->click();
        f.Dialog->OnEachComboBox->setCurrentIndex(2);
        f.Dialog->OKButton->click();
    });
    fake.RaiseCustomMenuItem(TAlertForm::ActionsMenuId);
    QVERIFY(modalWhileOpen);
    QVERIFY(!f.Main->ModalDialogOpen);
    QCOMPARE(caption, QString("Alert Window Actions"));
    QCOMPARE(w->Actions, QStringList({"1,3", "1,4,Scan", "2,4,MAIN LIST"}));
    // Parsed again at once.
    QCOMPARE(w->ActionTable.Parameter, QStringList({"", "Scan", "MAIN LIST"}));

    OnNextModal([&](QWidget*) {
        f.Dialog->PlaySoundCheckBox->click();
        f.Dialog->CancelButton->click();
    });
    fake.RaiseCustomMenuItem(TAlertForm::ActionsMenuId);
    QVERIFY(!f.Main->ModalDialogOpen);
    QCOMPARE(w->Actions, QStringList({"1,3", "1,4,Scan", "2,4,MAIN LIST"}));
}

QTEST_MAIN(TActionsFormTest)
#include "tst_actions_form.moc"
