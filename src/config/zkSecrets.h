#pragma once

// The client's three secrets (the login password, the inbox token, the broker password): in the
// desktop's keyring when one answers, else in the per-user store under their old names, as
// before there was a keyring.
//
// A value found in the per-user store is the newer one (written while no keyring answered, or
// by velquist-store): a read moves it into the keyring and removes it from the store once the
// keyring took it, so nothing is lost on the way. An empty value there is not: it only clears
// the keyring's when written while the keyring answers. A locked keyring keeps the store's
// value where it is (stderr is told once per secret); a secret the keyring holds locked reads
// empty and stays there. Such a secret is not a missing one: the caller must not make a new one
// in its place (it would replace the keyring's once that is unlocked), so the read says why it
// could not be had.

#include "config/zkSettings.h"

class ISecretStore;

enum class TSecretKind { LoginPassword, InboxToken, BrokerPassword };

// Where secrets go besides the per-user store; nullptr (the default, and what tests and tools
// get) keeps them in the store only. The client sets the desktop's keyring at start-up.
void SetSecretStore(ISecretStore* secrets);

// What the keyring calls the secret ("login", "inbox-token", "broker-password") and its label.
QString SecretKindName(TSecretKind kind);
QString SecretLabel(TSecretKind kind);

// Read and write one secret whose place in the per-user store is path\name. An INI store
// keeps it as any other value. *unreadable (when given) is set to why the keyring holds the
// secret but cannot give it now ("the keyring is locked"), and cleared when the secret was read
// or there is none.
QString ReadSecret(const TSettingsStore& store, const QString& path, const QString& name,
                   TSecretKind kind, QString* unreadable = nullptr);
void WriteSecret(const TSettingsStore& store, const QString& path, const QString& name,
                 TSecretKind kind, const QString& secret);
