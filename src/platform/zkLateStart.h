#pragma once

// Work the first window need not wait for (the tray icon, for one) runs a moment after the
// client's event loop first ran dry: by then the first windows are shown and painted, and the
// work no longer stands between the start and the first picture on the screen.

#include <QObject>

#include <functional>

namespace zkLateStart {

// The pause after the first idle moment: long enough for the window system's answers to the
// first windows (exposure, the first paint) to be handled first, short enough to go unnoticed.
inline constexpr int DelayMs = 100;

// Runs work once, on this thread, DelayMs after the event loop next waits for events; never if
// context is destroyed first.
void AfterFirstIdle(QObject* context, std::function<void()> work);

} // namespace zkLateStart
