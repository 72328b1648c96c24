#include "zkSymbolListEditorForm.h"

#include "config/zkLayoutSettings.h"
#include "desktop/zkWindowPlace.h"
#include "desktop/zkWindowRing.h"
#include "platform/zkApplication.h"
#include "platform/zkButtonText.h"
#include "platform/zkMadeOnDemand.h"
#include "platform/zkPrompts.h"
#include "zkSymbolListFile.h"
#include "zkSymbolListModel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QThreadPool>
#include <QWindow>
#include <algorithm>
#include <memory>
#include <utility>

namespace {

constexpr int ClientWidth = 508;
constexpr int ClientHeight = 288;
constexpr int ButtonTop = 256;
constexpr int MemoHeight = 240;

TMadeOnDemand<TSymbolListEditorForm> TheEditor;

// Lines the memo takes at once (a few milliseconds); a longer text goes in by slices, with the
// event loop running in between.
constexpr qsizetype FillLines = 10000;
// Files up to this size are read at once; bigger ones on a worker thread.
constexpr qint64 SmallFileBytes = 64 * 1024;
// What one slice of a fill may take, so that the rest of the client keeps running.
constexpr qint64 SliceNs = 12 * 1000 * 1000;

// How many lines the next piece of a slice takes: about half a slice's time at the pace of the
// last piece, which did `done` lines in `spentNs`.
qint64 NextPiece(qint64 done, qint64 spentNs, qint64 least, qint64 most) {
    return std::clamp<qint64>(done * (SliceNs / 2) / qMax<qint64>(spentNs, 1), least, most);
}

// The memo lays a line out whole, at every change of it and before it shows it: a line of a
// million characters holds the client up for half a second and more. A longer line than this
// is shown in pieces of this length (a character of two code units stays whole), each a line
// of the memo's own; every piece after the first is marked as carrying on the line before it,
// and the memo's lines are read with the pieces joined.
constexpr qsizetype PieceChars = 4096;
constexpr int ContinuesProperty = QTextFormat::UserProperty + 0x5a4c;

bool Continues(const QTextBlock& block) {
    return block.blockFormat().boolProperty(ContinuesProperty);
}

QTextBlockFormat PieceFormat() {
    QTextBlockFormat format;
    format.setProperty(ContinuesProperty, true);
    return format;
}

// The length of the piece of a long line that starts at `at`.
qsizetype PieceLength(const QString& line, qsizetype at) {
    qsizetype length = qMin(PieceChars, line.size() - at);
    if (at + length < line.size() && line.at(at + length - 1).isHighSurrogate())
        --length;
    return length;
}

// Characters a line takes in the memo: its own and the breaks between its pieces.
qsizetype ShownLength(const QString& line) {
    if (line.size() <= PieceChars)
        return line.size();
    qsizetype breaks = -1;
    for (qsizetype at = 0; at < line.size(); at += PieceLength(line, at))
        ++breaks;
    return line.size() + breaks;
}

bool HasLongLine(const QStringList& lines) {
    return std::any_of(lines.cbegin(), lines.cend(),
                       [](const QString& line) { return line.size() > PieceChars; });
}

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

// Puts each character the memo would take for a line end as a stand-in into the lines,
// noting where it stands (first: the document position at which the lines start).
QList<QPair<int, QChar>> PutStandIns(QStringList& lines, int first) {
    QList<QPair<int, QChar>> standIns;
    int position = first;
    for (QString& line : lines) {
        for (qsizetype i = 0; i < line.size(); ++i)
            if (EndsBlock(line.at(i))) {
                standIns.append({position + int(i), line.at(i)});
                line[i] = StandIn;
            }
        position += int(line.size()) + 1;
    }
    return standIns;
}

// Puts the lines in at the cursor: the first into the line the cursor is in, or into a new
// line after it.
void InsertLines(QTextCursor& cursor, QStringList lines, bool newLine) {
    // A line made by a break in the text takes the format of the one it is made in, which
    // must not be that of a piece of a long line. (A break in the text costs much less than
    // a block put in by itself, which lays out the line the cursor is in.)
    if (newLine && Continues(cursor.block())) {
        cursor.insertBlock(QTextBlockFormat());
        newLine = false;
    }
    const QList<QPair<int, QChar>> standIns =
        PutStandIns(lines, cursor.position() + (newLine ? 1 : 0));
    QString text = lines.join(QLatin1Char('\n'));
    if (newLine)
        text.prepend(QLatin1Char('\n'));
    cursor.insertText(text);
    MarkStandIns(cursor.document(), standIns);
}

// Whether line `index` of a fill needs a line of its own after the memo's last one, whose end
// `end` is: the first line goes into an empty last line (the text is empty or ends in a line
// break, which adds no line), unless that is a piece of a long line.
bool StartsLine(const QTextCursor& end, qsizetype index) {
    return index > 0 || !end.block().text().isEmpty() || Continues(end.block());
}

// Replaces the memo's text at once, without a redraw in between.
void ReplaceText(QPlainTextEdit* memo, QStringList lines) {
    const QList<QPair<int, QChar>> standIns = PutStandIns(lines, 0);
    memo->setUpdatesEnabled(false);
    memo->setPlainText(lines.join(QLatin1Char('\n')));
    MarkStandIns(memo->document(), standIns);
    memo->setUpdatesEnabled(true);
}

// Drops the lists on a worker thread; their strings are freed there once no one else holds them.
void ReleaseLater(QStringList first, QStringList second) {
    if (first.size() + second.size() <= FillLines)
        return; // quicker than handing them over
    QThreadPool::globalInstance()->start(
        [first = std::move(first), second = std::move(second)]() mutable {
            first = QStringList();
            second = QStringList();
        });
}

// A break at the very end of the memo adds no empty line, as in a file.
void DropFinalBreak(QStringList& lines) {
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
}

// The lines of the memo's raw text: blocks end at U+2029; the blocks numbered in `pieces`
// (ascending) carry on the line before them.
QStringList SplitRawText(const QString& raw, const QList<QPair<qsizetype, QString>>& fixed,
                         const QList<qsizetype>& pieces) {
    QStringList lines;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = raw.indexOf(QChar::ParagraphSeparator, start);
        if (end < 0) {
            lines.append(raw.mid(start));
            break;
        }
        lines.append(raw.mid(start, end - start));
        start = end + 1;
    }
    for (const auto& [index, text] : fixed)
        if (index < lines.size())
            lines[index] = text;
    if (!pieces.isEmpty()) {
        QStringList joined;
        joined.reserve(lines.size() - pieces.size());
        auto piece = pieces.cbegin();
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool carriesOn = piece != pieces.cend() && *piece == i;
            if (carriesOn)
                ++piece;
            if (carriesOn && !joined.isEmpty())
                joined.last() += lines.at(i);
            else
                joined.append(std::move(lines[i]));
        }
        lines = std::move(joined);
    }
    DropFinalBreak(lines);
    return lines;
}

