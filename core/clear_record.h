// Plain records are cleared whole: padding included, so whole-byte comparisons hold.
#pragma once

#include <cstring>
#include <type_traits>

template <class T> void clearRecord(T& record) {
    static_assert(std::is_trivially_copyable_v<T>);
    std::memset(static_cast<void*>(&record), 0, sizeof(T));
}
