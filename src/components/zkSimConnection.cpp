#include "zkSimConnection.h"

#include "zkSimService.h"
#include "zkSimSymbolLists.h"

TSimConnectionControl::TSimConnectionControl(std::shared_ptr<TSimService> service)
    : Sim(std::move(service)) {}

TSimConnectionControl::~TSimConnectionControl() = default;

QString TSimConnectionControl::UserName() const {
    return Sim->UserName();
}
void TSimConnectionControl::SetUserName(const QString& name) {
    Sim->SetUserName(name);
}
QString TSimConnectionControl::Password() const {
    return Sim->Password();
}
void TSimConnectionControl::SetPassword(const QString& password) {
    Sim->SetPassword(password);
}

std::shared_ptr<ISymbolListControl> TSimConnectionControl::GetSymbolList(int32_t listId) {
    return std::make_shared<TSimSymbolList>(Sim, listId);
}

void TSimConnectionControl::ResetConnection() {
    Sim->ResetConnection();
}
void TSimConnectionControl::SetServerURL(const QString& url) {
    Sim->MutableProperties().ServerURL = url;
}

QString TSimConnectionControl::ProxyPassword() const {
    return Sim->Properties().ProxyPassword;
}
void TSimConnectionControl::SetProxyPassword(const QString& value) {
    Sim->MutableProperties().ProxyPassword = value;
}
int32_t TSimConnectionControl::ProxyPort() const {
    return Sim->Properties().ProxyPort;
}
void TSimConnectionControl::SetProxyPort(int32_t value) {
    Sim->MutableProperties().ProxyPort = value;
}
QString TSimConnectionControl::ProxyServer() const {
    return Sim->Properties().ProxyServer;
}
void TSimConnectionControl::SetProxyServer(const QString& value) {
    Sim->MutableProperties().ProxyServer = value;
}
QString TSimConnectionControl::ProxyUsername() const {
    return Sim->Properties().ProxyUsername;
}
void TSimConnectionControl::SetProxyUsername(const QString& value) {
    Sim->MutableProperties().ProxyUsername = value;
}

std::shared_ptr<IListOfLists> TSimConnectionControl::ListOfLists() {
    if (!Lists)
        Lists = std::make_shared<TSimListOfLists>(Sim);
    return Lists;
}

void TSimConnectionControl::SetApiDir(const QString& value) {
    Sim->MutableProperties().ApiDir = value;
}
void TSimConnectionControl::SetVendorId(const QString& value) {
    Sim->MutableProperties().VendorId = value;
}
void TSimConnectionControl::SetExportPrefix(const QString& value) {
    Sim->MutableProperties().ExportPrefix = value;
}
void TSimConnectionControl::SetDevelopmentUsername(const QString& value) {
    Sim->MutableProperties().DevelopmentUsername = value;
}
void TSimConnectionControl::SetDevelopmentPassword(const QString& value) {
    Sim->MutableProperties().DevelopmentPassword = value;
}
void TSimConnectionControl::SetMinTimeout(int32_t value) {
    Sim->MutableProperties().MinTimeout = value;
}

int32_t TSimConnectionControl::ConnectionStatus() const {
    return Sim->ConnectionStatus();
}
qint64 TSimConnectionControl::AccountExpiration() const {
    return Sim->AccountExpiration();
}

void TSimConnectionControl::SetAdditionalSamplesUrl(const QString& value) {
    Sim->MutableProperties().AdditionalSamplesUrl = value;
}
void TSimConnectionControl::SetSafeSamples(bool value) {
    Sim->MutableProperties().SafeSamples = value;
}
void TSimConnectionControl::SetSafeConfig(bool value) {
    Sim->MutableProperties().SafeConfig = value;
}

QString TSimConnectionControl::SocksHost() const {
    return Sim->Properties().SocksHost;
}
int32_t TSimConnectionControl::SocksVersion() const {
    return Sim->Properties().SocksVersion;
}
int32_t TSimConnectionControl::SocksPort() const {
    return Sim->Properties().SocksPort;
}
QString TSimConnectionControl::SocksUsername() const {
    return Sim->Properties().SocksUsername;
}
QString TSimConnectionControl::SocksPassword() const {
    return Sim->Properties().SocksPassword;
}
int32_t TSimConnectionControl::UseHttpTunnel() const {
    return Sim->Properties().UseHttpTunnel;
}

int32_t TSimConnectionControl::HelpMode() const {
    return Sim->Properties().HelpMode;
}
void TSimConnectionControl::SetHelpMode(int32_t value) {
    Sim->MutableProperties().HelpMode = value;
}
int32_t TSimConnectionControl::TimeOffset() const {
    return Sim->Properties().TimeOffset;
}
void TSimConnectionControl::SetTimeOffset(int32_t value) {
    Sim->SetTimeOffset(value);
}
int32_t TSimConnectionControl::ShowGrid() const {
    return Sim->Properties().ShowGrid;
}
void TSimConnectionControl::SetShowGrid(int32_t value) {
    Sim->SetShowGrid(value);
}

void TSimConnectionControl::SetApplicationIcon(const QIcon& icon) {
    Icon = icon;
}

void TSimConnectionControl::SetPropertyByName(const QString& name, const QString& text) {
    Sim->SetPropertyByName(name, text);
}
