// The symbol lists window and the editor, on the fake list server.
#include "config/zkLayoutSettings.h"
#include "config/zkUserStore.h"
#include "desktop/zkWindowRing.h"
#include "platform/zkPrompts.h"
#include "shell/zkMainForm.h"
#include "symbollists/zkSymbolListEditorForm.h"
#include "symbollists/zkSymbolListsDispatcher.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QWindow>
#include <QtTest>

#include <functional>

namespace {

struct TFormFixture {
    QTemporaryDir Dir;
    QString OldDir = QDir::currentPath();
    TFakeConnectionControl Connection;
    std::unique_ptr<TSymbolListsForm> Form;
    std::unique_ptr<TSymbolListEditorForm> Editor;

    // With refresh false the window is as at start, before its first refresh.
    explicit TFormFixture(bool refresh = true, QWidget* editorParent = nullptr) {
        QDir::setCurrent(Dir.path());
        Connection.Server->Lists = {{1, "Tech", {"AAPL", "MSFT"}, true, 0},
                                    {2, "Energy", {}, true, 0},
                                    {3, "Banks", {"JPM"}, true, 0}};
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        StartSymbolListDispatcher(&Connection);
        Form = std::make_unique<TSymbolListsForm>(nullptr);
        Editor = std::make_unique<TSymbolListEditorForm>(editorParent);
        if (refresh)
            Form->RefreshFromServerButtonClick();
        server().Log.clear();
    }
    ~TFormFixture() {
        zkPrompts::SetScripted(true);
        StopSymbolListDispatcher();
        QDir::setCurrent(OldDir);
    }
    // Opens the editor as the Edit List button does (modally); inside, check runs once it is
    // shown. The editor is closed after a second if check left it open.
    void edit(const std::function<void()>& check) {
        QTimer::singleShot(0, Editor.get(), check);
        QTimer::singleShot(1000, Editor.get(), [this] {
            if (Editor->isVisible())
                Editor->reject();
        });
        Form->EditListButtonClick();
    }
    QPoint rowCentre(int row) const { return box()->visualItemRect(box()->item(row)).center(); }
    TFakeListServer& server() { return *Connection.Server; }
    QListWidget* box() const { return Form->SymbolListsListBox; }
    QStringList entries() const {
        QStringList e;
        for (int i = 0; i < box()->count(); ++i)
            e << box()->item(i)->text();
        return e;
    }
    QList<int> selected() const {
        QList<int> rows;
        for (int i = 0; i < box()->count(); ++i)
            if (box()->item(i)->isSelected())
                rows << i;
        return rows;
    }
    void select(const QList<int>& rows) {
        box()->clearSelection();
        for (int r : rows)
            box()->item(r)->setSelected(true);
    }
    // Enabled states of Copy, Delete, Edit List, Rename List, Add, Delete symbol.
    QString enabled() const {
        QString s;
        for (QPushButton* b : {Form->CopyButton, Form->DeleteButton, Form->EditListButton,
                               Form->RenameListButton, Form->AddButton, Form->DeleteSymbolButton})
            s += b->isEnabled() ? '1' : '0';
        return s;
    }
    static QString lastMessage() {
        const auto shown = zkPrompts::Shown();
        return shown.isEmpty() ? QString() : shown.last().Text;
    }
};

} // namespace

class TSymbolListsFormTest : public QObject {
    Q_OBJECT
private slots:
    void geometryAndMinimumSize() {
        TFormFixture f;
        QCOMPARE(f.Form->size(), QSize(302, 230));
        QCOMPARE(f.Form->minimumSize(), QSize(302, 186));
        f.Form->show();
        f.Form->resize(402, 330);
        QCOMPARE(f.box()->geometry(), QRect(6, 8, 389, 189));
        QCOMPARE(f.Form->Panel->geometry(), QRect(44, 204, 313, 133));
    }