// What the memo puts on the clipboard: the selected text with the pieces of a long line
// joined again (the breaks between them are the memo's, not the text's).
QString SelectedText(const QTextCursor& selection) {
    const QTextDocument* document = selection.document();
    const int from = selection.selectionStart();
    const int to = selection.selectionEnd();
    QString text;
    for (QTextBlock block = document->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from && !Continues(block))
            text += QLatin1Char('\n');
        const int start = qMax(from - block.position(), 0);
        const int end = qMin(to - block.position(), block.length() - 1);
        if (end > start)
            text += block.text().mid(start, end - start);
    }
    // As the memo's own copies have them.
    for (QChar& c : text) {
        if (EndsBlock(c) || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
        else if (c == QChar::Nbsp)
            c = QLatin1Char(' ');
    }
    return text;
}

// The text box of the editor: a line break the user makes, or brings with pasted or dropped
// text, starts a line of its own even inside a piece of a long line; copied text has the
// pieces joined.
class TSymbolsMemo : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (isReadOnly() || !event->matches(QKeySequence::InsertParagraphSeparator)) {
            QPlainTextEdit::keyPressEvent(event);
            return;
        }
        // A new line takes the format of the one it is made in, the mark of a piece too.
        QTextCursor cursor = textCursor();
        QTextBlockFormat format = document()->findBlock(cursor.selectionStart()).blockFormat();
        if (!format.hasProperty(ContinuesProperty)) {
            QPlainTextEdit::keyPressEvent(event);
            return;
        }
        format.clearProperty(ContinuesProperty);
        cursor.insertBlock(format);
        setTextCursor(cursor);
        ensureCursorVisible();
        event->accept();
    }

    void insertFromMimeData(const QMimeData* source) override {
        const int first = document()->findBlock(textCursor().selectionStart()).blockNumber();
        QPlainTextEdit::insertFromMimeData(source);
        const int last = textCursor().blockNumber();
        if (last <= first)
            return;
        // The lines it brought are lines, not pieces; one step to undo with the insertion.
        QTextCursor fix(document());
        fix.joinPreviousEditBlock();
        for (QTextBlock block = document()->findBlockByNumber(first + 1);
             block.isValid() && block.blockNumber() <= last; block = block.next())
            if (Continues(block)) {
                fix.setPosition(block.position());
                QTextBlockFormat format = block.blockFormat();
                format.clearProperty(ContinuesProperty);
                fix.setBlockFormat(format);
            }
        fix.endEditBlock();
    }

    QMimeData* createMimeDataFromSelection() const override {
        const QTextCursor selection = textCursor();
        const QTextBlock last = document()->findBlock(selection.selectionEnd());
        bool joins = false;
        for (QTextBlock block = document()->findBlock(selection.selectionStart());
             block.isValid() && block != last && !joins; block = block.next())
            joins = Continues(block.next());
        if (!joins)
            return QPlainTextEdit::createMimeDataFromSelection();
        auto* data = new QMimeData;
        data->setText(SelectedText(selection));
        return data;
    }
};

} // namespace

