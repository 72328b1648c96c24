#include "zkSecondTick.h"

#include <QDateTime>
#include <QMetaMethod>

TSecondTick& TSecondTick::Instance() {
    static TSecondTick* tick = new TSecondTick(); // outlives every receiver; never destroyed
    return *tick;
}

TSecondTick::TSecondTick() {
    Timer.setSingleShot(true);
    Timer.setTimerType(Qt::PreciseTimer);
    connect(&Timer, &QTimer::timeout, this, &TSecondTick::Fire);
}

void TSecondTick::connectNotify(const QMetaMethod& signal) {
    if (signal == QMetaMethod::fromSignal(&TSecondTick::Second) && !Timer.isActive())
        Schedule();
}

void TSecondTick::Schedule() {
    // Set again each time from the clock, so that it neither drifts nor follows a changed
    // clock late.
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    Timer.start(int(1000 - (ms % 1000 + 1000) % 1000 + LateMs));
}

void TSecondTick::Fire() {
    // With nothing connected any more it stops until something connects again.
    if (!isSignalConnected(QMetaMethod::fromSignal(&TSecondTick::Second)))
        return;
    Schedule();
    emit Second();
}