    void buttonsFollowTheSelection() {
        TFormFixture f;
        QCOMPARE(f.entries(), QStringList({"Tech   [2]", "Energy   [Empty]", "Banks   [1]"}));
        f.Form->SymbolEdit->setText("msft");
        QCOMPARE(f.enabled(), QString("000000"));
        QTest::keyClick(f.Form->SymbolEdit, Qt::Key_Return); // Add is disabled: nothing
        QVERIFY(f.server().Log.isEmpty());

        f.select({1});
        QCOMPARE(f.enabled(), QString("111111"));
        QCOMPARE(f.Form->CopyButton->text(), QString("Copy List"));
        f.select({0, 1, 2});
        QCOMPARE(f.enabled(), QString("110011"));
        QCOMPARE(f.Form->CopyButton->text(), QString("Copy Lists"));
        QCOMPARE(f.Form->DeleteButton->text(), QString("Delete Lists"));
        QTest::keyClick(f.Form->SymbolEdit, Qt::Key_Return);
        QCOMPARE(f.server().Log, QStringList({"1:InsertSymbol(MSFT)", "2:InsertSymbol(MSFT)",
                                              "3:InsertSymbol(MSFT)"}));
        QCOMPARE(f.Form->SymbolEdit->text(), QString());
        QCOMPARE(f.entries(), QStringList({"Tech   [2]", "Energy   [1]", "Banks   [2]"}));
        QCOMPARE(f.selected(), QList<int>({0, 1, 2}));
        QCOMPARE(f.enabled(), QString("110000")); // the edit is empty again

        // Only blanks: nothing is sent, and the edit is emptied.
        f.server().Log.clear();
        f.Form->SymbolEdit->setText("   ");
        f.Form->DeleteSymbolButtonClick();
        QVERIFY(f.server().Log.isEmpty());
        QCOMPARE(f.Form->SymbolEdit->text(), QString());
    }

    void listActionsAskAndKeepTheSelection() {
        TFormFixture f;
        f.select({0, 2});
        zkPrompts::SetNextInput(QString());
        QTest::mouseClick(f.Form->CopyButton, Qt::LeftButton);
        QCOMPARE(zkPrompts::Shown().last().Caption, QString("Copy List(s) To New List"));
        QCOMPARE(zkPrompts::Shown().last().Text, QString("New List Name:"));
        QCOMPARE(f.entries().last(), QString("(unnamed list #4)   [3]"));
        QCOMPARE(f.selected(), QList<int>({0, 2}));

        f.select({1});
        zkPrompts::SetNextInput(QString("Tech")); // names need not be unique
        f.Form->RenameListButtonClick();
        QCOMPARE(zkPrompts::Shown().last().Caption, QString("Rename List"));
        QCOMPARE(f.entries().at(1), QString("Tech   [Empty]"));

        zkPrompts::SetNextInput(std::nullopt); // cancelled: nothing happens
        f.Form->CreateNewListButtonClick();
        QCOMPARE(f.entries().size(), 4);

        const int prompts = int(zkPrompts::Shown().size());
        f.server().Log.clear();
        f.select({0, 2});
        QTest::mouseClick(f.Form->DeleteButton, Qt::LeftButton);
        QCOMPARE(f.server().Log, QStringList({"1:RemoveList", "3:RemoveList"}));
        QCOMPARE(zkPrompts::Shown().size(), prompts); // no confirmation
        QCOMPARE(f.entries(), QStringList({"Tech   [Empty]", "(unnamed list #4)   [3]"}));
        QVERIFY(f.selected().isEmpty());
    }

