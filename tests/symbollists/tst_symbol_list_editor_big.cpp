// The symbol list editor on lists and files too big to handle at once: the work goes to a
// worker thread and the memo is filled in slices. Results must be those of the small path.
#include "config/zkLayoutSettings.h"
#include "platform/zkPrompts.h"
#include "symbollists/zkSymbolListEditorForm.h"
#include "symbollists/zkSymbolListModel.h"
#include "symbollists/zkSymbolListsDispatcher.h"
#include "symbollists/zkSymbolListsForm.h"
#include "zkFakeComponents.h"
#include "zkTestSupport.h"

#include <QClipboard>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThreadPool>
#include <QtTest>

namespace {

// More lines than the editor takes at once.
constexpr int Many = 30000;

struct TFixture {
    QTemporaryDir Dir;
    QString OldDir = QDir::currentPath();
    TFakeConnectionControl Connection;
    std::unique_ptr<TSymbolListsForm> Form;
    std::unique_ptr<TSymbolListEditorForm> Editor;

    TFixture() {
        QDir::setCurrent(Dir.path());
        Connection.Server->Lists = {{1, "Tech", {"AAPL", "MSFT"}, true, 0}};
        zkPrompts::SetScripted(true);
        zkPrompts::ClearScript();
        StartSymbolListDispatcher(&Connection);
        Form = std::make_unique<TSymbolListsForm>(nullptr);
        Editor = std::make_unique<TSymbolListEditorForm>(nullptr);
        Form->RefreshFromServerButtonClick();
        Form->SymbolListsListBox->item(0)->setSelected(true);
        Editor->OpenForList(*Form->SelectedList(), Form.get());
        server().Log.clear();
    }
    ~TFixture() {
        StopSymbolListDispatcher();
        QDir::setCurrent(OldDir);
    }
    TFakeListServer& server() { return *Connection.Server; }
    // What the server was sent in its last replacement.
    QStringList sent() const {
        QStringList symbols;
        for (const QString& entry : Connection.Server->Log)
            if (entry.startsWith("1:AddToReplacement("))
                symbols << entry.mid(19, entry.size() - 20);
        return symbols;
    }
    bool waitIdle() {
        return QTest::qWaitFor([this] { return !Editor || !Editor->Busy(); }, 60000);
    }
    QString file(const QString& name, const QStringList& lines) {
        const QString path = SavedWindowsDir() + "/" + name;
        QDir().mkpath(SavedWindowsDir());
        WriteTextFile(path, (lines.join("\r\n") + "\r\n").toUtf8());
        return path;
    }
};

// Lines as users type and files bring them: blanks around, lower case, repeats, empty lines,
// and characters the memo cannot keep as they are.
QStringList MixedLines(int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        switch (i % 6) {
        case 0:
            lines << QString(" s%1x ").arg(i);
            break;
        case 1:
            lines << QString("S%1X").arg(i - 1);
            break; // the one before, other case
        case 2:
            lines << QString();
            break;
        case 3:
            lines << QString("B%1").arg(count - i);
            break;
        case 4:
            lines << QString("P%1").arg(i) + QChar(0x2029) + "Q";
            break;
        default:
            lines << QString("\tz%1 W").arg(i % 97);
            break;
        }
    }
    return lines;
}

} // namespace

class TSymbolListEditorBigTest : public QObject {
    Q_OBJECT
private slots:
    // What OK sends, and what the memo then holds, are what the small path makes of the lines.
    void okSendsTheNormalisedLines() {
        TFixture f;
        const QStringList lines = MixedLines(Many);
        f.Editor->SetMemoLines(lines);
        QCOMPARE(f.Editor->MemoLines(), lines); // while it fills, too
        QVERIFY(f.waitIdle());
        QCOMPARE(f.Editor->MemoLines(), lines);
        QVERIFY(!f.Editor->SymbolsMemo->isReadOnly());
        // The editor lets go of its copy on a worker thread: the lines given stay as they were.
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(lines, MixedLines(Many));

        const QStringList expected = NormalizeSymbolLines(lines);
        QVERIFY(expected.size() > 10000);
        f.Editor->show();
        f.Editor->OKButtonClick();
        QVERIFY(f.Editor->isVisible()); // until the work is done
        QVERIFY(f.waitIdle());
        QVERIFY(!f.Editor->isVisible());
        QCOMPARE(f.Editor->result(), int(QDialog::Accepted));
        QCOMPARE(f.sent(), expected);
        QCOMPARE(f.server().Log.last(), QString("1:FinishReplace"));
        QCOMPARE(f.Editor->MemoLines(), expected);
        QCOMPARE(f.Form->SymbolListsListBox->item(0)->text(),
                 QString("Tech   [%1]").arg(expected.size()));

        // Typed into the memo rather than set: the same.
        f.Form->SymbolListsListBox->item(0)->setSelected(true);
        f.Editor->OpenForList(*f.Form->SelectedList(), f.Form.get());
        QVERIFY(f.waitIdle());
        const QString text = lines.join('\n') + '\n';
        f.Editor->SymbolsMemo->setPlainText(text);
        f.server().Log.clear();
        f.Editor->OKButtonClick();
        // From the click on, while its lines are read and tidied, the memo takes no edits.
        QVERIFY(f.Editor->Busy());
        QVERIFY(f.Editor->SymbolsMemo->isReadOnly());
        QVERIFY(f.waitIdle());
        // The memo breaks lines at U+2029 as well.
        QCOMPARE(f.sent(), NormalizeSymbolLines(text.split(QRegularExpression("[\n\u2029]"))));
    }

