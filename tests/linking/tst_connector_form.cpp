#include "components/zkComponentWrappers.h"
#include "linking/zkGenericConnectorForm.h"
#include "platform/zkPrompts.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <functional>
#include <memory>

namespace {

// Answers the real modal dialogs as they open, one step each, and notes what each showed: an
// input box its proposed text, a message box its text.
class TModalAnswers : public QObject {
public:
    TModalAnswers() {
        connect(&Timer, &QTimer::timeout, this, &TModalAnswers::Poll);
        Timer.start(5);
    }
    void Input(std::optional<QString> answer) {
        Steps.push_back([this, answer](QDialog* dialog) {
            auto* input = qobject_cast<QInputDialog*>(dialog);
            QVERIFY(input);
            Seen << QStringLiteral("input[%1|%2]: %3")
                        .arg(input->windowTitle(), input->labelText(), input->textValue());
            if (!answer) {
                input->reject();
                return;
            }
            input->setTextValue(*answer);
            input->accept();
        });
    }
    void Message(QMessageBox::StandardButton button) {
        Steps.push_back([this, button](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            QVERIFY(box);
            Seen << QStringLiteral("message[%1]: %2").arg(box->windowTitle(), box->text());
            box->button(button)->click();
        });
    }
    QStringList Seen;

private:
    void Poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == Last || !dialog->isVisible())
            return;
        Last = dialog;
        if (Steps.empty()) {
            Seen << QStringLiteral("unexpected dialog");
            dialog->reject();
            return;
        }
        const auto step = Steps.front();
        Steps.pop_front();
        step(dialog);
    }
    QTimer Timer;
    QPointer<QDialog> Last;
    std::deque<std::function<void(QDialog*)>> Steps;
};

QStringList comboItems(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

TFakeConnector* fake(TZentrikGenericConnector2X* wrapper) {
    return wrapper ? static_cast<TFakeConnector*>(wrapper->Component()) : nullptr;
}

} // namespace

class TConnectorFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestHome> Home;
    std::shared_ptr<TFakeComponentFactory> Factory;
    std::unique_ptr<TScopedComponentFactory> Scope;
    std::unique_ptr<TGenericConnectorForm> Form;

    TGenericConnectorForm& shownForm() {
        Form = std::make_unique<TGenericConnectorForm>(nullptr);
        Form->show();
        return *Form;
    }
    QString frontName() const { return Form->FrontConnector()->LinkName(); }

private slots:
    void init() {
        Home = std::make_unique<TTestHome>();
        Factory = std::make_shared<TFakeComponentFactory>();
        Scope = std::make_unique<TScopedComponentFactory>(Factory);
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
    }
    void cleanup() {
        Form.reset();
        Scope.reset();
        Factory.reset();
        Home.reset();
    }

    void firstShowAndClose();
    void listMadeHiddenIsLaidOutWhenShown();
    void listsFromActionsAndShowList();
    void createNewListProposesTheNextFreeName();
    void deleteAsksAndDropsTheList();
    void renameAsksAgainUntilTheNameIsFree();
    void renameEdgeCases();
};

