#pragma once

class IConnectionControl;

// Keeps the account's symbol lists in step with the server.
// Stand-in until the symbol list work lands: start and stop only remember the connection.
void StartSymbolListDispatcher(IConnectionControl* connection);
void StopSymbolListDispatcher();
bool SymbolListDispatcherRunning();
