#pragma once

// What the options dialog and the tray reach of the alert hub, which owns the outside sources
// (the inbox, the broker), the router, the alert history's recorder and the notifications.

#include "config/zkBrokerSettings.h"
#include "config/zkInboxSettings.h"

#include <QMetaObject>
#include <QString>

#include <functional>

class QObject;

class IAlertHub {
public:
    virtual ~IAlertHub() = default;

    // --- the inbox (the Alert Inbox page) ---
    // Starts, restarts or stops the inbox as the settings say, and gives the router their
    // choices. False when the webhook cannot have the port (InboxProblem() says why).
    virtual bool ApplyInboxSettings(const TInboxSettings& settings) = 0;
    // Why the webhook could not have its port last.
    virtual QString InboxProblem() const = 0;
    // "Listening on 127.0.0.1:8731", why not, or that the inbox is off.
    virtual QString InboxStatusText() const = 0;
    // What ApplyInboxSettings would make of these choices, while they are edited.
    virtual QString InboxPlanText(bool enabled, quint16 port) const = 0;

    // --- the broker (the Broker page) ---
    // Connects, reconnects or disconnects as the settings say.
    virtual void ApplyBrokerSettings(const TBrokerSettings& settings) = 0;
    // "Connected to broker.example.com:8883", or why not.
    virtual QString BrokerStatusText() const = 0;
    // Calls changed (in receiver's thread, while receiver lives) whenever the broker's state or
    // status text changes.
    virtual QMetaObject::Connection WatchBroker(QObject* receiver,
                                                std::function<void()> changed) = 0;

    // --- the alert history (the General page) ---
    // A new kept period, taken at once.
    virtual void SetHistoryKeepDays(int days) = 0;

    // --- what the main window and the tray show ---
    // Alerts that came while no client window was active.
    virtual int UnseenAlerts() const = 0;
    virtual bool SoundsMuted() const = 0;
    // Kept in the per-user store; sounds waiting to play are dropped on muting.
    virtual void SetSoundsMuted(bool muted) = 0;
};
