// A notification server for whole-process tests: owns org.freedesktop.Notifications on the
// session bus it is started on, writes every Notify call as one JSON line on stdout, and on
// the commands read from stdin emits the server's signals:
//   invoke ID KEY    ActionInvoked(ID, KEY)
//   close ID         NotificationClosed(ID, 2)
// It says "ready <address>" once it owns the name, and ends when stdin closes. With
// "--delay MS" it answers each Notify that much later, as a slow server does: the call is
// written (the notification "shows") when it comes, and the signals can name its id before the
// caller has heard it.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>
#include <unistd.h>

namespace {
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

void Say(const QByteArray& line) {
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}
} // namespace

class TRecorder : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    using QObject::QObject;
    int DelayMs = 0;
    bool BodyMarkup = true;

public slots:
    QStringList GetCapabilities() {
        QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};
        if (BodyMarkup)
            capabilities << QStringLiteral("body-markup");
        return capabilities;
    }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("velquist tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("notification-recorder");
    }
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expireTimeout) {
        const uint id = replacesId != 0 ? replacesId : ++LastId;
        QJsonObject call{{"id", qint64(id)},
                         {"replaces", qint64(replacesId)},
                         {"app", appName},
                         {"icon", appIcon},
                         {"summary", summary},
                         {"body", body},
                         {"actions", QJsonArray::fromStringList(actions)},
                         {"desktop-entry", hints.value(QStringLiteral("desktop-entry")).toString()},
                         {"expire", expireTimeout}};
        Say(QJsonDocument(call).toJson(QJsonDocument::Compact));
        if (DelayMs > 0) {
            setDelayedReply(true);
            const QDBusMessage reply = message().createReply(id);
            QTimer::singleShot(DelayMs, this,
                               [reply] { QDBusConnection::sessionBus().send(reply); });
        }
        return id;
    }
    void CloseNotification(uint id) { Emit(QStringLiteral("NotificationClosed"), {id, 3u}); }

public:
    void Command(const QByteArray& line) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() == 3 && words[0] == "invoke")
            Emit(QStringLiteral("ActionInvoked"), {words[1].toUInt(), QString::fromUtf8(words[2])});
        else if (words.size() == 2 && words[0] == "close")
            Emit(QStringLiteral("NotificationClosed"), {words[1].toUInt(), 2u});
    }

private:
    void Emit(const QString& name, const QVariantList& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(Path, Interface, name);
        signal.setArguments(arguments);
        QDBusConnection::sessionBus().send(signal);
        Say("sent " + name.toUtf8());
    }
    uint LastId = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fprintf(stderr, "no session bus: %s\n", qPrintable(bus.lastError().message()));
        return 2;
    }
    TRecorder recorder;
    const QStringList arguments = app.arguments();
    const qsizetype delay = arguments.indexOf(QStringLiteral("--delay"));
    if (delay > 0 && delay + 1 < arguments.size())
        recorder.DelayMs = arguments[delay + 1].toInt();
    // A server that shows text as it is, as some do.
    recorder.BodyMarkup = !arguments.contains(QStringLiteral("--plain"));
    if (!bus.registerObject(Path, &recorder, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        fprintf(stderr, "cannot own the name: %s\n", qPrintable(bus.lastError().message()));
        return 2;
    }
    Say("ready " + qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[512];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, qsizetype(n));
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            recorder.Command(pending.left(end));
            pending.remove(0, end + 1);
        }
    });
    return app.exec();
}

#include "notification_recorder.moc"
