#include "zkSimService.h"

#include "platform/zkErrors.h"
#include "platform/zkOutsideText.h"
#include "platform/zkPaths.h"
#include "zkSimSymbolLists.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <utility>

namespace {

std::shared_ptr<TSimService>& InstanceSlot() {
    static std::shared_ptr<TSimService> service;
    return service;
}

qint64 MonotonicMs() {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

bool ParseSimBool(const QString& text, bool& value) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes")) {
        value = true;
        return true;
    }
    if (t == QLatin1String("false") || t == QLatin1String("no")) {
        value = false;
        return true;
    }
    int32_t number = 0;
    if (!ParseSimInteger(text, number))
        return false;
    value = number != 0;
    return true;
}

QDateTime ParseIsoTime(const QString& text) {
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(text, Qt::ISODate);
    if (t.isValid() && t.timeSpec() == Qt::LocalTime)
        t.setTimeSpec(Qt::UTC); // a time without a zone is taken as UTC
    return t;
}

} // namespace

// --- parsing helpers ----------------------------------------------------------------------

quint32 SimStableHash(const QString& text) {
    quint32 hash = 2166136261u; // FNV-1a over the UTF-16 code units
    for (const QChar c : text) {
        hash = (hash ^ (c.unicode() & 0xFF)) * 16777619u;
        hash = (hash ^ (c.unicode() >> 8)) * 16777619u;
    }
    return hash;
}

bool ParseSimInteger(const QString& text, int32_t& value) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < t.size() && t[i] == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t[i] == QLatin1Char('0') &&
               (t[i + 1] == QLatin1Char('x') || t[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= t.size())
        return false;
    qint64 magnitude = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > qint64(0xFFFFFFFF))
            return false;
    }
    // Hexadecimal text may spell the 32-bit pattern of a negative number, as Delphi's does.
    if (base == 16 && !negative && magnitude > INT32_MAX)
        magnitude -= qint64(0x100000000);
    const qint64 result = negative ? -magnitude : magnitude;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    value = int32_t(result);
    return true;
}

