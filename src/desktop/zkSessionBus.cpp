#include "zkSessionBus.h"

#include "platform/zkWaitAtExit.h"

#include <QDBusConnection>
#include <QFileInfo>

#include <mutex>
#include <vector>

namespace zkSessionBus {

bool Given(QString* problem) {
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) {
        if (address.contains("autolaunch:")) {
            if (problem)
                *problem = QStringLiteral("the session bus address asks for one to be launched");
            return false;
        }
        return true;
    }
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(QString::fromLocal8Bit(runtime) + "/bus"))
        return true;
    if (problem)
        *problem = QStringLiteral("no session bus");
    return false;
}

} // namespace zkSessionBus

namespace {
// The jobs handed to the bus's thread, whether one runs them now, and the warm-up that starts
// another for jobs that come after it ended.
std::mutex JobsLock;
std::vector<std::function<void()>> Jobs;
bool Draining = false;
TSessionBusWarmup* Taking = nullptr;

void DrainJobs() {
    for (;;) {
        std::vector<std::function<void()>> jobs;
        {
            const std::lock_guard<std::mutex> lock(JobsLock);
            if (Jobs.empty()) {
                Draining = false;
                return;
            }
            jobs.swap(Jobs);
        }
        for (const auto& job : jobs)
            job();
    }
}
} // namespace

TSessionBusWarmup::TSessionBusWarmup() {
    if (!zkSessionBus::Given())
        return;
    zkWaitAtExit::Keep(this, [this] { Wait(); });
    {
        const std::lock_guard<std::mutex> lock(JobsLock);
        Draining = true;
        Taking = this;
    }
    // Qt keeps the one connection for every thread; the first to ask makes it, the others
    // wait for it under Qt's lock.
    Thread = std::thread([] {
        QDBusConnection::sessionBus();
        DrainJobs();
    });
}

void TSessionBusWarmup::WhenConnected(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(JobsLock);
    if (!Draining && !Taking) {
        lock.unlock();
        job();
        return;
    }
    Jobs.push_back(std::move(job));
    if (Draining)
        return;
    // Connected and idle: even then a job goes to a thread, since its round trips to the bus
    // daemon (a match rule asks who owns the name) would hold the caller up.
    Draining = true;
    TSessionBusWarmup* warmup = Taking;
    lock.unlock();
    if (warmup->Thread.joinable())
        warmup->Thread.join(); // it has ended, or is ending: it found no jobs under the lock
    warmup->Thread = std::thread(DrainJobs);
}

TSessionBusWarmup::~TSessionBusWarmup() {
    Wait();
    zkWaitAtExit::Forget(this);
}

void TSessionBusWarmup::Wait() {
    {
        const std::lock_guard<std::mutex> lock(JobsLock);
        if (Taking == this)
            Taking = nullptr;
    }
    if (Thread.joinable())
        Thread.join();
}
