#pragma once

// The program's icon as the window system is first told of it. X11 copies every size of a
// window's icon into a property of that window, converted and sent for each window: the
// 256-pixel image alone is a quarter of a megabyte, and at start-up it went twice (splash, main
// window), a twentieth of the time to the first idle moment.

#include <QIcon>
#include <QImage>
#include <QList>

namespace zkApplicationIcon {

// The largest size named while the client starts: what title bars and taskbars draw.
inline constexpr int StartSizeLimit = 48;

// The icon, naming only its sizes up to StartSizeLimit (all of them when it has none that
// small), while every picture drawn from it still comes from all its sizes.
QIcon NamingSmallSizes(const QIcon& all);

// The images of an icon file's entries up to limit pixels on each side, when every such entry
// is an uncompressed 32-bit bitmap, read here: Qt's reader loads every image-format plugin
// (and the codecs they bring) to find the one for icon files, a tenth of the start-up's
// processor time beside the main thread. Empty when the file has no such entry, one of
// another kind, or is malformed: the caller then reads it as Qt does.
QList<QImage> SmallBitmapImages(const QByteArray& file, int limit = StartSizeLimit);

} // namespace zkApplicationIcon
