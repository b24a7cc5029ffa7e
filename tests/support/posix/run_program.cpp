#include "tests/support/run_program.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/unique_fd.h"
#include "tests/support/scratch_dir.h"

namespace {
constexpr int kRunLimitMs = 120'000;

#ifdef PELC_BINARY
constexpr const char* kBinary = PELC_BINARY;
#else
constexpr const char* kBinary = "pelc";
#endif

// Another user may not reach the build folder (a clone in a folder only its owner may
// enter, such as root's home): runs as that user start a copy of pelc in a folder open to
// all, made once per test program. Empty when none could be made.
const std::string& pelcReachableByAll() {
    static const ScratchDir folder;
    static const std::string copy = [] {
        const std::string path = folder.file("pelc");
        const std::string bytes = readFileBytes(kBinary);
        if (bytes.empty() || chmod(folder.path().c_str(), 0755) != 0)
            return std::string();
        folder.write("pelc", bytes);
        if (chmod(path.c_str(), 0755) != 0)
            return std::string();
        return path;
    }();
    return copy;
}

// Drains both pipes together, so a child that fills one while we wait on the other cannot
// stall; `watch`, when given, is called at least every millisecond. Returns false when
// the time limit passed first.
bool drain(int outFd, int errFd, std::string& out, std::string& err,
           const std::function<void()>& watch) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    int waitedMs = 0;
    const int stepMs = watch ? 1 : 500;
    while (open > 0) {
        if (watch)
            watch();
        const int ready = poll(fds, 2, stepMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (ready == 0) {
            waitedMs += stepMs;
            if (waitedMs >= kRunLimitMs)
                return false;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char chunk[4096];
            const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

// The first `count` CPUs of `allowed`.
cpu_set_t firstCpus(const cpu_set_t& allowed, unsigned count) {
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    for (int cpu = 0; cpu < CPU_SETSIZE && count > 0; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &chosen);
            --count;
        }
    }
    return chosen;
}

// Runs in the child between fork and exec: system calls only.
// Whether `child` has a file open that has no name yet in `folder` (an O_TMPFILE file reads
// back as "folder/#inode (deleted)").
bool writesUnnamed(pid_t child, const std::string& folder) {
    const std::string fds = "/proc/" + std::to_string(child) + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (dir == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        char target[PATH_MAX];
        const ssize_t length =
            readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        const std::string_view link(target, static_cast<size_t>(length));
        found = found || (link.starts_with(folder + "/#") && link.ends_with(" (deleted)"));
    }
    closedir(dir);
    return found;
}

bool applyOptions(const RunOptions& options, const cpu_set_t* cpus) {
    if (cpus != nullptr && sched_setaffinity(0, sizeof *cpus, cpus) != 0)
        return false;
    if (options.fileSizeLimit) {
        const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
        if (signal(SIGXFSZ, SIG_DFL) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return false;
    }
    if (options.addressSpaceLimit) {
        const rlimit limit{*options.addressSpaceLimit, *options.addressSpaceLimit};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            return false;
    }
    if (options.cgroupProcs) {
        // "0" is the writing process itself.
        const int procs = open(options.cgroupProcs->c_str(), O_WRONLY | O_CLOEXEC);
        const bool moved = procs >= 0 && write(procs, "0", 1) == 1;
        if (procs >= 0)
            close(procs);
        if (!moved)
            return false;
    }
    if (options.interruptWhileWriting && signal(*options.interruptWhileWriting, SIG_DFL) == SIG_ERR)
        return false;
    if (options.interruptAfterLines && options.interruptAfterLines->signalNumber != SIGKILL &&
        signal(options.interruptAfterLines->signalNumber, SIG_DFL) == SIG_ERR)
        return false;
    if (options.userId) {
        // Groups first: once the user id is given up, they can no longer be changed.
        const auto id = static_cast<uid_t>(*options.userId);
        if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(id)) != 0 || setuid(id) != 0)
            return false;
    }
    return true;
}
} // namespace

const char* pelcBinary() { return kBinary; }

RunResult runPelc(const std::vector<std::string>& args, const std::string& workDir) {
    return runPelc(args, workDir, RunOptions{});
}

RunResult runPelc(const std::vector<std::string>& args, const std::string& workDir,
                  const RunOptions& options) {
    RunResult result;
    const std::string binary = !options.program.empty() ? options.program
                               : options.userId         ? pelcReachableByAll()
                                                        : std::string(pelcBinary());
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The environment is built before the fork: the child may only make system calls.
    // The first entry of a name wins, so the options' locale overrides the POSIX one every
    // run starts in whatever the tester's own.
    std::vector<char*> envp;
    for (const std::string& entry : options.environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    static char posixLocale[] = "LC_ALL=POSIX";
    envp.push_back(posixLocale);
    for (char** entry = environ; *entry != nullptr; ++entry)
        envp.push_back(*entry);
    envp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]);
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    UniqueFd errRead(errPipe[0]), errWrite(errPipe[1]);
    UniqueFd devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!devNull.valid())
        return result;

    // Chosen before the fork: the child may only make system calls.
    cpu_set_t cpus;
    const bool pinned = options.cpuCount.has_value();
    if (pinned) {
        cpu_set_t allowed;
        if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
            return result;
        cpus = firstCpus(allowed, *options.cpuCount);
    }

    const pid_t child = fork();
    if (child < 0)
        return result;
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (!applyOptions(options, pinned ? &cpus : nullptr))
            _exit(kRunSetupFailed);
        if (chdir(workDir.c_str()) != 0 || dup2(devNull.get(), STDIN_FILENO) < 0 ||
            dup2(outWrite.get(), STDOUT_FILENO) < 0 || dup2(errWrite.get(), STDERR_FILENO) < 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    outWrite.reset();
    errWrite.reset();
    std::function<void()> watch;
    bool interrupted = false;
    if (options.interruptWhileWriting)
        watch = [&] {
            if (!interrupted && (!hiddenOutputs(workDir).empty() || writesUnnamed(child, workDir)))
                interrupted = kill(child, *options.interruptWhileWriting) == 0;
        };
    if (options.interruptAfterLines)
        watch = [&] {
            const auto [lines, signalNumber] = *options.interruptAfterLines;
            const auto printed =
                static_cast<size_t>(std::count(result.out.begin(), result.out.end(), '\n'));
            if (!interrupted && printed >= lines)
                interrupted = kill(child, signalNumber) == 0;
        };
    const bool finished = drain(outRead.get(), errRead.get(), result.out, result.err, watch);
    if (!finished)
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitCode = 128 + WTERMSIG(status);
    return result;
}

std::string sjis(const Message& message) { return std::string(message.sjis); }

std::string consoleLine(std::string_view bytes) { return std::string(bytes) + "\n"; }

std::string pathLine(std::string_view path, const Message& message) {
    return std::string(path) + std::string(message.sjis) + "\n";
}

std::vector<std::string> hiddenOutputs(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = readdir(dir))
        if (std::strncmp(entry->d_name, ".pelc-", 6) == 0)
            names.push_back(entry->d_name);
    closedir(dir);
    return names;
}

bool sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    return false;
}
