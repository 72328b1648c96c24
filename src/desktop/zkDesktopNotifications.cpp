#include "zkDesktopNotifications.h"

#include "platform/zkOutsideText.h"

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
        Subscribed = bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                                 SLOT(ActionInvoked(uint, QString))) &&
                     bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"),
                                 this, SLOT(NotificationClosed(uint, uint)));
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
    if (BodyMarkup == TMarkup::Read || BodyMarkup == TMarkup::Shown) {
        Send(notification, std::move(done));
        return;
    }
    AskCapabilities([this, notification, done = std::move(done)]() mutable {
        Send(notification, std::move(done));
    });
}

void TDBusNotificationService::AskCapabilities(std::function<void()> then) {
    WaitingForCapabilities.push_back(std::move(then));
    if (BodyMarkup == TMarkup::Asking)
        return;
    BodyMarkup = TMarkup::Asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        // A server that does not answer is taken to read markup: escaped text is at
        // worst shown with its entities, never read as markup.
        BodyMarkup = reply.isError() || reply.value().contains(QStringLiteral("body-markup"))
                         ? TMarkup::Read
                         : TMarkup::Shown;
        std::vector<std::function<void()>> waiting;
        waiting.swap(WaitingForCapabilities);
        for (std::function<void()>& f : waiting)
            f();
    });
}

void TDBusNotificationService::Send(const TDesktopNotification& notification,
                                    std::function<void(uint32_t id)> done) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), DesktopEntry());
    // The default action is what a click on the notification runs; its label is shown by
    // servers that list actions as buttons.
    const QStringList actions{DefaultAction, tr("Show")};
    // Servers read markup in the body where they offer "body-markup"; the text is the alert's,
    // so its "&", "<" and ">" are shown as they are. A server that reads none gets the body as
    // it is, or it would show "&amp;". The summary is plain text to every server (dunst shows
    // "S&amp;P" for an escaped "S&P"), so it goes as it is.
    const QString body = BodyMarkup == TMarkup::Shown
                             ? notification.Body
                             : zkOutsideText::MarkupEscaped(notification.Body);
    call << ApplicationName() << uint(notification.ReplacesId) << IconName() << notification.Summary
         << body << actions << hints << int(-1);
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
