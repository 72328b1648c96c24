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

    // While start-up runs, a terminate the event loop has not finished off within the grace
    // time ends the process (exit code 0, a line on stderr): a start-up step may keep the loop
    // from running for long. Once start-up is over, the window closes by its own rules.
    static constexpr unsigned StartupGraceSeconds = 2;
    static void SetStartingUp(bool startingUp);

signals:
    void TerminateRequested();
    void HangupRequested();

private:
    void onReadable();
    QSocketNotifier* Notifier = nullptr;
    bool HandlesInterrupt = false;
};
