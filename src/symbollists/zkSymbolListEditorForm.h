#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <cstdint>

class QPlainTextEdit;
class QPushButton;
class TSymbolListsForm;
struct TSymbolList;

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
    void OpenForList(const TSymbolList& list, TSymbolListsForm* owner);
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

    QPointer<TSymbolListsForm> Owner;
};

// The application's editor (nullptr before start-up created it and after it is gone).
TSymbolListEditorForm* SymbolListEditorForm();
