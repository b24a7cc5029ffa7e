#include "platform/machine.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <new>
#include <sched.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

namespace {

std::string readSmallFile(const std::string& path) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr)
        return text;
    char chunk[4096];
    size_t got = 0;
    // The files read here are a few kilobytes at most; more is not what they are.
    while (text.size() < 65536 && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

// The number `text` starts with, up to the end of its line; 0 for "max" or anything else.
uint64_t numberIn(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool whole = end == text.data() + text.size() || *end == '\n';
    return end != text.data() && error == std::errc() && whole ? value : 0;
}

// The value of the line "`key` N" of a memory.stat file; 0 when missing.
uint64_t statValue(std::string_view stat, std::string_view key) {
    while (!stat.empty()) {
        const size_t lineEnd = stat.find('\n');
        const std::string_view line = stat.substr(0, lineEnd);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == ' ')
            return numberIn(line.substr(key.size() + 1));
        stat.remove_prefix(lineEnd == std::string_view::npos ? stat.size() : lineEnd + 1);
    }
    return 0;
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

uint64_t smaller(uint64_t limit, uint64_t found) {
    return found == 0 ? limit : limit == 0 ? found : std::min(limit, found);
}

// The group folder and each of its ancestors up to `top`, deepest first.
template <typename Visit> void upFrom(const std::string& top, std::string_view path, Visit visit) {
    for (;;) {
        while (!path.empty() && path.back() == '/')
            path.remove_suffix(1);
        if (!visit(top + std::string(path)))
            return;
        if (path.empty())
            return;
        const size_t slash = path.rfind('/');
        path = path.substr(0, slash == std::string_view::npos ? 0 : slash);
    }
}

} // namespace

uint64_t cgroupMemoryLimit(std::string_view root, std::string_view selfCgroup) {
    uint64_t limit = 0;
    while (!selfCgroup.empty()) {
        const size_t lineEnd = selfCgroup.find('\n');
        const std::string_view entry = selfCgroup.substr(0, lineEnd);
        selfCgroup.remove_prefix(lineEnd == std::string_view::npos ? selfCgroup.size()
                                                                   : lineEnd + 1);
        // "hierarchy-id:controllers:path"
        const size_t first = entry.find(':');
        if (first == std::string_view::npos)
            continue;
        const size_t second = entry.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        const std::string_view controllers = entry.substr(first + 1, second - first - 1);
        const std::string_view path = entry.substr(second + 1);
        if (controllers.empty()) {
            // v2: a limit anywhere above the group holds it too.
            upFrom(std::string(root), path, [&limit](const std::string& folder) {
                limit = smaller(limit, numberIn(readSmallFile(folder + "/memory.max")));
                return true;
            });
        } else if (namesMemory(controllers)) {
            // v1: the group's hierarchical limit already folds in its ancestors. Where the
            // group's own folder is not mounted (a container sees its group as the root),
            // the nearest folder that is stands for it.
            upFrom(std::string(root) + "/memory", path, [&limit](const std::string& folder) {
                const std::string stat = readSmallFile(folder + "/memory.stat");
                if (stat.empty())
                    return true;
                limit = smaller(limit, statValue(stat, "hierarchical_memory_limit"));
                return false;
            });
        }
    }
    return limit;
}

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
    // The cgroup files are read into strings: memory too short for them leaves the limits
    // that need no heap.
    try {
        holdTo(cgroupMemoryLimit("/sys/fs/cgroup", readSmallFile("/proc/self/cgroup")));
    } catch (const std::bad_alloc&) {
    }
    struct rlimit addressSpace;
    if (::getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        holdTo(static_cast<uint64_t>(addressSpace.rlim_cur));
    return memory;
}

} // namespace platform
