#include "zkAlertBroker.h"

#include "broker/zkBrokerMessages.h"
#include "components/zkComponents.h"

#include "platform/zkPaths.h"

#include <QFile>
#include <QMetaObject>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

TAlertBroker::TAlertBroker(IAlertSink& sink, QObject* parent, IAlertLog* log)
    : QObject(parent), Sink(sink), Log(log) {
    RetryTimer.setSingleShot(true);
    RetryTimer.setInterval(50);
    connect(&RetryTimer, &QTimer::timeout, this, [this] { Collect(); });
}

TAlertBroker::~TAlertBroker() {
    // Nothing may reach this object from the connection's thread once it is going.
    if (Connection)
        Connection->Stop(0);
}

namespace {

// Alerts that waited to be published when the client closed, for the next start: one message a
// line, its topic and its payload in Base64, separated by a space.
QString UnpublishedPath() {
    return zkPaths::DataDir() + QStringLiteral("/broker-unpublished");
}

} // namespace

QString TAlertBroker::UnpublishedFile() {
    return UnpublishedPath();
}

bool TAlertBroker::KeepUnpublished(const QList<std::pair<QByteArray, QByteArray>>& messages) {
    QString problem;
    if (!zkPaths::EnsurePrivateDir(zkPaths::DataDir(), &problem))
        return false;
    QSaveFile file(UnpublishedPath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const auto& [topic, payload] : messages)
        file.write(topic.toBase64() + ' ' + payload.toBase64() + '\n');
    return file.commit();
}

QList<std::pair<QByteArray, QByteArray>> TAlertBroker::TakeUnpublished() {
    QList<std::pair<QByteArray, QByteArray>> messages;
    QFile file(UnpublishedPath());
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    // Never more than the queue takes (the file is ours, but may be left from anything).
    while (!file.atEnd() && messages.size() < TBrokerConnection::MaxPublishWaiting) {
        const QByteArray line = file.readLine(8 * TBrokerConnection::MaxPublishBytes).trimmed();
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        const auto topic = QByteArray::fromBase64Encoding(line.left(space),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        const auto payload = QByteArray::fromBase64Encoding(
            line.mid(space + 1), QByteArray::AbortOnBase64DecodingErrors);
        if (topic && payload && !topic.decoded.isEmpty())
            messages.append({*topic, *payload});
    }
    file.close();
    file.remove();
    return messages;
}

TBrokerEndpoint TAlertBroker::EndpointOf(const TBrokerSettings& settings) {
    TBrokerEndpoint endpoint;
    endpoint.Host = settings.Host.trimmed();
    endpoint.Port = settings.Port;
    endpoint.TLS = settings.TLS;
    endpoint.CAFile = settings.CAFile;
    endpoint.UserName = settings.UserName;
    endpoint.Password = settings.Password;
    endpoint.Topic = settings.Topic.trimmed();
    endpoint.ClientId = settings.ClientId;
    endpoint.LinkTopic = zkBroker::LinkTopicFilter(settings.ClientId);
    return endpoint;
}

void TAlertBroker::Apply(const TBrokerSettings& settings) {
    // The same settings keep a connection; without one they try again at once (a CA file put
    // in place, a broker started since), rather than after the delay.
    if (Connection && settings.Enabled && settings == Applied &&
        Current.Phase == TBrokerState::TPhase::Connected)
        return;
    QString dropTopic;
    if (Connection) {
        Collect(true);
        Carried += Connection->Stop(0);
        // The broker keeps a persistent session's subscriptions: the next connection gives up
        // the old one.
        if (Applied.Topic.trimmed() != settings.Topic.trimmed())
            dropTopic = Applied.Topic.trimmed();
        TBrokerUpdate last = Connection->TakeUpdate();
        Held += std::move(last.Alerts);
        Connection.reset();
        SendLinks(last.Links);
        Deliver(true);
    }
    Applied = settings;
    GivenUpBefore = Current.PublishGivenUp;
    // A password the keyring holds but will not give now is not sent empty: the broker's
    // refusal would tell the user the wrong thing.
    SecretProblem =
        settings.Enabled && settings.Password.isEmpty() ? settings.PasswordProblem : QString();
    if (!settings.Enabled || !SecretProblem.isEmpty()) {
        GivenUpBefore += quint64(Carried.size());
        Carried.clear();
        Current = TBrokerState();
        Current.Phase = TBrokerState::TPhase::Stopped;
        Current.PublishGivenUp = GivenUpBefore;
        TellGivenUp();
        ProblemTold.clear();
        if (!SecretProblem.isEmpty())
            fprintf(stderr, "velquist: broker: %s\n", qPrintable(StatusText()));
        emit StateChanged();
        return;
    }
    TBrokerEndpoint endpoint = EndpointOf(settings);
    endpoint.DropTopic = dropTopic;
    Connection = std::make_unique<TBrokerConnection>(
        endpoint,
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { Collect(); }, Qt::QueuedConnection);
        },
        Log);
    Current = TBrokerState();
    Current.PublishGivenUp = GivenUpBefore;
    ProblemTold.clear();
    // What the last run could not publish goes first.
    if (!TookUnpublished) {
        TookUnpublished = true;
        Carried = TakeUnpublished() + Carried;
    }
    for (const auto& [topic, payload] : std::as_const(Carried))
        Connection->Publish(topic, payload);
    Carried.clear();
    emit StateChanged();
}

