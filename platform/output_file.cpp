#include "platform/output_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_CLOEXEC;

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A fresh name in the output's folder; O_EXCL makes a name taken meanwhile a retry,
// and the creation mode gets the umask applied as for any new file.
int createHidden(const std::string& folder, std::string& name) {
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char leaf[48];
        std::snprintf(leaf, sizeof leaf, "/.pelc-%ld-%u", static_cast<long>(::getpid()), serial++);
        name = folder + leaf;
        const int fd = ::open(name.c_str(), kCreateFlags | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

OutputFile::OutputFile(const char* path) : finalPath_(path != nullptr ? path : "") {
    if (finalPath_.empty())
        return;
    struct stat info;
    if (::lstat(finalPath_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        fd_ = ::open(finalPath_.c_str(), kCreateFlags | O_TRUNC, 0666);
        return;
    }
    std::string name;
    fd_ = createHidden(folderOf(finalPath_), name);
    if (fd_ >= 0)
        tempPath_ = name;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_ && !tempPath_.empty())
        ::unlink(tempPath_.c_str());
}

int OutputFile::releaseDescriptor() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool OutputFile::commit() {
    if (tempPath_.empty())
        return true; // written in place
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
        return false;
    committed_ = true;
    return true;
}

} // namespace platform
