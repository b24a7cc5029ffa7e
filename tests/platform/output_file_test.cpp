// Outputs by either way a file reaches its name: unnamed until linked (O_TMPFILE), or hidden
// until renamed, for file systems without unnamed files. The test binary is linked with
// --wrap=open and --wrap=rename, so a test can take unnamed files away and make a rename
// hang as on a stalled network folder.
#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"

using namespace std::chrono_literals;

namespace {
std::atomic<bool> noUnnamedFiles{false};
std::atomic<bool> renamesHang{false};
std::atomic<bool> renameHanging{false};
} // namespace

extern "C" int __real_open(const char* path, int flags, ...);
extern "C" int __real_rename(const char* from, const char* to);

extern "C" int __wrap_open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (noUnnamedFiles.load() && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return __real_open(path, flags, mode);
}

extern "C" int __wrap_rename(const char* from, const char* to) {
    if (renamesHang.load()) {
        renameHanging = true;
        std::this_thread::sleep_for(60s);
    }
    return __real_rename(from, to);
}

namespace {

mode_t modeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

bool writeAndPlace(const std::string& path, const std::string& bytes) {
    platform::OutputFile file(path.c_str());
    return file.open() && file.write(bytes.data(), bytes.size()) && file.finish() &&
           file.putInPlace();
}

} // namespace

TEST(OutputFiles, EitherWayANameHoldsItsEarlierBytesOrTheWholeNewFile) {
    const mode_t mask = umask(022);
    umask(mask);
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed until linked" : "hidden until renamed");
        noUnnamedFiles = !unnamed;
        ScratchDir dir;
        const std::string kept = dir.write("kept.jpg", "earlier");
        const std::string replaced = dir.write("replaced.jpg", "earlier");
        ASSERT_EQ(chmod(replaced.c_str(), 0640), 0);
        ASSERT_EQ(symlink(kept.c_str(), dir.file("link.jpg").c_str()), 0);
        {
            // Dropped before it was finished, and finished but never put in place.
            platform::OutputFile dropped(kept.c_str());
            ASSERT_TRUE(dropped.open());
            ASSERT_TRUE(dropped.write("cut", 3));
            EXPECT_EQ(hiddenOutputs(dir.path()).size(), unnamed ? 0u : 1u);
            const std::string fresh = dir.file("new.jpg");
            platform::OutputFile waiting(fresh.c_str());
            ASSERT_TRUE(waiting.open() && waiting.write("x", 1) && waiting.finish());
            EXPECT_FALSE(pathExists(dir.file("new.jpg")));
        }
        EXPECT_FALSE(pathExists(dir.file("new.jpg")));
        EXPECT_TRUE(writeAndPlace(replaced, "new page"));
        EXPECT_TRUE(writeAndPlace(dir.file("fresh.jpg"), "fresh page"));
        EXPECT_TRUE(writeAndPlace(dir.file("link.jpg"), "not through"));
        EXPECT_EQ(readFileBytes(kept), "earlier");
        EXPECT_EQ(readFileBytes(replaced), "new page");
        EXPECT_EQ(modeOf(replaced) & 07777, 0640u);
        EXPECT_EQ(modeOf(dir.file("fresh.jpg")) & 07777, 0666u & ~mask);
        EXPECT_TRUE(S_ISREG(modeOf(dir.file("link.jpg"))));
        EXPECT_EQ(hiddenOutputs(dir.path()), std::vector<std::string>());
    }
    noUnnamedFiles = false;
}

// An interrupt while a hidden file is being renamed on a folder that no longer answers: the
// run ends by the signal within the bounded wait, and the hidden name goes all the same.
TEST(OutputFiles, AnInterruptAbandonsAnOutputStuckInASystemCall) {
    ScratchDir dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::handleInterrupts();
        noUnnamedFiles = true;
        renamesHang = true;
        std::thread stuck([path = dir.file("a.jpg")] { writeAndPlace(path, "page"); });
        while (!renameHanging.load())
            std::this_thread::sleep_for(1ms);
        kill(getpid(), SIGINT);
        stuck.join();
        _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the interrupt waited for the stuck rename";
        }
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_EQ(hiddenOutputs(dir.path()), std::vector<std::string>());
    EXPECT_FALSE(pathExists(dir.file("a.jpg")));
}
