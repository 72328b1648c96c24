#include "zkAlertHub.h"

#include "alerts/zkAlertDesk.h"
#include "alerts/zkAlertNotifications.h"
#include "alerts/zkSoundPlayForm.h"
#include "alerts/zkSoundQueue.h"
#include "broker/zkAlertBroker.h"
#include "config/zkSettings.h"
#include "desktop/zkDesktopNotifications.h"
#include "history/zkAlertRecorder.h"
#include "history/zkHistorySettings.h"
#include "hub/zkAlertRouter.h"
#include "inbox/zkAlertInbox.h"
#include "inbox/zkInboxServer.h"
#include "linking/zkGenericConnectorForm.h"

#include <QGuiApplication>
#include <QTimer>

#include <cstdio>

namespace {
QString MuteSoundsKey() {
    return SettingsKeyPath() + QStringLiteral("\\Settings");
}
const QString MuteSoundsValue = QStringLiteral("MuteSounds");
} // namespace

std::function<std::unique_ptr<INotificationService>()> TAlertHub::NotificationServiceFactory =
    []() -> std::unique_ptr<INotificationService> {
    return std::make_unique<TDBusNotificationService>();
};

TAlertHub::TAlertHub(IAlertDesk& desk, QObject* parent) : QObject(parent), Desk(desk) {
    ClientActive = [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; };
    // The session bus is reached only with the first notification.
    NotificationService = NotificationServiceFactory();
    NotifierPart = std::make_unique<TAlertNotifier>(*NotificationService, &desk.Windows());
    Muted = ReadBoolValue(TSettingsStore::Registry(), MuteSoundsKey(), MuteSoundsValue, false);
    // The user looks at the client again: nothing is unseen any more.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive && Unseen != 0) {
                    Unseen = 0;
                    emit ShownStateChanged();
                }
            });
}

TAlertHub::~TAlertHub() {
    StopSources();
    // Writes what the windows recorded last.
    RecorderPart.reset();
    NotifierPart.reset();
    NotificationService.reset();
}

void TAlertHub::StartRecorder(const QString& historyPath) {
    const int32_t days = ReadHistoryDays(TSettingsStore::Registry());
    RecorderPart = std::make_unique<TAlertRecorder>(historyPath, days);
    connect(RecorderPart.get(), &TAlertRecorder::Fault, this, &TAlertHub::RecorderFault);
}

std::unique_ptr<TAlertRecorder> TAlertHub::TakeRecorder() {
    return std::move(RecorderPart);
}

void TAlertHub::PutRecorder(std::unique_ptr<TAlertRecorder> recorder) {
    RecorderPart = std::move(recorder);
}

void TAlertHub::StartSources() {
    const TSettingsStore store = TSettingsStore::Registry();
    RouterPart = std::make_unique<TAlertRouter>(Desk);
    InboxPart = std::make_unique<TAlertInbox>(*RouterPart);
    TInboxSettings inbox = ReadInboxSettings(store);
    if (EnsureInboxToken(inbox))
        WriteInboxSettings(store, inbox);
    ApplyInboxSettings(inbox);
    if (inbox.Enabled && !InboxPart->IsListening())
        fprintf(stderr, "velquist: %s\n", qPrintable(InboxPart->StatusText()));

    BrokerPart = std::make_unique<TAlertBroker>(*RouterPart, nullptr, RecorderPart.get());
    TBrokerSettings broker = ReadBrokerSettings(store);
    if (EnsureBrokerClientId(broker))
        WriteBrokerSettings(store, broker);
    // Symbols other devices send this desk go to the linked programs as a selected alert's do.
    connect(BrokerPart.get(), &TAlertBroker::SymbolSent, this,
            [this](const QString& listName, const QString& symbol) {
                if (TGenericConnectorForm* connectors = Desk.ConnectorWindow())
                    connectors->SendFromAfar(listName, symbol);
            });
    BrokerPart->Apply(broker);
    // Also what the options dialog applies later: it may be waiting for the keyring too.
    LockedSecretsTimer = new QTimer(this);
    LockedSecretsTimer->setObjectName(QStringLiteral("LockedSecretsTimer"));
    LockedSecretsTimer->setInterval(3000);
    connect(LockedSecretsTimer, &QTimer::timeout, this, &TAlertHub::RetryLockedSecrets);
    WatchLockedSecrets();
}