TSimFeed ParseSimFeed(const QByteArray& text, QStringList* problems) {
    TSimFeed feed;
    qint64 at = 0;
    int lineNumber = 0;
    for (const QByteArray& rawLine : text.split('\n')) {
        ++lineNumber;
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        auto bad = [&](const QString& why) {
            if (problems)
                problems->append(QStringLiteral("line %1: %2").arg(lineNumber).arg(why));
        };
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            bad(error.error != QJsonParseError::NoError ? error.errorString()
                                                        : QStringLiteral("not an object"));
            continue;
        }
        const QJsonObject o = doc.object();
        const QJsonValue symbol = o.value(QLatin1String("symbol"));
        if (!symbol.isString() || symbol.toString().trimmed().isEmpty()) {
            bad(QStringLiteral("no \"symbol\""));
            continue;
        }
        // Symbols travel on to linked programs and terminals: what no ticker looks like (an
        // escape sequence, a megabyte of text) ends here, as at the inbox.
        const QString symbolText = symbol.toString().trimmed();
        if (symbolText.size() > MaxFeedSymbolChars) {
            bad(QStringLiteral("\"symbol\" is longer than %1 characters").arg(MaxFeedSymbolChars));
            continue;
        }
        if (const QString problem = zkOutsideText::NameProblem(symbolText); !problem.isEmpty()) {
            bad(QStringLiteral("\"symbol\" ") + problem);
            continue;
        }
        const QJsonValue strategy = o.value(QLatin1String("strategy"));
        const QString strategyText = strategy.toString().trimmed();
        if (!strategy.isUndefined() && !strategy.isNull() && !strategy.isString()) {
            bad(QStringLiteral("\"strategy\" is not text"));
            continue;
        }
        if (strategyText.size() > MaxFeedSymbolChars) {
            bad(QStringLiteral("\"strategy\" is longer than %1 characters")
                    .arg(MaxFeedSymbolChars));
            continue;
        }
        if (const QString problem = zkOutsideText::NameProblem(strategyText); !problem.isEmpty()) {
            bad(QStringLiteral("\"strategy\" ") + problem);
            continue;
        }
        // The description as the inbox takes one: what does not show dropped, a line break a
        // blank, other control characters (an escape sequence that would reach a terminal
        // through the history) refused.
        const QJsonValue description = o.value(QLatin1String("description"));
        if (!description.isUndefined() && !description.isNull() && !description.isString()) {
            bad(QStringLiteral("\"description\" is not text"));
            continue;
        }
        QString descriptionText = zkOutsideText::ShownDescription(description.toString());
        descriptionText.replace(QLatin1String("\r\n"), QLatin1String(" "));
        descriptionText.replace(QLatin1Char('\r'), QLatin1Char(' '));
        descriptionText.replace(QLatin1Char('\n'), QLatin1Char(' '));
        descriptionText = descriptionText.trimmed();
        if (std::any_of(descriptionText.begin(), descriptionText.end(), [](QChar c) {
                return c.category() == QChar::Other_Control && c != QLatin1Char('\t');
            })) {
            bad(QStringLiteral("\"description\" holds a control character"));
            continue;
        }
        const QJsonValue delay = o.value(QLatin1String("delay_ms"));
        if (!delay.isUndefined() && !delay.isNull() &&
            (!delay.isDouble() || delay.toDouble() < 0 || !std::isfinite(delay.toDouble()))) {
            bad(QStringLiteral("\"delay_ms\" is not a number of milliseconds"));
            continue;
        }
        // Beyond this the sum of the delays could overflow and make the later lines play at
        // once; no replay waits that long between two alerts.
        if (delay.toDouble(0) > double(MaxFeedDelayMs)) {
            bad(QStringLiteral("\"delay_ms\" is more than a day"));
            continue;
        }
        const QJsonValue price = o.value(QLatin1String("price"));
        if (!price.isUndefined() && !price.isNull() && !price.isDouble()) {
            bad(QStringLiteral("\"price\" is not a number"));
            continue;
        }
        if (price.isDouble() && price.toDouble() < 0) {
            bad(QStringLiteral("\"price\" is negative"));
            continue;
        }
        TSimFeedLine item;
        at += qint64(delay.toDouble(0));
        item.AtMs = at;
        item.Symbol = symbolText;
        const QJsonValue skip = o.value(QLatin1String("skip"));
        item.Skip = skip.isBool() ? skip.toBool() : skip.toDouble(0) != 0;
        item.Strategy = strategyText;
        if (item.Strategy == QLatin1String("*"))
            item.Strategy.clear();
        if (price.isDouble())
            item.Price = price.toDouble();
        item.Description = descriptionText;
        feed.Lines.push_back(std::move(item));
    }
    return feed;
}

std::optional<std::vector<TSimAccount>> ParseSimAccounts(const QByteArray& text, QString* problem) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    auto fail = [&](const QString& why) {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (error.error != QJsonParseError::NoError)
        return fail(error.errorString());
    if (!doc.isObject() || !doc.object().value(QLatin1String("accounts")).isArray())
        return fail(QStringLiteral("no \"accounts\" array"));
    std::vector<TSimAccount> accounts;
    for (const QJsonValue& v : doc.object().value(QLatin1String("accounts")).toArray()) {
        const QJsonObject o = v.toObject();
        TSimAccount account;
        account.User = o.value(QLatin1String("user")).toString();
        if (account.User.isEmpty())
            return fail(QStringLiteral("an account without \"user\""));
        account.Password = o.value(QLatin1String("password")).toString();
        const QString expires = o.value(QLatin1String("expires")).toString();
        if (!expires.isEmpty()) {
            account.Expires = ParseIsoTime(expires);
            if (!account.Expires.isValid())
                return fail(QStringLiteral("\"expires\" of %1 is not a date").arg(account.User));
        }
        const QString state = o.value(QLatin1String("state")).toString(QStringLiteral("ok"));
        if (state == QLatin1String("ok"))
            account.State = TSimAccount::TState::Ok;
        else if (state == QLatin1String("another_user"))
            account.State = TSimAccount::TState::AnotherUser;
        else if (state == QLatin1String("expired"))
            account.State = TSimAccount::TState::Expired;
        else
            return fail(QStringLiteral("unknown \"state\" \"%1\"").arg(state));
        accounts.push_back(std::move(account));
    }
    return accounts;
}

