// Letter case of ASCII text, independent of the locale: the program's names are bytes, and
// Shift-JIS bytes must never be folded.
#pragma once

/// True when `a` and `b` are equal but for the case of the ASCII letters A-Z.
inline bool equalIgnoringAsciiCase(const char* a, const char* b) {
    const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (;; ++a, ++b) {
        if (lower(static_cast<unsigned char>(*a)) != lower(static_cast<unsigned char>(*b)))
            return false;
        if (*a == '\0')
            return true;
    }
}
