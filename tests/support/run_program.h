// Whole-program runs for tests: start the built pelc with arguments in a folder of the
// test's own and capture exactly the bytes it writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/messages.h"

struct RunResult {
    std::string out;   // stdout bytes, as written (a pipe: texts are Shift-JIS)
    std::string err;   // stderr bytes
    int exitCode = -1; // exit status; 128 + signal number when the process was killed
};

/// What the child's environment lacks, for runs that meet a faulty system on purpose.
struct RunOptions {
    /// RLIMIT_FSIZE in bytes (`ulimit -f`): a disk that fills. The child starts with
    /// SIGXFSZ's default action, which would end it at the first write past the limit.
    std::optional<uint64_t> fileSizeLimit;
    /// RLIMIT_AS in bytes: memory that runs out. Meaningless under AddressSanitizer, whose
    /// shadow memory alone exceeds any small limit.
    std::optional<uint64_t> addressSpaceLimit;
    /// The cgroup.procs file of a cgroup the child moves into before pelc starts: memory that
    /// a cgroup's limit holds, which pelc must see.
    std::optional<std::string> cgroupProcs;
    /// User and group id the child runs as (root only): a read-only folder then really is
    /// one, since root writes into it regardless. The child starts a copy of pelc that any
    /// user can reach; `workDir` must be reachable by that user too.
    std::optional<uint32_t> userId;
    /// A signal sent to the run as soon as it writes an output in the run's folder (a hidden
    /// ".pelc-..." file, or one without a name yet), that is while a page is being written;
    /// the child starts with its default action, as a user's Ctrl-C would find it.
    std::optional<int> interruptWhileWriting;
    /// A signal sent to the run once its stdout holds some lines.
    struct LinesThenSignal {
        size_t lines;
        int signalNumber;
    };
    std::optional<LinesThenSignal> interruptAfterLines;
    /// Runs the child on only this many of the CPUs the test may use (as `taskset` would).
    std::optional<unsigned> cpuCount;
    /// The program started instead of the built pelc (e.g. an instrumented copy of it).
    std::string program;
    /// "NAME=value" entries added to the child's environment, which otherwise has the POSIX
    /// locale (LC_ALL=POSIX).
    std::vector<std::string> environment;
};

/// Exit code of a child that could not apply its RunOptions (it never ran pelc).
inline constexpr int kRunSetupFailed = 125;

/// Path of the built pelc binary.
const char* pelcBinary();

/// Runs pelc with `args` (argv[1]...; no shell, so bytes pass unchanged, empty ones too) in
/// the folder `workDir`, stdin from /dev/null. A run that has not ended after two minutes is
/// killed and reported with exit code 128 + SIGKILL.
RunResult runPelc(const std::vector<std::string>& args, const std::string& workDir);
/// As above, in the environment `options` describes; exit code kRunSetupFailed when it
/// cannot be made, 126 when `workDir` cannot be entered, 127 when pelc cannot be started.
RunResult runPelc(const std::vector<std::string>& args, const std::string& workDir,
                  const RunOptions& options);

/// The bytes a message shows on a pipe: its Shift-JIS form.
std::string sjis(const Message& message);
/// One console line as pelc writes it on a pipe: the bytes and "\n" (Windows: "\r\n").
std::string consoleLine(std::string_view bytes);
/// A "%s ..." message line: the path's bytes, then the message's Shift-JIS text.
std::string pathLine(std::string_view path, const Message& message);
/// Whether this program runs under AddressSanitizer or ThreadSanitizer, whose shadow memory
/// no address-space limit can hold.
bool sanitized();
/// How many times `piece` occurs in `text`, overlapping occurrences included.
inline size_t countOf(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}
/// Names in `folder` of hidden outputs (".pelc-..."), which no run may leave behind.
std::vector<std::string> hiddenOutputs(const std::string& folder);
