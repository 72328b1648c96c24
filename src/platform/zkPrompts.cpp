#include "zkPrompts.h"

#include "zkApplication.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontMetrics>
#include <QInputDialog>
#include <QMessageBox>

#include <cstdio>
#include <deque>

namespace zkPrompts {

namespace {
struct TScriptState {
    bool Scripted = false;
    bool EchoToStderr = false;
    std::deque<TAnswer> Answers;
    std::deque<std::optional<QString>> Inputs;
    std::deque<std::optional<QString>> FileNames;
    std::deque<std::pair<std::optional<QFont>, QColor>> Fonts;
    QList<TPromptRecord> Shown;
};

TScriptState& script() {
    static TScriptState state;
    return state;
}

QWidget* dialogParent(QWidget* parent) {
    if (parent)
        return parent;
    return QApplication::activeWindow();
}

// "Caption (*.zka)|*.zka|All (*)|*" becomes Qt's "Caption (*.zka);;All (*)".
QString qtFilter(const QString& classic) {
    const QStringList parts = classic.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (!caption.contains(QLatin1Char('(')))
            caption += QStringLiteral(" (") + patterns + QLatin1Char(')');
        out << caption;
    }
    return out.join(QStringLiteral(";;"));
}

QString withDefaultExt(const TFileDialogSpec& spec, QString name) {
    if (!spec.DefaultExt.isEmpty() && !name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += QLatin1Char('.') + spec.DefaultExt;
    return name;
}

bool takeFileName(const QString& kind, const TFileDialogSpec& spec, QString& fileName) {
    TScriptState& s = script();
    TPromptRecord rec;
    rec.Kind = kind;
    rec.Caption = spec.Title;
    rec.File = spec;
    s.Shown << rec;
    if (s.FileNames.empty())
        return false;
    std::optional<QString> next = s.FileNames.front();
    s.FileNames.pop_front();
    if (!next)
        return false;
    fileName = withDefaultExt(spec, *next);
    return true;
}
} // namespace

TAnswer MessageBox(const QString& text, const QString& caption, TIcon icon, TButtons buttons,
                   QWidget* parent) {
    TScriptState& s = script();
    if (s.Scripted) {
        s.Shown << TPromptRecord{QStringLiteral("message"), caption, text, icon, buttons, {}};
        if (s.EchoToStderr)
            fprintf(stderr, "velquist prompt: [%s] %s\n", qPrintable(caption), qPrintable(text));
        if (!s.Answers.empty()) {
            const TAnswer a = s.Answers.front();
            s.Answers.pop_front();
            return a;
        }
        return buttons == TButtons::OK ? TAnswer::OK : TAnswer::Cancel;
    }
    QMessageBox box(dialogParent(parent));
    box.setWindowTitle(caption.isEmpty() ? ApplicationTitle() : caption);
    // Messages carry file names, server answers and alert text: never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
    case TIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case TIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case TIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case TIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case TButtons::OK:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case TButtons::OKCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case TButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case TButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return TAnswer::OK;
    case QMessageBox::Yes:
        return TAnswer::Yes;
    case QMessageBox::No:
        return TAnswer::No;
    default:
        return TAnswer::Cancel;
    }
}

bool InputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) {
    TScriptState& s = script();
    if (s.Scripted) {
        s.Shown << TPromptRecord{QStringLiteral("input"), caption, prompt, TIcon::Question,
                                 TButtons::OKCancel,      {}};
        if (s.Inputs.empty())
            return false;
        std::optional<QString> next = s.Inputs.front();
        s.Inputs.pop_front();
        if (!next)
            return false;
        value = *next;
        return true;
    }
    QInputDialog dialog(dialogParent(parent));
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(value);
    dialog.setTextEchoMode(QLineEdit::Normal);
    // Qt sizes it to its edit (about 200 pixels), in which a window manager cuts the caption
    // short ("Create... w List" under openbox): wide enough for the caption beside the title
    // bar's icon and buttons.
    dialog.adjustSize();
    dialog.resize(qMax(dialog.width(), InputDialogWidth(caption)), dialog.height());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = dialog.textValue();
    return true;
}

int InputDialogWidth(const QString& caption) {
    // Title bars commonly show the caption in a bold face of about the application's font,
    // after the window's icon and before three buttons.
    QFont title = QApplication::font();
    title.setBold(true);
    const int titleBarRoom = 5 * QFontMetrics(title).height() + 40;
    return qMax(300, QFontMetrics(title).horizontalAdvance(caption) + titleBarRoom);
}

