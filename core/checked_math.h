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
