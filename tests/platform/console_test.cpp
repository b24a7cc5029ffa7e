#include "platform/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/unique_fd.h"

namespace {
// The console is process-wide (signal disposition, stdout), so each case runs in a child
// whose stdout is `output` and whose locale comes from LC_ALL = `locale`. The child's exit
// status is what `body` returns; a child killed by a signal reports 128 + the signal.
int runInChild(int output, const char* locale, const std::function<int()>& body) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // Undo what the test runner may have set, so the child starts as pelc does.
        std::signal(SIGPIPE, SIG_DFL);
        if (dup2(output, STDOUT_FILENO) < 0)
            _exit(120);
        setenv("LC_ALL", locale, 1);
        _exit(body());
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

std::string readAll(int fd) {
    std::string bytes;
    char chunk[256];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, static_cast<size_t>(got));
    return bytes;
}

struct Pipe {
    UniqueFd read, write;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            read.reset(fds[0]);
            write.reset(fds[1]);
        }
    }
};

int showsUtf8Status() {
    platform::initConsole();
    return platform::consoleShowsUtf8() ? 1 : 0;
}
} // namespace

TEST(Console, EveryLineEndsWithANewlineAndReachesThePipeAtOnce) {
    Pipe pipe;
    ASSERT_TRUE(pipe.write.valid());
    const int status = runInChild(pipe.write.get(), "C", [] {
        platform::initConsole();
        platform::writeOutputLine("first");
        platform::writeOutputLine("");
        platform::writeOutputLine(std::string_view("\x8a"
                                                   "J\x8en",
                                                   4));
        // _exit skips stdio's final flush: only what each call flushed arrives.
        return 0;
    });
    pipe.write.reset();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readAll(pipe.read.get()), std::string("first\n\n\x8a"
                                                    "J\x8en\n"));
}

TEST(Console, ErrorLinesGoToStandardError) {
    Pipe out;
    Pipe err;
    ASSERT_TRUE(out.write.valid() && err.write.valid());
    const int errFd = err.write.get();
    const int status = runInChild(out.write.get(), "C", [errFd] {
        if (dup2(errFd, STDERR_FILENO) < 0)
            return 121;
        platform::initConsole();
        platform::writeErrorLine("failure");
        return 0;
    });
    out.write.reset();
    err.write.reset();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readAll(out.read.get()), "");
    EXPECT_EQ(readAll(err.read.get()), "failure\n");
}

TEST(Console, AClosedReaderDoesNotStopTheRun) {
    Pipe pipe;
    ASSERT_TRUE(pipe.write.valid());
    pipe.read.reset(); // nobody will ever read: every write fails with EPIPE
    const int status = runInChild(pipe.write.get(), "C", [] {
        platform::initConsole();
        for (int i = 0; i < 100; ++i)
            platform::writeOutputLine("line nobody reads");
        return 7; // reached only when no write killed the process
    });
    EXPECT_EQ(status, 7);
}

TEST(Console, TextsAreUtf8ExactlyWhenTheLocalesCharacterSetIs) {
    int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    UniqueFd master(terminal);
    ASSERT_EQ(grantpt(master.get()), 0);
    ASSERT_EQ(unlockpt(master.get()), 0);
    UniqueFd secondary(open(ptsname(master.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(secondary.valid());
    Pipe pipe;
    ASSERT_TRUE(pipe.write.valid());

    const struct {
        const char* name;
        int output;
        const char* locale;
        int showsUtf8;
    } cases[] = {
        {"UTF-8 terminal", secondary.get(), "C.UTF-8", 1},
        {"terminal in the C locale", secondary.get(), "C", 0},
        {"pipe with a UTF-8 locale", pipe.write.get(), "C.UTF-8", 1},
        {"pipe in the POSIX locale", pipe.write.get(), "POSIX", 0},
        {"terminal with an unknown locale", secondary.get(), "xx_NOWHERE.UTF-8", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runInChild(c.output, c.locale, showsUtf8Status), c.showsUtf8);
    }
}
