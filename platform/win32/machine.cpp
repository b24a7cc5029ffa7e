#include "platform/machine.h"

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
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

uint64_t cgroupMemoryLimit(std::string_view, std::string_view) { return 0; }

} // namespace platform
