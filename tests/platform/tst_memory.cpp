// Big blocks stay mapped of their own after bigger ones were freed, so they grow in place.
#include "platform/zkMemory.h"

#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <malloc.h>

namespace {

// A block the compiler cannot leave out, touched so that it is really handed out.
char* Take(size_t bytes) {
    char* volatile block = static_cast<char*>(std::malloc(bytes));
    std::memset(block, 1, bytes);
    return block;
}

size_t MappedBlocks() {
    return mallinfo2().hblks;
}

} // namespace

class TMemoryTest : public QObject {
    Q_OBJECT
private slots:
    void bigBlocksStayMappedAfterBiggerOnesWereFreed() {
#if defined(VELQUIST_SANITIZE)
        QSKIP("the sanitizer's allocator has no such thresholds");
#endif
        zkMemory::SetAllocatorThresholds();
        // glibc's own rule would from here on take blocks of up to 24 MB from its heap.
        std::free(Take(24 << 20));
        const size_t before = MappedBlocks();
        char* big = Take(6 << 20);
        QCOMPARE(MappedBlocks(), before + 1);
        // Grown, it stays one mapped block.
        big = static_cast<char*>(std::realloc(big, 12 << 20));
        QVERIFY(big);
        QCOMPARE(MappedBlocks(), before + 1);
        std::free(big);
        // Small blocks still come from the heap.
        char* small = Take(64 << 10);
        QCOMPARE(MappedBlocks(), before);
        std::free(small);
    }
};

QTEST_APPLESS_MAIN(TMemoryTest)
#include "tst_memory.moc"
