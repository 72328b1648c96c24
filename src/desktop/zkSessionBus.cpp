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
// The jobs handed to the connecting thread, and whether it still takes them.
std::mutex JobsLock;
std::vector<std::function<void()>> Jobs;
bool Connecting = false;
} // namespace

TSessionBusWarmup::TSessionBusWarmup() {
    if (!zkSessionBus::Given())
        return;
    zkWaitAtExit::Keep(this, [this] { Wait(); });
    {
        const std::lock_guard<std::mutex> lock(JobsLock);
        Connecting = true;
    }
    // Qt keeps the one connection for every thread; the first to ask makes it, the others
    // wait for it under Qt's lock.
    Thread = std::thread([] {
        QDBusConnection::sessionBus();
        for (;;) {
            std::vector<std::function<void()>> jobs;
            {
                const std::lock_guard<std::mutex> lock(JobsLock);
                if (Jobs.empty()) {
                    Connecting = false;
                    return;
                }
                jobs.swap(Jobs);
            }
            for (const auto& job : jobs)
                job();
        }
    });
}

void TSessionBusWarmup::WhenConnected(std::function<void()> job) {
    {
        const std::lock_guard<std::mutex> lock(JobsLock);
        if (Connecting) {
            Jobs.push_back(std::move(job));
            return;
        }
    }
    job();
}

TSessionBusWarmup::~TSessionBusWarmup() {
    Wait();
    zkWaitAtExit::Forget(this);
}

void TSessionBusWarmup::Wait() {
    if (Thread.joinable())
        Thread.join();
}
