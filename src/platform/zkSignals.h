#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM (and SIGINT, Ctrl+C) and SIGHUP into Qt signals on the user-interface thread
// (self-pipe), so the main window can close through its normal close rules.
class TUnixSignalNotifier : public QObject {
    Q_OBJECT
public:
    explicit TUnixSignalNotifier(QObject* parent = nullptr);
    ~TUnixSignalNotifier() override;

signals:
    void TerminateRequested();
    void HangupRequested();

private:
    void onReadable();
    QSocketNotifier* Notifier = nullptr;
    bool HandlesInterrupt = false;
};
