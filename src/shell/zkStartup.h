#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Pieces of the start-up sequence that main() runs in order.

// The settings key path from Settings.ini in the given folder (the folder the process was
// started in): the "RegistryKey" of section "Settings", its default when the section has none,
// the default also when there is no such file or section.
QString ReadSettingsKeyPath(const QString& startDir);

// The links of "/url:" arguments (prefix in any case), in argument order.
QStringList UrlArguments(const QStringList& arguments);
// Writes each link into the URL handler mailbox; the last one wins.
void PostUrlLinks(const QStringList& arguments);
// Blanks the text after "/url:" in the process's own argument memory, so that a link's
// password does not stay readable in /proc/<pid>/cmdline (ps) for the whole run. Call once the
// links are posted; the arguments are not read again.
void WipeUrlArguments(int argc, char** argv);

// True when the version text "major.minor" is at least the required version.
bool VersionAtLeast(const QString& text, int requiredMajor, int requiredMinor);

// The message for the first hosted library that is missing or too old; empty when both pass.
QString ComponentVersionProblem();
// Shows that message in an error box and ends the process; returns only when both pass.
void CheckComponentVersions();

// When the per-user store was found damaged and moved aside, says so once in a message box,
// naming the file kept aside.
void ShowSetAsideStoreNotice(QWidget* parent);

// "<executable path>.ico" as the application's icon, when it exists and loads.
void LoadApplicationIcon();
