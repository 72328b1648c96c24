#pragma once

// An inbox sink for tests: keeps what it takes and answers as told.

#include "inbox/zkInboxSink.h"

#include <algorithm>

class TRecordingSink : public IInboxSink {
public:
    TAnswer OfferAlerts(QList<TInboxAlert>&& alerts) override {
        ++Offers;
        if (Answer == TOffer::Accepted)
            Alerts += alerts;
        return {Answer, Answer == TOffer::Accepted ? std::min(Unrouted, alerts.size()) : 0};
    }
    bool IsBusy() const override { return Busy; }
    TOffer Answer = TOffer::Accepted;
    bool Busy = false;      // full before any offer
    qsizetype Unrouted = 0; // how many of each accepted offer it says no window took
    int Offers = 0;
    QList<TInboxAlert> Alerts;
};
