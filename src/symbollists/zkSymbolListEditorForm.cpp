#include "zkSymbolListEditorForm.h"

#include "config/zkLayoutSettings.h"
#include "platform/zkApplication.h"
#include "platform/zkButtonText.h"
#include "platform/zkPrompts.h"
#include "platform/zkWindowPlace.h"
#include "platform/zkWindowRing.h"
#include "zkSymbolListFile.h"
#include "zkSymbolListModel.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QWindow>

namespace {

constexpr int ClientWidth = 508;
constexpr int ClientHeight = 288;
constexpr int ButtonTop = 256;
constexpr int MemoHeight = 240;

QPointer<TSymbolListEditorForm> TheEditor;

// Lines the memo takes at once; a longer text goes in by parts of this size.
constexpr qsizetype FillPart = 50000;

// The memo's document ends a line at these wherever they are inserted, and hands U+2028 and
// U+00A0 back as a line break and a blank in its plain text. The memo's lines are read block
// by block instead, and a line that holds one of these shows a stand-in that carries the
// character it stands for, so a line keeps every character it was given.
constexpr QChar StandIn = QChar(0xFFFD);
constexpr int StandsForProperty = QTextFormat::UserProperty + 0x5a4b;

bool EndsBlock(QChar c) {
    return c == QChar::ParagraphSeparator || c == QChar(0xFDD0) || c == QChar(0xFDD1);
}

// The text of a line: its stand-ins back to the characters they stand for.
QString LineText(const QTextBlock& block) {
    QString text = block.text();
    if (!text.contains(StandIn))
        return text;
    text.clear();
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        QString part = fragment.text();
        const QVariant standsFor = fragment.charFormat().property(StandsForProperty);
        if (standsFor.isValid())
            part.replace(StandIn, QChar(char16_t(standsFor.toUInt())));
        text += part;
    }
    return text;
}

// Marks each stand-in put in at the positions with the character it stands for.
void MarkStandIns(QTextDocument* document, const QList<QPair<int, QChar>>& standIns) {
    if (standIns.isEmpty())
        return;
    // Not an edit the user could undo: that would leave a bare stand-in.
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document);
    for (const auto& [position, original] : standIns) {
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setProperty(StandsForProperty, uint(original.unicode()));
        cursor.mergeCharFormat(format);
    }
    document->setUndoRedoEnabled(undo);
}

