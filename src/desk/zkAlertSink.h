#pragma once

// What every outside source (the inbox's webhook and socket, the broker) hands the alerts it
// took to: the client's router, which puts them into the alert windows. A source depends on this
// and on nothing of the others or of whoever routes.

#include <QList>
#include <QString>

// An alert as an outside source read it, before it is a window's row.
struct TSourceAlert {
    QString Symbol;
    double Price = 0;
    bool HasPrice = false;
    QString Description;
    QString Strategy = QStringLiteral("Inbox"); // "*": every inbox window
    bool Skip = false;
    bool FromBroker = false; // came from a message broker rather than the user's programs
};

class IAlertSink {
public:
    virtual ~IAlertSink() = default;
    enum class TOffer { Accepted, Busy, Closing };
    struct TAnswer {
        TAnswer(TOffer offer = TOffer::Accepted, qsizetype unrouted = 0, qsizetype filtered = 0)
            : Offer(offer), Unrouted(unrouted), Filtered(filtered) {}
        TOffer Offer;
        // Of the alerts accepted, those no window took (they are in the history only).
        qsizetype Unrouted;
        // ... and those every window they went to refused by its own rules (in the history
        // only, marked refused).
        qsizetype Filtered;
    };
    // Called on the UI thread; Accepted means the alerts are now the client's (none may be lost
    // after). Busy and Closing leave them with the sender, who is told to try again later.
    virtual TAnswer OfferAlerts(QList<TSourceAlert>&& alerts) = 0;
    // True while it would refuse any offer as Busy: a request is then answered so before its
    // body is read, which a flood would make the client do for nothing.
    virtual bool IsBusy() const { return false; }

    // Where an alert would go now, without taking it: one entry a window.
    struct TWindowVerdict {
        QString Window;     // the window's caption, or the strategy of a window that would open
        bool Opens = false; // no such window is open: one would open for it
        QString Refused;    // the window's rule that refuses it; empty: the window shows it
    };
    // For each alert, in order; an empty list: no window would take it (unrouted).
    virtual QList<QList<TWindowVerdict>> TryAlerts(const QList<TSourceAlert>& alerts) const {
        return QList<QList<TWindowVerdict>>(alerts.size());
    }
};
