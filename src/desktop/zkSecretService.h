#pragma once

// Secrets kept apart from the per-user store: in the client, the desktop's keyring (the Secret
// Service on the session bus, spoken to over Qt's own D-Bus connection); in tests, a fake. Every
// call answers at once when nothing can be reached and never brings up an unlock prompt: a locked
// keyring is an answer, and the caller keeps the secret where it was.

#include <QString>

// One secret: what it is, for which per-user store (one keyring serves every installation of
// the user), and the name the user sees in the keyring's manager.
struct TSecretId {
    QString Kind;  // "login", "inbox-token", "broker-password"
    QString Store; // the per-user store's file
    QString Label; // "Velquist login password"
};

enum class TSecretAnswer {
    Done,        // found, stored or removed
    Missing,     // nothing is kept under that id (a lookup or a removal)
    Unavailable, // no Secret Service answers: no session bus, or nobody owns the name on it
    Locked,      // the keyring is locked (or has no default keyring); nothing changed
    Failed,      // the service answered with an error; nothing changed
};

class ISecretStore {
public:
    virtual ~ISecretStore() = default;
    virtual TSecretAnswer Lookup(const TSecretId& id, QString& secret) = 0;
    virtual TSecretAnswer Store(const TSecretId& id, const QString& secret) = 0;
    virtual TSecretAnswer Remove(const TSecretId& id) = 0;
    // Why the last call answered Unavailable, Locked or Failed, in a few words.
    virtual QString Problem() const = 0;
};

// The schema's name and attributes, for the README's secret-tool lines and the tests.
inline constexpr const char* SecretSchemaName = "org.velquist.Secret";
inline constexpr const char* SecretApplication = "velquist";

// The desktop's Secret Service, connected at its first call; without DBUS_SESSION_BUS_ADDRESS
// (or the runtime folder's bus) it answers Unavailable without trying,
// so no bus or daemon is ever launched for it, and a service not running on the bus is never
// started: the client asks only one that is already there.
ISecretStore& DesktopSecretService();