void TConnectorFormTest::firstShowAndClose() {
    TGenericConnectorForm& form = shownForm();
    QCOMPARE(form.windowTitle(), QString("Set Up External Linking"));
    QCOMPARE(form.size(), QSize(282, 416));
    QCOMPARE(form.TopPanel->height(), 70);
    QCOMPARE(form.ListNameLabel->text(), QString("Current List Name:"));
    QCOMPARE(form.CreateNewListButton->text(), QString("Create New List"));
    QCOMPARE(form.DeleteButton->text(), QString("Delete List"));
    QCOMPARE(form.RenameButton->text(), QString("Rename List"));

    // Showing makes "MAIN LIST" and shows it; it cannot be deleted or renamed.
    QCOMPARE(form.DisplayNames, QStringList{"MAIN LIST"});
    QCOMPARE(comboItems(form.ListNameComboBox), QStringList{"MAIN LIST"});
    QCOMPARE(form.ListNameComboBox->currentIndex(), 0);
    QVERIFY(!form.DeleteButton->isEnabled());
    QVERIFY(!form.RenameButton->isEnabled());
    QCOMPARE(frontName(), QString("MAIN LIST"));
    TFakeConnector* main = fake(form.FrontConnector());
    QVERIFY(!main->FAutoSave);
    QCOMPARE(main->InitializeCount, 1);
    QCOMPARE(form.FrontConnector()->parentWidget(), form.ConnectorsPanel);
    QCOMPARE(form.FrontConnector()->size(), form.ConnectorsPanel->size());

    // Closing hides; the lists stay.
    form.QueueSymbol("", "AAPL");
    form.close();
    QVERIFY(form.isHidden());
    form.show();
    QCOMPARE(form.LinkList.Count(), 1);
    QCOMPARE(form.LinkList.Find("MAIN LIST")->PendingSymbols, QStringList{"AAPL"});
}

void TConnectorFormTest::listMadeHiddenIsLaidOutWhenShown() {
    // As at start-up: the main list is made while the window is hidden, shown much later.
    Factory->ConnectorFaces = true;
    Form = std::make_unique<TGenericConnectorForm>(nullptr);
    Form->FormShow();
    QWidget* connector = Form->FrontConnector();
    QVERIFY(connector->layout()->isEnabled());
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    const QWidget* face = fake(Form->FrontConnector())->Face;
    QVERIFY(face);
    QCOMPARE(face->parentWidget(), connector);
    QVERIFY(face->isVisible());
    QCOMPARE(face->geometry(), connector->rect());
}

void TConnectorFormTest::listsFromActionsAndShowList() {
    TGenericConnectorForm& form = shownForm();
    form.EnsureListsForActions({"1,4,zeta", "2,4,Alpha", "1,3", "1,4, ", "3,4,MAIN LIST",
                                "1,4,  beta  ", "1,4,zeta", "1,2,snd"});
    QCOMPARE(form.ListNames.Names(), QStringList({"Alpha", "beta", "zeta"}));
    QCOMPARE(form.DisplayNames, QStringList({"MAIN LIST", "Alpha", "beta", "zeta"}));
    QCOMPARE(comboItems(form.ListNameComboBox), form.DisplayNames);
    QCOMPARE(form.LinkList.Count(), 4);
    // New lists go behind the one on show.
    QCOMPARE(frontName(), QString("MAIN LIST"));

    form.ShowList("BETA");
    QCOMPARE(form.ListNameComboBox->currentText(), QString("beta"));
    // The combo box matches letter case aside; the lists themselves do not.
    QCOMPARE(frontName(), QString("BETA"));
    QCOMPARE(form.LinkList.Count(), 5);
    QCOMPARE(form.ListNames.Names().size(), 3);

    form.ShowList("zeta");
    QCOMPARE(frontName(), QString("zeta"));
    form.ShowList("  ");
    QCOMPARE(form.ListNameComboBox->currentText(), QString("MAIN LIST"));
    QCOMPARE(frontName(), QString("MAIN LIST"));
    form.ShowList("Gone");
    QCOMPARE(form.ListNameComboBox->currentIndex(), -1);
    QCOMPARE(frontName(), QString("Gone"));
    QVERIFY(!form.DeleteButton->isEnabled());

    // Choosing in the combo box shows that list and enables the buttons for a user's list.
    form.ListNameComboBox->setCurrentIndex(1);
    emit form.ListNameComboBox->activated(1);
    QCOMPARE(frontName(), QString("Alpha"));
    QVERIFY(form.DeleteButton->isEnabled());
    QVERIFY(form.RenameButton->isEnabled());
    form.ListNameComboBox->setCurrentIndex(0);
    emit form.ListNameComboBox->activated(0);
    QVERIFY(!form.DeleteButton->isEnabled());
    QVERIFY(!form.RenameButton->isEnabled());
    // The idle step shows a list on its own: the buttons follow it there too.
    form.ShowList("zeta");
    QVERIFY(form.DeleteButton->isEnabled());
    form.ShowList("MAIN LIST");
    QVERIFY(!form.DeleteButton->isEnabled());
    QVERIFY(!form.RenameButton->isEnabled());
}

