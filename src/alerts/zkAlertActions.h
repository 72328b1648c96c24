#pragma once

class IAlertData;
class IAlertDesk;
class TAlertForm;

// The dispatch of alert actions. The alert handlers only queue: sounds go to the sound queue
// at once, symbols to their link list, raising is only marked. The idle step, run whenever the
// event queue has run dry, starts the next sound, raises the windows and sends the symbols.

// OnNewAlert: the window's on-each-alert actions, unless the alert says to skip them. Publishing
// to the broker happens at once, and never for an alert that came from the broker.
void NewAlertActions(TAlertForm& form, IAlertData& alert);
// OnAlertSelected: the window's first action for the kind of selection (click or double-click);
// only a send acts at once. A "publish to the broker" entry for that selection publishes too.
void SelectedAlertActions(TAlertForm& form, IAlertData& alert);
// Enter on the selected alert: what the window's selection action does for the program's
// click or double-click choice, whichever it is.
void EnteredAlertActions(TAlertForm& form, IAlertData& alert);
// "Actions...": edits the window's actions in the Actions dialog; OK replaces and re-parses them.
void EditWindowActions(TAlertForm& form);
// The idle step: the next queued sound (unless the Sound Setup dialog is open), then each alert
// window's pending actions: raised once per burst (not while a modal dialog is open), queued
// symbols sent, and the connector window brought up on a list that no program is linked to.
void ProcessPendingActions(IAlertDesk& desk);
// A window that joined its desk's list with actions already pending (alerts came while it was
// being built) has them run by the next idle step.
void RecheckPendingActions(const TAlertForm& form);
