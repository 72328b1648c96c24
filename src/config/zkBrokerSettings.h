#pragma once

// The broker source's settings, kept in the per-user store under SettingsKeyPath() +
// "\Settings\Broker".

#include <QString>

class TSettingsStore;

struct TBrokerSettings {
    bool Enabled = false;
    QString Host;
    quint16 Port = 8883;
    bool TLS = true;
    QString CAFile; // empty: the system's certificate authorities
    QString UserName;
    QString Password;
    // Why the password kept in the desktop's keyring cannot be read now, empty when it was read
    // or there is none: the broker is then not asked with an empty one.
    QString PasswordProblem;
    QString Topic = QStringLiteral("velquist/alerts/#");
    // Made once and kept, so the broker keeps this desk's session (and what it missed) for it.
    QString ClientId;

    bool operator==(const TBrokerSettings&) const = default;
};

// SettingsKeyPath() + "\Settings\Broker".
QString BrokerSettingsPath();
// A stored port outside 1..65535 reads as the default; an empty topic as the default one.
TBrokerSettings ReadBrokerSettings(const TSettingsStore& store);
// A password that could not be read (PasswordProblem, Password empty) is left where it is.
void WriteBrokerSettings(const TSettingsStore& store, const TBrokerSettings& settings);

// "velquist-" and 12 random hexadecimal digits: 21 characters, within the 23 that every MQTT
// 3.1.1 broker must accept.
QString NewBrokerClientId();
// Gives settings without a client id a new one; true when it did (the caller saves).
bool EnsureBrokerClientId(TBrokerSettings& settings);

// Whether the host is this machine (a name or address of the loopback interface), where a
// password without TLS does not leave it.
bool IsLoopbackHost(const QString& host);
