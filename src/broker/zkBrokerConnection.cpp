#include "zkBrokerConnection.h"

#include "broker/zkBrokerMessages.h"
#include "desk/zkAlertLog.h"
#include "platform/zkSharedLibrary.h"

#include <QDateTime>

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {
// libmosquitto (and through it OpenSSL) is opened when the first broker connection starts, not by
// the program loader: most desks never set a broker, and every library loaded at start-up slows
// the client's start.
// clang-format off
#define ZK_MOSQUITTO_FUNCTIONS(X) \
    X(mosquitto_connect_bind_v5) \
    X(mosquitto_connect_v5_callback_set) \
    X(mosquitto_destroy) \
    X(mosquitto_disconnect_v5) \
    X(mosquitto_disconnect_v5_callback_set) \
    X(mosquitto_int_option) \
    X(mosquitto_lib_init) \
    X(mosquitto_log_callback_set) \
    X(mosquitto_loop_misc) \
    X(mosquitto_loop_read) \
    X(mosquitto_loop_write) \
    X(mosquitto_message_v5_callback_set) \
    X(mosquitto_new) \
    X(mosquitto_property_add_int32) \
    X(mosquitto_property_add_varint) \
    X(mosquitto_property_free_all) \
    X(mosquitto_property_read_byte) \
    X(mosquitto_property_read_int16) \
    X(mosquitto_property_read_varint) \
    X(mosquitto_property_read_string) \
    X(mosquitto_publish_v5) \
    X(mosquitto_publish_v5_callback_set) \
    X(mosquitto_reason_string) \
    X(mosquitto_socket) \
    X(mosquitto_ssl_get) \
    X(mosquitto_strerror) \
    X(mosquitto_sub_topic_check) \
    X(mosquitto_threaded_set) \
    X(mosquitto_subscribe_v5) \
    X(mosquitto_subscribe_v5_callback_set) \
    X(mosquitto_tls_insecure_set) \
    X(mosquitto_tls_set) \
    X(mosquitto_unsubscribe_v5) \
    X(mosquitto_username_pw_set) \
    X(mosquitto_want_write)
// clang-format on
struct TMosquittoApi {
    ZK_MOSQUITTO_FUNCTIONS(ZK_SHARED_POINTER)
};
const TMosquittoApi* Mosquitto() {
    return zkShared::Load<TMosquittoApi>("libmosquitto.so.1", [](void* h, TMosquittoApi& a) {
        return ZK_MOSQUITTO_FUNCTIONS(ZK_SHARED_RESOLVE) true;
    });
}
// Only once a session's set-up found the library.
const TMosquittoApi& Mq() {
    return *Mosquitto();
}

// The little of OpenSSL (loaded with libmosquitto already) that tells why a certificate was not
// accepted; looked up through libssl, which brings libcrypto.
// clang-format off
#define ZK_OPENSSL_FUNCTIONS(X) \
    X(SSL_get_verify_result) \
    X(SSL_get_peer_cert_chain) \
    X(OPENSSL_sk_num) \
    X(OPENSSL_sk_value) \
    X(X509_get0_notAfter) \
    X(X509_get0_notBefore) \
    X(X509_cmp_current_time) \
    X(ASN1_TIME_to_tm)
// clang-format on
struct TOpenSslApi {
    ZK_OPENSSL_FUNCTIONS(ZK_SHARED_POINTER)
};
const TOpenSslApi* OpenSsl() {
    return zkShared::Load<TOpenSslApi>("libssl.so.3", [](void* h, TOpenSslApi& a) {
        return ZK_OPENSSL_FUNCTIONS(ZK_SHARED_RESOLVE) true;
    });
}

QString CertificateDate(const TOpenSslApi& ssl, const ASN1_TIME* time) {
    std::tm parts{};
    if (!time || ssl.ASN1_TIME_to_tm(time, &parts) != 1)
        return QString();
    const QDateTime when(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                         QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
}

// Why the broker's certificate was not accepted when its dates were the reason ("expired on
// 2026-12-09 11:24 UTC"); empty for any other reason.
QString CertificateDateProblem(void* sslObject) {
    const TOpenSslApi* ssl = OpenSsl();
    if (!ssl || !sslObject)
        return QString();
    auto* connection = static_cast<SSL*>(sslObject);
    const long result = ssl->SSL_get_verify_result(connection);
    if (result != X509_V_ERR_CERT_HAS_EXPIRED && result != X509_V_ERR_CERT_NOT_YET_VALID)
        return QString();
    const bool expired = result == X509_V_ERR_CERT_HAS_EXPIRED;
    // The chain as the server sent it (the server's own first): kept while verification
    // fails, unlike the peer's certificate, which is set only once it passed.
    const auto* chain =
        reinterpret_cast<const OPENSSL_STACK*>(ssl->SSL_get_peer_cert_chain(connection));
    const X509* peer = chain && ssl->OPENSSL_sk_num(chain) > 0
                           ? static_cast<const X509*>(ssl->OPENSSL_sk_value(chain, 0))
                           : nullptr;
    QString date;
    // The date is the server's own certificate's when that is the one out of date (another of
    // its chain may be).
    if (peer) {
        const ASN1_TIME* bound =
            expired ? ssl->X509_get0_notAfter(peer) : ssl->X509_get0_notBefore(peer);
        const int now = ssl->X509_cmp_current_time(bound);
        if (expired ? now < 0 : now > 0)
            date = CertificateDate(*ssl, bound);
    }
    if (expired)
        return date.isEmpty() ? QStringLiteral("a certificate of its chain has expired")
                              : QStringLiteral("it expired on %1").arg(date);
    return date.isEmpty() ? QStringLiteral("a certificate of its chain is not yet valid")
                          : QStringLiteral("it is not valid before %1").arg(date);
}
} // namespace

using TMessage = std::pair<QByteArray, QByteArray>; // topic, payload
using TClock = std::chrono::steady_clock;

struct TBrokerConnection::TShared {
    std::mutex Lock;
    std::condition_variable Ended;
    std::thread Thread;
    bool Finished = false;
    bool StopAsked = false;
    int GraceMs = 0;
    std::function<void()> Wake;
    bool WakePosted = false;
    bool ReadPaused = false;
    TBrokerState State;
    QList<TSourceAlert> Alerts;
    qsizetype AlertBytes = 0;
    // Symbols sent to this desk, not yet taken (bounded: they are a person's taps).
    QList<TLinkMessage> Links;
    std::deque<TMessage> Outgoing;
    qsizetype OutgoingBytes = 0;
    qsizetype Inflight = 0; // handed to the library, not yet acknowledged by the broker
    int EventFd = -1;
    // Where received messages are kept before the broker hears they arrived; none once Stop
    // gave up waiting for the thread. Journaling: the thread is in the log's KeepMessages.
    IAlertLog* Log = nullptr;
    bool Journaling = false;

    ~TShared() {
        if (EventFd >= 0)
            ::close(EventFd);
    }
    // Under Lock.
    void Notify() {
        if (!WakePosted && Wake) {
            WakePosted = true;
            Wake();
        }
    }
    void CountWaiting() { State.PublishWaiting = qsizetype(Outgoing.size()) + Inflight; }
    // Wakes the connection's thread out of its wait.
    void Signal() const {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(EventFd, &one, sizeof one);
    }
};

namespace {

using TShared = TBrokerConnection::TShared;

constexpr int DefaultKeepAliveSeconds = 60;
// How long the desk waits for the history to keep what a read brought before it leaves the
// messages unacknowledged with the broker and connects again.
constexpr int KeepTimeoutMs = 10000;
// Messages read in one turn: their alerts are kept in one commit.
constexpr int MaxReadPerTurn = 1000;

// Seconds between the packets that tell the broker the desk is there (and the desk that the
// broker is); VELQUIST_BROKER_KEEPALIVE (5 and more) for tests.
int KeepAliveSeconds() {
    static const int seconds = [] {
        bool ok = false;
        const int value = qEnvironmentVariableIntValue("VELQUIST_BROKER_KEEPALIVE", &ok);
        return ok && value >= 5 && value <= 3600 ? value : DefaultKeepAliveSeconds;
    }();
    return seconds;
}

// What names a message: the same message sent again (after a reconnection, with the same
// packet id) has the same key. FNV-1a, 64 bits.
quint64 MessageKey(const QByteArray& topic, const QByteArray& payload, int mid) {
    quint64 hash = 0xcbf29ce484222325ULL;
    const auto add = [&hash](const char* data, qsizetype n) {
        for (qsizetype i = 0; i < n; ++i) {
            hash ^= quint8(data[i]);
            hash *= 0x100000001b3ULL;
        }
    };
    add(topic.constData(), topic.size() + 1); // with its terminating zero
    add(payload.constData(), payload.size());
    const char id[2] = {char(mid >> 8), char(mid)};
    add(id, 2);
    return hash;
}
constexpr int ConnAckTimeoutMs = 20000;
constexpr int MaxDelaySeconds = 60;
// A connection that lasted this long starts the delays over at 1 s; one the broker ends at
// once (another desk with the same client id, a broker that refuses and closes) does not.
constexpr int StableSeconds = 10;
// Messages handed to the library before the broker acknowledged earlier ones: the rest wait in
// our bounded queue rather than in the library's unbounded one. Never more than the broker
// takes at once (its "receive maximum"): what the library (2.0.11) queues beyond that, it may
// never send.
constexpr qsizetype MaxInflight = 100;
// The subscription identifier of the desk's link topic: a message that also matches the alerts'
// topic filter ("#") comes once for each subscription, and only this one's copy is a symbol.
constexpr uint32_t LinkSubscriptionId = 1;
// Where desks are sent what is for them (symbols for their linked programs): never alerts.
constexpr QByteArrayView DeskTopicsRoot = "velquist/desk/";
// Symbols sent to this desk that wait for TakeUpdate, at most; more are dropped and counted.
constexpr qsizetype MaxWaitingLinks = 1000;
// Lines on stderr about skipped messages, at most this many a minute.
constexpr int MaxSkipLinesPerMinute = 20;

std::once_flag LibraryStarted;

// Where Debian (ca-certificates) keeps the certificate authorities the system trusts.
constexpr const char* SystemCAFolder = "/etc/ssl/certs";

qsizetype AlertSize(const TSourceAlert& alert) {
    return (alert.Symbol.size() + alert.Description.size() + alert.Strategy.size()) *
               qsizetype(sizeof(QChar)) +
           qsizetype(sizeof(TSourceAlert));
}

qint64 MsSince(TClock::time_point then) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - then).count();
}

