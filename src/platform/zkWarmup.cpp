#include "zkWarmup.h"

#include <fontconfig/fontconfig.h>

TStartupWarmup::TStartupWarmup() {
    // The configuration is the library's one shared configuration, built once and safely
    // across threads; Qt's font database takes it over as it is.
    Thread = std::thread([] { FcInit(); });
}

TStartupWarmup::~TStartupWarmup() {
    Wait();
}

void TStartupWarmup::Wait() {
    if (Thread.joinable())
        Thread.join();
}
