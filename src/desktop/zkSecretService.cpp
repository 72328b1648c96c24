#include "desktop/zkSecretService.h"

#include "platform/zkSharedLibrary.h"

#include <QByteArray>
#include <QFileInfo>

#include <mutex>

// GLib's headers name a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

// clang-format off
#define ZK_SECRET_FUNCTIONS(X) \
    X(secret_service_get_sync) \
    X(secret_service_ensure_session_sync) \
    X(secret_service_search_sync) \
    X(secret_service_store_sync) \
    X(secret_collection_for_alias_sync) \
    X(secret_collection_get_locked) \
    X(secret_item_get_locked) \
    X(secret_item_get_secret) \
    X(secret_item_delete_sync) \
    X(secret_value_new) \
    X(secret_value_get) \
    X(secret_value_unref) \
    X(secret_attributes_build) \
    X(g_hash_table_unref) \
    X(g_list_free_full) \
    X(g_object_unref) \
    X(g_error_free) \
    X(g_io_error_quark) \
    X(g_bus_get_sync) \
    X(g_dbus_connection_set_exit_on_close) \
    X(g_dbus_connection_call_sync) \
    X(g_dbus_proxy_set_default_timeout) \
    X(g_variant_new) \
    X(g_variant_get) \
    X(g_variant_unref)
// clang-format on

namespace {

struct TSecretApi {
    ZK_SECRET_FUNCTIONS(ZK_SHARED_POINTER)
};

const TSecretApi* SecretLibrary() {
    // GLib's and GIO's functions come from libsecret's own dependencies.
    return zkShared::Load<TSecretApi>("libsecret-1.so.0", [](void* h, TSecretApi& a) {
        return ZK_SECRET_FUNCTIONS(ZK_SHARED_RESOLVE) true;
    });
}

const SecretSchema Schema = {SecretSchemaName,
                             SECRET_SCHEMA_NONE,
                             {{"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
                              {"store", SECRET_SCHEMA_ATTRIBUTE_STRING},
                              {"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
                              {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                             0,
                             nullptr,
                             nullptr,
                             nullptr,
                             nullptr,
                             nullptr,
                             nullptr,
                             nullptr};

// A secret longer than this is not one of ours: it is not read into the client.
constexpr gsize MaxSecretBytes = 64 * 1024;
// How long a call may wait for a service that is there but does not answer (D-Bus's own
// default is 25 s, and the first use makes several calls); one that ran out of time is not
// asked again by this process.
constexpr int CallTimeoutMs = 3000;
constexpr int NameCheckTimeoutMs = 1000;

// Whether GLib can find a session bus without launching one: an address it is given (but not
// "autolaunch:", which runs dbus-launch), or the bus socket in the runtime folder.
bool SessionBusGiven(QString* problem) {
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) {
        if (address.contains("autolaunch:")) {
            *problem = QStringLiteral("the session bus address asks for one to be launched");
            return false;
        }
        return true;
    }
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(QString::fromLocal8Bit(runtime) + "/bus"))
        return true;
    *problem = QStringLiteral("no session bus");
    return false;
}

class TDesktopSecretService final : public ISecretStore {
public:
    TSecretAnswer Lookup(const TSecretId& id, QString& secret) override {
        std::lock_guard<std::mutex> lock(Lock);
        SecretService* service = Service();
        if (!service)
            return TSecretAnswer::Unavailable;
        GError* error = nullptr;
        GList* items = Search(
            service, id, SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS), &error);
        if (error)
            return Fail(error);
        TSecretAnswer answer = TSecretAnswer::Missing;
        for (GList* at = items; at && answer == TSecretAnswer::Missing; at = at->next) {
            auto* item = static_cast<SecretItem*>(at->data);
            if (Api->secret_item_get_locked(item)) {
                LastProblem = QStringLiteral("the keyring is locked");
                answer = TSecretAnswer::Locked;
                continue;
            }
            SecretValue* value = Api->secret_item_get_secret(item);
            if (!value)
                continue;
            gsize length = 0;
            const gchar* bytes = Api->secret_value_get(value, &length);
            if (bytes && length <= MaxSecretBytes) {
                secret = QString::fromUtf8(bytes, qsizetype(length));
                answer = TSecretAnswer::Done;
            }
            Api->secret_value_unref(value);
        }
        Api->g_list_free_full(items, Api->g_object_unref);
        return answer;
    }

    TSecretAnswer Store(const TSecretId& id, const QString& secret) override {
        std::lock_guard<std::mutex> lock(Lock);
        SecretService* service = Service();
        if (!service)
            return TSecretAnswer::Unavailable;
        // Asked first, so that a locked keyring never brings up its unlock prompt from here.
        const TSecretAnswer writable = DefaultKeyringWritable(service);
        if (writable != TSecretAnswer::Done)
            return writable;
        const QByteArray bytes = secret.toUtf8();
        SecretValue* value =
            Api->secret_value_new(bytes.constData(), gssize(bytes.size()), "text/plain");
        GHashTable* attributes = Attributes(id);
        GError* error = nullptr;
        const QByteArray label = id.Label.toUtf8();
        const gboolean stored =
            Api->secret_service_store_sync(service, &Schema, attributes, SECRET_COLLECTION_DEFAULT,
                                           label.constData(), value, nullptr, &error);
        Api->g_hash_table_unref(attributes);
        Api->secret_value_unref(value);
        if (error)
            return Fail(error);
        if (!stored) {
            LastProblem = QStringLiteral("the keyring did not take it");
            return TSecretAnswer::Failed;
        }
        return TSecretAnswer::Done;
    }

    TSecretAnswer Remove(const TSecretId& id) override {
        std::lock_guard<std::mutex> lock(Lock);
        SecretService* service = Service();
        if (!service)
            return TSecretAnswer::Unavailable;
        GError* error = nullptr;
        GList* items = Search(service, id, SECRET_SEARCH_ALL, &error);
        if (error)
            return Fail(error);
        TSecretAnswer answer = TSecretAnswer::Missing;
        for (GList* at = items; at; at = at->next) {
            auto* item = static_cast<SecretItem*>(at->data);
            if (Api->secret_item_get_locked(item)) {
                LastProblem = QStringLiteral("the keyring is locked");
                answer = TSecretAnswer::Locked;
                continue;
            }
            if (!Api->secret_item_delete_sync(item, nullptr, &error)) {
                answer = Fail(error);
                error = nullptr;
            } else if (answer == TSecretAnswer::Missing) {
                answer = TSecretAnswer::Done;
            }
        }
        Api->g_list_free_full(items, Api->g_object_unref);
        return answer;
    }

    QString Problem() const override { return LastProblem; }

private:
    // The service, connected on the first call; nullptr when there is none (then for good: a
    // keyring that starts later is found by the client's next start).
    SecretService* Service() {
        if (!Tried) {
            Tried = true;
            Connection = Connect();
        }
        if (!Connection)
            LastProblem = Why;
        return Connection;
    }

    SecretService* Connect() {
        if (!SessionBusGiven(&Why))
            return nullptr;
        Api = SecretLibrary();
        if (!Api) {
            Why = QStringLiteral("libsecret-1.so.0 cannot be loaded");
            return nullptr;
        }
        GError* error = nullptr;
        GDBusConnection* bus = Api->g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (!bus)
            return Unreachable(error);
        // GLib's shared connection would end the process when the bus goes away.
        Api->g_dbus_connection_set_exit_on_close(bus, FALSE);
        // Only a service already running is asked: the bus would otherwise start one, which
        // may want an unlock prompt before it answers.
        GVariant* reply = Api->g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", Api->g_variant_new("(s)", "org.freedesktop.secrets"), nullptr,
            G_DBUS_CALL_FLAGS_NO_AUTO_START, NameCheckTimeoutMs, nullptr, &error);
        if (!reply) {
            Api->g_object_unref(bus);
            return Unreachable(error);
        }
        gboolean owned = FALSE;
        Api->g_variant_get(reply, "(b)", &owned);
        Api->g_variant_unref(reply);
        if (!owned) {
            Api->g_object_unref(bus);
            Why = QStringLiteral("no Secret Service runs on the session bus");
            return nullptr;
        }
        // libsecret's first calls (the service's properties) wait as long as D-Bus lets them:
        // a service that hangs is found out here, in a second at most.
        reply = Api->g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.DBus.Peer",
            "Ping", nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, NameCheckTimeoutMs, nullptr,
            &error);
        Api->g_object_unref(bus);
        if (!reply)
            return Unreachable(error);
        Api->g_variant_unref(reply);
        SecretService* service = Api->secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
        if (!service)
            return Unreachable(error);
        Api->g_dbus_proxy_set_default_timeout(reinterpret_cast<GDBusProxy*>(service),
                                              CallTimeoutMs);
        if (!Api->secret_service_ensure_session_sync(service, nullptr, &error)) {
            Api->g_object_unref(service);
            return Unreachable(error);
        }
        return service;
    }