// The network side, on the connection's thread: it alone touches the library's object.
class TSession {
public:
    TSession(std::shared_ptr<TShared> shared, TBrokerEndpoint endpoint)
        : Shared(std::move(shared)), Endpoint(std::move(endpoint)),
          HostText(Endpoint.Host.toUtf8()), TopicText(Endpoint.Topic.toUtf8()),
          LinkTopicText(Endpoint.LinkTopic.toUtf8()),
          // The filter's last level is "+": what comes before it names the desk's lists.
          LinkPrefix(LinkTopicText.isEmpty() ? QByteArray() : LinkTopicText.chopped(1)) {}
    ~TSession() {
        if (Mosq)
            Mq().mosquitto_destroy(Mosq);
    }
    void Run();

private:
    QString Setup();
    QString Connect();
    // One turn: waits up to timeoutMs for the socket or a signal, then lets the library read,
    // write and keep the connection alive. Why the connection ended, or empty.
    QString Step(int timeoutMs);
    // Keeps what the last reads brought in the history, then hands the new alerts on. False
    // when the history could not keep them: they stay unacknowledged with the broker.
    bool KeepReceived();
    void PublishWaiting();
    // While stopping: up to graceMs for what waits to be published to be acknowledged.
    void Drain(int graceMs);
    bool StopAsked() {
        std::lock_guard lock(Shared->Lock);
        return Shared->StopAsked;
    }
    // Waits ms or until asked to stop; false when asked.
    bool Sleep(int ms);
    void SetState(TBrokerState::TPhase phase, const QString& problem, int retrySeconds = 0);
    QString Where() const { return QStringLiteral("%1:%2").arg(Endpoint.Host).arg(Endpoint.Port); }
    QString ConnectProblem(int rc, int error) const;
    QString LoopProblem(int rc) const;
    QString TlsProblem() const;
    static QString ConnAckProblem(int reason);
    // Counted in the state's counter (Skipped: a message that was no alert).
    void SkippedMessage(const QString& topic, const QString& why,
                        quint64 TBrokerState::*counter = &TBrokerState::Skipped);
    // A message on the desk's link topic: a symbol for a list's programs, or skipped.
    void LinkMessage(const mosquitto_message* message);
    // Whether the message came for the link subscription (not, or not only, for the alerts'
    // topic filter).
    bool ThroughLinkSubscription(const mosquitto_property* properties) const;

