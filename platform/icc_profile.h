// What a JPEG may carry of a page's ICC profile: the profile's header alone decides.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

/// A page's ICC profile as it was stored (not owned); null or empty for none.
struct IccProfile {
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
};

/// Larger profiles are dropped: no scanner or editor writes one, and each would add as
/// many bytes to every page written.
inline constexpr uint32_t kMaxIccProfileBytes = 4 * 1024 * 1024;

/// The data colour space of a profile a JPEG can carry; Unusable for anything else.
enum class ProfileColours { Unusable, Rgb, Grey };

/// Rgb or Grey for a well-formed profile of that data colour space ('RGB ' or 'GRAY' at
/// offset 16). Unusable when `bytes` is null, shorter than the 128-byte header or longer
/// than kMaxIccProfileBytes, without the 'acsp' signature at offset 36, with a size field
/// (bytes 0-3, big-endian) larger than `size`, or of any other colour space.
ProfileColours iccProfileColours(const uint8_t* bytes, size_t size);

} // namespace platform
