#pragma once

class IAlertHub;
class IConnectionControl;
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
    // The alert hub: the inbox, which the Alert Inbox page reports on and restarts after Save;
    // the broker, which the Broker page reports on and reconnects after Save; the alert
    // history's recorder, which takes a new kept period at once after Save.
    virtual IAlertHub* OptionsAlertHub() = 0;
};
