#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QKeyEvent;

// The ring of the application's top-level windows that Ctrl+N / Ctrl+P step through; F1 runs
// the help action the shell gives it (the first entry of the main window's Help menu). One
// instance for the whole program, as there is one set of top-level windows.
struct TFormRingItem {
    QPointer<QWidget> Form; // a window destroyed since the last rebuild reads as null
};

class TFormRing {
public:
    QList<TFormRingItem> Items;
    int32_t Position = -1;

    // Refills Items from the application's current top-level windows; Position stays.
    void Rebuild();
    // The next / previous item's window (nullptr when the ring is empty or that one is gone).
    QWidget* NextForm();
    QWidget* PreviousForm();
    // The shared key routine, on key release. True when the key was one of the ring's.
    bool HandleWindowKeys(int key, Qt::KeyboardModifiers shift);
    // What F1 does; nothing until the shell sets it.
    void SetHelpAction(std::function<void()> help) { Help = std::move(help); }
    void ShowHelp() const;

    // While one lives, rebuilds wait and one runs when the last ends: a layout of thousands
    // of windows would otherwise take a snapshot of all windows for each one it opens. The
    // ring is then as the last of those rebuilds would have left it.
    class TBatch {
    public:
        TBatch();
        ~TBatch();
        TBatch(const TBatch&) = delete;
        TBatch& operator=(const TBatch&) = delete;
    };

private:
    void BringToFront(QWidget* (TFormRing::*step)());
    int Batches = 0;
    bool RebuildWaiting = false;
    std::function<void()> Help;
};

TFormRing& FormRing();

// What windows use. The ring serves them once the shell has switched it on
// (InstallWindowRing); windows made without a shell (tests, benchmarks) do without, and a test
// may put hooks of its own in its place.
struct TWindowRingHooks {
    std::function<void()> Join;                           // a window joins the ring
    std::function<bool(int, Qt::KeyboardModifiers)> Keys; // F1, Ctrl+N, Ctrl+P
    std::function<void()> Help;                           // F1 alone
};
void SetWindowRingHooks(TWindowRingHooks hooks);
// Switches the ring on for every window, with F1 running help.
void InstallWindowRing(std::function<void()> help);

// Called when a window joins the ring (the main window, an alert window, the companions).
void JoinWindowRing();
// The shared key routine for a key released in a ring window; true when it took the key.
bool HandleRingKeys(int key, Qt::KeyboardModifiers shift);
// The same for a key event, which is accepted when taken.
bool HandleRingKeys(QKeyEvent* event);
// F1 alone, for windows whose other keys are their own; true when it was F1.
bool HandleHelpKey(QKeyEvent* event);
