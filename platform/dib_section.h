// Stands in for CreateDIBSection / DeleteObject: pixel memory of a bitmap, owned through
// its handle and freed when the handle is deleted.
#pragma once

#include <concepts>
#include <cstdint>
#include <type_traits>

#include "platform/device_context.h"
#include "platform/global_memory.h"

struct DibSectionBlock;
using DibSection = DibSectionBlock*;

/// Bytes of one bitmap row of `width` pixels at `depth` bits, padded to 4 bytes: in 64 bits
/// unless the caller asks for the 32-bit arithmetic (wrapping) of the record it fills.
template <std::unsigned_integral T = uint64_t>
[[nodiscard]] constexpr T paddedRowBytes(std::type_identity_t<T> width,
                                         std::type_identity_t<T> depth) {
    return (width * depth + 31) / 32 * 4;
}

namespace platform {
/// Allocates `imageSize` bytes of pixel memory (contents unspecified), with
/// kBlockRoomBeforePixels bytes free in front of them, and stores their address in
/// `*pixels`. Null when `context` is null, `imageSize` is 0 or memory runs out.
DibSection createDibSection(DeviceContext context, uint32_t imageSize, uint8_t** pixels);
/// Frees the section and its memory; null is ignored.
void deleteDibSection(DibSection section);
} // namespace platform
