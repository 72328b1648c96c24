#include "zkInboxSettings.h"

#include "config/zkSecrets.h"
#include "config/zkSettings.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <array>

namespace {

const QString EnabledName = QStringLiteral("Enabled");
const QString PortName = QStringLiteral("Port");
const QString TokenName = QStringLiteral("Token");
const QString OpenNewWindowsName = QStringLiteral("OpenNewWindows");
const QString MaxNewWindowsName = QStringLiteral("MaxNewWindowsPerMinute");
constexpr int32_t DefaultPort = 8731;
constexpr int32_t MaxNewWindowsLimit = 1000;

} // namespace

QString InboxSettingsPath() {
    return SettingsKeyPath() + QStringLiteral("\\Settings\\Inbox");
}

TInboxSettings ReadInboxSettings(const TSettingsStore& store) {
    const QString path = InboxSettingsPath();
    TInboxSettings settings;
    settings.Enabled = ReadBoolValue(store, path, EnabledName, false);
    const int32_t port = ReadIntegerValue(store, path, PortName, DefaultPort);
    settings.Port = quint16(port >= 1 && port <= 65535 ? port : DefaultPort);
    settings.Token =
        ReadSecret(store, path, TokenName, TSecretKind::InboxToken, &settings.TokenProblem);
    settings.OpenNewWindows = ReadBoolValue(store, path, OpenNewWindowsName, true);
    const int32_t perMinute =
        ReadIntegerValue(store, path, MaxNewWindowsName, settings.MaxNewWindowsPerMinute);
    if (perMinute >= 0 && perMinute <= MaxNewWindowsLimit)
        settings.MaxNewWindowsPerMinute = perMinute;
    return settings;
}

void WriteInboxSettings(const TSettingsStore& store, const TInboxSettings& settings) {
    const QString path = InboxSettingsPath();
    TSettingsBatch batch(store);
    WriteBoolValue(store, path, EnabledName, settings.Enabled);
    WriteIntegerValue(store, path, PortName, settings.Port);
    if (!settings.Token.isEmpty() || settings.TokenProblem.isEmpty())
        WriteSecret(store, path, TokenName, TSecretKind::InboxToken, settings.Token);
    WriteBoolValue(store, path, OpenNewWindowsName, settings.OpenNewWindows);
    WriteIntegerValue(store, path, MaxNewWindowsName, settings.MaxNewWindowsPerMinute);
    batch.Commit();
}

QString NewInboxToken() {
    std::array<quint32, 5> words;
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()),
                           qsizetype(sizeof(quint32) * words.size()));
    return QString::fromLatin1(bytes.toHex());
}

bool EnsureInboxToken(TInboxSettings& settings) {
    if (!settings.Enabled || !settings.Token.isEmpty() || !settings.TokenProblem.isEmpty())
        return false;
    settings.Token = NewInboxToken();
    return true;
}

QString InboxWebhookAddress(const TInboxSettings& settings) {
    return QStringLiteral("http://127.0.0.1:%1/alerts/%2").arg(settings.Port).arg(settings.Token);
}
