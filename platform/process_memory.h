// How the process's heap treats large blocks.
#pragma once

#include <cstddef>

namespace platform {
/// Keeps page-sized blocks in the heap once freed, so that page after page reuses the
/// same memory instead of handing it back to the system and faulting it in again.
/// Peak memory stays what the largest page needs.
void keepFreedMemoryForReuse();
/// Memory for a page's pixels (contents unspecified), released with std::free: on Linux
/// in huge pages where the system allows, so that first touching a page-sized block costs
/// a few faults instead of thousands. Null when memory runs out.
void* allocatePageMemory(size_t bytes);
} // namespace platform
