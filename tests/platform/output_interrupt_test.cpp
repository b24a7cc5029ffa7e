// Interrupts that reach threads while they start outputs. The test binary is linked with
// --wrap=open, so a test can make the creation of hidden files slow enough for a signal to
// arrive in the middle of it.
#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"

using namespace std::chrono_literals;

namespace {
std::atomic<bool> slowHiddenCreates{false};
}

extern "C" int __real_open(const char* path, int flags, ...);

extern "C" int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (slowHiddenCreates.load() && (flags & O_CREAT) != 0 && std::strstr(path, "/.pelc-"))
        std::this_thread::sleep_for(300ms);
    return __real_open(path, flags, mode);
}

namespace {

// Waits up to `limit` for `child` to end; kills it when it has not.
bool endsWithin(pid_t child, std::chrono::milliseconds limit, int& status) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return false;
}

} // namespace

// Each thread is signalled while it creates its hidden file: neither handler may wait for the
// other, and both files go.
TEST(OutputInterrupts, SignalsOnTwoThreadsStartingOutputsEndTheRunAndLeaveNothing) {
    ScratchDir dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::removeOutputsOnInterrupt();
        slowHiddenCreates = true;
        auto startOutput = [&](const char* name) {
            return std::thread([path = dir.file(name)] {
                platform::OutputFile file(path.c_str());
                std::this_thread::sleep_for(10s);
            });
        };
        std::thread first = startOutput("a.jpg");
        std::thread second = startOutput("b.jpg");
        std::this_thread::sleep_for(100ms);
        pthread_kill(first.native_handle(), SIGINT);
        std::this_thread::sleep_for(50ms);
        pthread_kill(second.native_handle(), SIGTERM);
        std::this_thread::sleep_for(10s);
        _exit(0);
    }
    int status = 0;
    ASSERT_TRUE(endsWithin(child, 5s, status)) << "the interrupt handlers hung";
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_TRUE(WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGTERM) << WTERMSIG(status);
    EXPECT_EQ(hiddenOutputs(dir.path()), std::vector<std::string>());
}
