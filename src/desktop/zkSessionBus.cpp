#include "zkSessionBus.h"

#include "platform/zkWaitAtExit.h"

#include <QDBusConnection>
#include <QFileInfo>

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

TSessionBusWarmup::TSessionBusWarmup() {
    if (!zkSessionBus::Given())
        return;
    zkWaitAtExit::Keep(this, [this] { Wait(); });
    // Qt keeps the one connection for every thread; the first to ask makes it, the others
    // wait for it under Qt's lock.
    Thread = std::thread([] { QDBusConnection::sessionBus(); });
}

TSessionBusWarmup::~TSessionBusWarmup() {
    Wait();
    zkWaitAtExit::Forget(this);
}

void TSessionBusWarmup::Wait() {
    if (Thread.joinable())
        Thread.join();
}