    TSecretAnswer DefaultKeyringWritable(SecretService* service) {
        GError* error = nullptr;
        SecretCollection* collection = Api->secret_collection_for_alias_sync(
            service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
        if (error)
            return Fail(error);
        if (!collection) {
            LastProblem = QStringLiteral("the desktop has no default keyring");
            return TSecretAnswer::Locked;
        }
        const bool locked = Api->secret_collection_get_locked(collection);
        Api->g_object_unref(collection);
        if (locked) {
            LastProblem = QStringLiteral("the keyring is locked");
            return TSecretAnswer::Locked;
        }
        return TSecretAnswer::Done;
    }

    GHashTable* Attributes(const TSecretId& id) const {
        const QByteArray store = id.Store.toUtf8();
        const QByteArray kind = id.Kind.toUtf8();
        return Api->secret_attributes_build(&Schema, "application", SecretApplication, "store",
                                            store.constData(), "kind", kind.constData(),
                                            static_cast<char*>(nullptr));
    }

    // This installation's items of that kind, unlocked or not (never an unlock prompt).
    GList* Search(SecretService* service, const TSecretId& id, SecretSearchFlags flags,
                  GError** error) const {
        GHashTable* attributes = Attributes(id);
        GList* items =
            Api->secret_service_search_sync(service, &Schema, attributes, flags, nullptr, error);
        Api->g_hash_table_unref(attributes);
        return items;
    }

    SecretService* Unreachable(GError* error) {
        Why = error ? QString::fromUtf8(error->message) : QStringLiteral("no answer");
        if (error)
            Api->g_error_free(error);
        return nullptr;
    }

    TSecretAnswer Fail(GError* error) {
        LastProblem = error ? QString::fromUtf8(error->message) : QStringLiteral("an error");
        if (error && error->domain == Api->g_io_error_quark() &&
            error->code == G_IO_ERROR_TIMED_OUT) {
            // Not asked again: every later call would hold the caller as long.
            Connection = nullptr;
            Why = QStringLiteral("the Secret Service does not answer");
        }
        if (error)
            Api->g_error_free(error);
        return TSecretAnswer::Failed;
    }

    std::mutex Lock;
    const TSecretApi* Api = nullptr;
    bool Tried = false;
    SecretService* Connection = nullptr; // kept for the process
    QString Why;
    QString LastProblem;
};

} // namespace

ISecretStore& DesktopSecretService() {
    static TDesktopSecretService service;
    return service;
}