void TConnectorFormTest::createNewListProposesTheNextFreeName() {
    TGenericConnectorForm& form = shownForm();
    zkPrompts::SetScripted(false);
    TModalAnswers answers;
    answers.Input(std::nullopt);
    form.CreateNewListButtonClick();
    QCOMPARE(form.ListNames.Names(), QStringList());

    answers.Input(QString("window list #2"));
    form.CreateNewListButtonClick();
    answers.Input(QString("  Fresh "));
    form.CreateNewListButtonClick();
    QCOMPARE(answers.Seen, QStringList({"input[Create New List|New List:]: Window List #2",
                                        "input[Create New List|New List:]: Window List #2",
                                        "input[Create New List|New List:]: Window List #3"}));
    QCOMPARE(form.ListNames.Names(), QStringList({"Fresh", "window list #2"}));
    QCOMPARE(form.ListNameComboBox->currentText(), QString("Fresh"));
    QCOMPARE(frontName(), QString("Fresh"));
    QVERIFY(form.DeleteButton->isEnabled());

    // An existing name creates nothing and shows that list.
    answers.Input(QString("MAIN LIST"));
    form.CreateNewListButtonClick();
    QCOMPARE(form.LinkList.Count(), 3);
    QCOMPARE(frontName(), QString("MAIN LIST"));
    QVERIFY(!form.DeleteButton->isEnabled());
    zkPrompts::SetScripted(true);
}

void TConnectorFormTest::deleteAsksAndDropsTheList() {
    TGenericConnectorForm& form = shownForm();
    form.EnsureListsForActions({"1,4,Scan", "1,4,Other"});
    form.QueueSymbol("Scan", "AAPL");
    form.ListNameComboBox->setCurrentIndex(2);
    emit form.ListNameComboBox->activated(2);
    QPointer<TZentrikGenericConnector2X> scan = form.FrontConnector();
    QCOMPARE(scan->LinkName(), QString("Scan"));

    zkPrompts::SetNextAnswer(zkPrompts::TAnswer::No);
    form.DeleteButtonClick();
    QCOMPARE(form.ListNames.Names(), QStringList({"Other", "Scan"}));
    QVERIFY(scan);
    const zkPrompts::TPromptRecord asked = zkPrompts::Shown().last();
    QCOMPARE(asked.Text, QString("List \"Scan\" will be deleted.\r\nContinue?"));
    QCOMPARE(asked.Buttons, zkPrompts::TButtons::YesNo);

    zkPrompts::SetNextAnswer(zkPrompts::TAnswer::Yes);
    form.DeleteButtonClick();
    QCOMPARE(form.ListNames.Names(), QStringList{"Other"});
    QCOMPARE(comboItems(form.ListNameComboBox), QStringList({"MAIN LIST", "Other"}));
    QVERIFY(scan.isNull());
    QCOMPARE(form.ListNameComboBox->currentIndex(), 0);
    QCOMPARE(frontName(), QString("MAIN LIST"));
    QVERIFY(!form.DeleteButton->isEnabled());
    // Its unsent symbols went with it; an action naming it again gets a fresh list.
    form.FlushSymbols("Scan");
    QVERIFY(fake(form.Connector("Scan"))->Sent.isEmpty());
    QCOMPARE(form.ListNames.Names(), QStringList{"Other"});

    // Nothing asks about "MAIN LIST".
    const qsizetype prompts = zkPrompts::Shown().size();
    form.DeleteButtonClick();
    QCOMPARE(zkPrompts::Shown().size(), prompts);
    QVERIFY(form.LinkList.Find("MAIN LIST"));
}

