#include "desktop/zkSecretService.h"
#include "desktop/zkSessionBus.h"

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFileInfo>
#include <QMap>

#include <mutex>

// A secret as the service carries it: (session, parameters, value, content type); in a "plain"
// session the parameters are empty and the value is the secret itself.
struct TServiceSecret {
    QDBusObjectPath Session;
    QByteArray Parameters;
    QByteArray Value;
    QString ContentType;
};
Q_DECLARE_METATYPE(TServiceSecret)

QDBusArgument& operator<<(QDBusArgument& argument, const TServiceSecret& secret) {
    argument.beginStructure();
    argument << secret.Session << secret.Parameters << secret.Value << secret.ContentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, TServiceSecret& secret) {
    argument.beginStructure();
    argument >> secret.Session >> secret.Parameters >> secret.Value >> secret.ContentType;
    argument.endStructure();
    return argument;
}

namespace {

using TAttributes = QMap<QString, QString>;

const QString ServiceName = QStringLiteral("org.freedesktop.secrets");
const QString ServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString ServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString ItemInterface = QStringLiteral("org.freedesktop.Secret.Item");
const QString CollectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
// The path the service answers with for "no object" (no such alias, no prompt needed).
const QString NoObject = QStringLiteral("/");

// A secret longer than this is not one of ours: it is not read into the client.
constexpr qsizetype MaxSecretBytes = 64 * 1024;
// How long a call may wait for a service that is there but does not answer (D-Bus's own
// default is 25 s, and the first use makes several calls); one that ran out of time is not
// asked again by this process.
constexpr int CallTimeoutMs = 3000;
constexpr int NameCheckTimeoutMs = 1000;

class TDesktopSecretService final : public ISecretStore {
public:
    TSecretAnswer Lookup(const TSecretId& id, QString& secret) override {
        std::lock_guard<std::mutex> lock(Lock);
        if (!Service())
            return TSecretAnswer::Unavailable;
        QList<QDBusObjectPath> unlocked, locked;
        if (const TSecretAnswer found = Search(id, unlocked, locked); found != TSecretAnswer::Done)
            return found;
        if (!unlocked.isEmpty()) {
            // Only unlocked items are read: asking for a locked one's secret may bring up the
            // unlock prompt.
            QDBusMessage reply;
            if (!Call(ServicePath, ServiceInterface, QStringLiteral("GetSecrets"),
                      {QVariant::fromValue(unlocked), QVariant::fromValue(Session)}, reply))
                return TSecretAnswer::Failed;
            if (reply.arguments().isEmpty())
                return Malformed();
            const QDBusArgument secrets = reply.arguments().at(0).value<QDBusArgument>();
            if (secrets.currentType() != QDBusArgument::MapType)
                return Malformed();
            QMap<QString, QByteArray> values;
            secrets.beginMap();
            while (!secrets.atEnd()) {
                QDBusObjectPath item;
                TServiceSecret value;
                secrets.beginMapEntry();
                secrets >> item >> value;
                secrets.endMapEntry();
                values.insert(item.path(), value.Value);
            }
            secrets.endMap();
            // The first the search gave that can be read.
            for (const QDBusObjectPath& item : unlocked) {
                const auto at = values.constFind(item.path());
                if (at != values.cend() && at->size() <= MaxSecretBytes) {
                    secret = QString::fromUtf8(*at);
                    return TSecretAnswer::Done;
                }
            }
        }
        if (!locked.isEmpty()) {
            LastProblem = QStringLiteral("the keyring is locked");
            return TSecretAnswer::Locked;
        }
        return TSecretAnswer::Missing;
    }

