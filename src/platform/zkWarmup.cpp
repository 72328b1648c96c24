#include "zkWarmup.h"

#include "zkWaitAtExit.h"

#include <QFontDatabase>

#include <fontconfig/fontconfig.h>

TStartupWarmup::TStartupWarmup() {
    zkWaitAtExit::Keep(this, [this] { Wait(); });
    // The configuration is the library's one shared configuration, built once and safely
    // across threads; Qt's font database takes it over as it is. The database is filled once,
    // under its own lock, for every thread: a lookup on the main thread meanwhile waits for it
    // as it would have waited to fill it itself.
    Thread = std::thread([fill = FillDatabase.get_future()]() mutable {
        FcInit();
        if (fill.get())
            QFontDatabase::families();
    });
}

TStartupWarmup::~TStartupWarmup() {
    Wait();
    zkWaitAtExit::Forget(this);
}

void TStartupWarmup::Release(bool fillDatabase) {
    if (Released)
        return;
    Released = true;
    FillDatabase.set_value(fillDatabase);
}

void TStartupWarmup::StartFontDatabase() {
    Release(true);
}

void TStartupWarmup::Wait() {
    // Not started by now, the database is filled where it is first needed.
    Release(false);
    if (Thread.joinable())
        Thread.join();
}
