#include "zkAlertActions.h"

// Stand-ins until the dispatch and the Actions dialog are written (see the header).

void NewAlertActions(TAlertForm& /*form*/, IAlertData& /*alert*/) {}

void SelectedAlertActions(TAlertForm& /*form*/, IAlertData& /*alert*/) {}

void EditWindowActions(TAlertForm& /*form*/) {}

void ProcessPendingActions() {}

void BringWindowForward(QWidget* /*window*/) {}
