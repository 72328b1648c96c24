#include "zkSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int SignalPipe[2] = {-1, -1};

// Set while start-up runs: a step of it (a layout on a hung network share, a huge file) can
// keep the event loop from running for as long as it likes.
std::atomic<bool> StartingUp{false};
std::atomic<bool> StartupDeadlineArmed{false};

void onStartupDeadline(int) {
    static const char text[] = "velquist: terminated during start-up\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, sizeof text - 1);
    // Nothing of the session exists yet that a save could keep; a half-loaded layout must not
    // be saved over the whole one.
    ::_exit(0);
}

void onSignal(int sig) {
    const char c = static_cast<char>(sig);
    // Only async-signal-safe work here: one byte into the pipe.
    [[maybe_unused]] const ssize_t n = ::write(SignalPipe[1], &c, 1);
    // The event loop handles the byte if it runs soon; a terminate during a long start-up step
    // ends the process once the grace time is up.
    if ((sig == SIGTERM || sig == SIGINT) && StartingUp.load() && !StartupDeadlineArmed.exchange(true))
        ::alarm(TUnixSignalNotifier::StartupGraceSeconds);
}
} // namespace

TUnixSignalNotifier::TUnixSignalNotifier(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalPipe) != 0)
        return;
    ::fcntl(SignalPipe[1], F_SETFL, O_NONBLOCK);
    Notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TUnixSignalNotifier::onReadable);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    struct sigaction deadline = {};
    deadline.sa_handler = onStartupDeadline;
    sigemptyset(&deadline.sa_mask);
    sigaction(SIGALRM, &deadline, nullptr);
    // Ctrl+C in the terminal that started us ends the client as SIGTERM does, layout saved. A
    // shell that started us in the background told us to ignore it; that stays.
    struct sigaction old = {};
    if (sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
        sigaction(SIGINT, &sa, nullptr);
        HandlesInterrupt = true;
    }
}

TUnixSignalNotifier::~TUnixSignalNotifier() {
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    if (HandlesInterrupt)
        signal(SIGINT, SIG_DFL);
}

void TUnixSignalNotifier::SetStartingUp(bool startingUp) {
    StartingUp = startingUp;
    if (!startingUp && StartupDeadlineArmed.exchange(false))
        ::alarm(0);
}

void TUnixSignalNotifier::onReadable() {
    char c = 0;
    if (::read(SignalPipe[0], &c, 1) != 1)
        return;
    if (c == SIGTERM || c == SIGINT)
        emit TerminateRequested();
    else if (c == SIGHUP)
        emit HangupRequested();
}
