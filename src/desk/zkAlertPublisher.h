#pragma once

#include <QString>

class IAlertData;

// Where the alert action "Publish to the broker" hands an alert: the broker source implements
// it, the desk hands it to the alert windows (IAlertDesk::AlertPublisher).
class IAlertPublisher {
public:
    virtual ~IAlertPublisher() = default;
    // Takes a copy of what it needs and returns at once: the alert goes out when the broker can
    // take it, so an alert window never waits for the network.
    virtual void PublishAlert(const QString& windowName, const IAlertData& alert) = 0;
};
