#pragma once

// The simulated alert service: one in-process object behind every simulated component. It
// holds the connection (credentials, state, expiry), the connection properties, the
// simulation's own settings (alert rate, seed, feed and accounts files), a small market of
// real tickers whose prices take a seeded random walk, and the account's symbol lists.
// Behaviour and file formats: docs/simulated-service.md.

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <vector>

class TSimListStore;

// One line of a feed file, with its time counted from the start of the replay.
struct TSimFeedLine {
    qint64 AtMs = 0;
    QString Symbol;
    bool Skip = false;
    QString Strategy; // empty: every window
    std::optional<double> Price;
    QString Description;
};

struct TSimFeed {
    QString FileName;
    std::vector<TSimFeedLine> Lines;
};

// The longest "delay_ms" a feed line may give: one day.
constexpr qint64 MaxFeedDelayMs = 24LL * 60 * 60 * 1000;

// The longest symbol a feed line may give, as at the alert inbox.
constexpr qsizetype MaxFeedSymbolChars = 64;

// Parses JSON Lines feed text. Bad lines are skipped, each described in *problems.
TSimFeed ParseSimFeed(const QByteArray& text, QStringList* problems);

struct TSimAccount {
    QString User;
    QString Password;
    QDateTime Expires; // invalid: no expiry given
    enum class TState { Ok, AnotherUser, Expired } State = TState::Ok;
};

// Parses the accounts file; returns nullopt (and why in *problem) when it is malformed.
std::optional<std::vector<TSimAccount>> ParseSimAccounts(const QByteArray& text, QString* problem);

// Integer text as the service reads it: optional blanks and sign, decimal digits, or
// hexadecimal after "$" or "0x". False for anything else or overflow.
bool ParseSimInteger(const QString& text, int32_t& value);
// A hash that is the same in every run, for seeding from names.
quint32 SimStableHash(const QString& text);

// One ticker of the simulated market.
struct TSimTicker {
    const char* Symbol;
    double BasePrice;
};
const std::vector<TSimTicker>& SimTickers();

class TSimService : public QObject {
    Q_OBJECT
public:
    // The process's service, created on first use; components keep it alive while they live.
    static std::shared_ptr<TSimService> Instance();
    // Tests: forget the process's service, so the next Instance() starts afresh (reading the
    // persisted lists again). Components created before keep the old one.
    static void ResetInstance();

    TSimService();
    ~TSimService() override;

    // --- connection ------------------------------------------------------------------------
    enum TStatus : int32_t {
        NotConnected = 0,
        Connected = 1,
        AnotherUser = 2,
        BadUserName = 3,
        BadPassword = 4,
        Expired = 5
    };
    QString UserName() const { return User; }
    void SetUserName(const QString& name);
    QString Password() const { return Pass; }
    void SetPassword(const QString& password);
    // Connects again; an account another user holds is taken over.
    void ResetConnection();
    int32_t ConnectionStatus() const { return Status; }
    qint64 AccountExpiration() const { return Expiration; }
    bool IsConnected() const { return Status == Connected; }

    // --- properties ------------------------------------------------------------------------
    struct TProperties {
        QString ServerURL, ApiDir, VendorId, ExportPrefix, DevelopmentUsername, DevelopmentPassword,
            AdditionalSamplesUrl;
        int32_t MinTimeout = 0;
        bool SafeSamples = false, SafeConfig = false;
        QString ProxyServer, ProxyUsername, ProxyPassword;
        int32_t ProxyPort = 0;
        QString SocksHost, SocksUsername, SocksPassword;
        int32_t SocksPort = 0, SocksVersion = 0;
        int32_t UseHttpTunnel = 0;
        int32_t HelpMode = 0, ShowGrid = 0, TimeOffset = 0;
        // The simulation's own.
        int32_t SimAlertInterval = 1000;
        quint32 SimSeed = 20240101;
        int32_t SimConnectDelay = 300;
        int32_t SimListDelay = 150, SimFetchDelay = 20;
        QString SimFeedFile, SimAccountsFile;
    };
    const TProperties& Properties() const { return Props; }
    // Plain writes of the typed properties (the connection component's setters).
    TProperties& MutableProperties() { return Props; }
    void SetShowGrid(int32_t value);
    void SetTimeOffset(int32_t value);
    void SetAlertInterval(int32_t value);
    void SetSeed(quint32 seed);
    void SetFeedFile(const QString& fileName);
    void SetAccountsFile(const QString& fileName);
    // A property by name, names without regard to case; throws EComponentError for an
    // unknown name or a value that does not convert.
    void SetPropertyByName(const QString& name, const QString& text);

    // --- alerts ----------------------------------------------------------------------------
    // The feed to replay, parsed once per file version; nullptr when none is set or it cannot
    // be read. Problems are reported once on stderr.
    std::shared_ptr<const TSimFeed> Feed();
    // The current price of a ticker, advanced by the random walk since it was last asked.
    double PriceOf(const QString& symbol);
    // Reports a problem with one of the simulation's files on stderr, once per text.
    void ReportOnce(const QString& text);

    // --- symbol lists ----------------------------------------------------------------------
    // The lists of the connected account; nullptr while no account is connected.
    std::shared_ptr<TSimListStore> Lists();
    // Delay of list requests and symbol fetches (ms).
    int ListDelayMs() const { return Props.SimListDelay; }
    int FetchDelayMs() const { return Props.SimFetchDelay; }

signals:
    void StatusChanged();
    // ShowGrid or TimeOffset changed.
    void DisplayChanged();
    // SimAlertInterval or SimSeed changed.
    void GeneratorChanged();
    void FeedChanged();

private:
    void ScheduleConnect();
    void Connect();
    void SetStatus(int32_t status, qint64 expiration);
    std::optional<std::vector<TSimAccount>> LoadAccounts();

    QString User, Pass;
    int32_t Status = NotConnected;
    qint64 Expiration = 0;
    bool TakeOver = false;
    QTimer ConnectTimer;
    TProperties Props;

    QSet<QString> Reported;
    std::shared_ptr<const TSimFeed> CachedFeed;
    QDateTime CachedFeedStamp;
    qint64 CachedFeedSize = -1;

    struct TQuote {
        double Price = 0;
        qint64 AtMs = 0;
    };
    QHash<QString, TQuote> Quotes;
    std::mt19937 MarketRandom;

    QHash<QString, std::shared_ptr<TSimListStore>> ListStores; // by lower-case user name
};
