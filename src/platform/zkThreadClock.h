#pragma once

// What a thread's work cost, apart from the time it waited for the processor.
namespace zkThreadClock {

// The processor time the calling thread has had, in nanoseconds. On a busy machine the wall
// clock also counts the time other programs had the processor; this does not.
long long ProcessorNs();

} // namespace zkThreadClock
