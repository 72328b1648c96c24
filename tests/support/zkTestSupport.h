#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// One environment variable set for a scope (unset, with a null value) and as it was after it.
class TScopedEnvironment {
public:
    TScopedEnvironment(const char* name, const QByteArray& value);
    ~TScopedEnvironment();
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

private:
    const char* Name;
    QByteArray Old;
};

// A private home for one test: temporary XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR,
// and a folder that stands for /tmp (VELQUIST_TEST_TMP_DIR), so nothing a test does touches the
// developer's own settings or the machine's shared folders. Restores the old values on exit.
class TTestHome {
public:
    TTestHome();
    ~TTestHome();
    QString path() const { return Dir.path(); }
    QString configHome() const { return Dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return Dir.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return Dir.path() + QStringLiteral("/run"); }
    QString tmpDir() const { return Dir.path() + QStringLiteral("/tmp"); }

private:
    QTemporaryDir Dir;
    TScopedEnvironment Config, Data, Runtime, Tmp;
};

// Writes text to a file (creating folders), for tests that prepare settings files.
void WriteTextFile(const QString& path, const QByteArray& content);
// A TCP port on 127.0.0.1 that nothing listens on right now, for a server a test starts.
quint16 FreePort();
// A program the tests start by name: on PATH, else where Debian puts daemons (/usr/sbin: the
// broker), which a normal user's PATH leaves out. Empty when it is nowhere.
QString FindProgram(const QString& name);
QByteArray ReadWholeFile(const QString& path);
// Another program's SQLite database (a table of its own with a row, no write-ahead log), mode
// 0644, as a browser or a mail program keeps one: for the tests that must leave it untouched.
void WriteForeignDatabase(const QString& path);
// The permission bits of a file or folder, without following a link.
unsigned ModeBits(const QString& path);

// Runs a program (with this process's environment) whose standard output is a terminal, a
// pseudo-terminal of the test's, as when a user runs it in one: its exit status (-1 when it
// did not end within 30 s or crashed) and what the terminal was given. The terminal turns
// each "\n" into "\r\n".
struct TTerminalRun {
    int Status = -1;
    QByteArray Out;
};
TTerminalRun RunOnTerminal(const QString& program, const QStringList& arguments);

// A private home and installation folder as the current directory, with a fresh per-user store
// at the default key path, scripted prompts, recorded shell opens and the default
// configuration; everything is put back when it ends.
class TClientSandbox {
public:
    TClientSandbox();
    ~TClientSandbox();
    QString dir() const { return Install.path(); }

    TTestHome Home;

private:
    QTemporaryDir Install;
    QString OldDir;
};
