#pragma once

#include <QString>
#include <QStringList>

// The shell's "open" action (a web address in the browser, a file in its program), behind a
// seam: tests switch on recording and read what would have been opened. Whole-process tests
// set VELQUIST_SHELL_OPEN_LOG to a file, which then receives each target as a line instead.
namespace zkShell {

void OpenDocument(const QString& target);

void SetRecording(bool recording);
QStringList Opened();
void ClearOpened();

} // namespace zkShell
