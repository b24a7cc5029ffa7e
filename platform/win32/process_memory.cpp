#include "platform/process_memory.h"

#include <cstdlib>

namespace platform {

// The tuning is glibc's; the Windows heap is left as the system sets it up.
void keepFreedMemoryForReuse() {}

void* allocatePageMemory(size_t bytes) { return std::malloc(bytes); }

} // namespace platform
