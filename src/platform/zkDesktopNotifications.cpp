#include "zkDesktopNotifications.h"

#include "zkOutsideText.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <cstdio>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");
// A slow server's answer is waited for: it brings the id that the window's next update
// replaces and that a click names, and meanwhile the updates are held, not sent as new
// notifications. Only a server that hangs ends the wait.
constexpr int CallTimeoutMs = 60000;
} // namespace

TDBusNotificationService::TDBusNotificationService(QObject* parent) : QObject(parent) {}

QString TDBusNotificationService::ApplicationName() {
    return QStringLiteral("Velquist");
}
QString TDBusNotificationService::IconName() {
    return QStringLiteral("velquist");
}
QString TDBusNotificationService::DesktopEntry() {
    return QStringLiteral("velquist");
}

bool TDBusNotificationService::EnsureBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        ReportFailure(bus.lastError().message().isEmpty() ? QStringLiteral("no session bus")
                                                          : bus.lastError().message());
        return false;
    }
    if (!Subscribed) {
        // Subscribed before the first call, so no click on that first notification is missed.
        Subscribed =
            bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                        SLOT(ActionInvoked(uint, QString))) &&
            bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                        SLOT(NotificationClosed(uint, uint)));
    }
    return true;
}

void TDBusNotificationService::ReportFailure(const QString& why) {
    if (Reported)
        return;
    Reported = true;
    fprintf(stderr, "velquist: desktop notifications are not shown: %s\n", qPrintable(why));
    fflush(stderr);
}

void TDBusNotificationService::Notify(const TDesktopNotification& notification,
                                      std::function<void(uint32_t id)> done) {
    if (!EnsureBus()) {
        if (done)
            done(0);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), DesktopEntry());
    // The default action is what a click on the notification runs; its label is shown by
    // servers that list actions as buttons.
    const QStringList actions{DefaultAction, tr("Show")};
    // Servers read markup in what they show (the body where they offer "body-markup", some the
    // summary too); the text is the alert's, so its "&", "<" and ">" are shown as they are.
    call << ApplicationName() << uint(notification.ReplacesId) << IconName()
         << zkOutsideText::MarkupEscaped(notification.Summary)
         << zkOutsideText::MarkupEscaped(notification.Body) << actions << hints << int(-1);
    const QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call, CallTimeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, done = std::move(done)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                uint32_t id = 0;
                if (reply.isError())
                    ReportFailure(reply.error().message());
                else
                    id = reply.value();
                if (done)
                    done(id);
            });
}

void TDBusNotificationService::ActionInvoked(uint id, const QString& actionKey) {
    if (actionKey == DefaultAction && OnActivated)
        OnActivated(id);
}

void TDBusNotificationService::NotificationClosed(uint id, uint /*reason*/) {
    if (OnClosed)
        OnClosed(id);
}
