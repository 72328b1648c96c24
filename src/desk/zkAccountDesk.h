#pragma once

class IConnectionControl;

// The account as the main window shows it: the connection component it owns, its status bars,
// and the symbol lists that belong to the logged-in account. The login dialog and the alert
// windows reach the main window through this alone.
class IAccountDesk {
public:
    virtual ~IAccountDesk() = default;

    // nullptr while the main window has none (its creation failed early).
    virtual IConnectionControl* AccountConnection() = 0;
    // The status bars follow the connection's state and the account's expiry.
    virtual void RefreshAccountStatus() = 0;
    // New credentials were applied: the lists are read again for that account, and nothing of
    // the previous account's lists stays to be seen or edited (a refresh still running is let
    // go first).
    virtual void RefreshSymbolLists() = 0;
};