    static void OnConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void OnDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                          const mosquitto_property* properties);
    static void OnPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property*);
    static void OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                            const mosquitto_property*);
    static void OnLog(mosquitto*, void* self, int level, const char* text);

    std::shared_ptr<TShared> Shared;
    const TBrokerEndpoint Endpoint;
    const QByteArray HostText;
    const QByteArray TopicText;
    QByteArray LinkTopicText;
    QByteArray LinkPrefix;
    mosquitto* Mosq = nullptr;
    // The SUBSCRIBE packets of this connection: their answers are told apart by them.
    int TopicSubscribeMid = -1;
    int LinkSubscribeMid = -1;
    // The broker tells messages' subscriptions apart (MQTT 5 lets a broker not).
    bool SubscriptionIds = true;
    int ConnAck = -1; // the broker's answer to CONNECT; -1 before it came
    qsizetype SendQuota = MaxInflight;
    bool Connected = false;
    TClock::time_point ConnectedAt;
    int DisconnectReason = 0;
    QString SubscribeProblem;
    QString LastTlsError;
    // What was wrong with the dates of the broker's certificate, when they were the reason.
    QString CertificateDates;
    // Messages read and not yet kept, with their keys.
    std::vector<std::pair<quint64, QList<TSourceAlert>>> Received;
    // When the broker last sent anything.
    TClock::time_point LastIn;
    TClock::time_point SkipWindow = TClock::now();
    int SkipLines = 0;
    quint64 SkipUntold = 0;
};

void TSession::SetState(TBrokerState::TPhase phase, const QString& problem, int retrySeconds) {
    std::lock_guard lock(Shared->Lock);
    TBrokerState& state = Shared->State;
    if (state.Phase == phase && state.Problem == problem && state.RetrySeconds == retrySeconds)
        return;
    state.Phase = phase;
    state.Problem = problem;
    state.RetrySeconds = retrySeconds;
    Shared->Notify();
}

bool TSession::Sleep(int ms) {
    const auto until = TClock::now() + std::chrono::milliseconds(ms);
    while (!StopAsked()) {
        const qint64 left = -MsSince(until);
        if (left <= 0)
            return true;
        pollfd fd{Shared->EventFd, POLLIN, 0};
        if (::poll(&fd, 1, int(left)) > 0) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(Shared->EventFd, &count, sizeof count);
        }
    }
    return false;
}

