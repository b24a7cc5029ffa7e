#include "platform/file_io.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace platform {
namespace {

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

ssize_t readOnce(int fd, void* buffer, size_t count) {
    return _read(fd, buffer, static_cast<unsigned>(std::min(count, kMaxTransferBytes)));
}

ssize_t writeOnce(int fd, const void* buffer, size_t count) {
    return _write(fd, buffer, static_cast<unsigned>(std::min(count, kMaxTransferBytes)));
}

int64_t fileSize(int fd) { return _filelengthi64(fd); }

} // namespace platform