    // A server that refuses the list: the editor stays open with the tidied lines.
    void failedSendKeepsTheEditorOpen() {
        TFixture f;
        const QStringList lines = MixedLines(Many);
        f.Editor->SetMemoLines(lines);
        QVERIFY(f.waitIdle());
        f.server().FailOnce = {"FinishReplace"};
        f.Editor->show();
        f.Editor->OKButtonClick();
        QVERIFY(f.waitIdle());
        QVERIFY(f.Editor->isVisible());
        QCOMPARE(zkPrompts::Shown().last().Text, QString("Fake failure of FinishReplace"));
        QCOMPARE(f.Editor->MemoLines(), NormalizeSymbolLines(lines));
        QVERIFY(!f.Editor->SymbolsMemo->isReadOnly());
        QCOMPARE(f.Form->SymbolListsListBox->item(0)->text(), QString("Tech   [2]"));
        f.Editor->reject();
    }

    void normaliseReplacesTheMemo() {
        TFixture f;
        const QStringList lines = MixedLines(Many);
        f.Editor->SetMemoLines(lines);
        QVERIFY(f.waitIdle());
        f.Editor->NormalizeSymbols();
        QVERIFY(f.waitIdle());
        QCOMPARE(f.Editor->MemoLines(), NormalizeSymbolLines(lines));
        QCOMPARE(f.Editor->SymbolsMemo->textCursor().position(), 0);
        QVERIFY(f.Editor->SymbolsMemo->document()->isUndoRedoEnabled());
        QVERIFY(f.server().Log.isEmpty());
    }

    // Closing, a new opening or the editor's end while a file is read or the memo filled:
    // nothing of it is applied afterwards, and nothing crashes.
    void abandonedWorkIsDropped() {
        TFixture f;
        QStringList big;
        for (int i = 0; i < 3 * Many; ++i)
            big << QString("L%1").arg(i);
        const QString path = f.file("big.txt", big);

        f.Editor->show();
        zkPrompts::SetNextFileName(path);
        f.Editor->LoadFromFileButtonClick();
        QVERIFY(f.Editor->Busy());
        f.Editor->CancelButtonClick();
        QVERIFY(!f.Editor->Busy());
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QCOMPARE(f.Editor->MemoLines(), QStringList({"AAPL", "MSFT"}));
        QCOMPARE(f.Editor->LastFileName, QString("Tech"));
        QVERIFY(!f.Editor->SymbolsMemo->isReadOnly());
        QVERIFY(f.server().Log.isEmpty());

        // Cancelled while filling: the next opening shows the list alone.
        f.Editor->show();
        zkPrompts::SetNextFileName(path);
        f.Editor->LoadFromFileButtonClick();
        QVERIFY(QTest::qWaitFor(
            [&] { return f.Editor->SymbolsMemo->isReadOnly() && f.Editor->MemoLines() == big; }));
        f.Editor->reject();
        f.Editor->OpenForList(*f.Form->SelectedList(), f.Form.get());
        QVERIFY(f.waitIdle());
        QTest::qWait(50);
        QCOMPARE(f.Editor->MemoLines(), QStringList({"AAPL", "MSFT"}));
        QVERIFY(!f.Editor->SymbolsMemo->isReadOnly());

        // OK cancelled before its result came: nothing is sent.
        f.Editor->SetMemoLines(big);
        QVERIFY(f.waitIdle());
        f.Editor->show();
        f.Editor->OKButtonClick();
        f.Editor->CancelButtonClick();
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QVERIFY(f.server().Log.isEmpty());
        QCOMPARE(f.Editor->result(), int(QDialog::Rejected));

        // Saved while filling: the whole text reaches the file.
        f.Editor->SetMemoLines(big);
        QVERIFY(f.Editor->Busy());
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/copy.txt");
        f.Editor->SaveToFileButtonClick();
        QCOMPARE(ReadWholeFile(SavedWindowsDir() + "/copy.txt"),
                 (big.join("\r\n") + "\r\n").toUtf8());

        // The editor destroyed while a file is read.
        zkPrompts::SetNextFileName(path);
        f.Editor->LoadFromFileButtonClick();
        f.Editor.reset();
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
    }