namespace {

bool AskOpenFileName(const TFileDialogSpec& spec, QString& fileName, QWidget* parent) {
    if (script().Scripted)
        return takeFileName(QStringLiteral("open"), spec, fileName);
    QFileDialog dlg(dialogParent(parent), spec.Title, spec.InitialDir, qtFilter(spec.Filter));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(spec.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!spec.DefaultExt.isEmpty())
        dlg.setDefaultSuffix(spec.DefaultExt);
    if (!spec.FileName.isEmpty())
        dlg.selectFile(spec.FileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    fileName = dlg.selectedFiles().constFirst();
    return true;
}

// The text of the refusal when the chosen file exists and cannot be written, else empty.
QString ReadOnlyRefusal(const TFileDialogSpec& spec, const QString& fileName) {
    if (!spec.NoReadOnlyReturn)
        return QString();
    const QFileInfo info(fileName);
    // Marked read-only (no write bit in its mode) counts even where root could still write
    // it. (WriteUser is left out: it says what this process may do, not what the mode says.)
    const QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!info.exists() || (info.isWritable() && (info.permissions() & anyWrite)))
        return QString();
    return QApplication::translate("zkPrompts",
                                   "%1\nThis file is set to read-only.\nTry again with a "
                                   "different file name.")
        .arg(info.fileName());
}

bool AskSaveFileName(const TFileDialogSpec& spec, QString& fileName, QWidget* parent) {
    if (script().Scripted)
        return takeFileName(QStringLiteral("save"), spec, fileName);
    QFileDialog dlg(dialogParent(parent), spec.Title, spec.InitialDir, qtFilter(spec.Filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    if (!spec.OverwritePrompt)
        dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (!spec.DefaultExt.isEmpty())
        dlg.setDefaultSuffix(spec.DefaultExt);
    if (!spec.FileName.isEmpty())
        dlg.selectFile(spec.FileName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    fileName = dlg.selectedFiles().constFirst();
    return true;
}

// The text of the refusal when the chosen file's folder does not exist, else empty. Qt's own
// dialogs take any typed path, and a name in a missing folder would only fail at the first
// save or load.
QString MissingPathRefusal(const TFileDialogSpec& spec, const QString& fileName) {
    if (!spec.PathMustExist)
        return QString();
    const QFileInfo info(fileName);
    if (QFileInfo(info.absolutePath()).isDir())
        return QString();
    return QApplication::translate("zkPrompts",
                                   "%1\nThe folder does not exist.\nCheck the path and try "
                                   "again.")
        .arg(QDir::toNativeSeparators(info.absolutePath()));
}

using TAskFileName = bool (*)(const TFileDialogSpec&, QString&, QWidget*);

// Asks until the user cancels or chooses a name that none of the dialog's rules refuses; each
// refusal is a message, and the dialog opens again.
bool AskAcceptedFileName(TAskFileName ask, bool forSave, const TFileDialogSpec& spec,
                         QString& fileName, QWidget* parent) {
    TFileDialogSpec again = spec;
    for (;;) {
        QString chosen;
        if (!ask(again, chosen, parent))
            return false;
        QString refusal = MissingPathRefusal(spec, chosen);
        if (!refusal.isEmpty()) {
            again.FileName = QFileInfo(chosen).fileName(); // in the initial folder again
        } else if (forSave && !(refusal = ReadOnlyRefusal(spec, chosen)).isEmpty()) {
            again.FileName = chosen; // on the refused name
        } else {
            fileName = chosen;
            return true;
        }
        MessageBox(refusal, spec.Title, TIcon::Warning, TButtons::OK, parent);
    }
}

} // namespace

bool OpenFileName(const TFileDialogSpec& spec, QString& fileName, QWidget* parent) {
    return AskAcceptedFileName(AskOpenFileName, false, spec, fileName, parent);
}

bool SaveFileName(const TFileDialogSpec& spec, QString& fileName, QWidget* parent) {
    return AskAcceptedFileName(AskSaveFileName, true, spec, fileName, parent);
}

bool ChooseFont(QFont& font, QColor& color, QWidget* parent) {
    TScriptState& s = script();
    if (s.Scripted) {
        s.Shown << TPromptRecord{QStringLiteral("font"), QString(),          font.toString(),
                                 TIcon::Question,        TButtons::OKCancel, {}};
        if (s.Fonts.empty())
            return false;
        auto next = s.Fonts.front();
        s.Fonts.pop_front();
        if (!next.first)
            return false;
        font = *next.first;
        if (next.second.isValid())
            color = next.second;
        return true;
    }
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font, dialogParent(parent));
    if (!ok)
        return false;
    font = chosen;
    // Qt's font dialog has no colour; ask for it right after, keeping the old one on cancel.
    const QColor picked = QColorDialog::getColor(color, dialogParent(parent));
    if (picked.isValid())
        color = picked;
    return true;
}

void ShowErrorReport(const QString& text) {
    MessageBox(text, ApplicationTitle(), TIcon::Error, TButtons::OK);
}

void InitFromEnvironment() {
    if (!qEnvironmentVariableIsSet("VELQUIST_SCRIPTED_PROMPTS"))
        return;
    TScriptState& s = script();
    s.Scripted = true;
    s.EchoToStderr = true;
    const QStringList answers = qEnvironmentVariable("VELQUIST_SCRIPTED_PROMPTS")
                                    .split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& a : answers) {
        const QString word = a.trimmed().toLower();
        if (word == QLatin1String("yes"))
            s.Answers.push_back(TAnswer::Yes);
        else if (word == QLatin1String("no"))
            s.Answers.push_back(TAnswer::No);
        else if (word == QLatin1String("ok"))
            s.Answers.push_back(TAnswer::OK);
        else
            s.Answers.push_back(TAnswer::Cancel);
    }
}

void SetScripted(bool scripted) {
    script().Scripted = scripted;
}
bool IsScripted() {
    return script().Scripted;
}
void SetNextAnswer(TAnswer answer) {
    script().Answers.push_back(answer);
}
void SetNextInput(std::optional<QString> text) {
    script().Inputs.push_back(std::move(text));
}
void SetNextFileName(std::optional<QString> name) {
    script().FileNames.push_back(std::move(name));
}
void SetNextFont(std::optional<QFont> font, QColor color) {
    script().Fonts.emplace_back(std::move(font), color);
}
QList<TPromptRecord> Shown() {
    return script().Shown;
}
void ClearScript() {
    const bool scripted = script().Scripted;
    script() = TScriptState();
    script().Scripted = scripted;
}

} // namespace zkPrompts
