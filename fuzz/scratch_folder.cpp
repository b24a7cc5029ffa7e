#include "fuzz/scratch_folder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/file_io.h"

namespace fuzz {

namespace {

bool usable(const char* folder) {
    return folder != nullptr && *folder != '\0' && access(folder, W_OK | X_OK) == 0;
}

// Every input is written to disk once, and some file systems flush a truncated and
// rewritten file at close: a memory-backed folder keeps the fuzzer's pace independent of
// the disk and of whatever else the machine is writing.
std::string scratchBase() {
    if (const char* chosen = std::getenv("PELC_FUZZ_SCRATCH"); usable(chosen))
        return chosen;
    if (usable("/dev/shm"))
        return "/dev/shm";
    if (const char* temporary = std::getenv("TMPDIR"); usable(temporary))
        return temporary;
    return "/tmp";
}

} // namespace

ScratchFolder::ScratchFolder() {
    std::string pattern = scratchBase() + "/pelc-fuzz.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("pelc fuzz: mkdtemp");
        std::abort();
    }
    folder = pattern;
}

ScratchFolder::~ScratchFolder() {
    removeAllBut(nullptr);
    rmdir(folder.c_str());
}

std::string ScratchFolder::path(const char* name) const { return folder + "/" + name; }

void ScratchFolder::writeFile(const char* name, const uint8_t* data, size_t size) const {
    const std::string target = path(name);
    UniqueFd fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid() || !platform::writeFully(fd.get(), data, size)) {
        std::perror("pelc fuzz: writing the input");
        std::abort();
    }
}

void ScratchFolder::forEachEntry(const std::function<void(const char*)>& visit) const {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            visit(entry->d_name);
    }
    closedir(dir);
}

void ScratchFolder::removeAllBut(const char* keep) const {
    forEachEntry([&](const char* name) {
        // Outputs are plain files; a folder here would be a fault worth seeing, not hiding.
        if (keep == nullptr || std::strcmp(name, keep) != 0)
            unlink(path(name).c_str());
    });
}

void silenceStandardOutput() {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    std::fflush(stdout);
    dup2(null, STDOUT_FILENO);
    ::close(null);
}

ScratchFolder& scratch() {
    static ScratchFolder folder;
    return folder;
}

} // namespace fuzz
