#pragma once

#include <QWidgetList>

// The application's top-level windows in the order the window ring walks them: every window
// that has had the keyboard focus, most recently focused first, then the windows that never had
// it, in order of creation. Qt keeps neither order (its list of top-level windows comes from an
// unordered set), so the application's events are watched from the moment this is installed;
// windows created before that count as the oldest.
namespace zkWindowOrder {

// Starts watching; needs the application object. Calling it again does nothing.
void Install();
// Popups, tool tips, splash screens and the desktop are left out; hidden windows are included.
QWidgetList TopLevelWindows();
// Counts, from Install on, what may put one of our windows over another: a window raised,
// lowered, shown or hidden. Equal counts mean none of these happened in between.
quint64 StackingChanges();

} // namespace zkWindowOrder
