#pragma once

// Quiet hours for tests that need a window quiet, or not, at the moment they run: an hour
// either side of the local time now, or starting an hour from now. Far enough from the edges
// that a test never runs across one.
#include "config/zkQuietHours.h"

#include <QTime>

inline TQuietSettings QuietHoursFromNow(int fromHours, int toHours,
                                        TAnnounceMode mode = TAnnounceMode::Each) {
    const int now = QTime::currentTime().msecsSinceStartOfDay() / 60000;
    const auto at = [now](int hours) { return int16_t(((now + hours * 60) % 1440 + 1440) % 1440); };
    TQuietSettings quiet;
    quiet.From = at(fromHours);
    quiet.To = at(toHours);
    quiet.Announce = mode;
    return quiet;
}
inline TQuietSettings QuietNow(TAnnounceMode mode = TAnnounceMode::Each) {
    return QuietHoursFromNow(-1, 1, mode);
}
inline TQuietSettings QuietLater(TAnnounceMode mode = TAnnounceMode::Each) {
    return QuietHoursFromNow(1, 2, mode);
}