void SetSymbolListEditorMaker(std::function<TSymbolListEditorForm*()> maker) {
    TheEditor.SetMaker(std::move(maker));
}

TSymbolListEditorForm* SymbolListEditorForm() {
    return TheEditor.Get();
}

TSymbolListEditorForm* ExistingSymbolListEditorForm() {
    return TheEditor.Existing();
}

TSymbolListEditorForm::TSymbolListEditorForm(QWidget* parent) : QDialog(parent) {
    TheEditor.Replace(this);
    setObjectName(QStringLiteral("SymbolListEditorForm"));
    setWindowTitle(tr("Symbol List Editor"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(ClientWidth, ClientHeight);

    SymbolsMemo = new TSymbolsMemo(this);
    SymbolsMemo->setObjectName(QStringLiteral("SymbolsMemo"));
    SymbolsMemo->setAccessibleName(tr("Symbols, one a line"));
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
    FitButtonGroupCaptionsWhenShown(this, {{OKButton, {OKButton->text()}},
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

    // The next slice of a fill runs once the event loop has handled what is due, timers that
    // came due meanwhile included (a zero-time call would come first, ahead of them).
    SliceTimer = new QTimer(this);
    SliceTimer->setSingleShot(true);
    SliceTimer->setInterval(0);
    connect(SliceTimer, &QTimer::timeout, this, [this] {
        if (Fill)
            FillSlice();
        else if (Read)
            ReadSlice();
    });

    // Key preview, for F1: the memo keeps its key releases to itself.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

TSymbolListEditorForm::~TSymbolListEditorForm() {
    TheEditor.Forget(this);
}

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
    SetMemoLines(list.Symbols.Strings());
    LastFileName = list.Name;
    EditedListId = list.ListId;
}

// --- the memo's text -----------------------------------------------------------------------

QStringList TSymbolListEditorForm::TMemoText::Resolve() const {
    return Lines ? *Lines : SplitRawText(Raw, Fixed, Pieces);
}

TSymbolListEditorForm::TMemoText TSymbolListEditorForm::TakeMemoText() const {
    TMemoText text;
    if (Pending) {
        text.Lines = *Pending;
        return text;
    }
    // The raw text is one copy of the document's characters, its positions the document's;
    // only a line holding a stand-in needs its block read.
    const QTextDocument* document = SymbolsMemo->document();
    text.Raw = document->toRawText();
    for (qsizetype at = text.Raw.indexOf(StandIn); at >= 0;
         at = text.Raw.indexOf(StandIn, at + 1)) {
        const QTextBlock block = document->findBlock(int(at));
        if (text.Fixed.isEmpty() || text.Fixed.constLast().first != block.blockNumber())
            text.Fixed.append({block.blockNumber(), LineText(block)});
    }
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        if (Continues(block))
            text.Pieces.append(block.blockNumber());
    return text;
}

void TSymbolListEditorForm::WithMemoText(std::function<void(TMemoText)> then) {
    if (Pending || !LargeMemo()) {
        then(TakeMemoText());
        return;
    }
    BeginWork();
    Read = TRead{0, {}, std::move(then)};
    Read->Lines.reserve(SymbolsMemo->document()->blockCount());
    SliceTimer->start();
}

void TSymbolListEditorForm::ReadSlice() {
    QElapsedTimer clock;
    clock.start();
    QTextBlock block = SymbolsMemo->document()->findBlockByNumber(Read->NextBlock);
    while (block.isValid()) {
        if (Continues(block) && !Read->Lines.isEmpty())
            Read->Lines.last() += LineText(block);
        else
            Read->Lines.append(LineText(block));
        block = block.next();
        if ((++Read->NextBlock & 1023) == 0 && clock.nsecsElapsed() >= SliceNs)
            break;
    }
    if (block.isValid()) { // out of time, with lines still to read
        SliceTimer->start();
        return;
    }
    DropFinalBreak(Read->Lines);
    TMemoText text;
    text.Lines = std::move(Read->Lines);
    const std::function<void(TMemoText)> then = std::move(Read->Then);
    Read.reset();
    Working = false;
    ReportErrors([&] { then(std::move(text)); });
    EndWork();
}

bool TSymbolListEditorForm::LargeMemo() const {
    return Pending ? Pending->size() > FillLines
                   : SymbolsMemo->document()->blockCount() > FillLines;
}

QStringList TSymbolListEditorForm::MemoLines() const {
    return TakeMemoText().Resolve();
}

void TSymbolListEditorForm::SetMemoLines(const QStringList& lines) {
    StopWork();
    if (lines.size() > FillLines || HasLongLine(lines)) {
        StartFill(lines, lines, false, -1);
        return;
    }
    Pending.reset();
    ReplaceText(SymbolsMemo, lines);
    EndWork();
}

// --- work off the user-interface thread ------------------------------------------------------

void TSymbolListEditorForm::BeginWork() {
    Working = true;
    SymbolsMemo->setReadOnly(true);
    SymbolsMemo->viewport()->setCursor(Qt::BusyCursor);
}

void TSymbolListEditorForm::EndWork() {
    if (Busy() || Pending)
        return; // the memo does not hold its text yet
    SymbolsMemo->setReadOnly(false);
    SymbolsMemo->viewport()->setCursor(Qt::IBeamCursor);
}

void TSymbolListEditorForm::StopWork() {
    ++Generation; // a result still on its way is dropped
    Working = false;
    SliceTimer->stop();
    Read.reset(); // what was read is the memo's, which stays as it is
    if (Fill) {
        // What is not in the memo yet stays in Pending, so nothing of it is lost.
        Fill.reset();
        SymbolsMemo->document()->setUndoRedoEnabled(true);
        SymbolsMemo->setUpdatesEnabled(true);
    }
    EndWork();
}

void TSymbolListEditorForm::RunInBackground(std::function<QStringList()> work,
                                            std::function<void(QStringList)> done) {
    BeginWork();
    const unsigned generation = Generation;
    QPointer<TSymbolListEditorForm> self(this);
    QThreadPool::globalInstance()->start(
        [self, generation, work = std::move(work), done = std::move(done)]() mutable {
            QStringList result;
            std::exception_ptr error;
            try {
                result = work();
            } catch (...) {
                error = std::current_exception();
            }
            // Back on the user-interface thread; the editor may have gone or moved on meanwhile.
            QMetaObject::invokeMethod(
                qApp,
                [self, generation, result = std::move(result), error,
                 done = std::move(done)]() mutable {
                    if (!self || self->Generation != generation)
                        return;
                    self->Working = false;
                    if (error)
                        ReportErrors([&] { std::rethrow_exception(error); });
                    else
                        ReportErrors([&] { done(std::move(result)); });
                    if (self)
                        self->EndWork();
                },
                Qt::QueuedConnection);
        });
}

void TSymbolListEditorForm::StartFill(QStringList lines, QStringList all, bool append, int caret) {
    Pending = std::move(all);
    Fill = TFill{std::move(lines), 0, caret, append};
    SymbolsMemo->setReadOnly(true);
    SymbolsMemo->viewport()->setCursor(Qt::BusyCursor);
    // Not redrawn until the text is complete.
    SymbolsMemo->setUpdatesEnabled(false);
    QTextDocument* document = SymbolsMemo->document();
    // Not edits the user could undo piece by piece (this also empties the undo history, as
    // replacing the whole text does).
    document->setUndoRedoEnabled(false);
    // Emptying a box of a million lines in one go holds the client up as long as a fill's
    // slice ten times over: a big text is taken out in slices too, ahead of the fill.
    if (!append) {
        if (document->blockCount() > FillLines)
            Fill->Clearing = true;
        else
            SymbolsMemo->clear();
    }
    SliceTimer->start();
}

void TSymbolListEditorForm::FillSlice() {
    QElapsedTimer clock;
    clock.start();
    QTextDocument* document = SymbolsMemo->document();
    QTextCursor end(document);
    bool removed = false;
    while (Fill->Clearing) {
        const int blocks = document->blockCount();
        if (blocks <= ClearBlocks) {
            // Emptying the memo hands back all of the document's storage at once, which takes
            // a slice's time by itself: it gets a slice of its own.
            if (removed)
                break;
            SymbolsMemo->clear();
            Fill->Clearing = false;
            break;
        }
        QElapsedTimer piece;
        piece.start();
        // From the end of the line before the last ones, so no empty line is left behind.
        QTextCursor cut(document);
        cut.setPosition(document->findBlockByNumber(blocks - ClearBlocks).position() - 1);
        cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        removed = true;
        ClearBlocks = int(NextPiece(ClearBlocks, piece.nsecsElapsed(), 1000, 200000));
        if (clock.nsecsElapsed() >= SliceNs)
            break;
    }
    // Once the old text is out, in what is left of the slice (nothing after the emptying).
    while (!Fill->Clearing && Fill->Next < Fill->Lines.size() && clock.nsecsElapsed() < SliceNs) {
        QElapsedTimer piece;
        piece.start();
        end.movePosition(QTextCursor::End);
        const QString& next = Fill->Lines.at(Fill->Next);
        if (next.size() > PieceChars) {
            // A long line goes in piece by piece, each a line of the memo, all but its first
            // marked as carrying on the one before.
            const QString text = next.mid(Fill->NextPiece, PieceLength(next, Fill->NextPiece));
            if (Fill->NextPiece > 0)
                end.insertBlock(PieceFormat());
            InsertLines(end, {text}, Fill->NextPiece == 0 && StartsLine(end, Fill->Next));
            Fill->NextPiece += text.size();
            if (Fill->NextPiece >= next.size()) {
                ++Fill->Next;
                Fill->NextPiece = 0;
            }
            continue;
        }
        // Short lines: as many as fit in the slice's time, going by the pace of the last ones
        // (the pace counts all a piece takes, its preparation included), up to a long one.
        qsizetype count = qMin(SliceLines, Fill->Lines.size() - Fill->Next);
        for (qsizetype i = 1; i < count; ++i)
            if (Fill->Lines.at(Fill->Next + i).size() > PieceChars)
                count = i;
        InsertLines(end, Fill->Lines.mid(Fill->Next, count), StartsLine(end, Fill->Next));
        Fill->Next += count;
        SliceLines = qsizetype(NextPiece(count, piece.nsecsElapsed(), 200, 50000));
    }
    if (Fill->Clearing || Fill->Next < Fill->Lines.size()) {
        SliceTimer->start();
        return;
    }
    TFill fill = std::move(*Fill);
    Fill.reset();
    // A million lines take tens of milliseconds to free: that is done on a worker thread.
    ReleaseLater(std::move(fill.Lines), Pending ? std::move(*Pending) : QStringList());
    Pending.reset();
    document->setUndoRedoEnabled(true);
    SymbolsMemo->setUpdatesEnabled(true);
    QTextCursor caret(document);
    caret.setPosition(fill.Caret < 0 ? 0 : qMin(fill.Caret, document->characterCount() - 1));
    SymbolsMemo->setTextCursor(caret);
    EndWork();
    if (fill.Focus)
        SymbolsMemo->setFocus();
}

// --- commands ----------------------------------------------------------------------------------

void TSymbolListEditorForm::NormalizeSymbols() {
    if (!LargeMemo()) {
        SetMemoLines(NormalizeSymbolLines(MemoLines()));
        return;
    }
    StopWork();
    WithMemoText([this](TMemoText memo) {
        RunInBackground([text = std::move(memo)] { return NormalizeSymbolLines(text.Resolve()); },
                        [this](QStringList symbols) { StartFill(symbols, symbols, false, -1); });
    });
}

void TSymbolListEditorForm::OKButtonClick() {
    if (!LargeMemo()) {
        NormalizeSymbols();
        if (Owner && OwnerWindow)
            Owner->SetListSymbols(EditedListId, MemoLines());
        accept();
        return;
    }
    StopWork();
    WithMemoText([this](TMemoText memo) {
        RunInBackground([text = std::move(memo)] { return NormalizeSymbolLines(text.Resolve()); },
                        [this](QStringList symbols) { FinishOK(std::move(symbols)); });
    });
}

void TSymbolListEditorForm::FinishOK(QStringList symbols) {
    // These are the memo's lines now, as NormalizeSymbols leaves them; they go into the memo
    // itself only if the editor stays open.
    StopWork();
    Pending = symbols;
    if (Owner && OwnerWindow) {
        try {
            Owner->SetListSymbols(EditedListId, symbols);
        } catch (...) {
            SetMemoLines(symbols);
            throw;
        }
    }
    accept();
}

void TSymbolListEditorForm::CancelButtonClick() {
    reject();
}

void TSymbolListEditorForm::done(int result) {
    // Whatever runs is abandoned: nothing it would still do is wanted once the editor closed.
    StopWork();
    QDialog::done(result);
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
    if (QFileInfo(fileName).size() <= SmallFileBytes) {
        SetMemoLines(LoadSymbolFile(fileName));
        LastFileName = fileName;
        return;
    }
    StopWork();
    RunInBackground([fileName] { return LoadSymbolFile(fileName); },
                    [this, fileName](QStringList lines) {
                        LastFileName = fileName;
                        SetMemoLines(lines);
                    });
}

void TSymbolListEditorForm::InsertFromFileButtonClick() {
    QString fileName;
    if (!ChooseFile(false, fileName))
        return;
    if (QFileInfo(fileName).size() <= SmallFileBytes && !LargeMemo()) {
        TSymbolSet inserted;
        inserted.Assign(LoadSymbolFile(fileName));
        const int oldLength = SymbolsMemo->document()->characterCount() - 1;
        QStringList lines = MemoLines();
        qsizetype shownLength = -1;
        for (const QString& line : std::as_const(lines))
            shownLength += ShownLength(line) + 1;
        lines += inserted.Strings();
        SetMemoLines(lines);
        LastFileName = fileName;
        if (Fill) {
            // A long line among them: the memo is filled anew in slices, its pieces where the
            // fill puts them.
            Fill->Caret = int(qMax<qsizetype>(shownLength, 0));
            Fill->Focus = true;
            return;
        }
        QTextCursor caret(SymbolsMemo->document());
        caret.setPosition(qMin(oldLength, SymbolsMemo->document()->characterCount() - 1));
        SymbolsMemo->setTextCursor(caret);
        SymbolsMemo->setFocus();
        return;
    }
    StopWork();
    // The old text stays in the memo (or in Pending); the file's lines go after it. What the
    // worker makes of the lines besides is a copy of a million lines less here.
    struct TInserted {
        QStringList Lines;
        qsizetype OldLength = 0; // of the old lines joined by line breaks
    };
    auto inserted = std::make_shared<TInserted>();
    WithMemoText([this, fileName, inserted](TMemoText memo) {
        RunInBackground(
            [fileName, inserted, text = std::move(memo)] {
                TSymbolSet set;
                set.Assign(LoadSymbolFile(fileName));
                QStringList all = text.Resolve();
                for (const QString& line : std::as_const(all))
                    inserted->OldLength += ShownLength(line) + 1;
                inserted->OldLength = qMax<qsizetype>(inserted->OldLength - 1, 0);
                inserted->Lines = set.Strings();
                return all + inserted->Lines;
            },
            [this, fileName, inserted](QStringList all) {
                LastFileName = fileName;
                if (Pending) {
                    // Not all in the memo yet: filled again from the start, the caret where the
                    // old text ends.
                    StopWork();
                    StartFill(all, all, false, int(inserted->OldLength));
                    Fill->Focus = true;
                    return;
                }
                QTextDocument* document = SymbolsMemo->document();
                const int oldLength = document->characterCount() - 1;
                if (inserted->Lines.isEmpty()) {
                    // The lines set anew, as always: a break at the very end goes.
                    if (document->blockCount() > 1 && document->lastBlock().text().isEmpty()) {
                        QTextCursor cut(document);
                        cut.movePosition(QTextCursor::End);
                        cut.deletePreviousChar();
                    }
                    QTextCursor caret(document);
                    caret.setPosition(qMin(oldLength, document->characterCount() - 1));
                    SymbolsMemo->setTextCursor(caret);
                    SymbolsMemo->setFocus();
                    return;
                }
                StartFill(std::exchange(inserted->Lines, {}), all, true, oldLength);
            });
    });
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
