// The POSIX section: one heap block whose pixels start after room for a bitmap header, so
// that the packed bitmap can be made around them (globalAllocAround) instead of copied.
#pragma once

#include <cstddef>
#include <cstdint>

struct DibSectionBlock {
    uint8_t* memory;     // the heap block: header room, then the pixels
    uint32_t imageSize;  // bytes of pixels
};

namespace platform {
/// Bytes kept free in front of a section's pixels: the 40-byte header of a packed bitmap.
inline constexpr size_t kSectionHeaderRoom = 40;
} // namespace platform
