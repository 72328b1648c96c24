#include "zkConfig.h"

#include "config/zkIniFile.h"
#include "config/zkSettings.h"
#include "platform/zkApplication.h"
#include "platform/zkErrors.h"
#include "platform/zkInstallation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QVariant>

TConfigInfo& ConfigInfo() {
    static TConfigInfo config;
    return config;
}

void SetConfigDefaults(TConfigInfo& config) {
    const QString site = QString::fromLatin1(DefaultSiteURL());
    config = TConfigInfo();
    config.HelpURLList = site + QStringLiteral("Help.php");
    config.AboutURL = QStringLiteral("www.velquist.example|") + site;
    config.ServerURL = site;
    config.ProxyPort = 0;
    config.ApiDir = QStringLiteral("API2");
    config.ApplicationTitle = QCoreApplication::translate("TZentrikProMainForm", "Velquist");
    config.VendorId = QStringLiteral("ZKPro2.0");
    config.ExportPrefix = site + QStringLiteral("View.php?");
    config.MinTimeout = 4000;
    config.SafeConfig = false;
    config.SafeSamples = false;
    config.SignupURL = site + QStringLiteral("CreateAccount.php");
}

namespace {
const QString SettingsSection = QStringLiteral("Settings");

void readText(const TSettingsStore& ini, const char* key, QString& field) {
    field = ReadStringValue(ini, SettingsSection, QString::fromLatin1(key), field);
}
void readInt(const TSettingsStore& ini, const char* key, int32_t& field) {
    field = ReadIntegerValue(ini, SettingsSection, QString::fromLatin1(key), field);
}
void readBool(const TSettingsStore& ini, const char* key, bool& field) {
    field = ReadBoolValue(ini, SettingsSection, QString::fromLatin1(key), field);
}

bool hasSettingsSection(const TSettingsStore& ini) {
    return QFileInfo::exists(ini.fileName()) && SectionExists(ini, SettingsSection);
}
} // namespace

QString SettingsIniPath() {
    return zkInstallation::SettingsIniPath();
}

void LoadConfig(TConfigInfo& c) {
    const TSettingsStore settings = TSettingsStore::IniFile(SettingsIniPath());
    if (hasSettingsSection(settings)) {
        // Table order; the proxy keys and MinTimeout belong to Local.ini alone.
        readText(settings, "HelpURLList", c.HelpURLList);
        readText(settings, "AboutURL", c.AboutURL);
        readText(settings, "ServerURL", c.ServerURL);
        readText(settings, "ApiDir", c.ApiDir);
        readText(settings, "ApplicationTitle", c.ApplicationTitle);
        readText(settings, "VendorId", c.VendorId);
        readText(settings, "ExportPrefix", c.ExportPrefix);
        readText(settings, "DevelopmentUsername", c.DevelopmentUsername);
        readText(settings, "DevelopmentPassword", c.DevelopmentPassword);
        readBool(settings, "SafeConfig", c.SafeConfig);
        readBool(settings, "SafeSamples", c.SafeSamples);
        readText(settings, "AdditionalSamplesUrl", c.AdditionalSamplesUrl);
        readText(settings, "SignupURL", c.SignupURL);
        readText(settings, "ApplicationVersion", c.ApplicationVersion);
        readText(settings, "CopyrightString", c.CopyrightString);
        readText(settings, "LoginURLLink1", c.LoginURLLink1);
        readText(settings, "LoginURLLink2", c.LoginURLLink2);
        readText(settings, "LoginURLLink3", c.LoginURLLink3);
        readText(settings, "CheckUpdateURL", c.CheckUpdateURL);
        readText(settings, "UpdateURL", c.UpdateURL);
        readText(settings, "BuildVersion", c.BuildVersion);
    }
    const TSettingsStore local = TSettingsStore::IniFile(QString::fromLatin1(LocalIniName()));
    if (hasSettingsSection(local)) {
        readText(local, "ProxyServer", c.ProxyServer);
        readText(local, "ProxyUsername", c.ProxyUsername);
        readText(local, "ProxyPassword", c.ProxyPassword);
        readInt(local, "ProxyPort", c.ProxyPort);
        readInt(local, "MinTimeout", c.MinTimeout);
    }
}

TSettingsStore LocalIniStore() {
    const QString name = QString::fromLatin1(LocalIniName());
    zkIni::MarkPrivate(name);
    return TSettingsStore::IniFile(name);
}

std::vector<THelpEntry> HelpEntries(const QString& list, size_t maxEntries, bool* cut) {
    std::vector<THelpEntry> entries;
    if (cut)
        *cut = false;
    qsizetype at = 0;
    // The next field from at on; the end of the text ends the last one.
    auto next = [&list, &at] {
        const qsizetype bar = list.indexOf(QLatin1Char('|'), at);
        const qsizetype end = bar < 0 ? list.size() : bar;
        QString part = list.mid(at, end - at);
        at = bar < 0 ? list.size() : bar + 1;
        return part;
    };
    while (at < list.size()) {
        QString caption = next();
        QString address = next();
        if (caption.isEmpty() || address.isEmpty())
            continue;
        if (entries.size() == maxEntries) {
            if (cut)
                *cut = true;
            break;
        }
        entries.push_back({std::move(caption), std::move(address)});
    }
    return entries;
}