    void refreshShowsWaitAndKeepsTheSelectionById() {
        TFormFixture f;
        f.select({0, 2});
        f.server().CompleteOnRequest = false;
        f.server().Lists.erase(f.server().Lists.begin() + 2); // Banks goes
        f.server().Lists.insert(f.server().Lists.begin(), {9, "New", {}, true, 0});
        QTest::mouseClick(f.Form->RefreshFromServerButton, Qt::LeftButton);
        QCOMPARE(f.entries(), QStringList{"Please wait..."});
        QCOMPARE(f.Form->RefreshFromServerButton->text(), QString("Cancel Refresh"));
        QVERIFY(!f.box()->isEnabled() && !f.Form->CreateNewListButton->isEnabled());
        QVERIFY(f.Form->RefreshFromServerButton->isEnabled());
        f.server().Complete = true;
        QTRY_COMPARE_WITH_TIMEOUT(f.entries().size(), 3, 2000);
        QCOMPARE(f.entries().first(), QString("New   [Empty]"));
        QCOMPARE(f.selected(), QList<int>{1}); // Tech, by id; Banks is gone
        QCOMPARE(f.Form->RefreshFromServerButton->text(), QString("Refresh from Server"));

        // Cancelled with the button: the previous lists come back, none selected.
        QTest::mouseClick(f.Form->RefreshFromServerButton, Qt::LeftButton);
        QTest::mouseClick(f.Form->RefreshFromServerButton, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.entries().size(), 3, 2000);
        QVERIFY(f.selected().isEmpty());
        QVERIFY(f.box()->isEnabled());
    }

    void failedRefreshReturnsToTheLastLists() {
        TFormFixture f;
        f.server().FailOnce = {"RestartEnumeration"};
        QTest::mouseClick(f.Form->RefreshFromServerButton, Qt::LeftButton);
        QCOMPARE(f.lastMessage(), QString("Fake failure of RestartEnumeration"));
        QCOMPARE(f.entries().size(), 3);
        QVERIFY(f.box()->isEnabled());
        QCOMPARE(f.Form->RefreshFromServerButton->text(), QString("Refresh from Server"));
    }

    void editorNormalisesOnOk() {
        TFormFixture f;
        f.select({0});
        f.Editor->OpenForList(*f.Form->SelectedList(), f.Form.get());
        QCOMPARE(f.Editor->MemoLines(), QStringList({"AAPL", "MSFT"}));
        f.Editor->SymbolsMemo->setPlainText(" ibm \nIBM\n\naapl\nIBM MSFT");
        QTest::mouseClick(f.Editor->OKButton, Qt::LeftButton);
        QCOMPARE(f.server().Log, QStringList({"1:BeginReplace", "1:AddToReplacement(AAPL)",
                                              "1:AddToReplacement(IBM)",
                                              "1:AddToReplacement(IBM MSFT)", "1:FinishReplace"}));
        QCOMPARE(f.entries().first(), QString("Tech   [3]"));

        f.server().Log.clear();
        f.select({0});
        // It opens over the symbol lists window, inside the screen.
        f.Form->show();
        f.Form->move(200, 150);
        f.Editor->OpenForList(*f.Form->SelectedList(), f.Form.get());
        QCOMPARE(f.Editor->geometry().center().x() / 10, f.Form->geometry().center().x() / 10);
        f.Form->move(0, 0);
        f.Editor->OpenForList(*f.Form->SelectedList(), f.Form.get());
        QVERIFY(f.Form->screen()->availableGeometry().contains(f.Editor->frameGeometry()));
        f.Editor->SymbolsMemo->setPlainText("X");
        f.Editor->CancelButtonClick();
        QVERIFY(f.server().Log.isEmpty());
        f.Editor->SymbolsMemo->clear();
        f.Editor->OKButtonClick(); // empties the list
        QCOMPARE(f.entries().first(), QString("Tech   [Empty]"));
    }

