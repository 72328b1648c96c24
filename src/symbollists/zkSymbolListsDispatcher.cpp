#include "zkSymbolListsDispatcher.h"

namespace {
IConnectionControl* DispatcherConnection = nullptr;
bool Running = false;
} // namespace

void StartSymbolListDispatcher(IConnectionControl* connection) {
    DispatcherConnection = connection;
    Running = true;
}

void StopSymbolListDispatcher() {
    DispatcherConnection = nullptr;
    Running = false;
}

bool SymbolListDispatcherRunning() { return Running; }
