#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

struct TLayoutWindow;

// Copies the client at clientPath, with the HTTP module beside it when there is one, into folder
// as "velquist" (owner-only, executable); false when the client could not be copied.
bool CopyClientInto(const QString& clientPath, const QString& folder);

// A temporary installation folder holding a copy of the built client, for whole-process tests.
// The XDG folders are those of the test's environment (use TTestHome first).
class TTestInstallation {
public:
    TTestInstallation();
    QString dir() const { return Dir.path(); }
    QString clientPath() const { return Dir.path() + QStringLiteral("/velquist"); }
    bool isValid() const { return Valid; }

private:
    QTemporaryDir Dir;
    bool Valid = false;
};

// One run of the client (or any program) with the test's environment.
class TClientRun {
public:
    // The variables named in unset are taken out of the environment (after extra is added).
    TClientRun(const QString& program, const QStringList& arguments,
               const QString& workingDir = QString(), const QProcessEnvironment& extra = {},
               const QStringList& unset = {});
    ~TClientRun();

    QProcess& process() { return *Process; }
    bool waitStarted(int ms = 10000);
    // Waits for the process to end; false on timeout.
    bool waitFinished(int ms = 20000);
    int exitCode() const { return Process->exitCode(); }
    QProcess::ExitStatus exitStatus() const { return Process->exitStatus(); }
    QByteArray stdErr();
    // Waits until the process has written text to stderr; false when it ended or time ran out.
    bool waitForStdErr(const QByteArray& text, int ms = 20000);
    void terminate();

private:
    std::unique_ptr<QProcess> Process;
    QByteArray ErrBuffer;
};

// Stores the per-user choices of a client that logs in as DEMO without asking and, when told
// to, opens layoutFile at start (an empty name opens nothing); it saves to layoutFile, asking
// first (SaveOnExit 2) unless it is terminated.
void StoreDeskChoices(const QString& layoutFile, bool loadOnStart);

// Stores the inbox switched on at 127.0.0.1:port with that token (the rest as a user leaves it),
// for a client started afterwards.
void StoreInboxChoices(quint16 port, const QString& token);

// Writes a layout file of one alert window for each data configuration ("WN=Gappers&S=",
// as a window file holds it), side by side, with the built-in record otherwise; adjust, when
// given, changes window i before it is written.
void WriteAlertWindowsLayout(
    const QString& layoutFile, const QStringList& dataConfigs,
    const std::function<void(qsizetype i, TLayoutWindow& window)>& adjust = {});

// Polls until something listens on 127.0.0.1:port; false when the client ended first or time
// ran out.
bool WaitListening(quint16 port, TClientRun& run, int ms = 20000);

// Polls until the file exists; false on timeout.
bool WaitForFile(const QString& path, int ms = 10000);

// Ends a helper process a test started (a server, a daemon): politely, then for sure.
void StopProcess(QProcess& process, int ms = 5000);

// One HTTP/1.1 request to 127.0.0.1:port on a connection of its own ("Connection: close"):
// requestLine is "POST /alerts/..." and headers each end in CRLF. The answer's status (0 when
// none came within 10 s) and body.
struct THttpAnswer {
    int Status = 0;
    QByteArray Body;
};
THttpAnswer AskHttp(quint16 port, const QByteArray& requestLine, const QByteArray& headers,
                    const QByteArray& body);
// A JSON body posted to the inbox's webhook path.
inline THttpAnswer PostJson(quint16 port, const QByteArray& path, const QByteArray& body,
                            const QByteArray& headers = QByteArray()) {
    return AskHttp(port, "POST " + path, headers + "Content-Type: application/json\r\n", body);
}
