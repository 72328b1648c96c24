#pragma once

// The broker as an alert source, as the client runs it: a connection to an MQTT broker whose
// messages are offered to the client's router (IAlertSink: the same windows, rules and limits as
// the webhook's alerts), and the publisher of the action "Publish to the broker". The alert hub
// owns one, applies the stored settings at start and after the options are saved, and closes it
// before the inbox on closing.

#include "broker/zkBrokerConnection.h"
#include "config/zkBrokerSettings.h"
#include "desk/zkAlertPublisher.h"
#include "desk/zkAlertSink.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <deque>
#include <memory>
#include <utility>

class TAlertBroker : public QObject, public IAlertPublisher {
    Q_OBJECT
public:
    // What the alerts arrive for when the connection closes, at most (then they are told lost).
    static constexpr int CloseGraceMs = 2000;
    // Alerts offered to the router in one turn of the event loop, at most: a flood is taken in
    // over several turns, and the user's clicks and repaints come between.
    static constexpr qsizetype MaxOfferedPerTurn = 1000;

    // log: where broker messages are kept before they are acknowledged (the alert history);
    // it must outlive this object.
    explicit TAlertBroker(IAlertSink& sink, QObject* parent = nullptr, IAlertLog* log = nullptr);
    ~TAlertBroker() override;

    // Connects, reconnects with new settings or disconnects, as the settings say. Settings
    // unchanged keep a working connection as it is, and try again at once when there is none.
    void Apply(const TBrokerSettings& settings);
    bool IsEnabled() const { return Connection != nullptr; }
    // Enabled, but its password is in a keyring that would not give it: not connected.
    bool WaitsForSecret() const { return !SecretProblem.isEmpty(); }
    // "Connected to broker.example.com:8883", or why not; also what waits to be published.
    QString StatusText() const;
    const TBrokerState& State() const { return Current; }
    // What has arrived goes to the router now (the client's closing does not wait for the next
    // turn of the event loop).
    void Flush();
    // Before the inbox closes: what arrived goes to the router, what waits to be published has
    // up to CloseGraceMs to reach the broker, then the connection ends.
    void Close();

    // IAlertPublisher: to "velquist/alerts/<window name>", QoS 1.
    void PublishAlert(const QString& windowName, const IAlertData& alert) override;

    // Where alerts that waited to be published when the client closed are kept for the next
    // start (which publishes them once it connects).
    static QString UnpublishedFile();

    // Why a chosen setting may not be what the user wants, or empty: without TLS to another
    // machine the password and the alerts travel in the clear.
    static QString Warning(const QString& host, bool tls);

    // Where other devices send symbols for this desk's link lists (the desk's client id names
    // it): "velquist/desk/<client id>/link/+"; empty while the broker is off.
    QString LinkTopicFilter() const;
    // Symbols sent to this desk that were known already (the broker sent them again).
    quint64 LinkRepeats() const { return LinkRepeatCount; }

signals:
    // The state or the status text changed.
    void StateChanged();
    // Another device sent this symbol for the programs linked to the list (empty: "MAIN LIST");
    // each message once, however often the broker delivers it.
    void SymbolSent(const QString& listName, const QString& symbol);

private:
    // all: everything that arrived goes to the router now, whatever its amount (Flush, Close,
    // new settings); otherwise MaxOfferedPerTurn, the rest in the next turns.
    void Collect(bool all = false);
    void Deliver(bool all = false);
    void CollectNextTurn();
    // Keeps the connection's state, telling what changed.
    void TakeState(TBrokerState state);
    static TBrokerEndpoint EndpointOf(const TBrokerSettings& settings);

    IAlertSink& Sink;
    IAlertLog* Log = nullptr;
    std::unique_ptr<TBrokerConnection> Connection;
    TBrokerSettings Applied;
    TBrokerState Current;
    // Taken from the connection, not yet taken by the router (it was busy).
    QList<TSourceAlert> Held;
    QTimer RetryTimer;
    bool CollectPosted = false;
    // Messages a connection left when the settings changed, for the next one.
    QList<std::pair<QByteArray, QByteArray>> Carried;
    // Alerts to publish given up before the connection now (it counts from its own start).
    quint64 GivenUpBefore = 0;
    quint64 GivenUpTold = 0;
    QElapsedTimer GivenUpToldAt;
    QString ProblemTold;
    // Why the settings' password could not be read (the keyring locked): nothing connects.
    QString SecretProblem;
    void TellGivenUp();
    void SendLinks(const QList<TLinkMessage>& links);
    // Keys of the symbol messages acted on, the latest MaxSeenLinks, oldest first.
    static constexpr qsizetype MaxSeenLinks = 4096;
    QSet<quint64> SeenLinks;
    std::deque<quint64> SeenOrder;
    quint64 LinkRepeatCount = 0;
    static bool KeepUnpublished(const QList<std::pair<QByteArray, QByteArray>>& messages);
    static QList<std::pair<QByteArray, QByteArray>> TakeUnpublished();
    // The last run's unpublished alerts were taken (by the first connection).
    bool TookUnpublished = false;
};
