#include "tests/support/run_program.h"

#include <cstring>
#include <thread>

#include <windows.h>

namespace {
constexpr DWORD kRunLimitMs = 120'000;

#ifdef PELC_BINARY
constexpr const char* kBinary = PELC_BINARY;
#else
constexpr const char* kBinary = "pelc.exe";
#endif

// One argument as the runtime's start-up code splits the command line back: quoted, with
// backslashes doubled only where they stand before a quote.
void appendQuoted(std::string& line, const std::string& argument) {
    line += '"';
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
}

struct Handle {
    HANDLE value = nullptr;
    ~Handle() {
        if (value != nullptr && value != INVALID_HANDLE_VALUE)
            CloseHandle(value);
    }
    void reset() {
        this->~Handle();
        value = nullptr;
    }
};

bool inheritablePipe(Handle& read, Handle& write) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read.value, &write.value, &inherit, 0))
        return false;
    return SetHandleInformation(read.value, HANDLE_FLAG_INHERIT, 0);
}

void readAll(HANDLE pipe, std::string& bytes) {
    char chunk[4096];
    DWORD got;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
}
} // namespace

const char* pelcBinary() { return kBinary; }

RunResult runPelc(const std::vector<std::string>& args, const std::string& workDir) {
    return runPelc(args, workDir, RunOptions{});
}

RunResult runPelc(const std::vector<std::string>& args, const std::string& workDir,
                  const RunOptions& options) {
    RunResult result;
    // Resource limits, other users, signals and CPU sets are the POSIX suite's.
    if (options.fileSizeLimit || options.addressSpaceLimit || options.userId ||
        options.interruptWhileWriting || options.interruptAfterLines || options.cpuCount) {
        result.exitCode = kRunSetupFailed;
        return result;
    }
    std::string line;
    appendQuoted(line, pelcBinary());
    for (const std::string& arg : args) {
        line += ' ';
        appendQuoted(line, arg);
    }
    Handle outRead, outWrite, errRead, errWrite, input;
    if (!inheritablePipe(outRead, outWrite) || !inheritablePipe(errRead, errWrite))
        return result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    input.value = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.value;
    startup.hStdOutput = outWrite.value;
    startup.hStdError = errWrite.value;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, workDir.c_str(),
                        &startup, &process)) {
        result.exitCode = 127;
        return result;
    }
    Handle child{process.hProcess};
    CloseHandle(process.hThread);
    outWrite.reset();
    errWrite.reset();
    // Both pipes drained while the child runs, so one that fills either cannot stall.
    std::thread output(readAll, outRead.value, std::ref(result.out));
    std::thread errors(readAll, errRead.value, std::ref(result.err));
    if (WaitForSingleObject(child.value, kRunLimitMs) != WAIT_OBJECT_0)
        TerminateProcess(child.value, 128 + 9);
    output.join();
    errors.join();
    DWORD code = 0;
    GetExitCodeProcess(child.value, &code);
    result.exitCode = static_cast<int>(code);
    return result;
}

std::string sjis(const Message& message) { return std::string(message.sjis); }

std::string consoleLine(std::string_view bytes) { return std::string(bytes) + "\r\n"; }

std::string pathLine(std::string_view path, const Message& message) {
    return consoleLine(std::string(path) + std::string(message.sjis));
}

std::vector<std::string> hiddenOutputs(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\.pelc-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}
