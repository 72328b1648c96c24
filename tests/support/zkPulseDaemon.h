#pragma once
// A private PulseAudio daemon with one idle null sink, for the tests and benchmarks that play to
// a real audio server. Header only, so the benchmarks can use it too. It ends with its owner,
// also when that is killed.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

class TPulseDaemon {
public:
    static constexpr const char* SinkName = "velquist_null";

    static bool Installed() {
        return !QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty();
    }
    // The daemon keeps its state under dir; Env() reaches it.
    explicit TPulseDaemon(const QString& dir) {
        const QString home = dir + QStringLiteral("/pulse-home");
        const QString run = dir + QStringLiteral("/pulse-run");
        QDir().mkpath(home);
        QDir().mkpath(run);
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Socket = run + QStringLiteral("/native");
        Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert(QStringLiteral("HOME"), home);
        Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
        Environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + Socket);
    }
    ~TPulseDaemon() { stop(); }

    // No configuration files, no autospawn, no module that suspends an idle sink: only the null
    // sink (which renders up to two seconds ahead while nobody plays) and a socket.
    bool start() {
        QFile::remove(Socket);
        Daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        Daemon.setProcessEnvironment(Environment);
        Daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Daemon.start(
            QStringLiteral("pulseaudio"),
            {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
             QStringLiteral("--use-pid-file=no"), QStringLiteral("--exit-idle-time=-1"),
             QStringLiteral("--log-target=stderr"), QStringLiteral("--log-level=error"),
             QStringLiteral("-L"),
             QStringLiteral("module-null-sink sink_name=") + QLatin1String(SinkName),
             QStringLiteral("-L"),
             QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + Socket});
        if (!Daemon.waitForStarted())
            return false;
        const QDeadlineTimer deadline(10000);
        while (!QFile::exists(Socket)) {
            if (deadline.hasExpired() || Daemon.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(20);
        }
        return true;
    }
    void stop() {
        if (Daemon.state() == QProcess::NotRunning)
            return;
        Daemon.terminate();
        if (!Daemon.waitForFinished(3000)) {
            Daemon.kill();
            Daemon.waitForFinished(3000);
        }
    }
    // The environment of a program that is to play to this daemon.
    const QProcessEnvironment& env() const { return Environment; }
    QString serverAddress() const { return QStringLiteral("unix:") + Socket; }

private:
    QProcess Daemon;
    QProcessEnvironment Environment;
    QString Socket;
};
