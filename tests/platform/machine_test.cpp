#include "platform/machine.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/run_program.h"

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