const std::vector<TSimTicker>& SimTickers() {
    // Real US tickers at plausible prices; the walk starts from these.
    static const std::vector<TSimTicker> tickers = {
        {"AAPL", 189.50},  {"MSFT", 415.20}, {"NVDA", 875.30},  {"GOOGL", 152.80},
        {"AMZN", 178.40},  {"META", 495.10}, {"TSLA", 175.60},  {"BRK.B", 408.90},
        {"JPM", 196.30},   {"V", 276.40},    {"UNH", 492.70},   {"XOM", 118.20},
        {"JNJ", 156.80},   {"MA", 468.90},   {"PG", 161.40},    {"HD", 372.50},
        {"AVGO", 1305.00}, {"CVX", 158.60},  {"LLY", 768.20},   {"MRK", 128.30},
        {"ABBV", 178.90},  {"PEP", 171.20},  {"KO", 60.10},     {"COST", 728.40},
        {"ADBE", 498.70},  {"WMT", 60.30},   {"CRM", 298.60},   {"BAC", 37.40},
        {"MCD", 279.80},   {"CSCO", 49.20},  {"TMO", 575.30},   {"ACN", 342.10},
        {"ABT", 112.60},   {"NFLX", 615.40}, {"AMD", 162.70},   {"DIS", 114.90},
        {"LIN", 463.20},   {"WFC", 57.80},   {"ORCL", 124.50},  {"INTC", 35.10},
        {"CMCSA", 41.30},  {"VZ", 40.20},    {"TXN", 172.40},   {"DHR", 246.80},
        {"PM", 92.10},     {"NKE", 93.40},   {"QCOM", 168.20},  {"NEE", 64.30},
        {"UPS", 146.70},   {"T", 17.20},     {"RTX", 100.80},   {"HON", 201.40},
        {"INTU", 628.90},  {"IBM", 185.60},  {"AMGN", 272.30},  {"LOW", 238.10},
        {"SPGI", 421.50},  {"CAT", 355.20},  {"GS", 412.70},    {"BA", 182.40},
        {"MS", 92.30},     {"SBUX", 87.90},  {"DE", 398.60},    {"PLD", 116.40},
        {"ELV", 512.80},   {"BLK", 808.10},  {"GE", 162.30},    {"AXP", 226.70},
        {"MDT", 82.40},    {"ISRG", 387.20}, {"BKNG", 3512.00}, {"GILD", 69.80},
        {"AMAT", 205.30},  {"ADI", 196.40},  {"SYK", 338.60},   {"C", 61.40},
        {"MDLZ", 69.70},   {"TJX", 99.80},   {"MMC", 203.50},   {"ADP", 247.90},
        {"CVS", 74.20},    {"LMT", 455.10},  {"VRTX", 412.60},  {"REGN", 948.30},
        {"SCHW", 72.40},   {"MO", 43.10},    {"CB", 255.80},    {"PGR", 207.40},
        {"SO", 69.40},     {"ZTS", 168.90},  {"BMY", 50.20},    {"CI", 348.70},
        {"MU", 118.60},    {"LRCX", 942.10}, {"DUK", 96.30},    {"PANW", 285.40},
        {"SLB", 53.20},    {"COP", 124.80},  {"OXY", 64.70},    {"F", 12.90},
        {"GM", 44.60},     {"UBER", 76.30},  {"PYPL", 64.90},   {"SHOP", 74.20},
        {"PLTR", 23.80},   {"SNOW", 158.40}, {"COIN", 245.60},  {"SQ", 78.30},
    };
    return tickers;
}