void TAlertBroker::TellGivenUp() {
    // Told as it grows, at most every ten seconds; the status line always says it.
    if (Current.PublishGivenUp <= GivenUpTold ||
        (GivenUpToldAt.isValid() && !GivenUpToldAt.hasExpired(10000)))
        return;
    fprintf(stderr, "velquist: broker: %llu alerts could not be published so far\n",
            static_cast<unsigned long long>(Current.PublishGivenUp));
    GivenUpTold = Current.PublishGivenUp;
    GivenUpToldAt.start();
}

void TAlertBroker::CollectNextTurn() {
    if (CollectPosted)
        return;
    CollectPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            CollectPosted = false;
            Collect();
        },
        Qt::QueuedConnection);
}

void TAlertBroker::Collect(bool all) {
    if (!Connection)
        return;
    // The router was busy, or took its share of a flood: the connection keeps the rest (and
    // stops reading when it is full), so the broker holds them rather than this desk's memory.
    if (!Held.isEmpty()) {
        Deliver(all);
        if (!Held.isEmpty()) {
            // The connection's phase and counts still show (the Broker page) meanwhile.
            TakeState(Connection->StateNow());
            return;
        }
    }
    TBrokerUpdate update = Connection->TakeUpdate();
    Held += std::move(update.Alerts);
    Deliver(all);
    SendLinks(update.Links);
    TakeState(std::move(update.State));
}

void TAlertBroker::TakeState(TBrokerState state) {
    state.PublishGivenUp += GivenUpBefore;
    if (state == Current)
        return;
    Current = std::move(state);
    TellGivenUp();
    // Each new problem once (not every attempt), and each connection.
    const QString told = Current.Phase == TBrokerState::TPhase::Connected    ? QStringLiteral("+")
                         : Current.Phase == TBrokerState::TPhase::Connecting ? ProblemTold
                                                                             : Current.Problem;
    if (told != ProblemTold) {
        ProblemTold = told;
        fprintf(stderr, "velquist: broker: %s\n", qPrintable(StatusText()));
    }
    emit StateChanged();
}

void TAlertBroker::Deliver(bool all) {
    if (Held.isEmpty())
        return;
    const qsizetype count = all ? Held.size() : std::min(Held.size(), MaxOfferedPerTurn);
    // A copy (shared, not duplicated, when it is all): a busy router leaves them with us.
    QList<TSourceAlert> offered = count == Held.size() ? Held : Held.first(count);
    switch (Sink.OfferAlerts(std::move(offered)).Offer) {
    case IAlertSink::TOffer::Accepted:
        Held.remove(0, count);
        if (!Held.isEmpty())
            CollectNextTurn();
        break;
    case IAlertSink::TOffer::Busy:
        RetryTimer.start();
        break;
    case IAlertSink::TOffer::Closing:
        fprintf(stderr, "velquist: broker: %lld alerts came as the client closed\n",
                static_cast<long long>(Held.size()));
        Held.clear();
        break;
    }
}

void TAlertBroker::SendLinks(const QList<TLinkMessage>& links) {
    for (const TLinkMessage& link : links) {
        // QoS 1 is "at least once": the same message again is not a second send.
        if (SeenLinks.contains(link.Key)) {
            ++LinkRepeatCount;
            continue;
        }
        SeenLinks.insert(link.Key);
        SeenOrder.push_back(link.Key);
        if (qsizetype(SeenOrder.size()) > MaxSeenLinks) {
            SeenLinks.remove(SeenOrder.front());
            SeenOrder.pop_front();
        }
        emit SymbolSent(link.Request.ListName, link.Request.Symbol);
    }
}

