#pragma once

class IAlertData;
class QWidget;
class TAlertForm;

// STAND-INS for the dispatch of alert actions and for editing a window's actions. The alert
// window calls them at their real call points; the dispatch (new alert, selected alert, the
// idle step, bringing a window forward) and the Actions dialog are still to be written, and
// until then every one of these does nothing.

// OnNewAlert: queue the window's on-each-alert actions.
void NewAlertActions(TAlertForm& form, IAlertData& alert);
// OnAlertSelected: queue the window's selection action.
void SelectedAlertActions(TAlertForm& form, IAlertData& alert);
// "Actions...": edit the window's actions in the Actions dialog; on OK replace and re-parse.
void EditWindowActions(TAlertForm& form);
// The application's idle step: start queued sounds, raise windows, flush queued symbols.
void ProcessPendingActions();
// Restore and raise the application, the main window and the given window.
void BringWindowForward(QWidget* window);
