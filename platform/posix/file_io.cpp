#include "platform/file_io.h"

#include <cerrno>
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

ssize_t readFully(int fd, void* buffer, size_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool writeFully(int fd, const void* buffer, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int64_t fileSize(int fd) {
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return -1;
    return info.st_size;
}

} // namespace platform
