// Whether bytes scattered over a file form one complete JPEG stream of a given size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace readers {

/// A run of bytes of a file: `count` bytes from `offset`.
struct FileBlock {
    uint64_t offset;
    uint64_t count;
};

/// True when the blocks of `fd`, read in order as one stream, are a JPEG of `width` x
/// `height` pixels: SOI first, a frame of that size, and entropy-coded data that libjpeg
/// reads up to EOI without a single corrupt-data warning. The stream reaches libjpeg in the
/// pieces its own file reader would cut the copied file into, so the check meets exactly the
/// warnings of a full decode of that file. All but the last row are entropy-decoded only (no
/// inverse DCT), so the check costs a fraction of decoding the page. Bytes after EOI are not
/// read. Moves the file position; prints nothing. False too when libjpeg runs out of memory,
/// which `outOfMemory` (when given) then tells apart.
bool isJpegOfSize(int fd, const FileBlock* blocks, size_t blockCount, uint32_t width,
                  uint32_t height, bool* outOfMemory = nullptr);

} // namespace readers
