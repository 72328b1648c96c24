#pragma once

// The alert hub: everything between the outside sources and the alert windows, owned in one
// place. It makes and owns the inbox (webhook and socket), the broker, the router both offer
// their alerts to, the alert history's recorder, the desktop notifications of the windows'
// alerts, the unseen-alerts count and the mute switch; it applies their stored settings, and it
// starts and closes them in the order that loses nothing: on closing the broker first (what it
// brought goes through the router), then the inbox, then the router delivers the rest; the
// recorder goes last, after the windows that record into it. The main window creates one.

#include "desk/zkAlertHub.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class IAlertDesk;
class IAlertLog;
class IAlertPublisher;
class INotificationService;
class QTimer;
class TAlertBroker;
class TAlertInbox;
class TAlertNotifier;
class TAlertRecorder;
class TAlertRouter;

class TAlertHub : public QObject, public IAlertHub {
    Q_OBJECT
public:
    // desk: the windows the router delivers into and notifications bring forward; it must
    // outlive the hub. The notifications and the stored mute switch are ready at once.
    explicit TAlertHub(IAlertDesk& desk, QObject* parent = nullptr);
    // The sources and the router first, then the recorder, then the notifications.
    ~TAlertHub() override;

    // The recorder of the alert history at that file, with the kept period from the per-user
    // store: before the first window opens, so its first alert is kept.
    void StartRecorder(const QString& historyPath);
    // The router, the inbox and the broker with their stored settings (a token and a client id
    // are made and stored once): once the start-up layout's windows are open, so the first
    // alerts find them. Sources waiting for a secret in a locked keyring are started with it
    // once it can be read.
    void StartSources();
    // What the sources accepted goes into the windows now (before a layout is saved).
    void Deliver();
    // The client closes: the broker hands over what it brought and ends, later senders hear that
    // the client is closing, and the router delivers what it holds.
    void Close();
    // Before the alert windows go: nothing may deliver into them any more. The broker goes
    // before the router it delivers through.
    void StopSources();

    // A window showed a new alert: unseen while no client window is active.
    void CountNewAlert();
    // Whether a window of the client is active (the user is looking); tests replace it.
    std::function<bool()> ClientActive;

    IAlertLog* AlertLog() const;
    IAlertPublisher* AlertPublisher() const;
    TAlertRecorder* Recorder() const { return RecorderPart.get(); }
    // The windows without the history, for a benchmark's baseline: the recorder taken out (the
    // desk then has no alert log) and put back; it goes on running meanwhile.
    std::unique_ptr<TAlertRecorder> TakeRecorder();
    void PutRecorder(std::unique_ptr<TAlertRecorder> recorder);
    TAlertNotifier* Notifier() const { return NotifierPart.get(); }
    TAlertRouter* Router() const { return RouterPart.get(); }
    TAlertInbox* Inbox() const { return InboxPart.get(); }
    TAlertBroker* Broker() const { return BrokerPart.get(); }

    // IAlertHub
    bool ApplyInboxSettings(const TInboxSettings& settings) override;
    QString InboxProblem() const override;
    QString InboxStatusText() const override;
    QString InboxPlanText(bool enabled, quint16 port) const override;
    void ApplyBrokerSettings(const TBrokerSettings& settings) override;
    QString BrokerStatusText() const override;
    QMetaObject::Connection WatchBroker(QObject* receiver, std::function<void()> changed) override;
    void SetHistoryKeepDays(int days) override;
    int UnseenAlerts() const override { return Unseen; }
    bool SoundsMuted() const override { return Muted; }
    void SetSoundsMuted(bool muted) override;

    // Makes the service desktop notifications go through (the session bus's server unless a
    // test puts in its own).
    static std::function<std::unique_ptr<INotificationService>()> NotificationServiceFactory;

signals:
    // The unseen count or the mute switch changed.
    void ShownStateChanged();
    // The recorder cannot keep alerts (said once per fault).
    void RecorderFault(const QString& text);

private:
    // Reads again the inbox token and the broker password the keyring would not give.
    void RetryLockedSecrets();
    // Runs LockedSecretsTimer while a source waits for a secret, stops it otherwise.
    void WatchLockedSecrets();

    IAlertDesk& Desk;
    std::unique_ptr<INotificationService> NotificationService;
    std::unique_ptr<TAlertNotifier> NotifierPart;
    std::unique_ptr<TAlertRecorder> RecorderPart;
    std::unique_ptr<TAlertRouter> RouterPart;
    std::unique_ptr<TAlertInbox> InboxPart;
    std::unique_ptr<TAlertBroker> BrokerPart;
    QTimer* LockedSecretsTimer = nullptr;
    int Unseen = 0;
    bool Muted = false;
};
