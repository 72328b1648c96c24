#pragma once

#include <QString>

class IAlertData;

// Where alert windows hand every alert they take, so it can be kept after the window forgets
// it. Called on the user-interface thread for each alert; it must return at once (the
// implementation queues and writes elsewhere).
class IAlertLog {
public:
    virtual ~IAlertLog() = default;
    // `window` is the window's caption at the time of the alert.
    virtual void RecordAlert(const QString& window, const IAlertData& alert) = 0;
    // True while it holds more alerts not yet kept than it should take on: a source that can
    // wait (the inbox, whose senders can send again) then adds no more.
    virtual bool IsBehind() const { return false; }
};
