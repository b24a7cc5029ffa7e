// How the process's heap treats large blocks.
#pragma once

namespace platform {
/// Keeps page-sized blocks in the heap once freed, so that page after page reuses the
/// same memory instead of handing it back to the system and faulting it in again.
/// Peak memory stays what the largest page needs.
void keepFreedMemoryForReuse();
} // namespace platform