// Replaces the memo's text without a redraw in between. A huge text (a file of a million lines
// takes seconds) goes in by parts, and between them the application paints and answers the
// window manager, so nothing looks hung; input waits until the text is in.
void ReplaceText(QPlainTextEdit* memo, QStringList lines) {
    // Document positions count one for each character and one for each line break.
    QList<QPair<int, QChar>> standIns;
    int position = 0;
    for (QString& line : lines) {
        for (qsizetype i = 0; i < line.size(); ++i)
            if (EndsBlock(line.at(i))) {
                standIns.append({position + int(i), line.at(i)});
                line[i] = StandIn;
            }
        position += int(line.size()) + 1;
    }
    if (lines.size() <= FillPart) {
        memo->setUpdatesEnabled(false);
        memo->setPlainText(lines.join(QLatin1Char('\n')));
        MarkStandIns(memo->document(), standIns);
        memo->setUpdatesEnabled(true);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QTextDocument* document = memo->document();
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    memo->clear();
    QTextCursor end(document);
    for (qsizetype at = 0; at < lines.size(); at += FillPart) {
        QString part = lines.mid(at, FillPart).join(QLatin1Char('\n'));
        if (at > 0)
            part.prepend(QLatin1Char('\n'));
        end.movePosition(QTextCursor::End);
        end.insertText(part);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    document->setUndoRedoEnabled(undo);
    MarkStandIns(document, standIns);
    memo->moveCursor(QTextCursor::Start); // where setPlainText leaves it
    QApplication::restoreOverrideCursor();
}

} // namespace

TSymbolListEditorForm* SymbolListEditorForm() {
    return TheEditor;
}

TSymbolListEditorForm::TSymbolListEditorForm(QWidget* parent) : QDialog(parent) {
    TheEditor = this;
    setObjectName(QStringLiteral("SymbolListEditorForm"));
    setWindowTitle(tr("Symbol List Editor"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(ClientWidth, ClientHeight);

    SymbolsMemo = new QPlainTextEdit(this);
    SymbolsMemo->setObjectName(QStringLiteral("SymbolsMemo"));
    SymbolsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    SymbolsMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SymbolsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SymbolsMemo->setTabChangesFocus(true);
    SymbolsMemo->setGeometry(9, 8, 489, MemoHeight);

    auto button = [this](QPushButton*& b, const QString& caption, const char* name, int left,
                         int width, void (TSymbolListEditorForm::*handler)()) {
        b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(left, ButtonTop, width, 25);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this,
                [this, handler] { ReportErrors([&] { (this->*handler)(); }); });
    };
    button(OKButton, tr("&OK"), "OKButton", 8, 75, &TSymbolListEditorForm::OKButtonClick);
    button(LoadFromFileButton, tr("&Load From File..."), "LoadFromFileButton", 88, 105,
           &TSymbolListEditorForm::LoadFromFileButtonClick);
    button(InsertFromFileButton, tr("&Insert From File..."), "InsertFromFileButton", 200, 105,
           &TSymbolListEditorForm::InsertFromFileButtonClick);
    button(SaveToFileButton, tr("&Save To File..."), "SaveToFileButton", 312, 105,
           &TSymbolListEditorForm::SaveToFileButtonClick);
    button(CancelButton, tr("&Cancel"), "CancelButton", 424, 75,
           &TSymbolListEditorForm::CancelButtonClick);

    // One font for the row of buttons.
    FitButtonGroupCaptions({{OKButton, {OKButton->text()}},
                            {LoadFromFileButton, {LoadFromFileButton->text()}},
                            {InsertFromFileButton, {InsertFromFileButton->text()}},
                            {SaveToFileButton, {SaveToFileButton->text()}},
                            {CancelButton, {CancelButton->text()}}});
    // Every button stays in the window (they keep their places from the left edge) and the
    // memo keeps half its height, as the symbol lists window keeps half its list box.
    setMinimumSize(ClientWidth, ClientHeight - MemoHeight / 2);

    setTabOrder(SymbolsMemo, OKButton);
    setTabOrder(OKButton, LoadFromFileButton);
    setTabOrder(LoadFromFileButton, InsertFromFileButton);
    setTabOrder(InsertFromFileButton, SaveToFileButton);
    setTabOrder(SaveToFileButton, CancelButton);

    // Key preview, for F1: the memo keeps its key releases to itself.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

TSymbolListEditorForm::~TSymbolListEditorForm() = default;

void TSymbolListEditorForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int dw = width() - ClientWidth;
    const int dh = height() - ClientHeight;
    SymbolsMemo->setGeometry(9, 8, 489 + dw, MemoHeight + dh);
    for (QPushButton* b :
         {OKButton, LoadFromFileButton, InsertFromFileButton, SaveToFileButton, CancelButton})
        b->move(b->x(), ButtonTop + dh);
}

void TSymbolListEditorForm::OpenForList(const TSymbolList& list, ISymbolListEditorOwner* owner) {
    Owner = owner;
    OwnerWindow = owner ? owner->EditorOwnerWindow() : nullptr;
    // Over the window it was opened from, as a dialog should be, and wholly on that screen.
    // (Its parent, the main window, is smaller than the editor, which Qt's own centring would
    // push into the screen's corner.)
    if (QWidget* over = OwnerWindow; over && over->isVisible()) {
        QRect frame = frameGeometry();
        frame.moveCenter(over->frameGeometry().center());
        if (const QScreen* screen = over->screen())
            frame.moveTopLeft(FitRectToArea(frame, screen->availableGeometry()));
        move(frame.topLeft());
    }
    // It belongs to that window while it edits, so that closing it returns there: the window
    // manager gives the focus back to (and raises) the window a dialog belongs to, which would
    // otherwise be the main window, its parent.
    if (QWidget* over = OwnerWindow ? OwnerWindow->window() : nullptr;
        over && over->windowHandle()) {
        createWinId();
        windowHandle()->setTransientParent(over->windowHandle());
    }
    ReplaceText(SymbolsMemo, list.Symbols.Strings());
    LastFileName = list.Name;
    EditedListId = list.ListId;
}

QStringList TSymbolListEditorForm::MemoLines() const {
    // One line per block; a break at the very end adds no empty line, as in a file.
    QStringList lines;
    const QTextDocument* document = SymbolsMemo->document();
    lines.reserve(document->blockCount());
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        lines.append(LineText(block));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

void TSymbolListEditorForm::SetMemoLines(const QStringList& lines) {
    ReplaceText(SymbolsMemo, lines);
}

void TSymbolListEditorForm::NormalizeSymbols() {
    SetMemoLines(NormalizeSymbolLines(MemoLines()));
}

void TSymbolListEditorForm::OKButtonClick() {
    NormalizeSymbols();
    if (Owner && OwnerWindow)
        Owner->SetListSymbols(EditedListId, MemoLines());
    accept();
}

void TSymbolListEditorForm::CancelButtonClick() {
    reject();
}

bool TSymbolListEditorForm::ChooseFile(bool save, QString& fileName) {
    const QString dir = SavedWindowsDir();
    if (!QDir(dir).exists())
        QDir().mkdir(dir); // one level; a failure shows in the dialog
    zkPrompts::TFileDialogSpec spec;
    spec.FileName = LastFileName;
    spec.InitialDir = dir;
    spec.DefaultExt = QStringLiteral("txt");
    spec.Filter = tr("Text files (*.txt)|*.txt|All files (*)|*");
    spec.PathMustExist = true;
    spec.FileMustExist = false;
    spec.OverwritePrompt = save;
    return save ? zkPrompts::SaveFileName(spec, fileName, this)
                : zkPrompts::OpenFileName(spec, fileName, this);
}

void TSymbolListEditorForm::LoadFromFileButtonClick() {
    QString fileName;
    if (!ChooseFile(false, fileName))
        return;
    SetMemoLines(LoadSymbolFile(fileName));
    LastFileName = fileName;
}

void TSymbolListEditorForm::InsertFromFileButtonClick() {
    QString fileName;
    if (!ChooseFile(false, fileName))
        return;
    TSymbolSet inserted;
    inserted.Assign(LoadSymbolFile(fileName));
    const int oldLength = SymbolsMemo->document()->characterCount() - 1;
    QStringList lines = MemoLines();
    lines += inserted.Strings();
    SetMemoLines(lines);
    QTextCursor caret(SymbolsMemo->document());
    caret.setPosition(qMin(oldLength, SymbolsMemo->document()->characterCount() - 1));
    SymbolsMemo->setTextCursor(caret);
    SymbolsMemo->setFocus();
    LastFileName = fileName;
}

void TSymbolListEditorForm::SaveToFileButtonClick() {
    QString fileName;
    if (!ChooseFile(true, fileName))
        return;
    SaveSymbolFile(fileName, MemoLines());
    LastFileName = fileName;
}

void TSymbolListEditorForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    SymbolsMemo->setFocus();
}

void TSymbolListEditorForm::keyReleaseEvent(QKeyEvent* event) {
    if (!HandleHelpKey(event))
        QDialog::keyReleaseEvent(event);
}

bool TSymbolListEditorForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && HandleHelpKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}
