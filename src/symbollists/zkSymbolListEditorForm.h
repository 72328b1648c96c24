#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

class QPlainTextEdit;
class QPushButton;
class QTimer;
struct TSymbolList;

// The window a list is edited for: the editor opens over it and hands it the confirmed lines.
class ISymbolListEditorOwner {
public:
    virtual ~ISymbolListEditorOwner() = default;
    // The owner's window; the owner counts as gone once it is destroyed.
    virtual QWidget* EditorOwnerWindow() = 0;
    virtual void SetListSymbols(int32_t listId, const QStringList& lines) = 0;
};

// "Symbol List Editor": all symbols of one list as text, one per line, exchanged with symbol
// list text files. Created once at start-up and reused for every list; confirming hands the
// tidied symbols back to the symbol lists window.
class TSymbolListEditorForm : public QDialog {
    Q_OBJECT
public:
    explicit TSymbolListEditorForm(QWidget* parent = nullptr);
    ~TSymbolListEditorForm() override;

    // --- state ---
    int32_t EditedListId = 0;
    QString LastFileName;

    // --- controls ---
    QPlainTextEdit* SymbolsMemo = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* LoadFromFileButton = nullptr;
    QPushButton* InsertFromFileButton = nullptr;
    QPushButton* SaveToFileButton = nullptr;
    QPushButton* CancelButton = nullptr;

    // Fills the editor from the list; the caller then shows it modally (exec).
    void OpenForList(const TSymbolList& list, ISymbolListEditorOwner* owner);
    // The memo's lines and their replacement. While the memo is being filled, its lines are
    // those it is being filled with.
    QStringList MemoLines() const;
    void SetMemoLines(const QStringList& lines);

    // Big lists and files are read, sorted and normalised on a worker thread and go into the
    // memo in slices between which the event loop runs; meanwhile the memo is read-only. True
    // while such work is under way. Closing the editor or a new command abandons it.
    bool Busy() const { return Working || Fill.has_value() || Read.has_value(); }

    void NormalizeSymbols();
    void OKButtonClick();
    void CancelButtonClick();
    void LoadFromFileButtonClick();
    void InsertFromFileButtonClick();
    void SaveToFileButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void done(int result) override;

private:
    bool ChooseFile(bool save, QString& fileName);

    // What the memo holds, taken on this thread and turned into lines on any thread.
    struct TMemoText {
        std::optional<QStringList> Lines;       // the lines it is being filled with
        QString Raw;                            // else its text, blocks ended by U+2029
        QList<QPair<qsizetype, QString>> Fixed; // lines whose text the raw text does not tell
        QList<qsizetype> Pieces;                // blocks that carry on the line before them
        QStringList Resolve() const;
    };
    TMemoText TakeMemoText() const;
    // The memo's text for work on the worker thread, handed to `then`: at once when it is known
    // without reading the memo, else read line by line in slices, the memo read-only meanwhile
    // (reading a million lines at once holds the client up for a tenth of a second).
    void WithMemoText(std::function<void(TMemoText)> then);
    void ReadSlice();
    bool LargeMemo() const;

    // Worker-thread work: `work` runs there; `done` runs here afterwards with its result or the
    // error it raised, unless the editor has started something else or closed meanwhile.
    void RunInBackground(std::function<QStringList()> work, std::function<void(QStringList)> done);
    void BeginWork();
    void EndWork();
    void StopWork();
    // The memo's text in slices: replacing it, or appending lines after its last line (the
    // caret then goes to `caret`, where the old text ended).
    void StartFill(QStringList lines, QStringList all, bool append, int caret);
    void FillSlice();
    void FinishOK(QStringList symbols);

    struct TFill {
        QStringList Lines;
        qsizetype Next = 0;
        int Caret = -1; // -1: the start, as after a replacement
        bool Focus = false;
        bool Clearing = false;   // the old text is still being taken out, from the end
        qsizetype NextPiece = 0; // where in line Next, a long one, the fill goes on
    };
    unsigned Generation = 0;
    bool Working = false;
    std::optional<QStringList> Pending; // what the memo holds once a fill has ended
    std::optional<TFill> Fill;
    struct TRead {
        int NextBlock = 0;
        QStringList Lines;
        std::function<void(TMemoText)> Then;
    };
    std::optional<TRead> Read;
    QTimer* SliceTimer = nullptr;
    qsizetype SliceLines = 2000;
    int ClearBlocks = 5000; // lines taken out at once while clearing

    ISymbolListEditorOwner* Owner = nullptr;
    QPointer<QWidget> OwnerWindow; // null once the owner is gone
};

// The application's editor, made by the maker when there is none yet (nullptr when there is no
// maker); ExistingSymbolListEditorForm() makes none.
TSymbolListEditorForm* SymbolListEditorForm();
TSymbolListEditorForm* ExistingSymbolListEditorForm();
// How the editor is made when first asked for; an empty maker makes none.
void SetSymbolListEditorMaker(std::function<TSymbolListEditorForm*()> maker);
