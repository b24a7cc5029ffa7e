// Conversions of 4-, 8-, 16- and 32-bit bitmaps into new 24-bit bitmaps that own their
// pixels. The destination must hold nothing; it is initialised here, and its holder
// releases it (also after a failure).
#pragma once

#include <cstdint>

#include "core/image_record.h"

inline constexpr int32_t kNoConversion = -91;

// Each conversion returns 0 or the code of allocateBitmap unchanged (-110, -112, -113,
// -121, -162); a source whose pixels are missing or whose rows are shorter than its width
// needs is refused with -110 before anything is read. Palette indexes beyond the
// source's `paletteEntries` give black.
int32_t convert4To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination);
int32_t convert8To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination);
/// Five bits per colour (blue lowest); bit 15 is ignored.
int32_t convert16To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination);
/// CMYK to RGB: each channel is 255 - ink - black, limited at 0.
int32_t convert32To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination);
/// The first step of each conversion: initialises `destination` as a bitmap of `source`'s
/// size and resolution at `depth` bits and allocates it. 0, -110 when the source's rows at
/// `sourceDepth` bits are not all there, or allocateBitmap's code.
int32_t startConvertedBitmap(DeviceContext context, const ImageRecord* source, uint32_t sourceDepth,
                             ImageRecord* destination, uint32_t depth);
/// Dispatches on the source depth; -91 for depths without a conversion (destination untouched).
int32_t convertTo24(DeviceContext context, const ImageRecord* source, ImageRecord* destination);
