#include "zkScheduling.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <ctime>

namespace zkScheduling {

namespace {
// The kernel's struct sched_attr (its header clashes with the C library's): glibc has no
// wrapper for these calls before 2.41.
struct sched_attr {
    std::uint32_t size;
    std::uint32_t sched_policy;
    std::uint64_t sched_flags;
    std::int32_t sched_nice;
    std::uint32_t sched_priority;
    std::uint64_t sched_runtime;
    std::uint64_t sched_deadline;
    std::uint64_t sched_period;
    std::uint32_t sched_util_min;
    std::uint32_t sched_util_max;
};

bool ReadAttributes(pid_t tid, sched_attr& attr) {
    std::memset(&attr, 0, sizeof attr);
    return syscall(SYS_sched_getattr, tid, &attr, sizeof attr, 0) == 0;
}

// 0: the kernel's usual slice.
bool SetSlice(pid_t tid, unsigned long long ns) {
    sched_attr attr;
    if (!ReadAttributes(tid, attr))
        return false;
    // Only ordinary threads: a policy someone chose on purpose (real time, idle) stays. The
    // niceness is part of the request and is kept as it is.
    if (attr.sched_policy != SCHED_OTHER && attr.sched_policy != SCHED_BATCH)
        return true;
    attr.size = sizeof attr;
    // Of the flags read back only this one is a setting of the thread's own to keep.
    constexpr std::uint64_t ResetOnFork = 0x01;
    attr.sched_flags &= ResetOnFork;
    attr.sched_runtime = ns;
    return syscall(SYS_sched_setattr, tid, &attr, 0) == 0;
}
} // namespace

bool RequestShortSlice(pid_t tid) {
    return SetSlice(tid, ShortSliceNs);
}

TUsualSliceForPrograms::TUsualSliceForPrograms() : Before(SliceOf()) {
    if (Before == ShortSliceNs)
        SetSlice(0, 0);
}

TUsualSliceForPrograms::~TUsualSliceForPrograms() {
    if (Before == ShortSliceNs)
        SetSlice(0, ShortSliceNs);
}

unsigned long long SliceOf(pid_t tid) {
    sched_attr attr;
    return ReadAttributes(tid, attr) ? attr.sched_runtime : 0;
}

long long ThreadProcessorNs() {
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

} // namespace zkScheduling
