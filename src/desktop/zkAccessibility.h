#pragma once

// What screen readers learn of our widgets beyond what Qt's own accessibility (its AT-SPI bridge
// on Linux) tells them: Qt describes a plain QWidget as a "filler", so a window of ours that is
// a plain widget would not read as a window, and an owner-drawn text would read as nothing.

#include <QAccessible>
#include <QString>

class QWidget;

namespace zkAccessibility {

// Puts the descriptions below in place, once per process. The application does it when it
// starts; a test that builds windows without it calls it first.
void Install();

// The role a plain widget (a QWidget without a more specific accessible of Qt's) reports from
// now on. Without one, a plain top-level widget reports a window, any other a filler.
void SetRole(QWidget* widget, QAccessible::Role role);

// The text a screen reader reads for an owner-drawn widget: its accessible name. Screen readers
// are told of a change only when the text differs.
void SetText(QWidget* widget, const QString& text);

// A label for a control that has none on screen, read by screen readers only: a hidden label of
// the control's parent whose buddy it is. On Linux Qt names a combo box by its current item and
// tells what it is for only through such a label.
void SetLabel(QWidget* control, const QString& text);

// How an announcement waits for what a screen reader is saying: a polite one is said after it,
// an assertive one cuts it off.
enum class TPoliteness { Polite = 1, Assertive = 2 };

// Has screen readers say text without the focus moving: an announcement (AT-SPI's
// object:announcement) raised on the widget, over the connection Qt's own bridge keeps to the
// accessibility bus. False when no screen reader can hear it (accessibility off, no bus).
bool Announce(QWidget* widget, const QString& text, TPoliteness politeness);

} // namespace zkAccessibility
