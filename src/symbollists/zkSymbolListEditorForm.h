#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <cstdint>

class QPlainTextEdit;
class QPushButton;
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
    // The memo's lines and their replacement.
    QStringList MemoLines() const;
    void SetMemoLines(const QStringList& lines);

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

private:
    bool ChooseFile(bool save, QString& fileName);

    ISymbolListEditorOwner* Owner = nullptr;
    QPointer<QWidget> OwnerWindow; // null once the owner is gone
};

// The application's editor (nullptr before start-up created it and after it is gone).
TSymbolListEditorForm* SymbolListEditorForm();
