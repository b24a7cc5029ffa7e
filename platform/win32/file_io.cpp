#include "platform/file_io.h"

#include <climits>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace platform {
namespace {
// _read and _write take and return int counts: large transfers go in pieces.
constexpr size_t kMaxChunk = 1u << 30;

// A disk file, as opposed to a console, printer, serial port or pipe opened under a device
// name, whose reads could wait for a person or another program.
bool isDiskFile(int fd) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}
} // namespace

bool closeDescriptor(int fd) { return _close(fd) == 0; }

UniqueFd openInputFile(const char* path) {
    if (path == nullptr || path[0] == '\0')
        return UniqueFd();
    UniqueFd fd(_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    if (fd.valid() && !isDiskFile(fd.get()))
        return UniqueFd();
    return fd;
}

int64_t seekTo(int fd, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return -1;
    return _lseeki64(fd, static_cast<int64_t>(offset), SEEK_SET);
}

ssize_t readFully(int fd, void* buffer, size_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t want = count - done < kMaxChunk ? count - done : kMaxChunk;
        const int n = _read(fd, bytes + done, static_cast<unsigned>(want));
        if (n < 0)
            return -1;
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
        const size_t want = count - done < kMaxChunk ? count - done : kMaxChunk;
        const int n = _write(fd, bytes + done, static_cast<unsigned>(want));
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int64_t fileSize(int fd) { return _filelengthi64(fd); }

} // namespace platform
