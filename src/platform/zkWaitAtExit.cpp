#include "zkWaitAtExit.h"

#include <utility>
#include <vector>

namespace {
struct TWaits {
    std::vector<std::pair<const void*, std::function<void()>>> Kept;
    ~TWaits() {
        // The latest first, as the owners would have gone.
        while (!Kept.empty()) {
            auto wait = std::move(Kept.back().second);
            Kept.pop_back();
            wait();
        }
    }
};
thread_local TWaits Waits;
} // namespace

namespace zkWaitAtExit {

void Keep(const void* owner, std::function<void()> wait) {
    Forget(owner);
    Waits.Kept.emplace_back(owner, std::move(wait));
}

void Forget(const void* owner) {
    auto& kept = Waits.Kept;
    for (auto it = kept.begin(); it != kept.end();)
        it = it->first == owner ? kept.erase(it) : it + 1;
}

} // namespace zkWaitAtExit
