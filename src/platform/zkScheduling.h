#pragma once

#include <sys/types.h>

// How the kernel shares the processor between this program and the others on a busy machine.
//
// Since Linux 6.12 the fair scheduler lets a thread ask for a shorter slice: it gets the same
// share of the processor as before, in smaller pieces, and when it wakes it runs before the busy
// programs' longer slices instead of after them. An alert wakes the user-interface thread (which
// reads the inbox), and the rows go out with its repaint, a fraction of a millisecond of work;
// with the default slice (1.4 ms on two cores) each wake-up may first wait behind the slices of
// every busy program. Older kernels accept the request and change nothing.
namespace zkScheduling {

// The slice asked for, the shortest the kernel takes.
constexpr unsigned long long ShortSliceNs = 100000;

// Asks for the short slice for the thread `tid` (0: the calling one); threads it starts later
// inherit it. False, with errno, when the kernel refused.
bool RequestShortSlice(pid_t tid = 0);

// Programs started from the calling thread while this lives (a browser for a link) get the
// kernel's usual slice, not ours: the request is about this client alone.
class TUsualSliceForPrograms {
public:
    TUsualSliceForPrograms();
    ~TUsualSliceForPrograms();
    TUsualSliceForPrograms(const TUsualSliceForPrograms&) = delete;
    TUsualSliceForPrograms& operator=(const TUsualSliceForPrograms&) = delete;

private:
    unsigned long long Before;
};

// The slice the kernel keeps for `tid`, in nanoseconds; 0 where it does not say.
unsigned long long SliceOf(pid_t tid = 0);

// The processor time the calling thread has had, in nanoseconds: what its work cost, without
// the time it waited for the processor on a busy machine.
long long ThreadProcessorNs();

} // namespace zkScheduling
