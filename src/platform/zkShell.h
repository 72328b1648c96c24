#pragma once

#include <QString>
#include <QStringList>

// The shell's "open" action (a web address in the browser, a file in its program), behind a
// seam: tests switch on recording and read what would have been opened.
namespace zkShell {

void OpenDocument(const QString& target);

void SetRecording(bool recording);
QStringList Opened();
void ClearOpened();

} // namespace zkShell
