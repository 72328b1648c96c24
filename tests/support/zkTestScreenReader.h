#pragma once

// A screen reader's view of a client on a test desktop, for whole-process tests: the
// accessibility registry (at-spi2-registryd) and the bus launcher's part, both on the test's
// private session bus, which serves as the accessibility bus too; and tests/e2e/a11y_probe.py,
// which reads and drives the client over AT-SPI as a screen reader does. Everything is started
// by the test and ends with it.

#include "zkTestDesktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

class TScreenReader {
public:
    ~TScreenReader() {
        StopProcess(Registry, 3000);
        BusOwner.closeWriteChannel(); // it ends when its input closes
        if (!BusOwner.waitForFinished(3000))
            StopProcess(BusOwner, 3000);
    }

    // Empty when it is up; otherwise what is missing or went wrong.
    QString Start(const TSessionBus& bus, const TDesktop& desktop) {
        if (!QFileInfo::exists(QString::fromLatin1(RegistryProgram)))
            return QStringLiteral("at-spi2-core is not installed (scripts/install-deps.sh "
                                  "installs it)");
        QProcess check;
        check.start(QString::fromLatin1(Python),
                    {QStringLiteral("-c"), QStringLiteral("import pyatspi")});
        if (!check.waitForFinished(20000) || check.exitCode() != 0)
            return QStringLiteral("python3-pyatspi is not installed (scripts/install-deps.sh "
                                  "installs it)");
        Address = bus.Address;
        Display = desktop.Display;
        BusOwner.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        BusOwner.setProcessEnvironment(Environment());
        BusOwner.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        BusOwner.start(QString::fromLatin1(Python), {Script(), QStringLiteral("bus"), Address});
        QDeadlineTimer deadline(20000);
        QByteArray said;
        while (!said.contains("ready") && !deadline.hasExpired() &&
               BusOwner.state() != QProcess::NotRunning) {
            BusOwner.waitForReadyRead(200);
            said += BusOwner.readAllStandardOutput();
        }
        if (!said.contains("ready"))
            return QStringLiteral("the accessibility bus could not be announced");
        // Its keyboard events reach the X server through XTest.
        QProcessEnvironment env = Environment();
        env.insert(QStringLiteral("DISPLAY"), Display);
        Registry.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        Registry.setProcessEnvironment(env);
        Registry.setProcessChannelMode(QProcess::ForwardedChannels);
        Registry.start(QString::fromLatin1(RegistryProgram), {});
        // Up once it owns its name on the bus.
        QDBusConnection connection =
            QDBusConnection::connectToBus(Address, QStringLiteral("velquist-test-registry-check"));
        bool up = false;
        while (!(up = connection.interface()->isServiceRegistered(
                     QStringLiteral("org.a11y.atspi.Registry"))) &&
               !deadline.hasExpired() && Registry.state() != QProcess::NotRunning)
            QThread::msleep(50);
        QDBusConnection::disconnectFromBus(QStringLiteral("velquist-test-registry-check"));
        return up ? QString() : QStringLiteral("at-spi2-registryd did not start");
    }

    // What a client needs to be read: the desktop, the session bus, accessibility on.
    QProcessEnvironment ClientEnvironment(const TDesktop& desktop) const {
        QProcessEnvironment env = desktop.ClientEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Address);
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        return env;
    }

    struct TAnswer {
        int Code = -1;
        QString Out;
        QString Err;
        QStringList Lines() const { return Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    };
    // One probe command (see a11y_probe.py), waited for.
    TAnswer Probe(const QStringList& arguments, int ms = 30000) const {
        QProcess probe;
        probe.setProcessEnvironment(Environment());
        probe.start(QString::fromLatin1(Python), QStringList{Script()} + arguments);
        TAnswer answer;
        if (!probe.waitForFinished(ms)) {
            StopProcess(probe, 2000);
            answer.Err = QStringLiteral("no answer in time");
            return answer;
        }
        answer.Code = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
        answer.Out = QString::fromUtf8(probe.readAllStandardOutput());
        answer.Err = QString::fromUtf8(probe.readAllStandardError());
        return answer;
    }

    // A listener for the events under a window (see "listen"), started and listening.
    class TListener {
    public:
        TListener(const TScreenReader& reader, const QString& window, int seconds) {
            Process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
            Process.setProcessEnvironment(reader.Environment());
            Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            Process.start(QString::fromLatin1(Python),
                          {Script(), QStringLiteral("listen"), window, QString::number(seconds)});
            QDeadlineTimer deadline(20000);
            while (!Output.contains("listening\n") && !deadline.hasExpired() &&
                   Process.state() != QProcess::NotRunning) {
                Process.waitForReadyRead(200);
                Output += Process.readAllStandardOutput();
            }
        }
        ~TListener() { StopProcess(Process, 2000); }
        bool IsListening() const { return Output.contains("listening\n"); }
        // Every event heard so far: "type<TAB>role<TAB>name".
        QStringList Heard() {
            Process.waitForReadyRead(50);
            Output += Process.readAllStandardOutput();
            QStringList lines = QString::fromUtf8(Output).split(QLatin1Char('\n'));
            lines.removeAll(QStringLiteral("listening"));
            lines.removeAll(QString());
            return lines;
        }
        // Waits until a line of the events contains text; false on timeout.
        bool WaitFor(const QString& text, int ms = 10000) {
            QDeadlineTimer deadline(ms);
            while (!Heard().join(QLatin1Char('\n')).contains(text))
                if (deadline.hasExpired())
                    return false;
            return true;
        }

    private:
        QProcess Process;
        QByteArray Output;
    };

    QString Address;

private:
    static constexpr const char* Python = "/usr/bin/python3"; // Debian's, with python3-pyatspi
    static constexpr const char* RegistryProgram = "/usr/libexec/at-spi2-registryd";
    static QString Script() {
        return QStringLiteral(VELQUIST_SOURCE_DIR "/tests/e2e/a11y_probe.py");
    }
    // The session bus serves as the accessibility bus.
    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), Address);
        env.insert(QStringLiteral("AT_SPI_BUS_ADDRESS"), Address);
        env.remove(QStringLiteral("DISPLAY"));
        return env;
    }

    QString Display;
    QProcess BusOwner;
    QProcess Registry;
};
