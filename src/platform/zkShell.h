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

// Opens a web address, or a file named relative to the installation folder, with the desktop's
// "open" action. Text without "://" gets the current directory put in front of it as it is, so
// a local name is written with a leading separator ("/Help/index.html").
void OpenLink(const QString& address);
