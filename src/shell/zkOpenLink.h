#pragma once

#include "platform/zkWindowPlace.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <Qt>

#include <cstdint>

class QWidget;

// Opens a web address, or a file named relative to the installation folder, with the desktop's
// "open" action. Text without "://" gets the current directory put in front of it as it is, so
// a local name is written with a leading separator ("/Help/index.html").
void OpenLink(const QString& address);

// Moves a top-level window, without resizing it, so that it lies on its monitor's work area:
// right and bottom edges first, then left and top, so a window larger than the monitor keeps its
// top left corner visible.
void FitToMonitor(QWidget* window);

// Window states as records and layouts store them: 0 normal, 1 minimised, 2 maximised.
Qt::WindowStates WindowStateFromStored(int32_t state);
int32_t StoredWindowState(const QWidget& window);

// The pieces of FitToMonitor that need no screen, for callers and tests that have the rectangles.
// (FitRectToArea, the top left corner a window gets on an area, is in platform/zkWindowPlace.h.)
// Index of the monitor the window lies on: the one it overlaps most, or when it overlaps none,
// the nearest (the earlier one on a tie); -1 for an empty list.
int MonitorOfRect(const QRect& window, const QList<QRect>& monitors);