// --- the service --------------------------------------------------------------------------

std::shared_ptr<TSimService> TSimService::Instance() {
    std::shared_ptr<TSimService>& slot = InstanceSlot();
    if (!slot) {
        slot = std::make_shared<TSimService>();
        // Let go of it while the application object still exists; its timers need the loop.
        static bool routineAdded = false;
        if (!routineAdded) {
            routineAdded = true;
            qAddPostRoutine([] {
                routineAdded = false; // a later application object registers afresh
                InstanceSlot().reset();
            });
        }
    }
    return slot;
}

void TSimService::ResetInstance() {
    InstanceSlot().reset();
}

TSimService::TSimService() : MarketRandom(Props.SimSeed) {
    ConnectTimer.setSingleShot(true);
    connect(&ConnectTimer, &QTimer::timeout, this, &TSimService::Connect);
}

TSimService::~TSimService() {
    // The account's lists reach their files before the service that holds them is gone.
    FlushSimListWrites();
}

void TSimService::SetUserName(const QString& name) {
    User = name;
    ScheduleConnect();
}

void TSimService::SetPassword(const QString& password) {
    Pass = password;
    ScheduleConnect();
}

void TSimService::ResetConnection() {
    TakeOver = true;
    ScheduleConnect();
}

// Setting the user name and then the password restarts one pending attempt, so a login
// makes one connection, not two.
void TSimService::ScheduleConnect() {
    SetStatus(NotConnected, 0);
    ConnectTimer.start(std::max(0, Props.SimConnectDelay));
}

void TSimService::SetStatus(int32_t status, qint64 expiration) {
    const bool changed = status != Status || expiration != Expiration;
    Status = status;
    Expiration = expiration;
    if (changed)
        emit StatusChanged();
}

void TSimService::Connect() {
    const bool takeOver = std::exchange(TakeOver, false);
    if (User.isEmpty()) {
        SetStatus(NotConnected, 0);
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (User.compare(QLatin1String("DEMO"), Qt::CaseInsensitive) == 0) {
        SetStatus(Connected, now.addDays(30).toSecsSinceEpoch());
        return;
    }
    const std::optional<std::vector<TSimAccount>> accounts = LoadAccounts();
    const TSimAccount* account = nullptr;
    if (accounts) {
        for (const TSimAccount& a : *accounts)
            if (a.User.compare(User, Qt::CaseInsensitive) == 0) {
                account = &a;
                break;
            }
    }
    if (!account) {
        SetStatus(BadUserName, 0);
        return;
    }
    if (account->Password != Pass) {
        SetStatus(BadPassword, 0);
        return;
    }
    const qint64 expires = account->Expires.isValid() ? account->Expires.toSecsSinceEpoch() : 0;
    if (account->State == TSimAccount::TState::Expired ||
        (account->Expires.isValid() && account->Expires <= now)) {
        SetStatus(Expired, expires);
        return;
    }
    if (account->State == TSimAccount::TState::AnotherUser && !takeOver) {
        SetStatus(AnotherUser, expires);
        return;
    }
    SetStatus(Connected, expires);
}

std::optional<std::vector<TSimAccount>> TSimService::LoadAccounts() {
    const QString& path = Props.SimAccountsFile;
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ReportOnce(QStringLiteral("SimAccountsFile %1 cannot be read: %2; it is ignored")
                       .arg(path, file.errorString()));
        return std::nullopt;
    }
    QString problem;
    std::optional<std::vector<TSimAccount>> accounts = ParseSimAccounts(file.readAll(), &problem);
    if (!accounts)
        ReportOnce(QStringLiteral("SimAccountsFile %1 is malformed (%2); it is ignored")
                       .arg(path, problem));
    return accounts;
}

