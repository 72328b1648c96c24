#include "zkTestSupport.h"

#include "config/zkConfig.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkPrompts.h"
#include "platform/zkShell.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpServer>

#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
void setOrUnset(const char* name, const QByteArray& value) {
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}
} // namespace

TScopedEnvironment::TScopedEnvironment(const char* name, const QByteArray& value)
    : Name(name), Old(qgetenv(name)) {
    setOrUnset(name, value);
}

TScopedEnvironment::~TScopedEnvironment() {
    setOrUnset(Name, Old);
}

TTestHome::TTestHome()
    : Config("XDG_CONFIG_HOME", configHome().toLocal8Bit()),
      Data("XDG_DATA_HOME", dataHome().toLocal8Bit()),
      Runtime("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit()),
      Tmp("VELQUIST_TEST_TMP_DIR", tmpDir().toLocal8Bit()) {
    QDir().mkpath(configHome());
    QDir().mkpath(tmpDir());
    QDir().mkpath(dataHome());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TTestHome::~TTestHome() = default;

void WriteTextFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}

QByteArray ReadWholeFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WriteForeignDatabase(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE moz_places(id INTEGER PRIMARY KEY, url TEXT);"
                 "INSERT INTO moz_places(url) VALUES('https://example.org/');",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ::chmod(QFile::encodeName(path).constData(), 0644);
}

unsigned ModeBits(const QString& path) {
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

TClientSandbox::TClientSandbox() : OldDir(QDir::currentPath()) {
    QDir::setCurrent(Install.path());
    TUserStore::ResetInstance();
    zkIni::ClearCache();
    SetSettingsKeyPath(QString::fromLatin1(DefaultSettingsKeyPath()));
    zkPrompts::SetScripted(true);
    zkPrompts::ClearScript();
    zkShell::SetRecording(true);
    zkShell::ClearOpened();
    SetConfigDefaults(ConfigInfo());
}

TClientSandbox::~TClientSandbox() {
    QDir::setCurrent(OldDir);
    TUserStore::ResetInstance();
}

QString FindProgram(const QString& name) {
    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty())
        return onPath;
    return QStandardPaths::findExecutable(
        name,
        {QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TTerminalRun RunOnTerminal(const QString& program, const QStringList& arguments) {
    TTerminalRun run;
    // The arguments made ready before the fork: the child only calls exec.
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString& argument : arguments)
        words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int controller = -1, terminal = -1;
    if (::openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(terminal, STDOUT_FILENO);
        ::close(terminal);
        ::close(controller);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(terminal);
    if (pid < 0) {
        ::close(controller);
        return run;
    }
    // Read until the program's end closes the terminal (EIO) or time runs out.
    QDeadlineTimer deadline(30000);
    char buffer[4096];
    while (!deadline.hasExpired()) {
        pollfd ready{controller, POLLIN, 0};
        if (::poll(&ready, 1, 200) <= 0)
            continue;
        const ssize_t n = ::read(controller, buffer, sizeof buffer);
        if (n > 0)
            run.Out.append(buffer, n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(controller);
    int status = 0;
    if (deadline.hasExpired())
        ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    if (!deadline.hasExpired() && WIFEXITED(status))
        run.Status = WEXITSTATUS(status);
    return run;
}
