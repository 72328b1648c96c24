#pragma once

#include <QPoint>

class QWidget;

// Puts a top-level window's frame (title bar and border included) at pos, as a stored layout
// gives it. Qt can only place the frame once the window manager has framed the window: when a
// window not shown yet is moved, Qt takes its frame to be empty when it shows it, so on X11
// the window manager puts the whole frame a title bar higher and a border further left. Such
// a window is moved once more as soon as its frame is known, so it ends up where asked.
void MoveWindowFrame(QWidget* window, const QPoint& pos);
