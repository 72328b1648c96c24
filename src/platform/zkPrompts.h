#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

// One seam for every question the program asks the user. In the program these are Qt dialogs;
// tests switch to scripted mode and queue the answers ("the next answer is Yes"), and every
// prompt shown is recorded so tests can read its text.
namespace zkPrompts {

enum class TButtons { OK, OKCancel, YesNo, YesNoCancel };
enum class TAnswer { OK, Cancel, Yes, No };
enum class TIcon { Information, Warning, Error, Question };

struct TFileDialogSpec {
    QString Title;
    QString Filter;     // "Alert Window (*.zka)|*.zka" pairs as the classic dialogs take them
    QString DefaultExt; // without the dot
    QString InitialDir;
    QString FileName;
    bool OverwritePrompt = false;
    bool FileMustExist = false;
    // A name whose folder does not exist is refused with a message and the dialog asks again.
    bool PathMustExist = false;
    // Save dialogs: an existing file that cannot be written is refused with a message and the
    // dialog asks again, so the choice never fails later, at the first save.
    bool NoReadOnlyReturn = false;
};

struct TPromptRecord {
    QString Kind; // "message", "input", "open", "save", "font"
    QString Caption;
    QString Text;
    TIcon Icon = TIcon::Information;
    TButtons Buttons = TButtons::OK;
    TFileDialogSpec File;
};

TAnswer MessageBox(const QString& text, const QString& caption, TIcon icon, TButtons buttons,
                   QWidget* parent = nullptr);
// Returns true when the user confirmed; value holds the initial text and receives the answer.
bool InputQuery(const QString& caption, const QString& prompt, QString& value,
                QWidget* parent = nullptr);
// The width an input dialog gets so that a title bar can show the whole caption (at least 300).
int InputDialogWidth(const QString& caption);
bool OpenFileName(const TFileDialogSpec& spec, QString& fileName, QWidget* parent = nullptr);
bool SaveFileName(const TFileDialogSpec& spec, QString& fileName, QWidget* parent = nullptr);
bool ChooseFont(QFont& font, QColor& color, QWidget* parent = nullptr);

// The general error report: shows the error's text in a message box; the program goes on.
void ShowErrorReport(const QString& text);

// --- scripting for tests -------------------------------------------------------------------
// In scripted mode no dialog is shown: each prompt takes the next queued answer of its kind
// (a message box with nothing queued answers Cancel, or OK when OK is its only button; other
// prompts are cancelled).
void SetScripted(bool scripted);
bool IsScripted();
void SetNextAnswer(TAnswer answer);
void SetNextInput(std::optional<QString> text);    // nullopt: the user cancels
void SetNextFileName(std::optional<QString> name); // for both open and save dialogs
void SetNextFont(std::optional<QFont> font, QColor color = QColor());
QList<TPromptRecord> Shown();
void ClearScript();
// Whole-process tests: when VELQUIST_SCRIPTED_PROMPTS is set, the client runs scripted, takes
// its message-box answers from that comma-separated list ("yes,no,cancel,ok") and prints
// every prompt to stderr as "velquist prompt: [caption] text".
void InitFromEnvironment();

} // namespace zkPrompts