void TConnectorFormTest::renameAsksAgainUntilTheNameIsFree() {
    TGenericConnectorForm& form = shownForm();
    form.EnsureListsForActions({"1,4,Scan", "1,4,Other"});
    form.QueueSymbol("Scan", "AAPL");
    form.ShowList("Scan");
    QPointer<TZentrikGenericConnector2X> scan = form.FrontConnector();

    zkPrompts::SetScripted(false);
    TModalAnswers answers;
    answers.Input(QString("Scan"));
    answers.Message(QMessageBox::Ok);
    answers.Input(QString("OTHER"));
    answers.Message(QMessageBox::Ok);
    answers.Input(QString("main list"));
    answers.Message(QMessageBox::Ok);
    answers.Input(QString(" Renamed "));
    form.RenameButtonClick();
    zkPrompts::SetScripted(true);
    const QString exists = "message[Information]: List \"%1\" already exists.\r\nPlease enter "
                           "another name.";
    QCOMPARE(answers.Seen,
             QStringList({"input[Rename List|New List Name:]: Scan", exists.arg("Scan"),
                          "input[Rename List|New List Name:]: Scan", exists.arg("OTHER"),
                          "input[Rename List|New List Name:]: OTHER", exists.arg("main list"),
                          "input[Rename List|New List Name:]: main list"}));

    // The same list under its new name: connector, routing name and queued symbols.
    QCOMPARE(form.ListNames.Names(), QStringList({"Other", "Renamed"}));
    QCOMPARE(comboItems(form.ListNameComboBox), QStringList({"MAIN LIST", "Other", "Renamed"}));
    QCOMPARE(form.ListNameComboBox->currentText(), QString("Renamed"));
    QVERIFY(scan);
    QCOMPARE(form.FrontConnector(), scan.data());
    QCOMPARE(scan->LinkName(), QString("Renamed"));
    QCOMPARE(form.LinkList.IndexOf("Scan"), -1);
    form.FlushSymbols("Renamed");
    QCOMPARE(fake(scan)->Sent, QStringList{"AAPL"});
}

void TConnectorFormTest::renameEdgeCases() {
    TGenericConnectorForm& form = shownForm();
    form.EnsureListsForActions({"1,4,Scan"});
    form.ShowList("Scan");
    form.UpdateButtons();

    // Cancel, and a blank name, change nothing.
    zkPrompts::SetNextInput(std::nullopt);
    form.RenameButtonClick();
    zkPrompts::SetNextInput(QString("   "));
    form.RenameButtonClick();
    QCOMPARE(form.ListNames.Names(), QStringList{"Scan"});
    QVERIFY(form.LinkList.Find("Scan"));

    // A list recreated for an action after it was deleted (a connector, no name in the box):
    // renaming another list to it does not make two lists of one name.
    zkPrompts::SetNextAnswer(zkPrompts::TAnswer::Yes);
    form.EnsureListsForActions({"1,4,Old"});
    form.ShowList("Old");
    form.DeleteButtonClick();
    form.QueueSymbol("Old", "IBM");
    QCOMPARE(form.ListNames.Names(), QStringList{"Scan"});
    form.ShowList("Scan");
    zkPrompts::SetNextInput(QString("Old"));
    form.RenameButtonClick();
    QCOMPARE(form.ListNames.Names(), QStringList{"Old"});
    QCOMPARE(form.LinkList.IndexOf("Scan"), -1);
    QCOMPARE(form.LinkList.Count(), 2);
    form.FlushSymbols("Old");
    QCOMPARE(fake(form.Connector("Old"))->Sent, QStringList{"IBM"});
    QCOMPARE(frontName(), QString("Old"));
}

QTEST_MAIN(TConnectorFormTest)
#include "tst_connector_form.moc"
