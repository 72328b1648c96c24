#pragma once

// A real Secret Service for whole-process tests: gnome-keyring-daemon on a private session bus
// (zkTestDesktop.h's TSessionBus), its login keyring made and unlocked with a password of the
// test's, kept in the test's private home; locked and unlocked again as a user would, and
// asked with secret-tool. It ends with the test.

#include "config/zkUserStore.h"
#include "zkClientProcess.h"
#include "zkTestSupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

// A secret as the Secret Service carries it: (session, parameters, value, content type).
struct TTestSecretValue {
    QDBusObjectPath Session;
    QByteArray Parameters;
    QByteArray Value;
    QString ContentType;
};
Q_DECLARE_METATYPE(TTestSecretValue)

inline QDBusArgument& operator<<(QDBusArgument& argument, const TTestSecretValue& secret) {
    argument.beginStructure();
    argument << secret.Session << secret.Parameters << secret.Value << secret.ContentType;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument& operator>>(const QDBusArgument& argument, TTestSecretValue& secret) {
    argument.beginStructure();
    argument >> secret.Session >> secret.Parameters >> secret.Value >> secret.ContentType;
    argument.endStructure();
    return argument;
}

class TTestKeyring {
public:
    static constexpr const char* Password = "test-keyring-password";

    ~TTestKeyring() {
        if (Daemon.state() != QProcess::NotRunning)
            Resume();
        StopProcess(Daemon, 3000);
    }

    // Empty when it is up and unlocked; otherwise what is missing or went wrong.
    QString Start(const QString& busAddress, const TTestHome& home) {
        for (const char* tool : {"gnome-keyring-daemon", "secret-tool"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed (scripts/install-deps.sh installs it)")
                    .arg(QString::fromLatin1(tool));
        Address = busAddress;
        Env = QProcessEnvironment::systemEnvironment();
        Env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        Env.insert(QStringLiteral("HOME"), home.path());
        Daemon.setProcessEnvironment(Env);
        Daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        Daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Daemon.start(QStringLiteral("gnome-keyring-daemon"),
                     {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                      QStringLiteral("--unlock")});
        if (!Daemon.waitForStarted(10000))
            return QStringLiteral("gnome-keyring-daemon did not start");
        // Written through at once (no event loop runs here); the end of input ends the password.
        Daemon.write(Password);
        Daemon.waitForBytesWritten(3000);
        Daemon.closeWriteChannel();
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress, QStringLiteral("keyring"));
        QDeadlineTimer deadline(10000);
        bool up = false;
        while (!(up = bus.interface()->isServiceRegistered(
                     QStringLiteral("org.freedesktop.secrets"))) &&
               !deadline.hasExpired() && Daemon.state() != QProcess::NotRunning)
            QThread::msleep(50);
        QDBusConnection::disconnectFromBus(QStringLiteral("keyring"));
        return up ? QString() : QStringLiteral("gnome-keyring-daemon did not come up");
    }

    // secret-tool's answer for one of the client's secrets; "<none>" when it has none (or the
    // keyring is locked).
    QString Lookup(const QString& kind, const QString& store = TUserStore::DefaultFileName()) {
        return LookupWith({QStringLiteral("application"), QStringLiteral("velquist"),
                           QStringLiteral("store"), store, QStringLiteral("kind"), kind});
    }

    // secret-tool's answer for the item with these attributes (name, value, name, value...).
    QString LookupWith(const QStringList& attributes) {
        QProcess tool;
        tool.setProcessEnvironment(Env);
        tool.start(QStringLiteral("secret-tool"),
                   QStringList{QStringLiteral("lookup")} + attributes);
        if (!tool.waitForFinished(10000) || tool.exitCode() != 0)
            return QStringLiteral("<none>");
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    // Locks the login keyring (as the desktop's lock screen or "Lock" in its manager would);
    // empty when done, else the service's error.
    QString Lock() {
        return Call("Lock", [](QDBusMessage& call) {
            call << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(LoginCollection)});
        });
    }

    // Unlocks it with its password, without a prompt (gnome-keyring's own interface for that);
    // empty when done.
    QString Unlock() {
        qDBusRegisterMetaType<TTestSecretValue>();
        QDBusConnection bus = QDBusConnection::connectToBus(Address, QStringLiteral("unlock"));
        struct TEnd {
            ~TEnd() { QDBusConnection::disconnectFromBus(QStringLiteral("unlock")); }
        } end;
        // A "plain" session carries the password as it is; it lives with this connection.
        QDBusMessage open = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("OpenSession"));
        open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
        const QDBusMessage opened = bus.call(open, QDBus::Block, 10000);
        if (opened.type() != QDBusMessage::ReplyMessage || opened.arguments().size() < 2)
            return opened.errorMessage();
        TTestSecretValue secret;
        secret.Session = opened.arguments().at(1).value<QDBusObjectPath>();
        secret.Value = Password;
        secret.ContentType = QStringLiteral("text/plain");
        QDBusMessage unlock = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
            QStringLiteral("UnlockWithMasterPassword"));
        unlock << QVariant::fromValue(QDBusObjectPath(LoginCollection))
               << QVariant::fromValue(secret);
        const QDBusMessage done = bus.call(unlock, QDBus::Block, 10000);
        return done.type() == QDBusMessage::ReplyMessage ? QString() : done.errorMessage();
    }

    // Stops the daemon where it stands (it keeps its name on the bus and answers nothing), as a
    // hung service would; Resume lets it go on. The harness's end resumes it before stopping.
    void Pause() { ::kill(pid_t(Daemon.processId()), SIGSTOP); }
    void Resume() { ::kill(pid_t(Daemon.processId()), SIGCONT); }

private:
    static constexpr const char* LoginCollection = "/org/freedesktop/secrets/collection/login";

    template <typename F> QString Call(const char* method, F arguments) {
        QDBusConnection bus = QDBusConnection::connectToBus(Address, QStringLiteral("call"));
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
            QStringLiteral("org.freedesktop.Secret.Service"), QString::fromLatin1(method));
        arguments(call);
        const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
        QDBusConnection::disconnectFromBus(QStringLiteral("call"));
        return reply.type() == QDBusMessage::ReplyMessage ? QString() : reply.errorMessage();
    }

    QString Address;
    QProcess Daemon;
    QProcessEnvironment Env;
};
