#include "zkMemory.h"

#include <malloc.h>

namespace zkMemory {

void SetAllocatorThresholds() {
    constexpr int MappedFrom = 4 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, MappedFrom);
    // What the heap keeps of freed memory at its top, as glibc would pair it with the above.
    mallopt(M_TRIM_THRESHOLD, 2 * MappedFrom);
}

} // namespace zkMemory