QString TSession::Setup() {
    if (!Mosquitto())
        return QStringLiteral("the MQTT library (libmosquitto.so.1) cannot be loaded");
    std::call_once(LibraryStarted, [] { Mq().mosquitto_lib_init(); });
    if (Endpoint.Host.trimmed().isEmpty())
        return QStringLiteral("no broker host is set");
    if (TopicText.isEmpty() ||
        Mq().mosquitto_sub_topic_check(TopicText.constData()) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("the topic filter \"%1\" is not valid")
            .arg(zkBroker::PrintableText(Endpoint.Topic));
    if (!LinkTopicText.isEmpty() &&
        Mq().mosquitto_sub_topic_check(LinkTopicText.constData()) != MOSQ_ERR_SUCCESS) {
        fprintf(stderr, "velquist: broker: symbols cannot be sent to this desk: %s is no topic\n",
                qPrintable(zkBroker::PrintableText(Endpoint.LinkTopic)));
        LinkTopicText.clear();
        LinkPrefix.clear();
    }
    // Not a clean session: the broker keeps the subscription and what arrives for it while the
    // desk is away, under this id.
    Mosq = Mq().mosquitto_new(Endpoint.ClientId.toUtf8().constData(), false, this);
    if (!Mosq)
        return QStringLiteral("the MQTT library could not start (%1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    Mq().mosquitto_int_option(Mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // The library only queues what it sends (acknowledgements too); it goes out when this
    // thread writes, which it does once what was read is kept.
    Mq().mosquitto_threaded_set(Mosq, true);
    // Alerts are small and each is wanted at once: no waiting to fill a segment.
    Mq().mosquitto_int_option(Mosq, MOSQ_OPT_TCP_NODELAY, 1);
    Mq().mosquitto_connect_v5_callback_set(Mosq, &TSession::OnConnect);
    Mq().mosquitto_disconnect_v5_callback_set(Mosq, &TSession::OnDisconnect);
    Mq().mosquitto_message_v5_callback_set(Mosq, &TSession::OnMessage);
    Mq().mosquitto_publish_v5_callback_set(Mosq, &TSession::OnPublish);
    Mq().mosquitto_subscribe_v5_callback_set(Mosq, &TSession::OnSubscribe);
    Mq().mosquitto_log_callback_set(Mosq, &TSession::OnLog);
    if (!Endpoint.UserName.isEmpty()) {
        const QByteArray password = Endpoint.Password.toUtf8();
        Mq().mosquitto_username_pw_set(Mosq, Endpoint.UserName.toUtf8().constData(),
                                       password.isEmpty() ? nullptr : password.constData());
    }
    if (Endpoint.TLS) {
        // The system's authorities as OpenSSL finds them in their folder. (The library's own
        // option for them fails every connection after the first with "invalid arguments".)
        if (Endpoint.CAFile.isEmpty()) {
            if (Mq().mosquitto_tls_set(Mosq, nullptr, SystemCAFolder, nullptr, nullptr, nullptr) !=
                MOSQ_ERR_SUCCESS)
                return QStringLiteral("the system's certificate authorities cannot be read "
                                      "from %1: give a CA file")
                    .arg(QString::fromLatin1(SystemCAFolder));
        } else if (Mq().mosquitto_tls_set(Mosq, Endpoint.CAFile.toLocal8Bit().constData(), nullptr,
                                          nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS) {
            return QStringLiteral("the CA file %1 cannot be read")
                .arg(zkBroker::PrintableText(Endpoint.CAFile, 200));
        }
        // The server's name is checked against its certificate: never skipped.
        Mq().mosquitto_tls_insecure_set(Mosq, false);
    }
    return QString();
}

void TSession::Run() {
    QString problem = Setup();
    if (!problem.isEmpty()) {
        // Nothing to try again until the settings change.
        SetState(TBrokerState::TPhase::Stopped, problem);
        while (Sleep(60000)) {
        }
        return;
    }
    int delay = 1;
    while (!StopAsked()) {
        SetState(TBrokerState::TPhase::Connecting, problem);
        problem = Connect();
        if (StopAsked())
            break;
        if (Connected && MsSince(ConnectedAt) >= StableSeconds * 1000)
            delay = 1;
        Connected = false;
        SetState(TBrokerState::TPhase::Waiting, problem, delay);
        if (!Sleep(delay * 1000))
            break;
        delay = std::min(delay * 2, MaxDelaySeconds);
    }
}

QString TSession::Connect() {
    ConnAck = -1;
    Connected = false;
    DisconnectReason = 0;
    SubscribeProblem.clear();
    LastTlsError.clear();
    CertificateDates.clear();
    mosquitto_property* properties = nullptr;
    Mq().mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                      TBrokerConnection::SessionExpirySeconds);
    // Larger messages are not sent to us (the broker drops them for this desk).
    Mq().mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                      uint32_t(zkBroker::MaxPayloadBytes + 65536 + 16));
    errno = 0;
    const int rc = Mq().mosquitto_connect_bind_v5(Mosq, HostText.constData(), Endpoint.Port,
                                                  KeepAliveSeconds(), nullptr, properties);
    const int error = errno;
    Mq().mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_SUCCESS)
        return ConnectProblem(rc, error);
    const TClock::time_point started = TClock::now();
    LastIn = started;
    Received.clear();
    while (true) {
        int grace = 0;
        bool stop = false;
        {
            std::lock_guard lock(Shared->Lock);
            stop = Shared->StopAsked;
            grace = Shared->GraceMs;
        }
        if (stop) {
            if (Connected)
                Drain(grace);
            Mq().mosquitto_disconnect_v5(Mosq, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
            return QString();
        }
        if (Connected)
            PublishWaiting();
        if (QString problem = Step(1000); !problem.isEmpty())
            return problem;
        if (ConnAck > 0)
            return ConnAckProblem(ConnAck);
        if (ConnAck < 0 && MsSince(started) > ConnAckTimeoutMs)
            return QStringLiteral("no answer from the broker at %1").arg(Where());
    }
}

QString TSession::Step(int timeoutMs) {
    const int socket = Mq().mosquitto_socket(Mosq);
    if (socket < 0)
        return DisconnectReason ? ConnAckProblem(DisconnectReason)
                                : QStringLiteral("the broker closed the connection");
    bool read = true;
    {
        std::lock_guard lock(Shared->Lock);
        // Full: leave the rest with the broker until the desk has taken what it has.
        read = Shared->Alerts.size() < TBrokerConnection::MaxWaitingAlerts &&
               Shared->AlertBytes < TBrokerConnection::MaxWaitingBytes;
        Shared->ReadPaused = !read;
    }
    // A broker that sent nothing for one and a half keep-alive periods (it was asked for an
    // answer after at most one) is gone, whatever the connection's socket says.
    const qint64 silentMs = qint64(KeepAliveSeconds()) * 1500;
    // Not reading (or not connected yet: that has its own bound), its silence tells nothing.
    const bool watchSilence = read && ConnAck == 0;
    if (!watchSilence)
        LastIn = TClock::now();
    const qint64 untilSilent = silentMs - MsSince(LastIn);
    pollfd fds[2] = {
        {socket, short((read ? POLLIN : 0) | (Mq().mosquitto_want_write(Mosq) ? POLLOUT : 0)), 0},
        {Shared->EventFd, POLLIN, 0}};
    if (::poll(fds, 2, int(std::clamp<qint64>(untilSilent, 0, timeoutMs))) < 0 && errno != EINTR)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(Shared->EventFd, &count, sizeof count);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        LastIn = TClock::now();
        // Each call reads a packet or less: read on while packets come, so that what a burst
        // brings is kept in one commit.
        for (int n = 0; n < MaxReadPerTurn && rc == MOSQ_ERR_SUCCESS; ++n) {
            const size_t before = Received.size();
            rc = Mq().mosquitto_loop_read(Mosq, 1);
            if (Received.size() == before && n > 0)
                break;
        }
    } else if (watchSilence && MsSince(LastIn) >= silentMs) {
        return QStringLiteral("the broker stopped answering");
    }
    // Nothing read is acknowledged (the library sends the acknowledgements with what it
    // writes) before it is kept.
    if (!Received.empty() && !KeepReceived())
        return QStringLiteral("the alert history cannot keep the alerts now (the broker keeps "
                              "them)");
    if (rc == MOSQ_ERR_SUCCESS && Mq().mosquitto_want_write(Mosq))
        rc = Mq().mosquitto_loop_write(Mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = Mq().mosquitto_loop_misc(Mosq);
    if (rc != MOSQ_ERR_SUCCESS)
        return LoopProblem(rc);
    return QString();
}

bool TSession::KeepReceived() {
    std::vector<TLoggedMessage> messages;
    IAlertLog* log = nullptr;
    {
        std::lock_guard lock(Shared->Lock);
        log = Shared->Log;
        Shared->Journaling = log != nullptr;
    }
    std::optional<std::vector<bool>> fresh;
    if (log) {
        const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
        messages.reserve(Received.size());
        for (const auto& [key, alerts] : Received) {
            TLoggedMessage& message = messages.emplace_back();
            message.Key = key;
            message.Alerts.reserve(size_t(alerts.size()));
            for (const TSourceAlert& alert : alerts)
                message.Alerts.push_back({alert.Strategy, alert.Symbol,
                                          alert.HasPrice ? alert.Price : 0, alert.Description,
                                          nowMs});
        }
        fresh = log->KeepMessages(messages, KeepTimeoutMs);
    } else {
        fresh = std::vector<bool>(Received.size(), true);
    }
    std::lock_guard lock(Shared->Lock);
    Shared->Journaling = false;
    Shared->Ended.notify_all();
    if (!fresh) {
        Received.clear();
        return false;
    }
    size_t again = 0;
    for (size_t i = 0; i < Received.size(); ++i) {
        // Delivered before and kept then: the broker sent it again.
        if (!(*fresh)[i]) {
            ++again;
            continue;
        }
        for (TSourceAlert& alert : Received[i].second) {
            Shared->AlertBytes += AlertSize(alert);
            Shared->Alerts.append(std::move(alert));
        }
        ++Shared->State.Received;
    }
    Received.clear();
    Shared->Notify();
    if (again > 0)
        fprintf(stderr,
                "velquist: broker: %zu messages the broker sent again were known and not shown "
                "again\n",
                again);
    return true;
}

void TSession::PublishWaiting() {
    while (true) {
        TMessage message;
        {
            std::lock_guard lock(Shared->Lock);
            if (Shared->Outgoing.empty() || Shared->Inflight >= SendQuota)
                return;
            message = std::move(Shared->Outgoing.front());
            Shared->Outgoing.pop_front();
            Shared->OutgoingBytes -= message.first.size() + message.second.size();
            ++Shared->Inflight;
        }
        const int rc = Mq().mosquitto_publish_v5(Mosq, nullptr, message.first.constData(),
                                                 int(message.second.size()),
                                                 message.second.constData(), 1, false, nullptr);
        std::lock_guard lock(Shared->Lock);
        if (rc == MOSQ_ERR_SUCCESS)
            continue;
        --Shared->Inflight;
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NOMEM) {
            // Not now: first again at the next connection.
            Shared->OutgoingBytes += message.first.size() + message.second.size();
            Shared->Outgoing.push_front(std::move(message));
            return;
        }
        ++Shared->State.PublishGivenUp;
        Shared->CountWaiting();
        Shared->Notify();
        fprintf(stderr, "velquist: broker: an alert for %s was not published: %s\n",
                qPrintable(zkBroker::PrintableText(QString::fromUtf8(message.first))),
                Mq().mosquitto_strerror(rc));
    }
}

