// What the machine offers the process: the CPUs it may run on and the memory it may use.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

/// The CPUs this process may run on (its affinity mask, so `taskset -c 0` gives 1); at
/// least 1.
int usableCpuCount();
/// The memory this process may use, in bytes: the smallest of the machine's physical
/// memory, the address-space limit (RLIMIT_AS) and every memory cgroup limit from the
/// process's group up to the root; on Windows the smaller of the physical memory and the
/// free part of the process's address space (which bounds a 32-bit process). 0 when it
/// cannot be told.
uint64_t usableMemoryBytes();
/// The smallest memory limit of a process whose /proc/self/cgroup reads `selfCgroup`, in the
/// cgroup tree mounted at `root` (as /sys/fs/cgroup): for cgroup v2 the memory.max of its
/// group and of every group above it, for v1 the hierarchical_memory_limit in its memory
/// group's memory.stat (which folds in the groups above). 0 when none is set or found;
/// always 0 on Windows, which has no cgroups.
uint64_t cgroupMemoryLimit(std::string_view root, std::string_view selfCgroup);

} // namespace platform
