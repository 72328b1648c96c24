#pragma once

// Desktop notifications: the narrow service the alert notifications use, and its
// implementation on the desktop's notification server (org.freedesktop.Notifications on the
// session bus). The session bus is reached only when the first notification is shown, so a
// client that never notifies never touches D-Bus.

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

struct TDesktopNotification {
    // Plain text. The service escapes the body where the server reads markup in it; servers
    // show the summary as plain text.
    QString Summary;
    QString Body;
    // The notification this one replaces (0: a new one).
    uint32_t ReplacesId = 0;
};

class INotificationService {
public:
    virtual ~INotificationService() = default;
    // Shows the notification, or puts it in the place of ReplacesId. done gets its id once the
    // server answered, 0 when it could not be shown; it may come after Notify returned.
    virtual void Notify(const TDesktopNotification& notification,
                        std::function<void(uint32_t id)> done) = 0;

    // Called with a notification's id when the user clicked it (its default action), and when
    // it went away (expired, dismissed, replaced by the server).
    std::function<void(uint32_t id)> OnActivated;
    std::function<void(uint32_t id)> OnClosed;
};

class TDBusNotificationService : public QObject, public INotificationService {
    Q_OBJECT
public:
    explicit TDBusNotificationService(QObject* parent = nullptr);

    void Notify(const TDesktopNotification& notification,
                std::function<void(uint32_t id)> done) override;

    // What every notification carries: the application's name, the installed icon's name and
    // the desktop entry it belongs to.
    static QString ApplicationName();
    static QString IconName();
    static QString DesktopEntry();

private slots:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    // Connects to the session bus and subscribes to the server's signals once.
    bool EnsureBus();
    // The first failure only: a desktop without a server is said once, not at every alert.
    void ReportFailure(const QString& why);
    // Asks the server once whether it reads markup in the body; then runs what waited for it.
    void AskCapabilities(std::function<void()> then);
    void Send(const TDesktopNotification& notification, std::function<void(uint32_t id)> done);

    bool Subscribed = false;
    bool Reported = false;
    enum class TMarkup { Unknown, Asking, Read, Shown };
    TMarkup BodyMarkup = TMarkup::Unknown;
    std::vector<std::function<void()>> WaitingForCapabilities;
};