void TSimService::ReportOnce(const QString& text) {
    if (Reported.contains(text))
        return;
    Reported.insert(text);
    std::fprintf(stderr, "velquist simulated service: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void TSimService::SetShowGrid(int32_t value) {
    if (value == Props.ShowGrid)
        return;
    Props.ShowGrid = value;
    emit DisplayChanged();
}

void TSimService::SetTimeOffset(int32_t value) {
    if (value == Props.TimeOffset)
        return;
    Props.TimeOffset = value;
    emit DisplayChanged();
}

void TSimService::SetAlertInterval(int32_t value) {
    Props.SimAlertInterval = std::max(0, value);
    emit GeneratorChanged();
}

void TSimService::SetSeed(quint32 seed) {
    Props.SimSeed = seed;
    MarketRandom.seed(seed);
    Quotes.clear();
    emit GeneratorChanged();
}

void TSimService::SetFeedFile(const QString& fileName) {
    Props.SimFeedFile = fileName;
    CachedFeed.reset();
    emit FeedChanged();
}

void TSimService::SetAccountsFile(const QString& fileName) {
    Props.SimAccountsFile = fileName;
}

void TSimService::SetPropertyByName(const QString& name, const QString& text) {
    using TSetter = std::function<void(const QString&)>;
    auto textProp = [](QString& field) { return [&field](const QString& t) { field = t; }; };
    auto intValue = [&name](const QString& t) {
        int32_t value = 0;
        if (!ParseSimInteger(t, value))
            throw EComponentError(
                QStringLiteral(
                    "Invalid value \"%1\" for property \"%2\": a whole number is expected")
                    .arg(t, name));
        return value;
    };
    auto intProp = [&](int32_t& field) {
        return [&field, intValue](const QString& t) { field = intValue(t); };
    };
    auto boolProp = [&name](bool& field) {
        return [&field, &name](const QString& t) {
            if (!ParseSimBool(t, field))
                throw EComponentError(
                    QStringLiteral("Invalid value \"%1\" for property \"%2\": 0 or 1 is expected")
                        .arg(t, name));
        };
    };
    TProperties& p = Props;
    const std::map<QString, TSetter> setters = {
        {QStringLiteral("username"), [this](const QString& t) { SetUserName(t); }},
        {QStringLiteral("password"), [this](const QString& t) { SetPassword(t); }},
        {QStringLiteral("serverurl"), textProp(p.ServerURL)},
        {QStringLiteral("apidir"), textProp(p.ApiDir)},
        {QStringLiteral("vendorid"), textProp(p.VendorId)},
        {QStringLiteral("exportprefix"), textProp(p.ExportPrefix)},
        {QStringLiteral("developmentusername"), textProp(p.DevelopmentUsername)},
        {QStringLiteral("developmentpassword"), textProp(p.DevelopmentPassword)},
        {QStringLiteral("additionalsamplesurl"), textProp(p.AdditionalSamplesUrl)},
        {QStringLiteral("mintimeout"), intProp(p.MinTimeout)},
        {QStringLiteral("safesamples"), boolProp(p.SafeSamples)},
        {QStringLiteral("safeconfig"), boolProp(p.SafeConfig)},
        {QStringLiteral("proxyserver"), textProp(p.ProxyServer)},
        {QStringLiteral("proxyusername"), textProp(p.ProxyUsername)},
        {QStringLiteral("proxypassword"), textProp(p.ProxyPassword)},
        {QStringLiteral("proxyport"), intProp(p.ProxyPort)},
        {QStringLiteral("sockshost"), textProp(p.SocksHost)},
        {QStringLiteral("socksusername"), textProp(p.SocksUsername)},
        {QStringLiteral("sockspassword"), textProp(p.SocksPassword)},
        {QStringLiteral("socksport"), intProp(p.SocksPort)},
        {QStringLiteral("socksversion"), intProp(p.SocksVersion)},
        {QStringLiteral("usehttptunnel"), intProp(p.UseHttpTunnel)},
        {QStringLiteral("helpmode"), intProp(p.HelpMode)},
        {QStringLiteral("showgrid"), [&](const QString& t) { SetShowGrid(intValue(t)); }},
        {QStringLiteral("timeoffset"), [&](const QString& t) { SetTimeOffset(intValue(t)); }},
        {QStringLiteral("simalertinterval"),
         [&](const QString& t) {
             const int32_t v = intValue(t);
             if (v < 0)
                 throw EComponentError(
                     QStringLiteral("Invalid value \"%1\" for property \"%2\": milliseconds "
                                    "from 0 up are expected")
                         .arg(t, name));
             SetAlertInterval(v);
         }},
        {QStringLiteral("simseed"), [&](const QString& t) { SetSeed(quint32(intValue(t))); }},
        {QStringLiteral("simconnectdelay"),
         [&](const QString& t) { p.SimConnectDelay = std::max(0, intValue(t)); }},
        {QStringLiteral("simlistdelay"),
         [&](const QString& t) { p.SimListDelay = std::max(0, intValue(t)); }},
        {QStringLiteral("simfetchdelay"),
         [&](const QString& t) { p.SimFetchDelay = std::max(0, intValue(t)); }},
        {QStringLiteral("simfeedfile"), [this](const QString& t) { SetFeedFile(t.trimmed()); }},
        {QStringLiteral("simaccountsfile"),
         [this](const QString& t) { SetAccountsFile(t.trimmed()); }},
    };
    const auto it = setters.find(name.trimmed().toLower());
    if (it == setters.end())
        throw EComponentError(QStringLiteral("Unknown property \"%1\"").arg(name));
    it->second(text);
}

std::shared_ptr<const TSimFeed> TSimService::Feed() {
    const QString& path = Props.SimFeedFile;
    if (path.isEmpty())
        return nullptr;
    const QFileInfo info(path);
    if (CachedFeed && CachedFeedStamp == info.lastModified() && CachedFeedSize == info.size())
        return CachedFeed;
    CachedFeed.reset();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ReportOnce(QStringLiteral("SimFeedFile %1 cannot be read: %2; it is ignored")
                       .arg(path, file.errorString()));
        return nullptr;
    }
    QStringList problems;
    auto feed = std::make_shared<TSimFeed>(ParseSimFeed(file.readAll(), &problems));
    feed->FileName = path;
    for (const QString& problem : problems)
        ReportOnce(QStringLiteral("SimFeedFile %1, %2; the line is skipped").arg(path, problem));
    CachedFeed = feed;
    CachedFeedStamp = info.lastModified();
    CachedFeedSize = info.size();
    return CachedFeed;
}

