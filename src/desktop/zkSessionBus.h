#pragma once

// The session bus as the client uses it: only one that is there already, never one launched
// for it, and connected ahead of its first use.

#include <QString>

#include <functional>
#include <thread>

namespace zkSessionBus {

// Whether a session bus can be found without launching one: an address given (but not
// "autolaunch:", which runs dbus-launch and leaves a bus behind), or the bus socket in the
// runtime folder. Otherwise problem says why.
bool Given(QString* problem = nullptr);

} // namespace zkSessionBus

// Connects Qt's session bus on a thread of its own while the main thread goes on with start-up:
// connecting takes several round trips to the bus daemon (about 3 ms), which the first user of
// the bus (the colour scheme, the keyring) would otherwise wait for on the main thread. Made once
// the application object exists; waits for the connection when it goes, before that object does.
class TSessionBusWarmup {
public:
    TSessionBusWarmup();
    ~TSessionBusWarmup();
    TSessionBusWarmup(const TSessionBusWarmup&) = delete;
    TSessionBusWarmup& operator=(const TSessionBusWarmup&) = delete;

    // Waits for the connection to be made (or refused); also done when it goes, and at an exit()
    // from anywhere before the statics it uses are destroyed.
    void Wait();

    // Runs job with the connection made, without waiting for it: while a warm-up lives, on its
    // thread (the connecting one, or one started for it once that ended), in the order given;
    // without one, here and now. A job must therefore be safe on either thread (QtDBus calls and
    // connections are; replies and signals still reach their receivers on the receivers' own
    // threads). Call it on the thread that made the warm-up, or from a job.
    static void WhenConnected(std::function<void()> job);

private:
    std::thread Thread;
};
