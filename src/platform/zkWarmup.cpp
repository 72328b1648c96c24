#include "zkWarmup.h"

#include <QFontDatabase>

#include <fontconfig/fontconfig.h>

namespace {
// exit() (Qt's own when the display connection breaks, or a refused start) destroys Qt's
// statics while the warm-up may still be filling the font database with them. The exiting
// thread's thread-locals are destroyed before any static, so one of them waits for the warm-up.
struct TWaitAtExit {
    TStartupWarmup* Warmup = nullptr;
    ~TWaitAtExit() {
        if (Warmup)
            Warmup->Wait();
    }
};
thread_local TWaitAtExit WaitAtExit;
} // namespace

TStartupWarmup::TStartupWarmup() {
    WaitAtExit.Warmup = this;
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
    if (WaitAtExit.Warmup == this)
        WaitAtExit.Warmup = nullptr;
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