QString TAlertBroker::LinkTopicFilter() const {
    return Connection ? zkBroker::LinkTopicFilter(Applied.ClientId) : QString();
}

void TAlertBroker::Flush() {
    Collect(true);
}

void TAlertBroker::Close() {
    if (!Connection)
        return;
    Collect(true);
    const QList<std::pair<QByteArray, QByteArray>> left = Connection->Stop(CloseGraceMs);
    const TBrokerUpdate last = Connection->TakeUpdate();
    Held += last.Alerts;
    Deliver(true);
    // Kept for the next start (they are few: the queue is bounded).
    const QList<std::pair<QByteArray, QByteArray>> unpublished = Carried + left;
    if (!unpublished.isEmpty()) {
        if (KeepUnpublished(unpublished))
            fprintf(stderr,
                    "velquist: broker: %lld alerts wait to be published at the next start\n",
                    static_cast<long long>(unpublished.size()));
        else
            fprintf(stderr,
                    "velquist: broker: %lld alerts were not published: the client closed and "
                    "%s cannot be written\n",
                    static_cast<long long>(unpublished.size()), qPrintable(UnpublishedPath()));
    }
    Carried.clear();
    Connection.reset();
    Current.Phase = TBrokerState::TPhase::Stopped;
}

void TAlertBroker::PublishAlert(const QString& windowName, const IAlertData& alert) {
    if (!Connection) {
        ++GivenUpBefore;
        ++Current.PublishGivenUp;
        TellGivenUp();
        return;
    }
    zkBroker::TPublishedAlert published;
    published.Symbol = alert.AlertSymbol();
    published.Price = alert.Price();
    published.Description = alert.Description();
    published.Time =
        alert.AlertTime().isValid() ? alert.AlertTime() : QDateTime::currentDateTimeUtc();
    Connection->Publish(zkBroker::PublishTopic(windowName).toUtf8(),
                        zkBroker::PublishPayload(windowName, published, Applied.ClientId));
}

QString TAlertBroker::StatusText() const {
    if (!Connection && !SecretProblem.isEmpty()) {
        QString text = tr("Not connected: the broker password is in the desktop's keyring and "
                          "%1. Unlock the keyring (in Passwords and Keys, or by logging in to the "
                          "desktop again); the client connects once it can read the password.")
                           .arg(SecretProblem);
        // Nothing waits to be published meanwhile: what the windows publish is given up.
        if (Current.PublishGivenUp > 0)
            text += tr(" %1 alerts could not be published.").arg(Current.PublishGivenUp);
        return text;
    }
    if (!Connection)
        return tr("Not connected: alerts from a broker are off");
    const QString where = QStringLiteral("%1:%2").arg(Applied.Host.trimmed()).arg(Applied.Port);
    QString text;
    switch (Current.Phase) {
    case TBrokerState::TPhase::Connected:
        text = Current.Problem.isEmpty()
                   ? tr("Connected to %1").arg(where)
                   : tr("Connected to %1, but %2").arg(where, Current.Problem);
        break;
    case TBrokerState::TPhase::Connecting:
        text = Current.Problem.isEmpty()
                   ? tr("Connecting to %1...").arg(where)
                   : tr("Not connected: %1; trying again now").arg(Current.Problem);
        break;
    case TBrokerState::TPhase::Waiting:
        text = tr("Not connected: %1; trying again in %2 s")
                   .arg(Current.Problem)
                   .arg(Current.RetrySeconds);
        break;
    case TBrokerState::TPhase::Stopped:
        text = tr("Not connected: %1").arg(Current.Problem);
        break;
    }
    if (Current.PublishWaiting > 0 && Current.Phase != TBrokerState::TPhase::Connected)
        text += tr("; %1 alerts wait to be published").arg(Current.PublishWaiting);
    if (Current.PublishGivenUp > 0)
        text += tr("; %1 alerts could not be published").arg(Current.PublishGivenUp);
    return text;
}

QString TAlertBroker::Warning(const QString& host, bool tls) {
    if (tls || host.trimmed().isEmpty() || IsLoopbackHost(host))
        return QString();
    return tr("Without TLS the password and the alerts travel in the clear.");
}