    void editorFiles() {
        TFormFixture f;
        f.select({0});
        f.Editor->OpenForList(*f.Form->SelectedList(), f.Form.get());
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/Tech.txt");
        f.Editor->SaveToFileButtonClick();
        const zkPrompts::TPromptRecord save = zkPrompts::Shown().last();
        QCOMPARE(save.File.FileName, QString("Tech"));
        QCOMPARE(save.File.InitialDir, SavedWindowsDir());
        QCOMPARE(save.File.DefaultExt, QString("txt"));
        QCOMPARE(save.File.Filter, QString("Text files (*.txt)|*.txt|All files (*)|*"));
        QVERIFY(save.File.OverwritePrompt);
        QCOMPARE(ReadWholeFile(SavedWindowsDir() + "/Tech.txt"), QByteArray("AAPL\r\nMSFT\r\n"));
        QCOMPARE(f.Editor->LastFileName, SavedWindowsDir() + "/Tech.txt");

        // Insert: sorted, case duplicates once, caret where the old text ended.
        WriteTextFile(SavedWindowsDir() + "/ins.txt", "b\nA\na\n");
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/ins.txt");
        f.Editor->InsertFromFileButtonClick();
        QCOMPARE(f.Editor->MemoLines(), QStringList({"AAPL", "MSFT", "A", "b"}));
        QCOMPARE(f.Editor->SymbolsMemo->textCursor().position(), 9);
        QVERIFY(!f.Editor->SymbolsMemo->textCursor().hasSelection());

        // Load: LF and CR LF files read alike.
        WriteTextFile(SavedWindowsDir() + "/lf.txt", "x\ny\n");
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/lf.txt");
        f.Editor->LoadFromFileButtonClick();
        QCOMPARE(f.Editor->MemoLines(), QStringList({"x", "y"}));

        // A huge file goes in whole, with the application painting in between.
        QStringList many;
        for (int i = 0; i < 120001; ++i)
            many << QString("S%1").arg(i);
        WriteTextFile(SavedWindowsDir() + "/many.txt", many.join("\r\n").toLatin1());
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/many.txt");
        bool ranDuringTheLoad = false;
        QTimer::singleShot(0, [&] { ranDuringTheLoad = true; });
        const bool undo = f.Editor->SymbolsMemo->document()->isUndoRedoEnabled();
        f.Editor->LoadFromFileButtonClick();
        QTRY_VERIFY(!f.Editor->Busy());
        QVERIFY(ranDuringTheLoad);
        QCOMPARE(f.Editor->MemoLines(), many);
        QCOMPARE(f.Editor->SymbolsMemo->textCursor().position(), 0);
        QCOMPARE(f.Editor->SymbolsMemo->document()->isUndoRedoEnabled(), undo);
        QVERIFY(!QApplication::overrideCursor());
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/lf.txt");
        f.Editor->LoadFromFileButtonClick();

        // A file that cannot be read: reported; memo and name stay.
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/missing.txt");
        QTest::mouseClick(f.Editor->LoadFromFileButton, Qt::LeftButton);
        QVERIFY(f.lastMessage().startsWith("Cannot open file \"" + SavedWindowsDir() +
                                           "/missing.txt\". "));
        QCOMPARE(f.Editor->MemoLines(), QStringList({"x", "y"}));
        QCOMPARE(f.Editor->LastFileName, SavedWindowsDir() + "/lf.txt");
    }