void TSession::Drain(int graceMs) {
    const TClock::time_point started = TClock::now();
    while (MsSince(started) < graceMs) {
        {
            std::lock_guard lock(Shared->Lock);
            if (Shared->Outgoing.empty() && Shared->Inflight == 0)
                return;
        }
        PublishWaiting();
        if (!Step(20).isEmpty())
            return;
    }
}

QString TSession::TlsProblem() const {
    if (!CertificateDates.isEmpty())
        return QStringLiteral("the broker's TLS certificate was not accepted: %1")
            .arg(CertificateDates);
    if (LastTlsError.contains(QLatin1String("certificate verify failed")))
        return QStringLiteral("the broker's TLS certificate was not accepted (certificate "
                              "verify failed: is it signed by %1, and made for the name %2?)")
            .arg(Endpoint.CAFile.isEmpty() ? QStringLiteral("an authority this system trusts")
                                           : QStringLiteral("the CA of the CA file"),
                 Endpoint.Host);
    if (!LastTlsError.isEmpty())
        return QStringLiteral("TLS failed (%1)").arg(zkBroker::PrintableText(LastTlsError, 200));
    return QStringLiteral("TLS failed: does the broker take TLS on %1?").arg(Where());
}

QString TSession::ConnectProblem(int rc, int error) const {
    switch (rc) {
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP:
        return QStringLiteral("the name %1 cannot be resolved").arg(Endpoint.Host);
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return TlsProblem();
    case MOSQ_ERR_ERRNO:
        switch (error) {
        case ECONNREFUSED:
            return QStringLiteral("%1 refused the connection: no broker listens there")
                .arg(Where());
        case ETIMEDOUT:
            return QStringLiteral("no answer from %1").arg(Where());
        default:
            return QStringLiteral("%1 cannot be reached (%2)")
                .arg(Where(), QString::fromLocal8Bit(std::strerror(error)));
        }
    default:
        return QString::fromUtf8(Mq().mosquitto_strerror(rc));
    }
}

