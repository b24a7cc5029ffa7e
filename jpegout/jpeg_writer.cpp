#include "jpegout/jpeg_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "bitmap/bitmap_storage.h"
#include "bitmap/pixel_convert.h"
#include "core/checked_math.h"
#include "core/clear_record.h"
#include "core/scope_exit.h"
#include "platform/device_context.h"
#include "platform/global_memory.h"
#include "platform/icc_profile.h"
#include "platform/jpeg_encoder.h"

namespace {

constexpr double kCentimetresPerMetre = 100.0;

// The colours of a bilevel page's set and clear bits, blue, green, red, by its photometric:
// with 3 palette entries 0 and 1 (black where the palette is shorter); with 0 a set bit is
// black; otherwise white.
void bilevelColours(const ImageRecord& source, uint8_t set[3], uint8_t clear[3]) {
    static constexpr uint8_t kBlack[3] = {0, 0, 0};
    static constexpr uint8_t kWhite[3] = {255, 255, 255};
    if (source.photometric == kPhotometricPalette) {
        std::memset(set, 0, 3);
        std::memset(clear, 0, 3);
        if (source.palette != nullptr && source.paletteEntries >= 1)
            std::memcpy(set, source.palette, 3);
        if (source.palette != nullptr && source.paletteEntries >= 2)
            std::memcpy(clear, source.palette + 4, 3);
        return;
    }
    const bool whiteIsZero = source.photometric == kPhotometricWhiteIsZero;
    std::memcpy(set, whiteIsZero ? kBlack : kWhite, 3);
    std::memcpy(clear, whiteIsZero ? kWhite : kBlack, 3);
}

// Rows of `depth`-bit indexes (1, 4 or 8) become rows of `pixelBytes`-byte colours, the
// colours of index i at colours + i * pixelBytes. Each source byte becomes all its pixels at
// once, from a table of its 256 patterns.
void expandIndexedRows(const ImageRecord& source, ImageRecord& target, uint32_t depth,
                       size_t pixelBytes, const uint8_t* colours) {
    const auto perByte = static_cast<int32_t>(8 / depth);
    const size_t patternBytes = size_t(perByte) * pixelBytes;
    uint8_t patterns[256][24];
    for (int byte = 0; byte < 256; ++byte)
        for (int32_t i = 0; i < perByte; ++i)
            std::memcpy(patterns[byte] + size_t(i) * pixelBytes,
                        colours + ((byte << (i * depth) & 0xFF) >> (8 - depth)) * pixelBytes,
                        pixelBytes);
    const int32_t wholeBytes = source.width / perByte;
    const size_t leftOver = size_t(source.width % perByte) * pixelBytes;
    const uint8_t* from = source.pixels;
    uint8_t* to = target.pixels;
    for (int32_t row = 0; row < source.height; ++row) {
        uint8_t* out = to;
        for (int32_t i = 0; i < wholeBytes; ++i, out += patternBytes)
            std::memcpy(out, patterns[from[i]], patternBytes);
        if (leftOver != 0)
            std::memcpy(out, patterns[from[wholeBytes]], leftOver);
        from += source.bytesPerRow;
        to += target.bytesPerRow;
    }
}

// A page of 1, 4 or 8 bits whose colours are all grey, as one grey level a pixel: a third
// of the 24-bit form's bytes. libjpeg makes blue = green = red into exactly that level, so
// the JPEG is the same.
int32_t makeGreyLevels(DeviceContext context, const ImageRecord* source, ImageRecord* target) {
    const uint32_t depth = source->bitsPerPixel;
    if (depth != 1 && depth != 4 && depth != 8)
        return kAllocNoRecord;
    if (int32_t status = startConvertedBitmap(context, source, depth, target, 8); status != 0)
        return status;

    uint8_t levels[256] = {}; // indexes beyond the palette are black
    if (depth == 1) {
        uint8_t set[3], clear[3];
        bilevelColours(*source, set, clear);
        levels[0] = clear[0];
        levels[1] = set[0];
    } else if (source->palette != nullptr) {
        const int32_t entries = std::min(std::max(source->paletteEntries, 0), 1 << depth);
        for (int32_t i = 0; i < entries; ++i)
            levels[i] = source->palette[4 * i];
    }
    bool identity = depth == 8;
    for (int i = 0; i < 256 && identity; ++i)
        identity = levels[i] == i;
    if (!identity) {
        expandIndexedRows(*source, *target, depth, 1, levels);
        return 0;
    }
    for (int32_t row = 0; row < source->height; ++row)
        std::memcpy(target->pixels + int64_t{row} * target->bytesPerRow,
                    source->pixels + int64_t{row} * source->bytesPerRow, size_t(source->width));
    return 0;
}

int32_t makeWorkingCopy(DeviceContext context, ImageRecord* bitmap, ImageRecord* working,
                        bool greyLevels) {
    if (greyLevels)
        return makeGreyLevels(context, bitmap, working);
    if (bitmap->bitsPerPixel == 1)
        return expandBilevelForJpeg(context, bitmap, working);
    if (bitmap->bitsPerPixel == 24)
        return moveImageRecord(context, bitmap, working);
    const int32_t status = convertTo24(context, bitmap, working);
    return status == kNoConversion ? kFailed : status;
}

// The packed block is filled from these fields alone; a record that does not describe
// its own rows would send the copy past its pixels.
bool workingRecordConsistent(const ImageRecord& working) {
    if (working.pixels == nullptr || working.width <= 0 || working.height <= 0 ||
        (working.bitsPerPixel != 24 && working.bitsPerPixel != 8))
        return false;
    const uint64_t rowBytes =
        paddedRowBytes(static_cast<uint64_t>(working.width), working.bitsPerPixel);
    return static_cast<uint64_t>(working.bytesPerRow) == rowBytes &&
           rowBytes * static_cast<uint64_t>(working.height) == working.imageSize;
}

bool greyEntry(const uint8_t* entry) { return entry[0] == entry[1] && entry[1] == entry[2]; }

// Whether every pixel the working copy will hold is grey, known from the source's colours
// alone: a bilevel page in black and white, or a palette of grey entries. Deeper pages
// are left to the encoder, which looks at their pixels.
platform::PageColours coloursOf(const ImageRecord& bitmap) {
    const bool palettePage =
        bitmap.bitsPerPixel == 4 || bitmap.bitsPerPixel == 8 ||
        (bitmap.bitsPerPixel == 1 && bitmap.photometric == kPhotometricPalette);
    if (bitmap.bitsPerPixel == 1 && !palettePage)
        return platform::PageColours::Grey;
    if (!palettePage || bitmap.palette == nullptr || bitmap.paletteEntries <= 0)
        return platform::PageColours::Unknown;
    for (int32_t k = 0; k < bitmap.paletteEntries; ++k)
        if (!greyEntry(bitmap.palette + 4 * k))
            return platform::PageColours::Unknown;
    return platform::PageColours::Grey;
}

// How the stored rows are read to show the page as its Orientation says: viewed pixel
// (x, y), y = 0 the top row, is the stored one at origin + x * stepX + y * stepY bytes.
struct Turn {
    int32_t width; // of the viewed page
    int32_t height;
    int32_t pixelBytes;
    bool sidesExchanged; // Orientation 5 to 8: stored rows become viewed columns
    int64_t origin;
    int64_t stepX;
    int64_t stepY;
};

Turn turnOf(const ImageRecord& working, int32_t orientation) {
    const int64_t w = working.width;
    const int64_t h = working.height;
    const int64_t row = working.bytesPerRow;
    const int64_t p = working.bitsPerPixel / 8;
    // Stored column c, row r (from the top) lies at (h - 1 - r) * row + p * c.
    struct Axes {
        int64_t c0, cx, cy, r0, rx, ry;
    };
    // Per orientation: the stored column and row of viewed (x, y) as c0 * (w - 1) + cx * x +
    // cy * y and r0 * (h - 1) + rx * x + ry * y.
    static constexpr Axes kAxes[9] = {
        {0, 1, 0, 0, 0, 1},   // 0: as stored
        {0, 1, 0, 0, 0, 1},   // 1: as stored
        {1, -1, 0, 0, 0, 1},  // 2: mirrored across
        {1, -1, 0, 1, 0, -1}, // 3: upside down
        {0, 1, 0, 1, 0, -1},  // 4: mirrored top to bottom
        {0, 0, 1, 0, 1, 0},   // 5: rows are columns
        {0, 0, 1, 1, -1, 0},  // 6: turned a quarter clockwise to view
        {1, 0, -1, 1, -1, 0}, // 7: rows are columns, both reversed
        {1, 0, -1, 0, 1, 0},  // 8: turned a quarter anticlockwise to view
    };
    const Axes& a = kAxes[orientation >= 0 && orientation <= 8 ? orientation : 0];
    const bool exchanged = a.rx != 0;
    return Turn{static_cast<int32_t>(exchanged ? h : w),
                static_cast<int32_t>(exchanged ? w : h),
                static_cast<int32_t>(p),
                exchanged,
                (h - 1 - a.r0 * (h - 1)) * row + p * a.c0 * (w - 1),
                p * a.cx - row * a.rx,
                p * a.cy - row * a.ry};
}

// Fills the viewed rows, bottom row first, padding cleared. Turned pages are copied in
// square tiles, so the stored rows a tile reads stay in cache while their columns become rows.
void copyTurned(uint8_t* to, uint64_t toRowBytes, const uint8_t* from, const Turn& turn) {
    constexpr int32_t kTile = 64;
    const size_t p = static_cast<size_t>(turn.pixelBytes);
    const uint64_t usedBytes = p * static_cast<uint32_t>(turn.width);
    for (int32_t y0 = 0; y0 < turn.height; y0 += kTile) {
        const int32_t yEnd = std::min(turn.height, y0 + kTile);
        for (int32_t x0 = 0; x0 < turn.width; x0 += kTile) {
            const int32_t xEnd = std::min(turn.width, x0 + kTile);
            for (int32_t y = y0; y < yEnd; ++y) {
                uint8_t* out = to + uint64_t(turn.height - 1 - y) * toRowBytes + p * uint64_t(x0);
                const uint8_t* in = from + turn.origin + x0 * turn.stepX + y * turn.stepY;
                if (turn.stepX == turn.pixelBytes) {
                    std::memcpy(out, in, p * size_t(xEnd - x0));
                    continue;
                }
                for (int32_t i = 0; i < xEnd - x0; ++i)
                    std::memcpy(out + p * i, in + i * turn.stepX, p);
            }
        }
    }
    for (int32_t y = 0; y < turn.height; ++y)
        std::memset(to + uint64_t(y) * toRowBytes + usedBytes, 0, toRowBytes - usedBytes);
}

// The packed header's pixels per metre for `resolution` dots per `unit` (2 inch, 3
// centimetre, else none: 0), truncated toward zero.
int32_t pixelsPerMetre(int32_t unit, double resolution) {
    double perMetre = 0.0;
    if (unit == kResolutionUnitInch)
        perMetre = resolution * platform::kInchesPerMetre;
    else if (unit == kResolutionUnitCentimetre)
        perMetre = resolution * kCentimetresPerMetre;
    // A hostile resolution (huge, negative, not a number) must not overflow the 32-bit
    // header field; beyond its range it saturates, nonsense counts as none.
    if (!(perMetre > 0.0))
        return 0;
    if (perMetre >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(perMetre);
}

} // namespace

int32_t writeJpeg(ImageRecord* bitmap, platform::OutputFile& output) {
    if (bitmap == nullptr)
        return kFailed;
    const int32_t xPels = pixelsPerMetre(bitmap->resolutionUnit, bitmap->xResolution);
    const int32_t yPels = pixelsPerMetre(bitmap->resolutionUnit, bitmap->yResolution);
    const int32_t orientation = bitmap->orientation; // the conversions make records without it

    const platform::PageColours colours = coloursOf(*bitmap);
    // Read before the working copy: a conversion builds a fresh record without it.
    const platform::IccProfile profile{bitmap->iccProfile, bitmap->iccProfileSize};
    // An RGB profile keeps the JPEG in three components, which only 24-bit rows give.
    const bool greyLevels =
        colours == platform::PageColours::Grey &&
        platform::iccProfileColours(profile.bytes, profile.size) != platform::ProfileColours::Rgb;
    ImageRecord working;
    clearRecord(working);
    ScopeExit releaseWorking([&] { releaseImageRecord(&working); });

    DeviceContext context = platform::screenDeviceContext();
    const int32_t converted = makeWorkingCopy(context, bitmap, &working, greyLevels);
    platform::releaseDeviceContext(context);
    if (converted != 0 || !workingRecordConsistent(working))
        return kFailed;

    // The pixels are turned here, as they are packed: every page, whichever path decoded
    // it, is copied at most once, and the header describes the page as it is to be viewed.
    const Turn turn = turnOf(working, orientation);
    const uint64_t rowBytes =
        paddedRowBytes(static_cast<uint32_t>(turn.width), working.bitsPerPixel);
    const auto imageBytes = checkedMul<uint64_t>(rowBytes, static_cast<uint32_t>(turn.height));
    if (!imageBytes || *imageBytes > std::numeric_limits<uint32_t>::max())
        return kFailed;
    // The header and the rows below fill every byte of the block. Rows kept as they lie
    // may already be in place behind the header: the block is then made around them.
    const bool asStored = orientation <= 1;
    GlobalBlockHandle block =
        asStored ? platform::globalAllocAround(working.pixels, working.roomBeforePixels,
                                               kBitmapHeaderSize, working.imageSize)
                 : platform::globalAlloc(size_t{kBitmapHeaderSize} + *imageBytes,
                                         platform::GlobalFill::None);
    if (block == nullptr)
        return kFailed;
    ScopeExit freeBlock([&] { platform::globalFree(block); });
    uint8_t* packed = platform::globalLock(block);
    if (packed == nullptr)
        return kWriteLockFailed;
    writeBitmapHeader(packed, turn.width, turn.height, working.bitsPerPixel,
                      static_cast<uint32_t>(*imageBytes), turn.sidesExchanged ? yPels : xPels,
                      turn.sidesExchanged ? xPels : yPels);
    if (asStored) {
        if (packed + kBitmapHeaderSize != working.pixels)
            std::memcpy(packed + kBitmapHeaderSize, working.pixels, working.imageSize);
    } else {
        copyTurned(packed + kBitmapHeaderSize, rowBytes, working.pixels, turn);
    }
    platform::globalUnlock(block);

    return platform::saveJpegFile(output, block, colours, profile) ? 0 : kWriteEncoderFailed;
}

int32_t writeJpeg(ImageRecord* bitmap, const char* fileName) {
    if (fileName == nullptr)
        return kWriteEncoderFailed;
    platform::OutputFile output(fileName);
    const int32_t status = writeJpeg(bitmap, output);
    return status != 0 || output.putInPlace() ? status : kWriteEncoderFailed;
}

int32_t expandBilevelForJpeg(DeviceContext context, const ImageRecord* source,
                             ImageRecord* target) {
    if (int32_t status = startConvertedBitmap(context, source, 1, target, 24); status != 0)
        return status;

    uint8_t colours[2][3]; // index 0 a clear bit, 1 a set one
    bilevelColours(*source, colours[1], colours[0]);
    expandIndexedRows(*source, *target, 1, 3, &colours[0][0]);
    return 0;
}
