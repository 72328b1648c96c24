#include "zkConnectionConfig.h"

#include "components/zkComponents.h"
#include "config/zkSettings.h"
#include "platform/zkApplication.h"
#include "platform/zkErrors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QObject>

void ApplyConfig(const TConfigInfo& c, IConnectionControl& connection, QObject* mainWindow) {
    connection.SetServerURL(c.ServerURL);
    connection.SetProxyServer(c.ProxyServer);
    connection.SetProxyUsername(c.ProxyUsername);
    connection.SetProxyPassword(c.ProxyPassword);
    connection.SetProxyPort(c.ProxyPort);
    connection.SetApiDir(c.ApiDir);
    connection.SetVendorId(c.VendorId);
    connection.SetExportPrefix(c.ExportPrefix);
    connection.SetDevelopmentUsername(c.DevelopmentUsername);
    connection.SetDevelopmentPassword(c.DevelopmentPassword);
    connection.SetMinTimeout(c.MinTimeout);
    connection.SetSafeConfig(c.SafeConfig);
    connection.SetSafeSamples(c.SafeSamples);
    connection.SetAdditionalSamplesUrl(c.AdditionalSamplesUrl);
    SetApplicationTitle(c.ApplicationTitle);
    if (mainWindow)
        mainWindow->setProperty("windowTitle", c.ApplicationTitle);
}

void ApplyIniSectionByName(const QString& fileName, const QString& sectionName,
                           IConnectionControl& connection, QStringList* errors) {
    QString path = fileName;
    if (QFileInfo(path).isRelative())
        path = QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
    const TSettingsStore ini = TSettingsStore::IniFile(path);
    const QStringList keys = ReadSectionKeys(ini, sectionName);
    for (const QString& key : keys) {
        try {
            const QString text = ReadStringValue(ini, sectionName, key, QString());
            connection.SetPropertyByName(key, text);
        } catch (const EComponentError& e) {
            if (errors)
                *errors << QLatin1Char('"') + key + QStringLiteral("\":  ") + e.message();
        } catch (const EZkError& e) {
            if (errors)
                *errors << QLatin1Char('"') + key + QStringLiteral("\":  ") +
                               QStringLiteral("Unexpected Error:  ") + e.className() +
                               QStringLiteral(":  ") + e.message();
        }
    }
}
