#pragma once

#include "zkInboxAlert.h"

#include <QList>

// Where the inbox server and socket hand the alerts they took: the client's alert windows.
class IInboxSink {
public:
    virtual ~IInboxSink() = default;
    enum class TOffer { Accepted, Busy, Closing };
    struct TAnswer {
        TAnswer(TOffer offer = TOffer::Accepted, qsizetype unrouted = 0)
            : Offer(offer), Unrouted(unrouted) {}
        TOffer Offer;
        // Of the alerts accepted, those no window took (they are in the history only).
        qsizetype Unrouted;
    };
    // Called on the UI thread; Accepted means the alerts are now the client's (none may be lost
    // after). Busy and Closing leave them with the sender, who is told to try again later.
    virtual TAnswer OfferAlerts(QList<TInboxAlert>&& alerts) = 0;
    // True while it would refuse any offer as Busy: a request is then answered so before its
    // body is read, which a flood would make the client do for nothing.
    virtual bool IsBusy() const { return false; }
};
