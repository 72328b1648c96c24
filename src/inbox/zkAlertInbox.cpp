#include "zkAlertInbox.h"

#include "alerts/zkAlertDesk.h"
#include "alerts/zkAlertForm.h"
#include "components/zkComponentWrappers.h"
#include "inbox/zkInboxServer.h"
#include "inbox/zkInboxSocket.h"
#include "linking/zkGenericConnectorForm.h"

#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <utility>

bool IsInboxDataConfig(const QString& dataConfig) {
    for (QStringView pair : QStringView(dataConfig).split(QLatin1Char('&')))
        if (pair == QLatin1String("Src=inbox"))
            return true;
    return false;
}

QString InboxDataConfig(const QString& strategy) {
    return QStringLiteral("WN=") + QString::fromLatin1(QUrl::toPercentEncoding(strategy)) +
           QStringLiteral("&Src=inbox");
}

// --- TInboxRouter --------------------------------------------------------------------------

TInboxRouter::TInboxRouter(IAlertDesk& desk, QObject* parent) : QObject(parent), Desk(desk) {
    Monotonic.start();
    SpacingTimer.setSingleShot(true);
    SpacingTimer.setTimerType(Qt::PreciseTimer);
    connect(&SpacingTimer, &QTimer::timeout, this, &TInboxRouter::Flush);
}

void TInboxRouter::ScheduleFlush() {
    // Once per turn of the event loop, however many requests came in it.
    if (FlushPosted)
        return;
    FlushPosted = true;
    const qint64 waitNs = NextFlushNs - Monotonic.nsecsElapsed();
    if (waitNs <= 0)
        QMetaObject::invokeMethod(this, &TInboxRouter::Flush, Qt::QueuedConnection);
    else
        SpacingTimer.start(int((waitNs + 999999) / 1000000));
}

IInboxSink::TOffer TInboxRouter::OfferAlerts(QList<TInboxAlert>&& alerts) {
    if (Closing)
        return TOffer::Closing;
    if (Pending.size() + alerts.size() > MaxWaiting)
        return TOffer::Busy;
    const QDateTime now = Clock();
    Pending.reserve(Pending.size() + alerts.size());
    for (TInboxAlert& alert : alerts)
        Pending.append({std::move(alert), now});
    ScheduleFlush();
    return TOffer::Accepted;
}

TAlertForm* TInboxRouter::OpenWindowFor(const QString& strategy) {
    TAlertForm* window = Desk.NewAlertWindow();
    if (!window)
        return nullptr;
    window->ZentrikWindowX->SetDataConfig(InboxDataConfig(strategy));
    // As the menu's New Alert Window does: the lists its actions name exist at once.
    if (TGenericConnectorForm* connectors = Desk.ConnectorWindow())
        connectors->EnsureListsForActions(window->Actions);
    return window;
}

