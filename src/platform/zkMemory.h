#pragma once

// The allocator's handling of big blocks, set once at the start of the process.
//
// By default glibc hands out blocks of up to 32 MB from its heap once a block of that size has
// been freed, and growing such a block (as Qt's text documents and lists grow theirs, by
// doubling) then means copying it into fresh memory: on a text of a million lines one such copy
// holds the user-interface thread up for 50 to 80 ms. With fixed thresholds every block from
// 4 MB up is mapped of its own and grows in place.
namespace zkMemory {

void SetAllocatorThresholds();

} // namespace zkMemory
