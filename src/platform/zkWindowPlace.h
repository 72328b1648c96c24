#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

// Puts a top-level window's frame (title bar and border included) at pos, as a stored layout
// gives it. Qt can only place the frame once the window manager has framed the window: when a
// window not shown yet is moved, Qt takes its frame to be empty when it shows it, so on X11
// the window manager puts the whole frame a title bar higher and a border further left. Such
// a window is moved once more as soon as its frame is known, so it ends up where asked.
void MoveWindowFrame(QWidget* window, const QPoint& pos);

// The top left corner a window of that frame gets inside the area: moved in as little as it
// takes, and to the area's left or top edge when it is larger than the area.
QPoint FitRectToArea(const QRect& window, const QRect& area);
