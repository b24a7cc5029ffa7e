// Arithmetic on sizes that come from files: every product is checked, never wrapped.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>

template <std::unsigned_integral T> [[nodiscard]] constexpr std::optional<T> checkedMul(T a, T b) {
    T result;
    if (__builtin_mul_overflow(a, b, &result))
        return std::nullopt;
    return result;
}

/// True when [offset, offset + length) lies inside a file of `fileSize` bytes.
[[nodiscard]] constexpr bool rangeInside(uint64_t offset, uint64_t length, uint64_t fileSize) {
    return offset <= fileSize && length <= fileSize - offset;
}

/// Bytes of one bitmap row of `width` pixels at `depth` bits, padded to 4 bytes, in 64 bits.
[[nodiscard]] constexpr uint64_t paddedRowBytes(uint64_t width, uint64_t depth) {
    return (width * depth + 31) / 32 * 4;
}