void TAlertHub::WatchLockedSecrets() {
    // Ticks only while a source waits for the keyring: an idle desk has no reason to wake.
    if (!LockedSecretsTimer)
        return;
    const bool waiting =
        (InboxPart && InboxPart->WaitsForToken()) || (BrokerPart && BrokerPart->WaitsForSecret());
    if (!waiting)
        LockedSecretsTimer->stop();
    else if (!LockedSecretsTimer->isActive())
        LockedSecretsTimer->start();
}

void TAlertHub::RetryLockedSecrets() {
    const TSettingsStore store = TSettingsStore::Registry();
    if (InboxPart && InboxPart->WaitsForToken()) {
        TInboxSettings settings = ReadInboxSettings(store);
        if (settings.TokenProblem.isEmpty()) {
            // Read at last, or gone from the keyring meanwhile (then a new one, as at a start).
            if (EnsureInboxToken(settings))
                WriteInboxSettings(store, settings);
            ApplyInboxSettings(settings);
            fprintf(stderr, "velquist: %s\n", qPrintable(InboxPart->StatusText()));
        }
    }
    if (BrokerPart && BrokerPart->WaitsForSecret()) {
        const TBrokerSettings settings = ReadBrokerSettings(store);
        if (settings.PasswordProblem.isEmpty())
            BrokerPart->Apply(settings);
    }
    WatchLockedSecrets();
}

void TAlertHub::Deliver() {
    if (BrokerPart)
        BrokerPart->Flush();
    if (RouterPart)
        RouterPart->Flush();
}

void TAlertHub::Close() {
    // What the broker brought goes into the windows, what waits to be published has a moment;
    // then later senders hear that the client is closing.
    if (BrokerPart)
        BrokerPart->Close();
    if (InboxPart)
        InboxPart->Close();
    if (RouterPart) {
        RouterPart->SetClosing(true);
        RouterPart->Flush();
    }
}

void TAlertHub::StopSources() {
    delete LockedSecretsTimer;
    LockedSecretsTimer = nullptr;
    // The broker delivers through the router, and the inbox's server and socket offer to it:
    // both go before it.
    BrokerPart.reset();
    InboxPart.reset();
    RouterPart.reset();
}

void TAlertHub::CountNewAlert() {
    if (ClientActive())
        return; // the user is looking
    ++Unseen;
    emit ShownStateChanged();
}

IAlertLog* TAlertHub::AlertLog() const {
    return RecorderPart.get();
}

IAlertPublisher* TAlertHub::AlertPublisher() const {
    return BrokerPart.get();
}

bool TAlertHub::ApplyInboxSettings(const TInboxSettings& settings) {
    if (!InboxPart)
        return true;
    RouterPart->SetOpenNewWindows(settings.OpenNewWindows);
    RouterPart->SetMaxNewWindowsPerMinute(settings.MaxNewWindowsPerMinute);
    const bool applied = InboxPart->Apply(settings);
    WatchLockedSecrets();
    return applied;
}

QString TAlertHub::InboxProblem() const {
    return InboxPart ? InboxPart->Server().Problem() : QString();
}

QString TAlertHub::InboxStatusText() const {
    return InboxPart ? InboxPart->StatusText() : QString();
}

QString TAlertHub::InboxPlanText(bool enabled, quint16 port) const {
    return InboxPart ? InboxPart->PlanText(enabled, port) : QString();
}

void TAlertHub::ApplyBrokerSettings(const TBrokerSettings& settings) {
    if (BrokerPart)
        BrokerPart->Apply(settings);
    WatchLockedSecrets();
}

QString TAlertHub::BrokerStatusText() const {
    return BrokerPart ? BrokerPart->StatusText() : QString();
}

QMetaObject::Connection TAlertHub::WatchBroker(QObject* receiver, std::function<void()> changed) {
    if (!BrokerPart)
        return {};
    return connect(BrokerPart.get(), &TAlertBroker::StateChanged, receiver, std::move(changed));
}

void TAlertHub::SetHistoryKeepDays(int days) {
    if (RecorderPart)
        RecorderPart->SetKeepDays(days);
}

void TAlertHub::SetSoundsMuted(bool muted) {
    const bool changed = muted != Muted;
    Muted = muted;
    if (muted)
        if (TSoundPlayForm* sounds = SoundPlayForm())
            sounds->SoundQueue().DropWaiting();
    if (changed)
        WriteBoolValue(TSettingsStore::Registry(), MuteSoundsKey(), MuteSoundsValue, muted);
    emit ShownStateChanged();
}
