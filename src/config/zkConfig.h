#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// The application configuration: built-in defaults overlaid by Settings.ini and Local.ini once
// while the main window is created, read-only afterwards.
struct TConfigInfo {
    QString HelpURLList;
    QString AboutURL;
    QString ServerURL;
    QString ProxyPassword;
    int32_t ProxyPort = 0;
    QString ProxyServer;
    QString ProxyUsername;
    QString ApiDir;
    QString ApplicationTitle;
    QString VendorId;
    QString ExportPrefix;
    QString DevelopmentUsername;
    QString DevelopmentPassword;
    int32_t MinTimeout = 0;
    bool SafeConfig = false;
    bool SafeSamples = false;
    QString AdditionalSamplesUrl;
    QString SignupURL;
    QString ApplicationVersion;
    QString CopyrightString;
    QString LoginURLLink1;
    QString LoginURLLink2;
    QString LoginURLLink3;
    QString CheckUpdateURL;
    QString UpdateURL;
    QString BuildVersion;
};

// The one process-wide configuration.
TConfigInfo& ConfigInfo();

inline const char* SettingsIniName() {
    return "Settings.ini";
}
// The Settings.ini the client reads (see zkInstallation::SettingsIniPath).
QString SettingsIniPath();
inline const char* LocalIniName() {
    return "Local.ini";
}
class TSettingsStore;
// Local.ini as a store to write to. It holds proxy passwords, so the file is kept private to
// the user (0600).
TSettingsStore LocalIniStore();

void SetConfigDefaults(TConfigInfo& config);
// Reads Settings.ini, then Local.ini, from the current directory.
void LoadConfig(TConfigInfo& config);
// The Help menu's entries of a HelpURLList ("caption|address|caption|address..."): pairs in
// order, a pair with an empty caption or address left out, at most maxEntries of them (*cut
// tells whether more were left). In time linear in what is read.
struct THelpEntry {
    QString Caption;
    QString Address;
};
// A menu takes time growing with the square of its entries (80,000 took seconds) and nobody
// can use one this long.
constexpr size_t MaxHelpEntries = 1000;
std::vector<THelpEntry> HelpEntries(const QString& list, size_t maxEntries = MaxHelpEntries,
                                    bool* cut = nullptr);

// The deployment's web site; the default addresses are built on it.
inline const char* DefaultSiteURL() {
    return "https://www.velquist.example/";
}