    // After a login the window offers none of the previous account's lists: not when the
    // login cuts a refresh short, not when the new account's lists cannot be read, and not
    // through an editor or a question open at the time.
    void loginNeverOffersThePreviousAccountsLists() {
        const std::vector<TFakeServerList> demo = {{1, "Banks", {"JPM"}, true, 0},
                                                   {7, "Watch", {}, true, 0}};
        {
            TFormFixture f; // alice's lists on screen
            QStringList shown;
            connect(f.box()->model(), &QAbstractItemModel::rowsInserted, f.box(),
                    [&](const QModelIndex&, int first, int last) {
                        for (int i = first; i <= last; ++i)
                            shown << f.box()->item(i)->text();
                    });
            f.server().CompleteOnRequest = false;
            QTest::mouseClick(f.Form->RefreshFromServerButton, Qt::LeftButton);
            f.server().Lists = demo; // the login
            f.Form->AccountChanged();
            QTRY_COMPARE_WITH_TIMEOUT(f.server().Log.count("RequestLists"), 2, 3000);
            QCOMPARE(f.entries(), QStringList{"Please wait..."});
            f.server().Complete = true;
            QTRY_COMPARE_WITH_TIMEOUT(f.entries(), QStringList({"Banks   [1]", "Watch   [Empty]"}),
                                      3000);
            QCOMPARE(shown.filter("Tech"), QStringList());
            QCOMPARE(shown.filter("Energy"), QStringList());
            f.select({0});
            f.Form->SymbolEdit->setText("c");
            f.Form->AddButtonClick();
            QCOMPARE(f.server().Lists[0].Symbols, QStringList({"JPM", "C"}));
        }
        {
            TFormFixture f;
            f.server().Lists = demo;
            f.server().FailOnce = {"RequestLists"};
            f.Form->AccountChanged();
            QCOMPARE(f.lastMessage(), QString("Fake failure of RequestLists"));
            QCOMPARE(f.entries(), QStringList());
            zkPrompts::SetNextInput(QString("New"));
            f.Form->CreateNewListButtonClick(); // a later change brings none of them back
            QCOMPARE(f.entries(), QStringList({"New   [Empty]"}));
        }
        {
            TFormFixture f;
            f.select({0});
            bool closed = false;
            f.edit([&] {
                f.Editor->SymbolsMemo->setPlainText("NEW");
                f.server().Lists = demo;
                f.Form->AccountChanged();
                closed = !f.Editor->isVisible();
            });
            QVERIFY(closed);
            QVERIFY(!f.server().Log.contains("1:BeginReplace"));
            QCOMPARE(f.entries(), QStringList({"Banks   [1]", "Watch   [Empty]"}));
        }
        {
            TFormFixture f;
            f.Form->show();
            zkPrompts::SetScripted(false);
            f.select({1});
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                f.server().Lists = demo;
                f.Form->AccountChanged(); // from a web link, while the question is open
                dialog->setTextValue("Renamed");
                dialog->accept();
            });
            QTest::mouseClick(f.Form->RenameListButton, Qt::LeftButton);
            QCOMPARE(f.server().Log.filter("SetListName"), QStringList());
            QCOMPARE(f.entries(), QStringList({"Banks   [1]", "Watch   [Empty]"}));
        }
    }

    // The editor belongs to the symbol lists window while it is open, whatever its parent, so
    // that closing it (OK, Cancel or Escape) returns to that window.
    void closingTheEditorReturnsToTheListsWindow() {
        QWidget main;
        main.setWindowTitle("main");
        TFormFixture f(true, &main);
        main.show();
        f.Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
        for (const char* close : {"ok", "cancel", "escape"}) {
            f.Form->activateWindow();
            QTRY_VERIFY(f.Form->isActiveWindow());
            f.select({0});
            QWindow* owner = nullptr;
            f.edit([&] {
                owner = f.Editor->windowHandle()->transientParent();
                if (close == std::string("ok"))
                    QTest::mouseClick(f.Editor->OKButton, Qt::LeftButton);
                else if (close == std::string("cancel"))
                    QTest::mouseClick(f.Editor->CancelButton, Qt::LeftButton);
                else
                    QTest::keyClick(f.Editor->SymbolsMemo, Qt::Key_Escape);
            });
            QVERIFY2(owner == f.Form->windowHandle(), close);
            QTRY_VERIFY2(f.Form->isActiveWindow(), close);
        }
    }

    // The input dialogs are wide enough for their captions in a title bar.
    void inputDialogsShowTheirCaptions() {
        TFormFixture f;
        f.Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
        zkPrompts::SetScripted(false);
        QFont bold = QApplication::font();
        bold.setBold(true);
        struct TCase {
            QPushButton* Button;
            QString Caption;
        };
        f.select({0});
        for (const TCase& c : {TCase{f.Form->CreateNewListButton, "Create New List"},
                               TCase{f.Form->RenameListButton, "Rename List"},
                               TCase{f.Form->CopyButton, "Copy List(s) To New List"}}) {
            QString title;
            int width = 0;
            QTimer::singleShot(0, [&] {
                if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
                    title = dialog->windowTitle();
                    width = dialog->width();
                    dialog->reject();
                }
            });
            QTest::mouseClick(c.Button, Qt::LeftButton);
            QCOMPARE(title, c.Caption);
            // The caption, the window's icon and three title bar buttons.
            QVERIFY2(width >= QFontMetrics(bold).horizontalAdvance(c.Caption) + 100,
                     qPrintable(QString("%1: %2").arg(c.Caption).arg(width)));
            QVERIFY(width >= 300);
        }
        QVERIFY(f.server().Log.isEmpty()); // each was cancelled
    }

    // In a large desktop font the buttons of each window shrink together, and every caption
    // fits.
    void buttonsShareOneFont() {
        const QFont old = QApplication::font();
        QFont large = old;
        large.setPointSizeF(13);
        QApplication::setFont(large);
        {
            TFormFixture f;
            auto check = [](QWidget* window, const char* what) {
                const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
                QVERIFY(buttons.size() >= 5);
                for (QPushButton* b : buttons) {
                    QCOMPARE(b->font().pointSizeF(), buttons.first()->font().pointSizeF());
                    QVERIFY2(QFontMetrics(b->font()).size(Qt::TextShowMnemonic, b->text()).width() <
                                 b->width(),
                             qPrintable(QString("%1: %2").arg(what, b->text())));
                }
                QVERIFY(buttons.first()->font().pointSizeF() < 13);
            };
            // The buttons are fitted when their window first shows, not before.
            f.Form->show();
            f.Editor->show();
            check(f.Form.get(), "lists");
            check(f.Editor.get(), "editor");
            f.Editor->hide();
        }
        QApplication::setFont(old);
    }

    // The editor cannot be made so small that its buttons fall out; Escape closes it without
    // sending anything, and Enter is the memo's (a new line), not OK.
    void editorMinimumSizeAndKeys() {
        TFormFixture f;
        f.select({0});
        f.edit([&] {
            f.Editor->resize(200, 100);
            QCoreApplication::processEvents();
            for (QPushButton* b : f.Editor->findChildren<QPushButton*>())
                QVERIFY2(f.Editor->rect().contains(b->geometry()), qPrintable(b->text()));
            QVERIFY(f.Editor->SymbolsMemo->height() >= 100);
            f.Editor->resize(508, 288);

            QTest::keyClicks(f.Editor->SymbolsMemo, "ibm");
            QTest::keyClick(f.Editor->SymbolsMemo, Qt::Key_Return);
            QVERIFY(f.Editor->isVisible());
            QCOMPARE(f.Editor->MemoLines().size(), 3);
            QTest::keyClick(f.Editor->SymbolsMemo, Qt::Key_Escape);
        });
        QVERIFY(!f.Editor->isVisible());
        QCOMPARE(f.Editor->result(), int(QDialog::Rejected));
        QVERIFY(f.server().Log.isEmpty());
        QCOMPARE(f.entries().first(), QString("Tech   [2]"));
        f.edit([&] {
            QCOMPARE(f.Editor->MemoLines(), QStringList({"AAPL", "MSFT"}));
            f.Editor->reject();
        });
    }

    // Only real line breaks end a line: what lies inside one reaches the file and the list as
    // it was read.
    void editorKeepsEveryCharacterOfALine() {
        TFormFixture f;
        f.select({0});
        f.Editor->OpenForList(*f.Form->SelectedList(), f.Form.get());
        const QString lines[] = {QString("ABC") + QChar(0x2028) + "DEF",
                                 QString("X") + QChar(0x00A0) + "Y" + QChar(0x00A0),
                                 QString("P") + QChar(0x2029) + "Q",
                                 QString("R") + QChar(0xFDD0) + "S" + QChar(0xFFFD)};
        QByteArray bytes;
        for (const QString& line : lines)
            bytes += line.toUtf8() + "\r\n";
        WriteTextFile(SavedWindowsDir() + "/odd.txt", bytes);
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/odd.txt");
        f.Editor->LoadFromFileButtonClick();
        QCOMPARE(f.Editor->MemoLines(), QStringList(std::begin(lines), std::end(lines)));
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/copy.txt");
        f.Editor->SaveToFileButtonClick();
        QCOMPARE(ReadWholeFile(SavedWindowsDir() + "/copy.txt"), bytes);

        // Typing next to a character kept for the memo changes nothing of it.
        QTextCursor end(f.Editor->SymbolsMemo->document());
        end.movePosition(QTextCursor::End);
        f.Editor->SymbolsMemo->setTextCursor(end);
        QTest::keyClicks(f.Editor->SymbolsMemo, "t");
        QCOMPARE(f.Editor->MemoLines().last(), lines[3] + "t");

        // Inserted lines keep theirs too.
        WriteTextFile(SavedWindowsDir() + "/ins.txt", (QString("Z") + QChar(0x2029)).toUtf8());
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/ins.txt");
        f.Editor->InsertFromFileButtonClick();
        QCOMPARE(f.Editor->MemoLines().last(), QString("Z") + QChar(0x2029));

        f.Editor->OKButtonClick();
        QCOMPARE(f.server().Log,
                 QStringList(
                     {"1:BeginReplace", "1:AddToReplacement(ABC" + QString(QChar(0x2028)) + "DEF)",
                      "1:AddToReplacement(P" + QString(QChar(0x2029)) + "Q)",
                      "1:AddToReplacement(R" + QString(QChar(0xFDD0)) + "S" +
                          QString(QChar(0xFFFD)) + "T)",
                      "1:AddToReplacement(X" + QString(QChar(0x00A0)) + "Y" +
                          QString(QChar(0x00A0)) + ")",
                      "1:AddToReplacement(Z" + QString(QChar(0x2029)) + ")", "1:FinishReplace"}));
    }

    // A Ctrl+double-click edits the entry clicked, never another selected one; with two
    // entries left selected it edits none.
    void doubleClickEditsTheEntryClicked() {
        TFormFixture f;
        f.Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
        QWidget* view = f.box()->viewport();
        int32_t edited = -1;
        auto dclick = [&](int row, Qt::KeyboardModifiers modifiers) {
            edited = -1;
            QTimer::singleShot(0, f.Editor.get(), [&] {
                if (f.Editor->isVisible()) {
                    edited = f.Editor->EditedListId;
                    f.Editor->reject();
                }
            });
            // Through the window, as the window system delivers it: press, release, and a second
            // press that becomes the double click.
            QTest::mouseDClick(f.Form->windowHandle(), Qt::LeftButton, modifiers,
                               view->mapTo(f.Form.get(), f.rowCentre(row)));
            QCoreApplication::processEvents();
        };
        f.select({0, 2});
        dclick(2, Qt::ControlModifier); // Banks leaves the selection; Tech stays selected
        QCOMPARE(edited, 3);
        QCOMPARE(f.selected(), QList<int>{2});

        f.select({0});
        dclick(1, Qt::ControlModifier); // Energy joins the selection: two selected, no editor
        QCOMPARE(edited, -1);
        QCOMPARE(f.selected(), QList<int>({0, 1}));

        dclick(1, Qt::NoModifier); // the plain double click, as ever
        QCOMPARE(edited, 2);
        QCOMPARE(f.selected(), QList<int>{1});
    }

    // A write the server refuses shows nowhere as saved, not even after the next change, and
    // the lists are read again: the window shows what the server holds.
    void failedWriteShowsWhatTheServerHolds() {
        TFormFixture f;
        f.select({0});
        f.server().FailOnce = {"InsertSymbol"};
        f.Form->SymbolEdit->setText("n");
        QTest::mouseClick(f.Form->AddButton, Qt::LeftButton);
        QCOMPARE(f.lastMessage(), QString("Fake failure of InsertSymbol"));
        f.select({2});
        f.Form->SymbolEdit->setText("q");
        f.Form->AddButtonClick(); // succeeds
        QCOMPARE(f.entries(), QStringList({"Tech   [2]", "Energy   [Empty]", "Banks   [2]"}));
        QTRY_VERIFY(f.server().Log.contains("RequestLists"));
        QCOMPARE(f.entries(), QStringList({"Tech   [2]", "Energy   [Empty]", "Banks   [2]"}));
        QCOMPARE(f.selected(), QList<int>{2});

        // Half done on the server (named, then the symbols refused): shown as the server has it.
        f.server().Log.clear();
        f.select({0});
        f.server().FailOnce = {"FinishReplace"};
        zkPrompts::SetNextInput(QString("Half"));
        QTest::mouseClick(f.Form->CopyButton, Qt::LeftButton);
        QCOMPARE(f.entries().size(), 3);
        QTRY_VERIFY(f.server().Log.contains("RequestLists"));
        QCOMPARE(f.entries().last(), QString("Half   [Empty]"));
    }

    // The first refresh, cancelled while its lists load: the lists loaded are shown.
    void cancelWhileTheFirstListsLoad() {
        TFormFixture f(false);
        f.server().Lists[0].FetchPolls = 4;
        QTimer::singleShot(0, f.Form.get(), [&] {
            QCOMPARE(f.Form->RefreshFromServerButton->text(), QString("Cancel Refresh"));
            QTest::mouseClick(f.Form->RefreshFromServerButton, Qt::LeftButton);
        });
        QTest::mouseClick(f.Form->RefreshFromServerButton, Qt::LeftButton);
        QVERIFY(f.server().Log.contains("3:FetchSymbols")); // the load went on to the end
        QCOMPARE(f.entries(), QStringList({"Tech   [2]", "Energy   [Empty]", "Banks   [1]"}));
        QCOMPARE(f.Form->RefreshFromServerButton->text(), QString("Refresh from Server"));
        QVERIFY(f.box()->isEnabled());
    }

    // Keys released anywhere in the lists window reach the ring; the editor knows F1 only.
    void keysReachTheRing() {
        TFormFixture f;
        QStringList seen;
        SetWindowRingHooks({[&] { seen << "join"; },
                            [&](int key, Qt::KeyboardModifiers shift) {
                                if (key != Qt::Key_Control) // its own release follows each key
                                    seen << QString("key %1").arg(
                                        QKeySequence(key | shift).toString());
                                return key == Qt::Key_N || key == Qt::Key_P;
                            },
                            [&] { seen << "help"; }});
        QTest::keyRelease(f.Form->SymbolEdit, Qt::Key_N, Qt::ControlModifier);
        QTest::keyRelease(f.box(), Qt::Key_P, Qt::ControlModifier);
        QTest::keyRelease(f.Editor->SymbolsMemo, Qt::Key_N, Qt::ControlModifier);
        QTest::keyRelease(f.Editor->SymbolsMemo, Qt::Key_F1);
        SetWindowRingHooks({});
        QCOMPARE(seen, QStringList({"key Ctrl+N", "key Ctrl+P", "help"}));
    }

    // The menu command brings a window that is already open forward.
    void menuBringsTheWindowForward() {
        TTestHome home;
        QTemporaryDir install;
        const QString oldDir = QDir::currentPath();
        QDir::setCurrent(install.path());
        TUserStore::ResetInstance();
        zkPrompts::SetScripted(true);
        auto factory = std::make_shared<TFakeComponentFactory>();
        TScopedComponentFactory scope(factory);
        {
            TZentrikProMainForm main;
            main.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main));
            main.SymbolListsMenuItem->trigger();
            TSymbolListsForm* lists = main.SymbolListsForm;
            QVERIFY(lists->isVisible());
            main.activateWindow();
            QTRY_VERIFY(main.isActiveWindow());
            main.SymbolListsMenuItem->trigger();
            QTRY_VERIFY(lists->isActiveWindow());
        }
        QDir::setCurrent(oldDir);
        TUserStore::ResetInstance();
    }
};

QTEST_MAIN(TSymbolListsFormTest)
#include "tst_symbol_lists_form.moc"
