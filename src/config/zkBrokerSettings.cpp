#include "zkBrokerSettings.h"

#include "config/zkSecrets.h"
#include "config/zkSettings.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace {

const QString EnabledName = QStringLiteral("Enabled");
const QString HostName = QStringLiteral("Host");
const QString PortName = QStringLiteral("Port");
const QString TLSName = QStringLiteral("TLS");
const QString CAFileName = QStringLiteral("CAFile");
const QString UserNameName = QStringLiteral("UserName");
const QString PasswordName = QStringLiteral("Password");
const QString TopicName = QStringLiteral("Topic");
const QString ClientIdName = QStringLiteral("ClientId");

} // namespace

QString BrokerSettingsPath() {
    return SettingsKeyPath() + QStringLiteral("\\Settings\\Broker");
}

TBrokerSettings ReadBrokerSettings(const TSettingsStore& store) {
    const QString path = BrokerSettingsPath();
    TBrokerSettings settings;
    const TBrokerSettings defaults;
    settings.Enabled = ReadBoolValue(store, path, EnabledName, defaults.Enabled);
    settings.Host = ReadStringValue(store, path, HostName, QString()).trimmed();
    const int32_t port = ReadIntegerValue(store, path, PortName, defaults.Port);
    settings.Port = quint16(port >= 1 && port <= 65535 ? port : defaults.Port);
    settings.TLS = ReadBoolValue(store, path, TLSName, defaults.TLS);
    settings.CAFile = ReadStringValue(store, path, CAFileName, QString());
    settings.UserName = ReadStringValue(store, path, UserNameName, QString());
    settings.Password = ReadSecret(store, path, PasswordName, TSecretKind::BrokerPassword,
                                   &settings.PasswordProblem);
    settings.Topic = ReadStringValue(store, path, TopicName, QString()).trimmed();
    if (settings.Topic.isEmpty())
        settings.Topic = defaults.Topic;
    settings.ClientId = ReadStringValue(store, path, ClientIdName, QString());
    return settings;
}

void WriteBrokerSettings(const TSettingsStore& store, const TBrokerSettings& settings) {
    const QString path = BrokerSettingsPath();
    TSettingsBatch batch(store);
    WriteBoolValue(store, path, EnabledName, settings.Enabled);
    WriteStringValue(store, path, HostName, settings.Host);
    WriteIntegerValue(store, path, PortName, settings.Port);
    WriteBoolValue(store, path, TLSName, settings.TLS);
    WriteStringValue(store, path, CAFileName, settings.CAFile);
    WriteStringValue(store, path, UserNameName, settings.UserName);
    if (!settings.Password.isEmpty() || settings.PasswordProblem.isEmpty())
        WriteSecret(store, path, PasswordName, TSecretKind::BrokerPassword, settings.Password);
    WriteStringValue(store, path, TopicName, settings.Topic);
    WriteStringValue(store, path, ClientIdName, settings.ClientId);
    batch.Commit();
}

QString NewBrokerClientId() {
    quint64 bits = QRandomGenerator::system()->generate64();
    QString id = QStringLiteral("velquist-");
    for (int i = 0; i < 12; ++i, bits >>= 4)
        id += QLatin1Char("0123456789abcdef"[bits & 0xf]);
    return id;
}

bool EnsureBrokerClientId(TBrokerSettings& settings) {
    if (!settings.ClientId.isEmpty())
        return false;
    settings.ClientId = NewBrokerClientId();
    return true;
}

bool IsLoopbackHost(const QString& host) {
    const QString name = host.trimmed();
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        name.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    // An address, read as the resolver reads one: IPv4 also in its short and hex/octal forms
    // (inet_aton: "127.1" is 127.0.0.1), IPv6 with an optional "%zone".
    // Printable ASCII only: inet_aton would take "127.0.0.1 and more" up to the space.
    if (name.isEmpty() || std::any_of(name.cbegin(), name.cend(), [](QChar c) {
            return c.unicode() <= 0x20 || c.unicode() >= 0x7f;
        }))
        return false;
    const QByteArray text = name.toLatin1();
    if (text.contains(':')) {
        const qsizetype zone = text.lastIndexOf('%');
        const QByteArray bare = zone < 0 ? text : text.left(zone);
        unsigned char v6[16];
        if (inet_pton(AF_INET6, bare.constData(), v6) == 1) {
            static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0,
                                                       0, 0, 0, 0, 0, 0, 0, 1};
            static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
            // ::1, or an IPv4 loopback address written as IPv6 (::ffff:127.0.0.1).
            return std::memcmp(v6, loopback, 16) == 0 ||
                   (std::memcmp(v6, mapped, 12) == 0 && v6[12] == 127);
        }
    }
    in_addr v4{};
    return inet_aton(text.constData(), &v4) != 0 && (ntohl(v4.s_addr) >> 24) == 127;
}
