#pragma once

#include <sys/types.h>

// How the kernel shares the processor between this program and the others on a busy machine.
//
// The fair scheduler gives every runnable thread the same share; what decides how soon a thread
// that wakes runs is the length of the slice it asks for. An alert wakes the inbox's reader,
// then the user-interface thread, for a fraction of a millisecond each; with the default slice
// (a millisecond or more) each of them waits behind the slices of every busy program first. A short
// slice lets such a thread run as soon as it wakes, for no more processor than before (the share
// stays fair; only its pieces get smaller). Kernels without per-thread slices accept the request
// and change nothing.
namespace zkScheduling {

// The slice asked for, the shortest the kernel takes.
constexpr unsigned long long ShortSliceNs = 100000;

// Asks for the short slice for the thread `tid` (0: the calling one); threads it starts later
// inherit it. False, with errno, when the kernel refused.
bool RequestShortSlice(pid_t tid = 0);

// The slice the kernel keeps for `tid`, in nanoseconds; 0 where it does not say.
unsigned long long SliceOf(pid_t tid = 0);

// The processor time the calling thread has had, in nanoseconds: what its work cost, without
// the time it waited for the processor on a busy machine.
long long ThreadProcessorNs();

} // namespace zkScheduling
