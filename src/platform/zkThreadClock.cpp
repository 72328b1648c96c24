#include "zkThreadClock.h"

#include <ctime>

namespace zkThreadClock {

long long ProcessorNs() {
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace zkThreadClock
