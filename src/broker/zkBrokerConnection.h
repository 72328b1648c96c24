#pragma once

// One connection to an MQTT broker through libmosquitto, on a thread of its own: connects (TLS,
// user name and password), subscribes, reconnects after a growing delay (1 s doubling up to
// 60 s), reads each message into alerts and publishes what it is given. Nothing here waits on
// the network for the caller: alerts and the state are collected, publishing queues.
//
// A message is acknowledged to the broker only once its alerts are kept (the log given), so a
// desk that dies loses none: the broker delivers again what was not acknowledged, and the log
// knows what it kept already. Both directions are bounded. Received alerts wait for TakeUpdate up
// to MaxWaitingAlerts or MaxWaitingBytes; past that the connection stops reading, so the broker
// keeps the rest (a persistent session) until there is room again. Alerts to publish wait up to
// MaxPublishWaiting messages (or MaxPublishBytes); when more come, the oldest are given up and
// counted.

#include "broker/zkBrokerMessages.h"
#include "desk/zkAlertSink.h"

class IAlertLog;

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

struct TBrokerEndpoint {
    QString Host;
    quint16 Port = 8883;
    bool TLS = true;
    QString CAFile; // empty: the system's certificate authorities
    QString UserName;
    QString Password;
    QString Topic;
    QString ClientId;
    // Where other devices send symbols for this desk's link lists (LinkTopicFilter), subscribed
    // to beside Topic; empty: none.
    QString LinkTopic;
    // A topic filter subscribed to before (the setting changed): given up at the next connect,
    // since the broker keeps a persistent session's subscriptions.
    QString DropTopic;
};

struct TBrokerState {
    enum class TPhase { Connecting, Connected, Waiting, Stopped };
    TPhase Phase = TPhase::Connecting;
    // Why the last attempt failed or the connection ended ("the broker refused the user name or
    // password"), English; empty when nothing failed.
    QString Problem;
    int RetrySeconds = 0;         // while Waiting: until the next attempt
    qsizetype PublishWaiting = 0; // alerts to publish that the broker has not taken yet
    quint64 PublishGivenUp = 0;   // since the start: the queue was full, or the broker refused
    quint64 Received = 0;         // messages read into alerts
    quint64 Skipped = 0;          // messages that were not alerts
    quint64 LinkSkipped = 0;      // symbols sent to this desk that could not be read
    bool operator==(const TBrokerState&) const = default;
};

// A symbol sent to this desk, with what names its message: the broker sends a QoS 1 message
// again, with the same packet id, when it did not hear that it arrived.
struct TLinkMessage {
    zkBroker::TLinkRequest Request;
    quint64 Key = 0;
};

struct TBrokerUpdate {
    QList<TSourceAlert> Alerts;
    QList<TLinkMessage> Links;
    TBrokerState State;
};

class TBrokerConnection {
public:
    static constexpr qsizetype MaxWaitingAlerts = 50000;
    static constexpr qsizetype MaxWaitingBytes = 32 * 1024 * 1024;
    static constexpr qsizetype MaxPublishWaiting = 10000;
    static constexpr qsizetype MaxPublishBytes = 16 * 1024 * 1024;
    // How long the broker keeps the session (and the alerts for it) while the desk is away.
    static constexpr quint32 SessionExpirySeconds = 7 * 24 * 60 * 60;

    // wake is called on the connection's thread when there is something new for TakeUpdate; it
    // may only post (it runs under the connection's lock), and is called once until TakeUpdate.
    // log, when given, keeps what each read brought (IAlertLog::KeepMessages) before the broker
    // is told it arrived, and recognises a message delivered again; it must outlive Stop.
    TBrokerConnection(const TBrokerEndpoint& endpoint, std::function<void()> wake,
                      IAlertLog* log = nullptr);
    // Stop(0).
    ~TBrokerConnection();

    // Ends the connection and its thread. While connected, the alerts still to publish have up
    // to graceMs to reach the broker. Returns the messages that did not (topic, payload) for a
    // later connection; waits at most graceMs + 1 s for the thread (a thread held up in the
    // system's name lookup or connect is left to end by itself).
    QList<std::pair<QByteArray, QByteArray>> Stop(int graceMs);

    // What arrived since the last call, and the state now. Reading resumes if it had stopped.
    TBrokerUpdate TakeUpdate();
    // The state now, leaving what arrived for TakeUpdate (a busy router still sees the
    // connection's phase and counts).
    TBrokerState StateNow() const;
    // Queues a message (QoS 1). Returns at once.
    void Publish(const QByteArray& topic, const QByteArray& payload);

    struct TShared;

private:
    std::shared_ptr<TShared> Shared;
    bool Stopped = false;
};
