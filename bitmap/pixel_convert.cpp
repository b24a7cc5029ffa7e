#include "bitmap/pixel_convert.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap_storage.h"
#include "core/byte_order.h"
#include "core/checked_math.h"

namespace {

// Blue, green, red of every index a pixel can hold. Entries the record's palette does
// not have stay black, so a stray index never reads past the palette.
// Each entry has a fourth byte, so that a pixel can be stored as one 4-byte word.
struct ColourTable {
    uint8_t bgr[256][4];
};

ColourTable colourTableOf(const ImageRecord* source, int32_t usable) {
    ColourTable table{};
    if (source == nullptr || source->palette == nullptr)
        return table;
    const int32_t entries = std::min(std::max(source->paletteEntries, 0), usable);
    for (int32_t i = 0; i < entries; ++i)
        std::memcpy(table.bgr[i], source->palette + 4 * i, 3);
    return table;
}

// The rows of `width` pixels at `depth` bits must lie inside what the source claims to
// hold; a record that says otherwise is not read at all.
bool sourceReadable(const ImageRecord* source, uint32_t depth) {
    if (source == nullptr || source->pixels == nullptr || source->width <= 0 ||
        source->height <= 0 || source->bytesPerRow < 0)
        return false;
    return static_cast<uint64_t>(source->bytesPerRow) >=
           paddedRowBytes(static_cast<uint64_t>(source->width), depth);
}

// Runs `convertRow(sourceRow, destinationRow, width)` over every row, both bottom-up.
template <class RowConverter>
int32_t convertRows(DeviceContext context, const ImageRecord* source, ImageRecord* destination,
                    uint32_t depth, RowConverter convertRow) {
    if (int32_t status = startConvertedBitmap(context, source, depth, destination, 24); status != 0)
        return status;
    const uint8_t* from = source->pixels;
    uint8_t* to = destination->pixels;
    for (int32_t row = 0; row < source->height; ++row) {
        convertRow(from, to, source->width);
        from += source->bytesPerRow;
        to += destination->bytesPerRow;
    }
    return 0;
}

inline void putColour(uint8_t* to, const uint8_t* bgr) {
    to[0] = bgr[0];
    to[1] = bgr[1];
    to[2] = bgr[2];
}

inline uint8_t inkLeft(uint8_t ink, uint8_t black) {
    const int left = 255 - int(ink) - int(black);
    return static_cast<uint8_t>(left < 0 ? 0 : left);
}

} // namespace

int32_t startConvertedBitmap(DeviceContext context, const ImageRecord* source, uint32_t sourceDepth,
                             ImageRecord* destination, uint32_t depth) {
    if (destination == nullptr)
        return kAllocNoRecord;
    initImageRecord(context, destination);
    if (!sourceReadable(source, sourceDepth))
        return kAllocNoRecord;
    copyResolution(source, destination);
    destination->width = source->width;
    destination->height = source->height;
    destination->bitsPerPixel = depth;
    return allocateBitmap(destination, BitmapMode::DeviceBitmap);
}

int32_t convert4To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination) {
    const ColourTable table = colourTableOf(source, 16);
    return convertRows(context, source, destination, 4,
                       [&](const uint8_t* from, uint8_t* to, int32_t width) {
                           for (int32_t x = 0; x + 1 < width; x += 2, to += 6) {
                               const uint8_t pair = from[x / 2];
                               putColour(to, table.bgr[pair >> 4]);
                               putColour(to + 3, table.bgr[pair & 0x0F]);
                           }
                           if (width % 2 != 0)
                               putColour(to, table.bgr[from[width / 2] >> 4]);
                       });
}

int32_t convert8To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination) {
    const ColourTable table = colourTableOf(source, 256);
    return convertRows(context, source, destination, 8,
                       [&](const uint8_t* from, uint8_t* to, int32_t width) {
                           // Each pixel but the last as a 4-byte word, whose spare byte the
                           // next pixel overwrites; the last one stays within its row.
                           int32_t x = 0;
                           for (; x + 1 < width; ++x, to += 3)
                               std::memcpy(to, table.bgr[from[x]], 4);
                           putColour(to, table.bgr[from[x]]);
                       });
}

int32_t convert16To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination) {
    return convertRows(context, source, destination, 16,
                       [](const uint8_t* from, uint8_t* to, int32_t width) {
                           for (int32_t x = 0; x < width; ++x, to += 3) {
                               const uint32_t w = load16(from + 2 * x, false);
                               to[0] = static_cast<uint8_t>((w & 0x1F) << 3);
                               to[1] = static_cast<uint8_t>((w >> 5 & 0x1F) << 3);
                               to[2] = static_cast<uint8_t>((w >> 10 & 0x1F) << 3);
                           }
                       });
}

int32_t convert32To24(DeviceContext context, const ImageRecord* source, ImageRecord* destination) {
    return convertRows(context, source, destination, 32,
                       [](const uint8_t* from, uint8_t* to, int32_t width) {
                           for (int32_t x = 0; x < width; ++x, from += 4, to += 3) {
                               const uint8_t black = from[3];
                               to[0] = inkLeft(from[2], black);
                               to[1] = inkLeft(from[1], black);
                               to[2] = inkLeft(from[0], black);
                           }
                       });
}

int32_t convertTo24(DeviceContext context, const ImageRecord* source, ImageRecord* destination) {
    switch (source == nullptr ? 0 : source->bitsPerPixel) {
    case 4:
        return convert4To24(context, source, destination);
    case 8:
        return convert8To24(context, source, destination);
    case 16:
        return convert16To24(context, source, destination);
    case 32:
        return convert32To24(context, source, destination);
    default:
        return kNoConversion;
    }
}