QString TSession::LoopProblem(int rc) const {
    if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE || !LastTlsError.isEmpty())
        return TlsProblem();
    if (DisconnectReason != 0)
        return ConnAckProblem(DisconnectReason);
    if (ConnAck > 0)
        return ConnAckProblem(ConnAck);
    if (ConnAck < 0) {
        // Closed before it answered: most often a broker that wants TLS, or one that does not.
        return Endpoint.TLS ? QStringLiteral("the broker at %1 closed the connection before "
                                             "answering")
                                  .arg(Where())
                            : QStringLiteral("the broker at %1 closed the connection before "
                                             "answering: does it take only TLS?")
                                  .arg(Where());
    }
    if (rc == MOSQ_ERR_KEEPALIVE)
        return QStringLiteral("the broker stopped answering");
    if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO)
        return QStringLiteral("the connection to %1 was lost").arg(Where());
    return QStringLiteral("the connection was lost (%1)")
        .arg(QString::fromUtf8(Mq().mosquitto_strerror(rc)));
}

QString TSession::ConnAckProblem(int reason) {
    switch (reason) {
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return QStringLiteral("bad user name or password");
    case MQTT_RC_NOT_AUTHORIZED:
        return QStringLiteral("not authorized: bad user name or password");
    case MQTT_RC_CLIENTID_NOT_VALID:
        return QStringLiteral("the broker refused this desk's client id");
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return QStringLiteral("the broker does not speak MQTT 5");
    case MQTT_RC_SESSION_TAKEN_OVER:
        return QStringLiteral("another program connected with this desk's client id");
    default:
        return QStringLiteral("the broker ended the connection (%1)")
            .arg(QString::fromUtf8(Mq().mosquitto_reason_string(reason)));
    }
}

void TSession::SkippedMessage(const QString& topic, const QString& why,
                              quint64 TBrokerState::*counter) {
    {
        std::lock_guard lock(Shared->Lock);
        ++(Shared->State.*counter);
        Shared->Notify();
    }
    if (MsSince(SkipWindow) >= 60000) {
        if (SkipUntold)
            fprintf(stderr, "velquist: broker: %llu more messages were skipped\n",
                    static_cast<unsigned long long>(SkipUntold));
        SkipWindow = TClock::now();
        SkipLines = 0;
        SkipUntold = 0;
    }
    if (SkipLines >= MaxSkipLinesPerMinute) {
        ++SkipUntold;
        return;
    }
    ++SkipLines;
    fprintf(stderr, "velquist: broker: message on %s skipped: %s\n",
            qPrintable(zkBroker::PrintableText(topic)), qPrintable(why));
}

