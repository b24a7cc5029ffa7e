#include "platform/icc_profile.h"

#include <cstring>

namespace platform {

namespace {
constexpr size_t kHeaderBytes = 128;
constexpr size_t kColourSpaceAt = 16;
constexpr size_t kSignatureAt = 36;
} // namespace

ProfileColours iccProfileColours(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size < kHeaderBytes || size > kMaxIccProfileBytes ||
        std::memcmp(bytes + kSignatureAt, "acsp", 4) != 0)
        return ProfileColours::Unusable;
    const uint32_t declared = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
                              uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]);
    if (declared > size)
        return ProfileColours::Unusable;
    if (std::memcmp(bytes + kColourSpaceAt, "RGB ", 4) == 0)
        return ProfileColours::Rgb;
    if (std::memcmp(bytes + kColourSpaceAt, "GRAY", 4) == 0)
        return ProfileColours::Grey;
    return ProfileColours::Unusable;
}

} // namespace platform
