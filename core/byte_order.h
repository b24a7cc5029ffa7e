// Numbers built from bytes: independent of host order and alignment.
#pragma once

#include <cstdint>

inline uint16_t load16(const uint8_t* p, bool bigEndian) {
    const uint32_t b0 = p[0], b1 = p[1];
    return static_cast<uint16_t>(bigEndian ? b0 << 8 | b1 : b1 << 8 | b0);
}

inline uint32_t load32(const uint8_t* p, bool bigEndian) {
    const uint32_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
    return bigEndian ? b0 << 24 | b1 << 16 | b2 << 8 | b3 : b3 << 24 | b2 << 16 | b1 << 8 | b0;
}

inline uint64_t load64(const uint8_t* p, bool bigEndian) {
    const uint64_t first = load32(p, bigEndian), second = load32(p + 4, bigEndian);
    return bigEndian ? first << 32 | second : second << 32 | first;
}

inline void store16le(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void store32le(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
