#pragma once

// An inbox sink for tests: keeps what it takes and answers as told.

#include "inbox/zkInboxSink.h"

class TRecordingSink : public IInboxSink {
public:
    TOffer OfferAlerts(QList<TInboxAlert>&& alerts) override {
        ++Offers;
        if (Answer == TOffer::Accepted)
            Alerts += alerts;
        return Answer;
    }
    TOffer Answer = TOffer::Accepted;
    int Offers = 0;
    QList<TInboxAlert> Alerts;
};
