#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QWidget;
class TZentrikProMainForm;

// Pieces of the start-up sequence that main() runs in order.

// The settings key path from Settings.ini in the given folder (the folder the process was
// started in): the "RegistryKey" of section "Settings", its default when the section has none,
// the default also when there is no such file or section.
QString ReadSettingsKeyPath(const QString& startDir);

// The links of "/url:" arguments (prefix in any case), in argument order.
QStringList UrlArguments(const QStringList& arguments);
// Writes each link into the URL handler mailbox; the last one wins.
void PostUrlLinks(const QStringList& arguments);
// Writes one link into the mailbox: a link a later launch sent over the activation socket.
void PostUrlLink(const QString& link);
// Blanks the text after "/url:" in the process's own argument memory, so that a link's
// password does not stay readable in /proc/<pid>/cmdline (ps), which every user can read.
void WipeUrlArguments(int argc, char** argv);
// The environment variable in which the installed launcher hands on a link argument: a
// process's environment is readable by its owner alone, its arguments by everybody.
inline constexpr char LinkArgumentVariable[] = "VELQUIST_LINK_ARGUMENT";
// The first thing main does: copies the arguments into our own memory, with a link the launcher
// handed over (LinkArgumentVariable) as the first argument after the program, takes that
// variable out of the environment (programs we start must not inherit it) and wipes the links
// from the command line.
QStringList TakeStartArguments(int argc, char** argv);

// True when the version text "major.minor" is at least the required version.
bool VersionAtLeast(const QString& text, int requiredMajor, int requiredMinor);

// The message for the first hosted library that is missing or too old; empty when both pass.
QString ComponentVersionProblem();
// Shows that message in an error box and ends the process; returns only when both pass.
void CheckComponentVersions();

// When the per-user store was found damaged and moved aside, says so once in a message box,
// naming the file kept aside; when it could not be used at all and lives in memory, says
// that every setting of the session is lost at exit.
void ShowSetAsideStoreNotice(QWidget* parent);

// Clears what crashed saves left (temporary files of whole-file writes, up to megabytes each)
// in the folders the client writes to: the installation folder, SavedWindows, the folders of
// the layout files, the per-user store's folder and the service's list folder. Run by the
// client that holds the lock; a temporary file younger than ten minutes may be a write still
// under way and stays. The folders are worked out here; they are looked through on a thread
// of the global pool.
void RemoveStaleWriteTemporaries();

// "<executable path>.ico" as the application's icon, when it exists and loads: its small sizes
// at once when they are plain bitmaps, every size once the event loop first runs dry.
void LoadApplicationIcon();
// Starts reading that file on another thread, so that LoadApplicationIcon finds its images
// decoded (the large one alone took a twentieth of the processor time before the first idle).
// Called once the process knows it stays; LoadApplicationIcon takes the result.
void StartReadingApplicationIcon();

// The activate and terminate requests (later launches, SIGTERM). They can come while the main
// window is still being created, whenever something there lets events run; such a request
// waits here and reaches the window once it is ready. After that they pass straight on.
class TMainFormRequests : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void Activate();
    void Terminate();
    // The main window is created: the requests held so far reach it from the event loop.
    void SetMainForm(TZentrikProMainForm* form);

private:
    QPointer<TZentrikProMainForm> Form;
    bool PendingActivate = false;
    bool PendingTerminate = false;
};
