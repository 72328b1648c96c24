#pragma once

// The program's icon as the window system is first told of it. X11 copies every size of a
// window's icon into a property of that window, converted and sent for each window: the
// 256-pixel image alone is a quarter of a megabyte, and at start-up it went twice (splash, main
// window), a twentieth of the time to the first idle moment.

#include <QIcon>

namespace zkApplicationIcon {

// The largest size named while the client starts: what title bars and taskbars draw.
inline constexpr int StartSizeLimit = 48;

// The icon, naming only its sizes up to StartSizeLimit (all of them when it has none that
// small), while every picture drawn from it still comes from all its sizes.
QIcon NamingSmallSizes(const QIcon& all);

} // namespace zkApplicationIcon
