#pragma once

#include <future>
#include <thread>

// Start-up work that no window needs yet, done on a second processor while the main thread
// builds the first windows: loading the font configuration, then (once the application object
// exists) filling Qt's font database from it; together about a third of the processor time
// before the first idle moment, which the first text laid out would otherwise wait for.
class TStartupWarmup {
public:
    TStartupWarmup();
    ~TStartupWarmup();
    TStartupWarmup(const TStartupWarmup&) = delete;
    TStartupWarmup& operator=(const TStartupWarmup&) = delete;

    // Call once the application object exists: the font database goes next.
    void StartFontDatabase();

    // Waits until the work is done. Call it before the first text is measured: a font lookup
    // that came first would load its own configuration and the work would be done twice. It
    // must also come before the application object goes.
    void Wait();

private:
    void Release(bool fillDatabase);

    std::promise<bool> FillDatabase;
    bool Released = false;
    std::thread Thread;
};
