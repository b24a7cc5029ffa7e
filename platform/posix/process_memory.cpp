#include "platform/process_memory.h"

#include <malloc.h>

namespace platform {

void keepFreedMemoryForReuse() {
    // Blocks below the largest mmap threshold glibc allows come from the heap, and the
    // heap is not trimmed after each page; larger blocks still go back at once.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
}

} // namespace platform
