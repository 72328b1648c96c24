#include "zkTestSupport.h"

#include "config/zkConfig.h"
#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "platform/zkPrompts.h"
#include "platform/zkShell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpServer>

#include <sqlite3.h>

#include <sys/stat.h>

namespace {
void setOrUnset(const char* name, const QByteArray& value) {
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}
} // namespace

TTestHome::TTestHome()
    : OldConfig(qgetenv("XDG_CONFIG_HOME")), OldData(qgetenv("XDG_DATA_HOME")),
      OldRuntime(qgetenv("XDG_RUNTIME_DIR")), OldTmp(qgetenv("VELQUIST_TEST_TMP_DIR")) {
    QDir().mkpath(configHome());
    QDir().mkpath(tmpDir());
    QDir().mkpath(dataHome());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
    qputenv("VELQUIST_TEST_TMP_DIR", tmpDir().toLocal8Bit());
}

TTestHome::~TTestHome() {
    setOrUnset("XDG_CONFIG_HOME", OldConfig);
    setOrUnset("XDG_DATA_HOME", OldData);
    setOrUnset("XDG_RUNTIME_DIR", OldRuntime);
    setOrUnset("VELQUIST_TEST_TMP_DIR", OldTmp);
}

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
