// Low-level binary file access (the runtime library's _open, _read, _write, _lseeki64,
// _close): EINTR and short transfers handled, descriptors close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "platform/unique_fd.h"

namespace platform {
/// Opens an input read-only. Only regular files are opened (so a FIFO or device cannot
/// hang the run); anything else gives an invalid descriptor.
UniqueFd openInputFile(const char* path);
/// Seeks from the start of the file; returns the new position, or -1.
int64_t seekTo(int fd, uint64_t offset);
/// Reads up to `count` bytes, retrying short reads until end of file. Returns the bytes
/// read (less than `count` only at end of file), or -1 on an error.
ssize_t readFully(int fd, void* buffer, size_t count);
/// Writes all `count` bytes; false on any failure.
bool writeFully(int fd, const void* buffer, size_t count);
/// Size of the open file in bytes, or -1.
int64_t fileSize(int fd);

/// One call of the system's read or write, of at most kMaxTransferBytes (Windows counts in
/// int): the bytes moved, or -1 with errno set. readFully and writeFully loop over them.
inline constexpr size_t kMaxTransferBytes = size_t{1} << 30;
ssize_t readOnce(int fd, void* buffer, size_t count);
ssize_t writeOnce(int fd, const void* buffer, size_t count);
} // namespace platform
