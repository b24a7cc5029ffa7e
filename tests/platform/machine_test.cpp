#include "platform/machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"

// A process held to less address space than the machine has is told so: the pages it runs
// side by side must fit what it may take, not the machine.
TEST(Machine, UsableMemoryIsHeldToTheAddressSpaceLimit) {
    const uint64_t unlimited = platform::usableMemoryBytes();
    EXPECT_GT(unlimited, uint64_t{1} << 20);
    if (sanitized())
        GTEST_SKIP() << "an address-space limit cannot hold a sanitized process";
    constexpr uint64_t kLimit = uint64_t{1} << 30;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = kLimit;
        const bool held = setrlimit(RLIMIT_AS, &limit) == 0;
        const uint64_t usable = platform::usableMemoryBytes();
        _exit(held && usable > 0 && usable <= kLimit ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A fake cgroup tree: the limits of the groups above the process hold it as much as its
// own; "max" and missing files hold nothing.
TEST(Machine, TheCgroupLimitIsTheSmallestOnThePathToTheRoot) {
    ScratchDir dir;
    const std::string root = dir.path();
    auto place = [&root](const std::string& file, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(root + file).parent_path());
        std::ofstream(root + file) << text;
    };
    place("/memory.max", "max\n");
    place("/user/memory.max", "60000000\n");
    place("/user/session/memory.max", "max\n");
    place("/user/session/app/memory.max", "80000000\n");
    place("/small/memory.max", "30000000\n");
    place("/memory/job/memory.stat", "cache 0\nhierarchical_memory_limit 50000000\nrss 1\n");
    place("/memory/memory.stat", "hierarchical_memory_limit 9223372036854771712\n");
    place("/broken/memory.max", "12abc\n");
    const struct {
        const char* what;
        const char* selfCgroup;
        uint64_t limit;
    } cases[] = {
        {"v2, a parent's limit below the group's own", "0::/user/session/app\n", 60000000},
        {"v2, no limit on the path", "0::/\n", 0},
        {"v2, a group not in the tree", "0::/elsewhere/app\n", 0},
        {"v2, a number with trailing junk", "0::/broken\n", 0},
        {"v1, the hierarchical limit", "4:memory:/job\n1:cpu:/\n", 50000000},
        {"v1, the group not mounted: the nearest folder that is", "4:memory:/host/id\n",
         9223372036854771712u},
        {"v1 beside v2: the smaller", "4:cpu,memory:/job\n0::/small\n", 30000000},
        {"v1 without the memory controller", "3:cpu:/job\n", 0},
        {"no newline at the end, junk lines", "junk\n0::/small", 30000000},
        {"nothing", "", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::cgroupMemoryLimit(root, c.selfCgroup), c.limit) << c.what;
}
