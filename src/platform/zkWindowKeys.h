#pragma once

#include <Qt>

#include <functional>

class QKeyEvent;

// What a feature window needs of the window ring, without knowing the shell that keeps it: the
// shell installs the hooks once, and windows created without a shell (tests) simply do without.
struct TWindowRingHooks {
    std::function<void()> Join;                           // a window joins the ring
    std::function<bool(int, Qt::KeyboardModifiers)> Keys; // F1, Ctrl+N, Ctrl+P
    std::function<void()> Help;                           // the first Help menu item
};

void SetWindowRingHooks(TWindowRingHooks hooks);
void JoinWindowRing();
// The shared key routine for a key released in a ring window; true (and the event accepted)
// when it took the key.
bool HandleRingKeys(QKeyEvent* event);
// F1 alone, for windows whose other keys are their own; true when it was F1.
bool HandleHelpKey(QKeyEvent* event);