double TSimService::PriceOf(const QString& symbol) {
    const qint64 now = MonotonicMs();
    auto it = Quotes.find(symbol);
    if (it == Quotes.end()) {
        double base = 0;
        for (const TSimTicker& t : SimTickers())
            if (symbol == QLatin1String(t.Symbol)) {
                base = t.BasePrice;
                break;
            }
        if (base == 0) // a ticker the market does not list: a stable price from its name
            base = 5.0 + double(SimStableHash(symbol) % 19500) / 100.0;
        it = Quotes.insert(symbol, TQuote{base, now});
    }
    // Geometric walk, about 2 % a day of trading: sigma per sqrt(ms).
    const double dt = double(std::max<qint64>(1, now - it->AtMs));
    std::normal_distribution<double> step(0.0, 0.02 / std::sqrt(6.5 * 3600 * 1000));
    it->Price = std::max(0.01, it->Price * std::exp(step(MarketRandom) * std::sqrt(dt)));
    it->AtMs = now;
    return it->Price;
}

std::shared_ptr<TSimListStore> TSimService::Lists() {
    if (!IsConnected() || User.isEmpty())
        return nullptr;
    const QString key = User.toLower();
    auto it = ListStores.find(key);
    if (it != ListStores.end())
        return *it;
    const QString fileName = zkPaths::DataDir() + QStringLiteral("/service/") +
                             QString::fromLatin1(QUrl::toPercentEncoding(key)) +
                             QStringLiteral(".json");
    auto store = std::make_shared<TSimListStore>(fileName, key == QLatin1String("demo"), this);
    ListStores.insert(key, store);
    return store;
}
