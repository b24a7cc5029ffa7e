#include "platform/machine.h"

#include <algorithm>
#include <bit>

#include <windows.h>

namespace platform {

int usableCpuCount() {
    // The mask covers the process's processor group: at most 64 CPUs, as Windows schedules
    // a process by default.
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return std::popcount(static_cast<unsigned long long>(process));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

uint64_t usableMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return 0;
    // A 32-bit process cannot hold more than its user address space (2 to 4 GiB), however
    // much memory the machine has; what is still free of it is what pages can take.
    return std::min(status.ullTotalPhys, status.ullAvailVirtual);
}

uint64_t cgroupMemoryLimit(std::string_view, std::string_view) { return 0; }

} // namespace platform
