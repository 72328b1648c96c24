#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

#include <cstdint>

class QKeyEvent;

// The ring of the application's top-level windows that Ctrl+N / Ctrl+P step through; F1 opens
// the first entry of the main window's Help menu. One instance for the whole program.
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
    // Clicks the first item of the main window's Help menu.
    static void ShowHelp();

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
};

TFormRing& FormRing();

// Called when a window joins the ring (the main window, an alert window, the companions).
void RebuildWindowRing();
// The shared keyboard handler: every ring window hands it its key releases. A key the ring
// takes is set to 0.
void HandleWindowKeys(QWidget* sender, int& key, Qt::KeyboardModifiers shift);
// The same for a key event; true (and the event accepted) when the ring took the key.
bool HandleWindowKeys(QKeyEvent* event);
// Hands the ring to windows outside the shell (see platform/zkWindowKeys.h).
void InstallWindowRingHooks();
