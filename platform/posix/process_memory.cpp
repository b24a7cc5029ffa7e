#include "platform/process_memory.h"

#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>

namespace platform {

void keepFreedMemoryForReuse() {
    // Blocks below the largest mmap threshold glibc allows come from the heap, and the
    // heap is not trimmed after each page; larger blocks still go back at once.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

void* allocatePageMemory(size_t bytes) {
    constexpr size_t kHugePage = size_t{2} << 20;
    if (bytes < kHugePage)
        return std::malloc(bytes);
    void* memory = nullptr;
    if (posix_memalign(&memory, kHugePage, bytes) != 0)
        return nullptr;
    // The whole huge pages of the block; a system without them ignores the advice.
    ::madvise(memory, bytes & ~(kHugePage - 1), MADV_HUGEPAGE);
    return memory;
}

} // namespace platform
