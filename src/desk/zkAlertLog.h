#pragma once

#include <QString>

#include <optional>
#include <vector>

class IAlertData;

// One alert of a message from a broker, as the history keeps it.
struct TLoggedAlert {
    QString Window; // the window (strategy) it is for
    QString Symbol;
    double Price = 0;
    QString Description;
    qint64 TimeMs = 0;
};

// A message from a broker: a key that names it (the same message delivered again has the same
// key) and its alerts.
struct TLoggedMessage {
    quint64 Key = 0;
    std::vector<TLoggedAlert> Alerts;
};

// Where alert windows hand every alert they take, so it can be kept after the window forgets
// it. Called on the user-interface thread for each alert; it must return at once (the
// implementation queues and writes elsewhere).
class IAlertLog {
public:
    virtual ~IAlertLog() = default;
    // `window` is the window's caption at the time of the alert.
    virtual void RecordAlert(const QString& window, const IAlertData& alert) = 0;
    // An alert the window's own rules refused: kept, marked with the rule, never shown.
    virtual void RecordRefused(const QString& window, const IAlertData& alert,
                               const QString& rule) {
        (void)rule;
        RecordAlert(window, alert);
    }
    // True while it holds more alerts not yet kept than it should take on: a source that can
    // wait (the inbox, whose senders can send again) then adds no more.
    virtual bool IsBehind() const { return false; }
    // Keeps the messages' alerts before the broker hears they arrived (any thread but the
    // user-interface one; it waits for the file): a message whose key is kept already is not
    // kept again. For each message, whether it was new; none when they could not be kept
    // within about timeoutMs (nothing of them is kept then). Alerts with a broker as their
    // source that reach RecordAlert later are not kept again. Without a history every message
    // is new.
    virtual std::optional<std::vector<bool>>
    KeepMessages(const std::vector<TLoggedMessage>& messages, int timeoutMs) {
        (void)timeoutMs;
        return std::vector<bool>(messages.size(), true);
    }
};
