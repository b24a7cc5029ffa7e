#include "platform/file_io.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool closeDescriptor(int fd) { return ::close(fd) == 0; }

UniqueFd openInputFile(const char* path) {
    if (path == nullptr || path[0] == '\0')
        return UniqueFd();
    // Non-blocking, so that opening a FIFO cannot wait for a writer.
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return fd;
    struct stat info;
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return UniqueFd();
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int64_t seekTo(int fd, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return -1;
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
}

ssize_t readOnce(int fd, void* buffer, size_t count) {
    return ::read(fd, buffer, std::min(count, kMaxTransferBytes));
}

ssize_t writeOnce(int fd, const void* buffer, size_t count) {
    return ::write(fd, buffer, std::min(count, kMaxTransferBytes));
}

int64_t fileSize(int fd) {
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return -1;
    return info.st_size;
}

} // namespace platform
