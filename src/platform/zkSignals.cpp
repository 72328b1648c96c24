#include "zkSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int SignalPipe[2] = {-1, -1};

void onSignal(int sig) {
    const char c = static_cast<char>(sig);
    // Only async-signal-safe work here: one byte into the pipe.
    [[maybe_unused]] const ssize_t n = ::write(SignalPipe[1], &c, 1);
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
}

TUnixSignalNotifier::~TUnixSignalNotifier() {
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}

void TUnixSignalNotifier::onReadable() {
    char c = 0;
    if (::read(SignalPipe[0], &c, 1) != 1)
        return;
    if (c == SIGTERM)
        emit TerminateRequested();
    else if (c == SIGHUP)
        emit HangupRequested();
}
