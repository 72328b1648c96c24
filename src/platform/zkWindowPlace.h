#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <Qt>

#include <cstdint>

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

// Moves a top-level window, without resizing it, so that it lies on its monitor's work area:
// right and bottom edges first, then left and top, so a window larger than the monitor keeps its
// top left corner visible.
void FitToMonitor(QWidget* window);

// Window states as records and layouts store them: 0 normal, 1 minimised, 2 maximised.
Qt::WindowStates WindowStateFromStored(int32_t state);
int32_t StoredWindowState(const QWidget& window);

// The pieces of FitToMonitor that need no screen, for callers and tests that have the rectangles.
// Index of the monitor the window lies on: the one it overlaps most, or when it overlaps none,
// the nearest (the earlier one on a tie); -1 for an empty list.
int MonitorOfRect(const QRect& window, const QList<QRect>& monitors);