void TSession::OnConnect(mosquitto* mosq, void* self, int rc, int,
                         const mosquitto_property* properties) {
    auto* s = static_cast<TSession*>(self);
    s->ConnAck = rc;
    if (rc != 0)
        return;
    uint16_t receiveMaximum = 65535; // MQTT 5's default when the broker names none
    Mq().mosquitto_property_read_int16(properties, MQTT_PROP_RECEIVE_MAXIMUM, &receiveMaximum,
                                       false);
    s->SendQuota = std::clamp<qsizetype>(receiveMaximum, 1, MaxInflight);
    uint8_t idsAvailable = 1; // the default when the broker names none
    Mq().mosquitto_property_read_byte(properties, MQTT_PROP_SUBSCRIPTION_ID_AVAILABLE,
                                      &idsAvailable, false);
    s->SubscriptionIds = idsAvailable != 0;
    s->Connected = true;
    s->ConnectedAt = TClock::now();
    {
        // What the library still holds from before is resent by it; the count starts over so
        // that a message it gave up with the old connection cannot hold the queue shut.
        std::lock_guard lock(s->Shared->Lock);
        s->Shared->Inflight = 0;
    }
    if (!s->Endpoint.DropTopic.isEmpty() && s->Endpoint.DropTopic != s->Endpoint.Topic)
        Mq().mosquitto_unsubscribe_v5(mosq, nullptr, s->Endpoint.DropTopic.toUtf8().constData(),
                                      nullptr);
    // No-local: what this desk publishes does not come back to it. Retained messages are old
    // news, not alerts: never sent on subscribing.
    s->TopicSubscribeMid = -1;
    s->LinkSubscribeMid = -1;
    Mq().mosquitto_subscribe_v5(mosq, &s->TopicSubscribeMid, s->TopicText.constData(), 1,
                                MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_SEND_RETAIN_NEVER, nullptr);
    // A symbol sent to the desk is for now: a retained one (hours old, perhaps) is never sent
    // on subscribing, and one published retained keeps its flag, so that it is seen and left.
    if (!s->LinkTopicText.isEmpty()) {
        mosquitto_property* linkProperties = nullptr;
        if (s->SubscriptionIds)
            Mq().mosquitto_property_add_varint(&linkProperties, MQTT_PROP_SUBSCRIPTION_IDENTIFIER,
                                               LinkSubscriptionId);
        Mq().mosquitto_subscribe_v5(
            mosq, &s->LinkSubscribeMid, s->LinkTopicText.constData(), 1,
            MQTT_SUB_OPT_SEND_RETAIN_NEVER | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, linkProperties);
        Mq().mosquitto_property_free_all(&linkProperties);
    }
    s->SetState(TBrokerState::TPhase::Connected, QString());
}

void TSession::OnDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
    auto* s = static_cast<TSession*>(self);
    // Above 127 the broker said why; below, the library's own codes.
    if (rc >= 128)
        s->DisconnectReason = rc;
}

void TSession::OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                         const mosquitto_property* properties) {
    auto* s = static_cast<TSession*>(self);
    // The desk's link topic is never an alert's, whatever the topic filter also takes.
    if (!s->LinkPrefix.isEmpty() && message->topic &&
        QByteArrayView(message->topic).startsWith(s->LinkPrefix)) {
        if (!QByteArrayView(message->topic).sliced(s->LinkPrefix.size()).contains('/') &&
            s->ThroughLinkSubscription(properties))
            s->LinkMessage(message);
        return;
    }
    // Nor are other desks' (what a wide filter such as "#" takes of them).
    if (message->topic && QByteArrayView(message->topic).startsWith(DeskTopicsRoot))
        return;
    const QString topic = QString::fromUtf8(message->topic);
    QByteArray contentType;
    char* type = nullptr;
    if (Mq().mosquitto_property_read_string(properties, MQTT_PROP_CONTENT_TYPE, &type, false)) {
        contentType = QByteArray(type);
        std::free(type);
    }
    const QByteArray payload = QByteArray::fromRawData(static_cast<const char*>(message->payload),
                                                       qsizetype(message->payloadlen));
    zkBroker::TReceived received =
        zkBroker::ReadMessage(topic, payload, contentType, s->Endpoint.ClientId);
    if (received.OwnMessage)
        return;
    if (!received.Parsed.Ok()) {
        s->SkippedMessage(topic, received.Parsed.Error.Message);
        return;
    }
    s->Received.emplace_back(MessageKey(QByteArray(message->topic), payload, message->mid),
                             std::move(received.Parsed.Alerts));
}

bool TSession::ThroughLinkSubscription(const mosquitto_property* properties) const {
    if (!SubscriptionIds)
        return true;
    uint32_t id = 0;
    for (const mosquitto_property* p = Mq().mosquitto_property_read_varint(
             properties, MQTT_PROP_SUBSCRIPTION_IDENTIFIER, &id, false);
         p;
         p = Mq().mosquitto_property_read_varint(p, MQTT_PROP_SUBSCRIPTION_IDENTIFIER, &id, true))
        if (id == LinkSubscriptionId)
            return true;
    return false;
}

void TSession::LinkMessage(const mosquitto_message* message) {
    const QString topic = QString::fromUtf8(message->topic);
    if (message->retain) {
        SkippedMessage(topic, QStringLiteral("it was retained: only new symbols are sent on"),
                       &TBrokerState::LinkSkipped);
        return;
    }
    const QByteArray payload = QByteArray::fromRawData(static_cast<const char*>(message->payload),
                                                       qsizetype(message->payloadlen));
    zkBroker::TLinkRead read = zkBroker::ReadLinkMessage(topic, payload);
    if (!read.Request) {
        SkippedMessage(topic, read.Problem, &TBrokerState::LinkSkipped);
        return;
    }
    std::lock_guard lock(Shared->Lock);
    if (Shared->Links.size() >= MaxWaitingLinks) {
        ++Shared->State.LinkSkipped;
        Shared->Notify();
        return;
    }
    Shared->Links.append(
        {std::move(*read.Request), MessageKey(QByteArray(message->topic), payload, message->mid)});
    Shared->Notify();
}

void TSession::OnPublish(mosquitto*, void* self, int, int reason, const mosquitto_property*) {
    auto* s = static_cast<TSession*>(self);
    std::lock_guard lock(s->Shared->Lock);
    s->Shared->Inflight = std::max<qsizetype>(0, s->Shared->Inflight - 1);
    if (reason >= 128) {
        ++s->Shared->State.PublishGivenUp;
        fprintf(stderr, "velquist: broker: the broker refused an alert: %s\n",
                Mq().mosquitto_reason_string(reason));
    }
    s->Shared->CountWaiting();
    s->Shared->Notify();
}

