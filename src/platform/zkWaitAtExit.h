#pragma once

// Start-up work on a thread of its own may use Qt's statics, which exit() destroys wherever it is
// called from (a refused start, Qt's own when the display connection breaks). The exiting
// thread's thread-locals are destroyed before any static, so a wait kept in one ends the work
// first. Keep and Forget are called on the thread that started the work (the main thread).

#include <functional>

namespace zkWaitAtExit {

// Has exit() on this thread run wait first; one wait per owner.
void Keep(const void* owner, std::function<void()> wait);
// No longer: the owner has waited itself and goes.
void Forget(const void* owner);

} // namespace zkWaitAtExit
