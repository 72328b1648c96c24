#pragma once

class QWidget;

// What a feature window may ask of the desk that holds it (the main window implements it):
// bringing windows forward, and the two flags that hold the idle step back while a dialog that
// edits what it would act on is open. Feature code reaches the main window only through this.
class IWindowDesk {
public:
    virtual ~IWindowDesk() = default;

    // Restores and raises the application's main window, then the given window (nullptr: the
    // main window alone), shown in the normal state and kept on its monitor. Activating is
    // left to the caller when it brings several forward in a row: only the last keeps it.
    virtual void BringWindowForward(QWidget* window, bool activate) = 0;
    // The main window itself, as a later launch or a web link brings it forward.
    virtual void BringMainWindowForward() = 0;

    // While set, the idle step raises no window (the Options and Actions dialogs are open).
    virtual bool ModalDialogIsOpen() const = 0;
    virtual void SetModalDialogOpen(bool open) = 0;
    // While set, the idle step starts no queued sound (the Sound Setup dialog is open).
    virtual bool SoundsAreSuspended() const = 0;
    virtual void SetSoundsSuspended(bool suspended) = 0;
    // While set ("Mute Sounds"), alert sounds are dropped, not queued; the Sound Setup
    // dialog's preview still plays.
    virtual bool SoundsAreMuted() const = 0;
};

// Sets the modal-dialog flag for its lifetime; the desk may be absent (a window made alone).
class TModalDialogScope {
public:
    explicit TModalDialogScope(IWindowDesk* desk) : Desk(desk) {
        if (Desk)
            Desk->SetModalDialogOpen(true);
    }
    ~TModalDialogScope() {
        if (Desk)
            Desk->SetModalDialogOpen(false);
    }
    TModalDialogScope(const TModalDialogScope&) = delete;
    TModalDialogScope& operator=(const TModalDialogScope&) = delete;

private:
    IWindowDesk* Desk;
};
