// Letter case of ASCII text, independent of the locale: the program's names are bytes, and
// Shift-JIS bytes must never be folded.
#pragma once

#include <string_view>

/// True when `a` and `b` are equal but for the case of the ASCII letters A-Z.
inline bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}
