#pragma once

// One timer for everything that changes with the clock's second (the service clock on the
// status strip, the main window's once-a-second jobs): they share one wake-up a second, just
// after the second begins, instead of each waking the program at a moment of its own.

#include <QObject>
#include <QTimer>

class TSecondTick : public QObject {
    Q_OBJECT
public:
    // The user-interface thread's.
    static TSecondTick& Instance();
    // The timer fires this long after a second of the system clock begins.
    static constexpr int LateMs = 2;

signals:
    // Runs only while something is connected to it.
    void Second();

protected:
    void connectNotify(const QMetaMethod& signal) override;

private:
    TSecondTick();
    void Fire();
    void Schedule();
    QTimer Timer;
};
