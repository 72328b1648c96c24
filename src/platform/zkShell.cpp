#include "zkShell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QUrl>

namespace zkShell {

namespace {
struct TShellState {
    bool Recording = false;
    QStringList Opened;
};
TShellState& state() {
    static TShellState s;
    return s;
}
} // namespace

void OpenDocument(const QString& target) {
    TShellState& s = state();
    if (s.Recording) {
        s.Opened << target;
        return;
    }
    // Whole-process tests: what would be opened goes to a file, one line each.
    const QString log = qEnvironmentVariable("VELQUIST_SHELL_OPEN_LOG");
    if (!log.isEmpty()) {
        QFile file(log);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(target.toUtf8() + '\n');
        return;
    }
    const QUrl url =
        target.contains(QStringLiteral("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
    QDesktopServices::openUrl(url);
}

void SetRecording(bool recording) {
    state().Recording = recording;
}
QStringList Opened() {
    return state().Opened;
}
void ClearOpened() {
    state().Opened.clear();
}

} // namespace zkShell

void OpenLink(const QString& address) {
    QString target = address;
    if (!target.contains(QStringLiteral("://"))) {
        // Settings files written on Windows name local files with backslashes.
        target.replace(QLatin1Char('\\'), QLatin1Char('/'));
        target.prepend(QDir::currentPath());
    }
    zkShell::OpenDocument(target);
}
