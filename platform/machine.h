// What the machine offers the process: the CPUs it may run on and the memory it has.
#pragma once

#include <cstdint>

namespace platform {

/// The CPUs this process may run on (its affinity mask, so `taskset -c 0` gives 1); at
/// least 1.
int usableCpuCount();
/// The machine's physical memory in bytes; 0 when it cannot be told.
uint64_t physicalMemoryBytes();

} // namespace platform