    TSecretAnswer Store(const TSecretId& id, const QString& secret) override {
        std::lock_guard<std::mutex> lock(Lock);
        if (!Service())
            return TSecretAnswer::Unavailable;
        // Asked first, so that a locked keyring never brings up its unlock prompt from here.
        QString collection;
        if (const TSecretAnswer writable = DefaultKeyringWritable(collection);
            writable != TSecretAnswer::Done)
            return writable;
        QVariantMap properties;
        properties.insert(ItemInterface + QStringLiteral(".Label"), id.Label);
        properties.insert(ItemInterface + QStringLiteral(".Attributes"),
                          QVariant::fromValue(Attributes(id)));
        QDBusMessage reply;
        // Replacing the item with the same attributes, so each id has one.
        if (!Call(collection, CollectionInterface, QStringLiteral("CreateItem"),
                  {properties,
                   QVariant::fromValue(
                       TServiceSecret{Session, {}, secret.toUtf8(), QStringLiteral("text/plain")}),
                   true},
                  reply))
            return TSecretAnswer::Failed;
        if (reply.arguments().size() < 2)
            return Malformed();
        if (reply.arguments().at(1).value<QDBusObjectPath>().path() != NoObject) {
            // The service wants a prompt first; it is never shown from here, so nothing is
            // stored (the prompt object, never called, shows nothing).
            LastProblem = QStringLiteral("the keyring asks for a prompt");
            return TSecretAnswer::Locked;
        }
        if (reply.arguments().at(0).value<QDBusObjectPath>().path() == NoObject) {
            LastProblem = QStringLiteral("the keyring did not take it");
            return TSecretAnswer::Failed;
        }
        return TSecretAnswer::Done;
    }

    TSecretAnswer Remove(const TSecretId& id) override {
        std::lock_guard<std::mutex> lock(Lock);
        if (!Service())
            return TSecretAnswer::Unavailable;
        QList<QDBusObjectPath> unlocked, locked;
        if (const TSecretAnswer found = Search(id, unlocked, locked); found != TSecretAnswer::Done)
            return found;
        TSecretAnswer answer = TSecretAnswer::Missing;
        if (!locked.isEmpty()) {
            LastProblem = QStringLiteral("the keyring is locked");
            answer = TSecretAnswer::Locked;
        }
        for (const QDBusObjectPath& item : unlocked) {
            QDBusMessage reply;
            if (!Call(item.path(), ItemInterface, QStringLiteral("Delete"), {}, reply)) {
                answer = TSecretAnswer::Failed;
                if (!Connection)
                    break;
                continue;
            }
            if (!reply.arguments().isEmpty() &&
                reply.arguments().at(0).value<QDBusObjectPath>().path() != NoObject) {
                // A prompt would be needed; none is shown, so the item stays.
                LastProblem = QStringLiteral("the keyring asks for a prompt");
                if (answer == TSecretAnswer::Missing)
                    answer = TSecretAnswer::Locked;
            } else if (answer == TSecretAnswer::Missing) {
                answer = TSecretAnswer::Done;
            }
        }
        return answer;
    }

    QString Problem() const override { return LastProblem; }

private:
    // Connected on the first call (the session, the service's own); false when there is none
    // (then for good: a keyring that starts later is found by the client's next start).
    bool Service() {
        if (!Tried) {
            Tried = true;
            Connection = Connect();
        }
        if (!Connection)
            LastProblem = Why;
        return Connection;
    }

