// Test helper: JPEG streams made by libjpeg, to stand as the payload of old-style JPEG pages.
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

/// A baseline JPEG of `width` x `height` pixels at quality 90 showing gradientPixels of a
/// page of that size: YCbCr 4:2:0 when `components` is 3, grey when 1. With `restartRows`
/// above 0 a restart marker follows every so many MCU rows; `arithmetic` codes the data
/// arithmetically instead of with Huffman tables.
std::vector<uint8_t> encodeJpeg(uint32_t width, uint32_t height, int components = 3,
                                int restartRows = 0, bool arithmetic = false);

/// A grey YCbCr JPEG whose components are sampled 3x1, 2x1 and 1x1: libjpeg reads its
/// luminance alone, but cannot bring its chroma to full size (fractional sampling).
std::vector<uint8_t> encodeFractionalChromaJpeg(uint32_t width, uint32_t height);

} // namespace testsupport
