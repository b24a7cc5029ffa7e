#include "platform/process_memory.h"

namespace platform {

// The tuning is glibc's; the Windows heap is left as the system sets it up.
void keepFreedMemoryForReuse() {}

} // namespace platform