    bool Connect() {
        if (!zkSessionBus::Given(&Why))
            return false;
        qDBusRegisterMetaType<TAttributes>();
        qDBusRegisterMetaType<TServiceSecret>();
        // Qt's own connection to the session bus, which its platform code may have opened
        // already; it never ends the process when the bus goes away.
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            Why = bus.lastError().isValid() ? bus.lastError().message()
                                            : QStringLiteral("the session bus cannot be reached");
            return false;
        }
        // Only a service already running is asked: the bus would otherwise start one, which
        // may want an unlock prompt before it answers.
        QDBusMessage owner = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        owner << ServiceName;
        QDBusMessage reply = bus.call(owner, QDBus::Block, NameCheckTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return Unreachable(reply);
        if (!reply.arguments().at(0).toBool()) {
            Why = QStringLiteral("no Secret Service runs on the session bus");
            return false;
        }
        // A service that hangs is found out here, in a second at most.
        QDBusMessage ping = QDBusMessage::createMethodCall(
            ServiceName, ServicePath, QStringLiteral("org.freedesktop.DBus.Peer"),
            QStringLiteral("Ping"));
        ping.setAutoStartService(false);
        reply = bus.call(ping, QDBus::Block, NameCheckTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return Unreachable(reply);
        // A "plain" session: the secrets travel as they are over the private socket of the
        // session bus, as every process of the user could read them from the service anyway.
        QDBusMessage open = QDBusMessage::createMethodCall(
            ServiceName, ServicePath, ServiceInterface, QStringLiteral("OpenSession"));
        open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
        open.setAutoStartService(false);
        reply = bus.call(open, QDBus::Block, CallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
            return Unreachable(reply);
        Session = reply.arguments().at(1).value<QDBusObjectPath>();
        if (Session.path().isEmpty() || Session.path() == NoObject) {
            Why = QStringLiteral("the Secret Service opened no session");
            return false;
        }
        return true;
    }

    // The id's items, split into those that can be read now and those behind a locked
    // keyring (never unlocked from here); Done when the search answered.
    TSecretAnswer Search(const TSecretId& id, QList<QDBusObjectPath>& unlocked,
                         QList<QDBusObjectPath>& locked) {
        QDBusMessage reply;
        if (!Call(ServicePath, ServiceInterface, QStringLiteral("SearchItems"),
                  {QVariant::fromValue(Attributes(id))}, reply))
            return TSecretAnswer::Failed;
        if (reply.arguments().size() < 2)
            return Malformed();
        unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0));
        locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1));
        return TSecretAnswer::Done;
    }

    // The default keyring's path in `collection` when it can take an item without a prompt.
    TSecretAnswer DefaultKeyringWritable(QString& collection) {
        QDBusMessage reply;
        if (!Call(ServicePath, ServiceInterface, QStringLiteral("ReadAlias"),
                  {QStringLiteral("default")}, reply))
            return TSecretAnswer::Failed;
        if (reply.arguments().isEmpty())
            return Malformed();
        collection = reply.arguments().at(0).value<QDBusObjectPath>().path();
        if (collection.isEmpty() || collection == NoObject) {
            LastProblem = QStringLiteral("the desktop has no default keyring");
            return TSecretAnswer::Locked;
        }
        if (!Call(collection, QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("Get"), {CollectionInterface, QStringLiteral("Locked")}, reply))
            return TSecretAnswer::Failed;
        if (reply.arguments().isEmpty())
            return Malformed();
        const QVariant locked = reply.arguments().at(0).value<QDBusVariant>().variant();
        // Anything but a plain "not locked" counts as locked: nothing is written then.
        if (locked.metaType() != QMetaType::fromType<bool>() || locked.toBool()) {
            LastProblem = QStringLiteral("the keyring is locked");
            return TSecretAnswer::Locked;
        }
        return TSecretAnswer::Done;
    }

    // This installation's items of that kind; the schema's name is one of the attributes, as
    // libsecret keeps it, so the items of earlier versions are found.
    static TAttributes Attributes(const TSecretId& id) {
        return {{QStringLiteral("xdg:schema"), QString::fromLatin1(SecretSchemaName)},
                {QStringLiteral("application"), QString::fromLatin1(SecretApplication)},
                {QStringLiteral("store"), id.Store},
                {QStringLiteral("kind"), id.Kind}};
    }

    // One call to the service; false (the problem noted) when it answered with an error or
    // not in time. A service that ran out of time is not asked again.
    bool Call(const QString& path, const QString& interface, const QString& method,
              const QVariantList& arguments, QDBusMessage& reply) {
        QDBusMessage call = QDBusMessage::createMethodCall(ServiceName, path, interface, method);
        call.setArguments(arguments);
        call.setAutoStartService(false);
        reply = QDBusConnection::sessionBus().call(call, QDBus::Block, CallTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        LastProblem =
            reply.errorMessage().isEmpty() ? QStringLiteral("an error") : reply.errorMessage();
        const QString error = reply.errorName();
        if (error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            error == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
            error == QLatin1String("org.freedesktop.DBus.Error.TimedOut")) {
            Connection = false;
            Why = QStringLiteral("the Secret Service does not answer");
        }
        return false;
    }

    TSecretAnswer Malformed() {
        LastProblem = QStringLiteral("the Secret Service gave an answer it should not");
        return TSecretAnswer::Failed;
    }

    bool Unreachable(const QDBusMessage& reply) {
        Why = reply.type() == QDBusMessage::ErrorMessage && !reply.errorMessage().isEmpty()
                  ? reply.errorMessage()
                  : QStringLiteral("no answer");
        return false;
    }

    std::mutex Lock;
    bool Tried = false;
    bool Connection = false; // kept for the process
    QDBusObjectPath Session;
    QString Why;
    QString LastProblem;
};

} // namespace

ISecretStore& DesktopSecretService() {
    static TDesktopSecretService service;
    return service;
}
