#pragma once

// An alert sink for tests: keeps what it takes and answers as told.

#include "desk/zkAlertSink.h"

#include <algorithm>

class TRecordingSink : public IAlertSink {
public:
    TAnswer OfferAlerts(QList<TSourceAlert>&& alerts) override {
        ++Offers;
        if (Answer == TOffer::Accepted) {
            Alerts += alerts;
            Taken << alerts.size();
        }
        return {Answer, Answer == TOffer::Accepted ? std::min(Unrouted, alerts.size()) : 0};
    }
    bool IsBusy() const override { return Busy; }
    TOffer Answer = TOffer::Accepted;
    bool Busy = false;      // full before any offer
    qsizetype Unrouted = 0; // how many of each accepted offer it says no window took
    int Offers = 0;
    QList<TSourceAlert> Alerts;
    QList<qsizetype> Taken; // the size of each offer taken
};
