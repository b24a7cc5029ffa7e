// What the machine offers the process: the CPUs it may run on and the memory it may use.
#pragma once

#include <cstdint>

namespace platform {

/// The CPUs this process may run on (its affinity mask, so `taskset -c 0` gives 1); at
/// least 1.
int usableCpuCount();
/// The memory this process may use, in bytes: the machine's physical memory, or less where
/// a memory cgroup or the address-space limit (RLIMIT_AS) holds the process to less; on
/// Windows the physical memory. 0 when it cannot be told.
uint64_t usableMemoryBytes();

} // namespace platform
