// Gives an ImageRecord the storage of a bitmap: row layout, a 40-byte bitmap header with
// the palette behind it, and optionally pixel memory owned by the record.
#pragma once

#include <cstdint>

#include "core/image_record.h"

inline constexpr int32_t kAllocNoRecord = -110;
inline constexpr int32_t kAllocNoHeaderMemory = -112;
inline constexpr int32_t kAllocNoDeviceContext = -113;
inline constexpr int32_t kLayoutNoRecord = -120;
inline constexpr int32_t kLayoutNotPositive = -121;
inline constexpr int32_t kAllocSectionRefused = -162;
/// A bitmap whose pixel bytes exceed this is refused: it would not fit a signed 32-bit
/// count, and no real page comes near it.
inline constexpr uint64_t kMaxBitmapBytes = uint64_t{1} << 30;

enum class BitmapMode : int32_t { HeaderOnly = 0, DeviceBitmap = 2 };

inline constexpr uint32_t kBitmapHeaderSize = 40;

/// 2, 4, 16, 256 for depths 1, 2, 4, 8; 256 for 0; 0 otherwise.
int32_t paletteEntriesForDepth(uint32_t bitsPerPixel);
/// Sets bytesPerRow and imageSize from width, height and bitsPerPixel (0 counts as 8).
/// 0, -120 (null), -121 (width or height not positive), -112 (size over kMaxBitmapBytes).
/// On failure both fields keep their values.
int32_t computeLayout(ImageRecord* record);
/// Builds the header block (and, in DeviceBitmap mode, the pixel memory). 0, -110, -112
/// (no memory, or a size over kMaxBitmapBytes), -113, -121 (no positive size), -162.
/// A size refused (-121, -112 by size) allocates nothing; after -113 or -162 the header
/// block is attached and released with the record. HeaderOnly leaves `pixels` and
/// `dibSection` as they are.
int32_t allocateBitmap(ImageRecord* record, BitmapMode mode);
/// Writes a 40-byte BITMAPINFOHEADER (little-endian, one plane, uncompressed, no colours
/// used) at `at`.
void writeBitmapHeader(uint8_t* at, int32_t width, int32_t height, uint32_t bitsPerPixel,
                       uint32_t imageSize, int32_t xPelsPerMeter, int32_t yPelsPerMeter);
