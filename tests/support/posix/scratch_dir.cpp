#include "tests/support/scratch_dir.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/unique_fd.h"

namespace {
int removeEntry(const char* path, const struct stat*, int, FTW*) { return remove(path); }
} // namespace

ScratchDir::ScratchDir() : ScratchDir(::testing::TempDir()) {}

ScratchDir::ScratchDir(const std::string& under) {
    std::string base = under;
    if (base.empty() || base.back() != '/')
        base += '/';
    std::string pattern = base + "pelc-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot create a scratch folder under " << base;
        return;
    }
    // The program sees its folder as getcwd reports it, with every symlink resolved.
    char resolved[PATH_MAX];
    path_ = realpath(pattern.c_str(), resolved) != nullptr ? resolved : pattern;
}

ScratchDir::~ScratchDir() {
    if (!path_.empty())
        nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string ScratchDir::file(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

std::string ScratchDir::write(std::string_view name, const std::vector<uint8_t>& bytes) const {
    return write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string ScratchDir::write(std::string_view name, std::string_view bytes) const {
    const std::string target = file(name);
    UniqueFd fd(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        ADD_FAILURE() << "cannot create " << target;
        return target;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            ADD_FAILURE() << "cannot write " << target;
            break;
        }
        done += static_cast<size_t>(put);
    }
    return target;
}

std::string ScratchDir::makeFolders(std::string_view relative) const {
    for (size_t end = 0; end <= relative.size(); ++end) {
        if (end < relative.size() && relative[end] != '/')
            continue;
        const std::string folder = file(relative.substr(0, end));
        if (end > 0 && relative[end - 1] != '/' && mkdir(folder.c_str(), 0755) != 0 &&
            errno != EEXIST)
            ADD_FAILURE() << "cannot create " << folder;
    }
    return file(relative);
}

std::string readFileBytes(const std::string& path) {
    std::string bytes;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        bytes.append(chunk, static_cast<size_t>(got));
    }
    return bytes;
}

bool pathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}
