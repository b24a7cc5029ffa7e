#include "platform/machine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

namespace {

// The number the cgroup file `prefix` + `group` + `suffix` holds; 0 for "max", anything
// else or no file. The name is put together in place: finding the budget takes no heap.
uint64_t limitIn(std::string_view prefix, std::string_view group, std::string_view suffix) {
    char path[4096 + 64];
    if (prefix.size() + group.size() + suffix.size() >= sizeof path)
        return 0;
    char* at = std::copy(prefix.begin(), prefix.end(), path);
    at = std::copy(group.begin(), group.end(), at);
    at = std::copy(suffix.begin(), suffix.end(), at);
    *at = '\0';
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr)
        return 0;
    char text[32] = {};
    const bool read = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    if (!read)
        return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return end != text && errno == 0 && (*end == '\n' || *end == '\0') ? value : 0;
}

bool namesMemory(std::string_view controllers) {
    while (!controllers.empty()) {
        const size_t comma = controllers.find(',');
        if (controllers.substr(0, comma) == "memory")
            return true;
        controllers.remove_prefix(comma == std::string_view::npos ? controllers.size() : comma + 1);
    }
    return false;
}

// The smallest limit of the memory cgroups this process is in (v2 "0::/path" lines, v1
// "N:memory:/path" ones); 0 when none is set or found.
uint64_t cgroupMemoryLimit() {
    std::FILE* file = std::fopen("/proc/self/cgroup", "re");
    if (file == nullptr)
        return 0;
    uint64_t limit = 0;
    char line[4096];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string_view entry(line);
        if (!entry.empty() && entry.back() == '\n')
            entry.remove_suffix(1);
        const size_t first = entry.find(':');
        if (first == std::string_view::npos)
            continue;
        const size_t second = entry.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        const std::string_view controllers = entry.substr(first + 1, second - first - 1);
        const std::string_view group = entry.substr(second + 1);
        uint64_t found = 0;
        if (controllers.empty())
            found = limitIn("/sys/fs/cgroup", group, "/memory.max");
        else if (namesMemory(controllers))
            found = limitIn("/sys/fs/cgroup/memory", group, "/memory.limit_in_bytes");
        if (found != 0)
            limit = limit == 0 ? found : std::min(limit, found);
    }
    std::fclose(file);
    return limit;
}

} // namespace

int usableCpuCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

uint64_t usableMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    uint64_t memory = pages > 0 && pageSize > 0
                          ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                          : 0;
    auto holdTo = [&memory](uint64_t limit) {
        if (limit != 0)
            memory = memory == 0 ? limit : std::min(memory, limit);
    };
    holdTo(cgroupMemoryLimit());
    struct rlimit addressSpace;
    if (::getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        holdTo(static_cast<uint64_t>(addressSpace.rlim_cur));
    return memory;
}

} // namespace platform