void TSession::OnSubscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                           const mosquitto_property*) {
    auto* s = static_cast<TSession*>(self);
    if (count < 1 || granted[0] < 128)
        return;
    if (mid == s->LinkSubscribeMid && mid != s->TopicSubscribeMid) {
        // Alerts still come: a line, not the status (a broker set up before symbols could be
        // sent to desks refuses it by its ACL).
        fprintf(stderr,
                "velquist: broker: the broker refused the subscription to %s (%s): symbols sent "
                "to this desk from other devices do not arrive\n",
                qPrintable(zkBroker::PrintableText(QString::fromUtf8(s->LinkTopicText))),
                Mq().mosquitto_reason_string(granted[0]));
        return;
    }
    s->SubscribeProblem = QStringLiteral("the broker refused the subscription to %1 (%2)")
                              .arg(zkBroker::PrintableText(s->Endpoint.Topic),
                                   QString::fromUtf8(Mq().mosquitto_reason_string(granted[0])));
    s->SetState(TBrokerState::TPhase::Connected, s->SubscribeProblem);
}

void TSession::OnLog(mosquitto* mosq, void* self, int level, const char* text) {
    auto* s = static_cast<TSession*>(self);
    if ((level & MOSQ_LOG_ERR) && text && std::strstr(text, "OpenSSL Error")) {
        s->LastTlsError = QString::fromUtf8(text);
        // The verification's result is there while the library tells of the failure, and the
        // connection with it goes after.
        if (s->CertificateDates.isEmpty())
            s->CertificateDates = CertificateDateProblem(Mq().mosquitto_ssl_get(mosq));
    }
}

void RunConnection(std::shared_ptr<TShared> shared, TBrokerEndpoint endpoint) {
    {
        TSession session(shared, std::move(endpoint));
        session.Run();
    }
    std::lock_guard lock(shared->Lock);
    shared->Finished = true;
    shared->State.Phase = TBrokerState::TPhase::Stopped;
    shared->Ended.notify_all();
}

} // namespace

TBrokerConnection::TBrokerConnection(const TBrokerEndpoint& endpoint, std::function<void()> wake,
                                     IAlertLog* log)
    : Shared(std::make_shared<TShared>()) {
    Shared->Wake = std::move(wake);
    Shared->Log = log;
    Shared->EventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Shared->Thread = std::thread(RunConnection, Shared, endpoint);
}

TBrokerConnection::~TBrokerConnection() {
    Stop(0);
}

QList<std::pair<QByteArray, QByteArray>> TBrokerConnection::Stop(int graceMs) {
    QList<TMessage> left;
    if (Stopped)
        return left;
    Stopped = true;
    std::unique_lock lock(Shared->Lock);
    Shared->StopAsked = true;
    Shared->GraceMs = graceMs;
    Shared->Wake = nullptr;
    Shared->Signal();
    const bool ended = Shared->Ended.wait_for(lock, std::chrono::milliseconds(graceMs + 1000),
                                              [this] { return Shared->Finished; });
    // A thread left to end by itself must not reach the log, which may go with the caller; one
    // in it now is waited for (the log answers within its bound).
    Shared->Ended.wait(lock, [this] { return Shared->Finished || !Shared->Journaling; });
    Shared->Log = nullptr;
    // What is still queued stays ours; a thread that did not end in time publishes no more.
    left.reserve(qsizetype(Shared->Outgoing.size()));
    for (TMessage& message : Shared->Outgoing)
        left.append(std::move(message));
    Shared->Outgoing.clear();
    Shared->OutgoingBytes = 0;
    const qsizetype unconfirmed = Shared->Inflight;
    lock.unlock();
    if (ended)
        Shared->Thread.join();
    else
        Shared->Thread.detach(); // held up in the system's name lookup or connect
    if (unconfirmed > 0)
        fprintf(stderr,
                "velquist: broker: %lld alerts were sent but the broker had not confirmed "
                "them yet\n",
                static_cast<long long>(unconfirmed));
    return left;
}

TBrokerUpdate TBrokerConnection::TakeUpdate() {
    TBrokerUpdate update;
    std::lock_guard lock(Shared->Lock);
    update.Alerts = std::exchange(Shared->Alerts, {});
    update.Links = std::exchange(Shared->Links, {});
    Shared->AlertBytes = 0;
    Shared->WakePosted = false;
    update.State = Shared->State;
    if (Shared->ReadPaused) {
        Shared->ReadPaused = false;
        Shared->Signal();
    }
    return update;
}

TBrokerState TBrokerConnection::StateNow() const {
    std::lock_guard lock(Shared->Lock);
    return Shared->State;
}

void TBrokerConnection::Publish(const QByteArray& topic, const QByteArray& payload) {
    std::lock_guard lock(Shared->Lock);
    if (Stopped)
        return;
    Shared->Outgoing.emplace_back(topic, payload);
    Shared->OutgoingBytes += topic.size() + payload.size();
    // Full: the oldest make way (the newest alerts matter most), counted and told.
    while (qsizetype(Shared->Outgoing.size()) > MaxPublishWaiting ||
           Shared->OutgoingBytes > MaxPublishBytes) {
        Shared->OutgoingBytes -=
            Shared->Outgoing.front().first.size() + Shared->Outgoing.front().second.size();
        Shared->Outgoing.pop_front();
        ++Shared->State.PublishGivenUp;
    }
    Shared->CountWaiting();
    Shared->Notify();
    Shared->Signal();
}