    // A big text replaced by another: the old one is taken out in slices ahead of the new one,
    // and nothing of it stays behind, not even an empty line; stopped half-way, the memo's
    // lines are still the new ones.
    void bigTextReplacedByAnother() {
        TFixture f;
        auto lines = [](const char* prefix, int count) {
            QStringList result;
            for (int i = 0; i < count; ++i)
                result << QString("%1%2").arg(prefix).arg(i);
            return result;
        };
        const QStringList first = lines("A", 3 * Many), second = lines("B", Many);
        f.Editor->SetMemoLines(first);
        QVERIFY(f.waitIdle());
        f.Editor->SetMemoLines(second);
        QCOMPARE(f.Editor->MemoLines(), second);
        QVERIFY(f.waitIdle());
        const QTextDocument* document = f.Editor->SymbolsMemo->document();
        QCOMPARE(document->blockCount(), int(second.size()));
        QCOMPARE(document->toPlainText(), second.join('\n'));

        f.Editor->SetMemoLines(first);
        QVERIFY(f.waitIdle());
        f.Editor->SetMemoLines(second);
        QCoreApplication::processEvents(); // a slice or two
        f.Editor->CancelButtonClick();
        QCOMPARE(f.Editor->MemoLines(), second);
    }

    // A line too long for the memo to lay out at once (it does so at every change and before
    // showing it) goes in as pieces, each a line of the memo; the editor's lines, files and
    // the list still have it whole, and a line break typed or pasted inside it breaks it there.
    void longLineGoesInPieces() {
        TFixture f;
        QTextDocument* document = f.Editor->SymbolsMemo->document();
        auto longestBlock = [document] {
            int longest = 0;
            for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
                longest = qMax(longest, b.length() - 1);
            return longest;
        };
        // A character the memo keeps as a stand-in, one at a piece's edge, and one of two code
        // units across the next edge.
        QString line = QString(10000, 'x') + QChar(0x2029) + QString(8000, 'y');
        line[4096] = QChar(0xFDD0);
        line[3 * 4096 - 1] = QChar::highSurrogate(0x1F600);
        line[3 * 4096] = QChar::lowSurrogate(0x1F600);
        const QStringList lines = {"A", line, "", "B"};
        f.Editor->SetMemoLines(lines);
        QCOMPARE(f.Editor->MemoLines(), lines);
        QVERIFY(f.waitIdle());
        QCOMPARE(f.Editor->MemoLines(), lines);
        QVERIFY(longestBlock() <= 4096);
        QCOMPARE(document->blockCount(), 3 + 5);
        for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
            QVERIFY(!b.text().endsWith(QChar::highSurrogate(0x1F600)));
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/long.txt");
        f.Editor->SaveToFileButtonClick();
        QCOMPARE(ReadWholeFile(SavedWindowsDir() + "/long.txt"),
                 (lines.join("\r\n") + "\r\n").toUtf8());

        // A file of one line of a megabyte, no line break.
        const QByteArray mega(1 << 20, 'm');
        WriteTextFile(SavedWindowsDir() + "/mega.txt", mega);
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/mega.txt");
        f.Editor->LoadFromFileButtonClick();
        QVERIFY(f.waitIdle());
        QCOMPARE(f.Editor->MemoLines(), QStringList{QString::fromLatin1(mega)});
        QVERIFY(longestBlock() <= 4096);
        f.Editor->SetMemoLines(lines);
        QVERIFY(f.waitIdle());

        // Enter inside the second piece, and at the very end of the first: the line breaks
        // there; undone, it is whole again.
        QPlainTextEdit* memo = f.Editor->SymbolsMemo;
        auto typeAt = [memo](int position, auto&& keys) {
            QTextCursor cursor(memo->document());
            cursor.setPosition(position);
            memo->setTextCursor(cursor);
            keys();
        };
        const int second = document->findBlockByNumber(2).position();
        typeAt(second + 10, [memo] { QTest::keyClick(memo, Qt::Key_Return); });
        QCOMPARE(f.Editor->MemoLines(),
                 QStringList({"A", line.left(4096 + 10), line.mid(4096 + 10), "", "B"}));
        QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.Editor->MemoLines(), lines);
        typeAt(second - 1, [memo] { QTest::keyClick(memo, Qt::Key_Enter); });
        QCOMPARE(f.Editor->MemoLines(),
                 QStringList({"A", line.left(4096), line.mid(4096), "", "B"}));
        QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.Editor->MemoLines(), lines);
        // Backspace at a piece's start takes out only the memo's own break.
        typeAt(second, [memo] { QTest::keyClick(memo, Qt::Key_Backspace); });
        QCOMPARE(f.Editor->MemoLines(), lines);
        QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);

        // Copied across a piece's edge: the text as it is; pasted with a line break inside a
        // piece: the break is the line's.
        QTextCursor across(document);
        across.setPosition(second - 3);
        across.setPosition(second + 3, QTextCursor::KeepAnchor);
        memo->setTextCursor(across);
        memo->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), "xx" + QString(QChar(0xFFFD)) + "xx");
        QGuiApplication::clipboard()->setText("P\nQ");
        typeAt(second + 5, [memo] { memo->paste(); });
        QCOMPARE(f.Editor->MemoLines(),
                 QStringList({"A", line.left(4096 + 5) + "P", "Q" + line.mid(4096 + 5), "", "B"}));
        QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.Editor->MemoLines(), lines);

        // Insert From File after a long line, on the worker thread's path and the quick one:
        // the caret where the old text ended.
        QStringList file;
        for (int i = 0; i < Many; ++i)
            file << QString("F%1").arg(i);
        TSymbolSet set;
        set.Assign(file);
        for (const QStringList& inserted : {file, QStringList{"G", "E"}}) {
            f.Editor->SetMemoLines(lines.mid(0, 2));
            QVERIFY(f.waitIdle());
            const int end = document->characterCount() - 1;
            zkPrompts::SetNextFileName(f.file("ins.txt", inserted));
            f.Editor->InsertFromFileButtonClick();
            QVERIFY(f.waitIdle());
            set.Assign(inserted);
            QCOMPARE(f.Editor->MemoLines(), lines.mid(0, 2) + set.Strings());
            QCOMPARE(memo->textCursor().position(), end);
        }
    }

    // Insert From File of a big file: the old text first, then the file's lines sorted and
    // without repeats (letter case ignored), the caret where the old text ended.
    void insertGoesAfterTheOldText() {
        TFixture f;
        QStringList file;
        for (int i = Many; i > 0; --i)
            file << QString("i%1").arg(i) << QString("I%1").arg(i);
        file << ""
             << " pad ";
        const QString path = f.file("ins.txt", file);
        TSymbolSet set;
        set.Assign(file);

        for (const QString& old : {QString("AAPL\nMSFT"), QString("AAPL\nMSFT\n"), QString()}) {
            f.Editor->SymbolsMemo->setPlainText(old);
            const QStringList oldLines = f.Editor->MemoLines();
            zkPrompts::SetNextFileName(path);
            f.Editor->InsertFromFileButtonClick();
            QVERIFY(f.waitIdle());
            QCOMPARE(f.Editor->MemoLines(), oldLines + set.Strings());
            QCOMPARE(f.Editor->SymbolsMemo->textCursor().position(), int(old.size()));
            QVERIFY(!f.Editor->SymbolsMemo->textCursor().hasSelection());
            QCOMPARE(f.Editor->LastFileName, path);
        }

        // Into a memo still being filled: after all of its lines.
        QStringList big;
        for (int i = 0; i < Many; ++i)
            big << QString("M%1").arg(i);
        f.Editor->SetMemoLines(big);
        zkPrompts::SetNextFileName(path);
        f.Editor->InsertFromFileButtonClick();
        QVERIFY(f.waitIdle());
        QCOMPARE(f.Editor->MemoLines(), big + set.Strings());
        QCOMPARE(f.Editor->SymbolsMemo->textCursor().position(), int(big.join('\n').size()));

        // The same with empty lines and characters that stand in the memo for others: the
        // caret goes by the old lines' own length.
        const QStringList mixed = MixedLines(Many);
        f.Editor->SetMemoLines(mixed);
        QVERIFY(f.Editor->Busy());
        zkPrompts::SetNextFileName(path);
        f.Editor->InsertFromFileButtonClick();
        QVERIFY(f.waitIdle());
        QCOMPARE(f.Editor->MemoLines(), mixed + set.Strings());
        QCOMPARE(f.Editor->SymbolsMemo->textCursor().position(), int(mixed.join('\n').size()));

        // A file that cannot be read: reported, the memo as it was.
        const QStringList before = f.Editor->MemoLines();
        zkPrompts::SetNextFileName(SavedWindowsDir() + "/missing.txt");
        QTest::mouseClick(f.Editor->InsertFromFileButton, Qt::LeftButton);
        QVERIFY(f.waitIdle());
        QVERIFY(zkPrompts::Shown().last().Text.startsWith("Cannot open file \""));
        QCOMPARE(f.Editor->MemoLines(), before);
    }
};

QTEST_MAIN(TSymbolListEditorBigTest)
#include "tst_symbol_list_editor_big.moc"
