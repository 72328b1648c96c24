#pragma once

class IConnectionControl;
class TAlertBroker;
class TAlertInbox;
class TAlertRecorder;
class TUpdateForm;
struct TLayoutSettings;

// What the options dialog needs of the main window: the live objects whose settings it
// edits. The main window implements it and hands itself in.
class IOptionsHost {
public:
    virtual ~IOptionsHost() = default;
    // nullptr while the main window has none (its creation failed early).
    virtual IConnectionControl* OptionsConnection() = 0;
    virtual TUpdateForm* OptionsUpdateForm() = 0;
    virtual TLayoutSettings& OptionsLayoutSettings() = 0;
    // The running inbox, which the Alert Inbox page reports on and restarts after Save.
    virtual TAlertInbox* OptionsAlertInbox() = 0;
    // The alert history's recorder, which takes a new kept period at once after Save.
    virtual TAlertRecorder* OptionsAlertRecorder() = 0;
    // The running broker source, which the Broker page reports on and reconnects after Save.
    virtual TAlertBroker* OptionsAlertBroker() { return nullptr; }
};