void TInboxRouter::Flush() {
    FlushPosted = false;
    SpacingTimer.stop();
    if (Pending.isEmpty())
        return;
    // What this delivery costs, its windows' repaint included (they come before timers in the
    // same turn), is the least time until the next: at most half the time goes to deliveries.
    const qint64 startNs = Monotonic.nsecsElapsed();
    QTimer::singleShot(0, this, [this, startNs] {
        const qint64 nowNs = Monotonic.nsecsElapsed();
        NextFlushNs = nowNs + std::min(nowNs - startNs, MaxSpacingMs * 1000000);
    });
    const QList<TWaiting> batch = std::exchange(Pending, {});
    // The inbox windows by name, looked up once for the whole batch.
    QHash<QString, QList<QPointer<TAlertForm>>> byName;
    QList<QPointer<TAlertForm>> all;
    for (TAlertForm* w : Desk.AlertWindows()) {
        if (!IsInboxDataConfig(w->ZentrikWindowX->DataConfig()))
            continue;
        byName[w->ZentrikWindowX->WindowName()].append(w);
        all.append(w);
    }
    // Each window's alerts in arrival order, the windows in the order they were first reached.
    QList<QPointer<TAlertForm>> order;
    QHash<TAlertForm*, QList<TAlertData>> rows;
    auto add = [&](TAlertForm* w, const TWaiting& item) {
        auto it = rows.find(w);
        if (it == rows.end()) {
            order.append(w);
            it = rows.insert(w, {});
        }
        const TInboxAlert& a = item.Alert;
        it->append(TAlertData(a.Symbol, a.Skip ? 1 : 0, item.Time, a.HasPrice ? a.Price : 0,
                              a.Description));
        if (a.FromBroker)
            it->last().Origin = TAlertSource::Broker;
    };
    for (const TWaiting& item : batch) {
        const QString& strategy = item.Alert.Strategy;
        const bool everyWindow = strategy == QLatin1String("*");
        QList<QPointer<TAlertForm>> targets = everyWindow ? all : byName.value(strategy);
        if (targets.isEmpty() && OpenNewWindows) {
            // "*" with no inbox window open goes to the inbox's own default strategy.
            const QString name = everyWindow ? zkInbox::DefaultStrategy() : strategy;
            if (TAlertForm* w = OpenWindowFor(name)) {
                byName[name].append(w);
                all.append(w);
                targets.append(w);
            }
        }
        for (const QPointer<TAlertForm>& w : targets)
            if (w)
                add(w, item);
    }
    for (const QPointer<TAlertForm>& w : order)
        if (w) // an earlier window's actions may have closed it
            w->ZentrikWindowX->AddExternalAlerts(rows.value(w));
}

// --- TAlertInbox ---------------------------------------------------------------------------

TAlertInbox::TAlertInbox(IAlertDesk& desk, QObject* parent)
    : QObject(parent), RouterPart(std::make_unique<TInboxRouter>(desk)),
      ServerPart(std::make_unique<TInboxServer>()), SocketPart(std::make_unique<TInboxSocket>()) {
    ServerPart->SetSink(RouterPart.get());
    SocketPart->SetSink(RouterPart.get());
}

TAlertInbox::~TAlertInbox() {
    // The server and socket go first: nothing may reach the router once it is going.
    SocketPart.reset();
    ServerPart.reset();
}

bool TAlertInbox::Apply(const TInboxSettings& settings) {
    RouterPart->SetOpenNewWindows(settings.OpenNewWindows);
    ServerPart->SetToken(settings.Token);
    Enabled = settings.Enabled;
    if (!Enabled) {
        ServerPart->Close();
        SocketPart->Close();
        return true;
    }
    bool listening = true;
    // A port in use leaves the webhook where it listened.
    if (!ServerPart->IsListening() || ServerPart->Port() != settings.Port)
        listening = ServerPart->Listen(settings.Port);
    if (!SocketPart->IsListening())
        SocketPart->Listen(TInboxSocket::DefaultSocketPath());
    return listening;
}

bool TAlertInbox::IsListening() const {
    return Enabled && ServerPart->IsListening();
}

QString TAlertInbox::StatusText() const {
    if (!Enabled)
        return tr("Not listening: alerts from other programs are off");
    if (ServerPart->IsListening())
        return tr("Listening on 127.0.0.1:%1").arg(ServerPart->Port());
    return tr("Not listening: %1").arg(ServerPart->Problem());
}

QString TAlertInbox::PlanText(bool enabled, quint16 port) const {
    const bool listening = IsListening();
    if (!enabled)
        return listening ? tr("Listening on 127.0.0.1:%1 until Save; then alerts from other "
                              "programs are off")
                               .arg(ServerPart->Port())
                         : tr("Not listening: alerts from other programs are off");
    if (listening && ServerPart->Port() == port)
        return tr("Listening on 127.0.0.1:%1").arg(port);
    const QString problem = TInboxServer::PortProblem(port);
    if (problem.isEmpty())
        return tr("Will listen on 127.0.0.1:%1 after Save").arg(port);
    if (listening)
        return tr("Cannot listen: %1; alerts still come in on 127.0.0.1:%2")
            .arg(problem)
            .arg(ServerPart->Port());
    return tr("Cannot listen: %1").arg(problem);
}

void TAlertInbox::Close() {
    ServerPart->SetClosing(true);
    SocketPart->SetClosing(true);
    RouterPart->SetClosing(true);
    RouterPart->Flush();
}
