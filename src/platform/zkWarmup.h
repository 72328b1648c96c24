#pragma once

#include <thread>

// Start-up work that no window needs yet, done on a second processor while the main thread
// builds the first windows: loading the font configuration, a fifth of the processor time
// before the first idle moment, which the first text laid out would otherwise wait for.
class TStartupWarmup {
public:
    TStartupWarmup();
    ~TStartupWarmup();
    TStartupWarmup(const TStartupWarmup&) = delete;
    TStartupWarmup& operator=(const TStartupWarmup&) = delete;

    // Waits until the work is done. Call it before the first text is measured: a font lookup
    // that came first would load its own configuration and the work would be done twice.
    void Wait();

private:
    std::thread Thread;
};
