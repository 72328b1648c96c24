#include "zkClientProcess.h"

#include "config/zkInboxSettings.h"
#include "config/zkSettings.h"
#include "config/zkUserStore.h"
#include "config/zkWindowRecord.h"
#include "shell/zkLayouts.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>

bool CopyClientInto(const QString& clientPath, const QString& folder) {
    const QString program = folder + QStringLiteral("/velquist");
    if (!QFile::copy(clientPath, program))
        return false;
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // The client opens it from beside itself at its first web request.
    const QString module = QFileInfo(clientPath).path() + QStringLiteral("/velquist-http.so");
    if (QFileInfo::exists(module))
        QFile::copy(module, folder + QStringLiteral("/velquist-http.so"));
    return true;
}

TTestInstallation::TTestInstallation() {
    const QString bin = QStringLiteral(VELQUIST_BIN_DIR);
    Valid = Dir.isValid() && CopyClientInto(bin + QStringLiteral("/velquist"), Dir.path());
}

TClientRun::TClientRun(const QString& program, const QStringList& arguments,
                       const QString& workingDir, const QProcessEnvironment& extra,
                       const QStringList& unset)
    : Process(std::make_unique<QProcess>()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // No session bus unless the test gives one: never the desktop's of whoever runs the tests,
    // and none launched by libdbus for an X display, which forks from the client, outlives the
    // test, and under AddressSanitizer has hung before it ran anything, holding the client up.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    // No test may hang on a dialog: every prompt is answered (Cancel unless told) and echoed.
    if (!env.contains(QStringLiteral("VELQUIST_SCRIPTED_PROMPTS")))
        env.insert(QStringLiteral("VELQUIST_SCRIPTED_PROMPTS"), QString());
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    for (const QString& key : unset)
        env.remove(key);
    Process->setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        Process->setWorkingDirectory(workingDir);
    Process->setProcessChannelMode(QProcess::SeparateChannels);
    Process->start(program, arguments);
    // Until the test's own loop has seen the start, state() says Starting even while the client
    // serves: a test that waits only by polling files would read a running client as not yet run.
    Process->waitForStarted(10000);
}

TClientRun::~TClientRun() {
    if (Process->state() != QProcess::NotRunning) {
        Process->kill();
        Process->waitForFinished(5000);
    }
}

bool TClientRun::waitStarted(int ms) {
    return Process->waitForStarted(ms);
}

bool TClientRun::waitFinished(int ms) {
    if (Process->state() == QProcess::NotRunning)
        return true;
    return Process->waitForFinished(ms);
}

bool TClientRun::waitForStdErr(const QByteArray& text, int ms) {
    QDeadlineTimer deadline(ms);
    while (!stdErr().contains(text)) {
        if (deadline.hasExpired() || Process->state() == QProcess::NotRunning)
            return false;
        Process->waitForReadyRead(200); // reads stderr as well
    }
    return true;
}

QByteArray TClientRun::stdErr() {
    ErrBuffer += Process->readAllStandardError();
    return ErrBuffer;
}

void TClientRun::terminate() {
    Process->terminate();
}

void StoreDeskChoices(const QString& layoutFile, bool loadOnStart) {
    TUserStore::ResetInstance();
    const TSettingsStore registry = TSettingsStore::Registry();
    const QString key = SettingsKeyPath() + QStringLiteral("\\Settings");
    WriteStringValue(registry, key, QStringLiteral("UserName"), QStringLiteral("DEMO"));
    WriteBoolValue(registry, key, QStringLiteral("LoadOnStart"), loadOnStart);
    if (loadOnStart)
        WriteStringValue(registry, key, QStringLiteral("LoadLayoutName"), layoutFile);
    WriteStringValue(registry, key, QStringLiteral("SaveLayoutName"), layoutFile);
    WriteIntegerValue(registry, key, QStringLiteral("SaveOnExit"), 2);
    TUserStore::ResetInstance();
}

void StoreInboxChoices(quint16 port, const QString& token) {
    TUserStore::ResetInstance();
    TInboxSettings inbox;
    inbox.Enabled = true;
    inbox.Port = port;
    inbox.Token = token;
    WriteInboxSettings(TSettingsStore::Registry(), inbox);
    TUserStore::ResetInstance();
}

void WriteAlertWindowsLayout(const QString& layoutFile, const QStringList& dataConfigs,
                             const std::function<void(qsizetype, TLayoutWindow&)>& adjust) {
    SetDefaultWindowRecord();
    TLayout layout;
    int left = 10;
    for (const QString& dataConfig : dataConfigs) {
        TLayoutWindow window;
        window.Record = DefaultWindowRecord();
        window.Record.Left = left;
        window.Record.Width = 300;
        window.Record.Height = 200;
        window.Record.DataConfig = dataConfig;
        if (adjust)
            adjust(qsizetype(layout.Windows.size()), window);
        layout.Windows.push_back(window);
        left += 320;
    }
    QDir().mkpath(QFileInfo(layoutFile).path());
    WriteLayout(TSettingsStore::IniFile(layoutFile), layout);
}

bool WaitListening(quint16 port, TClientRun& run, int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && run.process().state() != QProcess::NotRunning) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool WaitForFile(const QString& path, int ms) {
    QDeadlineTimer deadline(ms);
    while (!QFileInfo::exists(path)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

void StopProcess(QProcess& process, int ms) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(ms))
        process.kill();
    process.waitForFinished(ms);
}

THttpAnswer AskHttp(quint16 port, const QByteArray& requestLine, const QByteArray& headers,
                    const QByteArray& body) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(requestLine + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
                 "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray all;
    QDeadlineTimer deadline(10000);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        all += socket.readAll();
    }
    all += socket.readAll();
    THttpAnswer answer;
    const QList<QByteArray> status = all.left(all.indexOf("\r\n")).split(' ');
    answer.Status = status.size() > 1 ? status[1].toInt() : 0;
    answer.Body = all.mid(all.indexOf("\r\n\r\n") + 4);
    return answer;
}
