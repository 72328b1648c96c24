#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <Qt>

#include <cstdint>
#include <optional>

class QWidget;

// Whether the window system named so tells a program where its windows are and lets it put
// them somewhere. Wayland does neither: a shown window reads as being at 0,0 (its frame at the
// decoration's offsets, -3,-30), and the compositor ignores a program's move.
bool PlatformPlacesWindows(const QString& platformName);
// The same for the running application's window system.
bool WindowPositionsKnown();

// Puts a top-level window's frame (title bar and border included) at pos, as a stored layout
// gives it. Qt can only place the frame once the window manager has framed the window: when a
// window not shown yet is moved, Qt takes its frame to be empty when it shows it, so on X11
// the window manager puts the whole frame a title bar higher and a border further left. Such
// a window is moved once more as soon as its frame is known, so it ends up where asked.
// Where a window cannot be placed, the window is left to the window system, and pos is only
// remembered (PlacedWindowPos).
void MoveWindowFrame(QWidget* window, const QPoint& pos);
// The place MoveWindowFrame last put the window's frame at; none when it never did.
std::optional<QPoint> PlacedWindowPos(const QWidget& window);

// The frame's top left corner a layout keeps for a window: where it is, when the window system
// can tell; otherwise the place it was last put at, so a layout saved there gives back the
// places it was opened with; and fallback for a window never put anywhere.
QPoint KeptWindowPos(bool positionsKnown, const QPoint& current,
                     const std::optional<QPoint>& placed, const QPoint& fallback);
// The same for a window of the running application.
QPoint KeptWindowPos(const QWidget& window, const QPoint& fallback);

// The top left corner a window of that frame gets inside the area: moved in as little as it
// takes, and to the area's left or top edge when it is larger than the area.
QPoint FitRectToArea(const QRect& window, const QRect& area);

// Moves a top-level window, without resizing it, so that it lies on its monitor's work area:
// right and bottom edges first, then left and top, so a window larger than the monitor keeps its
// top left corner visible. Where windows cannot be placed it does nothing: the window system
// keeps them on its screens itself.
void FitToMonitor(QWidget* window);

// Window states as records and layouts store them: 0 normal, 1 minimised, 2 maximised.
Qt::WindowStates WindowStateFromStored(int32_t state);
int32_t StoredWindowState(const QWidget& window);

// The pieces of FitToMonitor that need no screen, for callers and tests that have the rectangles.
// Index of the monitor the window lies on: the one it overlaps most, or when it overlaps none,
// the nearest (the earlier one on a tie); -1 for an empty list.
int MonitorOfRect(const QRect& window, const QList<QRect>& monitors);
