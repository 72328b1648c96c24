#pragma once

#include "zkComponents.h"

class TSimService;
class TSimListOfLists;

// The connection component of the simulated service: a thin face over TSimService, which
// holds the state, so every component of the process sees the same connection.
class TSimConnectionControl : public IConnectionControl {
public:
    explicit TSimConnectionControl(std::shared_ptr<TSimService> service);
    ~TSimConnectionControl() override;

    TSimService& Service() const { return *Sim; }

    QString UserName() const override;
    void SetUserName(const QString& name) override;
    QString Password() const override;
    void SetPassword(const QString& password) override;
    std::shared_ptr<ISymbolListControl> GetSymbolList(int32_t listId) override;
    void ResetConnection() override;
    void SetServerURL(const QString& url) override;
    QString ProxyPassword() const override;
    void SetProxyPassword(const QString& value) override;
    int32_t ProxyPort() const override;
    void SetProxyPort(int32_t value) override;
    QString ProxyServer() const override;
    void SetProxyServer(const QString& value) override;
    QString ProxyUsername() const override;
    void SetProxyUsername(const QString& value) override;
    std::shared_ptr<IListOfLists> ListOfLists() override;
    void SetApiDir(const QString& value) override;
    void SetVendorId(const QString& value) override;
    void SetExportPrefix(const QString& value) override;
    void SetDevelopmentUsername(const QString& value) override;
    void SetDevelopmentPassword(const QString& value) override;
    void SetMinTimeout(int32_t value) override;
    int32_t ConnectionStatus() const override;
    qint64 AccountExpiration() const override;
    void SetAdditionalSamplesUrl(const QString& value) override;
    void SetSafeSamples(bool value) override;
    void SetSafeConfig(bool value) override;
    QString SocksHost() const override;
    int32_t SocksVersion() const override;
    int32_t SocksPort() const override;
    QString SocksUsername() const override;
    QString SocksPassword() const override;
    int32_t UseHttpTunnel() const override;
    int32_t HelpMode() const override;
    void SetHelpMode(int32_t value) override;
    int32_t TimeOffset() const override;
    void SetTimeOffset(int32_t value) override;
    int32_t ShowGrid() const override;
    void SetShowGrid(int32_t value) override;
    void SetApplicationIcon(const QIcon& icon) override;
    void SetPropertyByName(const QString& name, const QString& text) override;

    QIcon ApplicationIcon() const { return Icon; }

private:
    std::shared_ptr<TSimService> Sim;
    std::shared_ptr<TSimListOfLists> Lists;
    QIcon Icon;
};
