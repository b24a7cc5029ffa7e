#include "platform/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

mode_t creationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

OutputFile::OutputFile(const char* path) : finalPath_(path != nullptr ? path : "") {
    struct stat info;
    if (finalPath_.empty() || (::lstat(finalPath_.c_str(), &info) == 0 && !S_ISREG(info.st_mode))) {
        inPlace_ = true;
        return;
    }
    std::string pattern = folderOf(finalPath_) + "/.pelc-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return;
    ::fchmod(fd, creationMode());
    ::close(fd);
    tempPath_ = pattern;
}

OutputFile::~OutputFile() {
    if (!committed_ && !tempPath_.empty())
        ::unlink(tempPath_.c_str());
}

const char* OutputFile::writePath() const {
    if (inPlace_)
        return finalPath_.c_str();
    return tempPath_.empty() ? nullptr : tempPath_.c_str();
}

bool OutputFile::commit() {
    if (inPlace_)
        return true;
    if (tempPath_.empty() || ::rename(tempPath_.c_str(), finalPath_.c_str()) != 0)
        return false;
    committed_ = true;
    return true;
}

} // namespace platform
