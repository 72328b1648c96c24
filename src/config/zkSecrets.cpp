#include "config/zkSecrets.h"

#include "config/zkUserStore.h"
#include "desktop/zkSecretService.h"

#include <cstdio>

namespace {

ISecretStore* Secrets = nullptr;
bool Told[3] = {};

TSecretId IdOf(const TSettingsStore& store, TSecretKind kind) {
    return {SecretKindName(kind), store.userStore().fileName(), SecretLabel(kind)};
}

// A keyring that is there but would not do it: said once per secret and run, since the user can
// do something about it (unlock the keyring). No keyring at all is the ordinary case elsewhere.
void TellFallback(TSecretKind kind, TSecretAnswer answer, bool keptInStore) {
    if (answer != TSecretAnswer::Locked && answer != TSecretAnswer::Failed)
        return;
    bool& told = Told[int(kind)];
    if (told)
        return;
    told = true;
    const QString what = SecretLabel(kind).mid(QStringLiteral("Velquist ").size());
    const QString text =
        keptInStore
            ? QStringLiteral("velquist: the desktop's keyring did not take the %1 (%2); it stays "
                             "in the per-user store\n")
            : QStringLiteral("velquist: the %1 in the desktop's keyring cannot be read (%2)\n");
    std::fputs(qPrintable(text.arg(what, Secrets->Problem())), stderr);
}

} // namespace

void SetSecretStore(ISecretStore* secrets) {
    Secrets = secrets;
    for (bool& told : Told)
        told = false;
}

QString SecretKindName(TSecretKind kind) {
    switch (kind) {
    case TSecretKind::LoginPassword:
        return QStringLiteral("login");
    case TSecretKind::InboxToken:
        return QStringLiteral("inbox-token");
    case TSecretKind::BrokerPassword:
        break;
    }
    return QStringLiteral("broker-password");
}

QString SecretLabel(TSecretKind kind) {
    switch (kind) {
    case TSecretKind::LoginPassword:
        return QStringLiteral("Velquist login password");
    case TSecretKind::InboxToken:
        return QStringLiteral("Velquist inbox token");
    case TSecretKind::BrokerPassword:
        break;
    }
    return QStringLiteral("Velquist broker password");
}

QString ReadSecret(const TSettingsStore& store, const QString& path, const QString& name,
                   TSecretKind kind, QString* unreadable) {
    if (unreadable)
        unreadable->clear();
    if (!Secrets || store.isIniFile())
        return ReadStringValue(store, path, name, QString());
    const TSecretId id = IdOf(store, kind);
    QString stored;
    const bool inStore = ReadStoredText(store, path, name, stored);
    if (inStore && !stored.isEmpty()) {
        // Newer than what the keyring may hold: it replaces that, and leaves the store only
        // once the keyring has it.
        const TSecretAnswer answer = Secrets->Store(id, stored);
        if (answer == TSecretAnswer::Done)
            DeleteStoredValue(store, path, name);
        else
            TellFallback(kind, answer, true);
        return stored;
    }
    // An empty value in the store does not clear the keyring's: it is what a form shows and
    // saves back while the keyring cannot be read, and a secret is not dropped for that.
    QString secret;
    const TSecretAnswer answer = Secrets->Lookup(id, secret);
    if (inStore && (answer == TSecretAnswer::Done || answer == TSecretAnswer::Missing))
        DeleteStoredValue(store, path, name);
    if (answer == TSecretAnswer::Done)
        return secret;
    TellFallback(kind, answer, false);
    // Locked, or the service failed with it: the secret may well be there.
    if (unreadable && (answer == TSecretAnswer::Locked || answer == TSecretAnswer::Failed))
        *unreadable = Secrets->Problem();
    return QString();
}

void WriteSecret(const TSettingsStore& store, const QString& path, const QString& name,
                 TSecretKind kind, const QString& secret) {
    if (!Secrets || store.isIniFile()) {
        WriteStringValue(store, path, name, secret);
        return;
    }
    const TSecretId id = IdOf(store, kind);
    const TSecretAnswer answer =
        secret.isEmpty() ? Secrets->Remove(id) : Secrets->Store(id, secret);
    if (answer == TSecretAnswer::Done || answer == TSecretAnswer::Missing) {
        // An old copy in the store would otherwise be taken for a newer one at the next read.
        DeleteStoredValue(store, path, name);
        return;
    }
    // The store keeps it as before, and the next read tries the keyring again.
    WriteStringValue(store, path, name, secret);
    if (!secret.isEmpty())
        TellFallback(kind, answer, true);
}
