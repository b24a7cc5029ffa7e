#include "bitmap/bitmap_storage.h"

#include <cstdlib>
#include <cstring>

#include "core/byte_order.h"
#include "core/checked_math.h"
#include "platform/dib_section.h"

int32_t paletteEntriesForDepth(uint32_t bitsPerPixel) {
    switch (bitsPerPixel) {
    case 0:
    case 8:
        return 256;
    case 1:
        return 2;
    case 2:
        return 4;
    case 4:
        return 16;
    default:
        return 0;
    }
}

int32_t computeLayout(ImageRecord* record) {
    if (record == nullptr)
        return kLayoutNoRecord;
    if (record->width <= 0 || record->height <= 0)
        return kLayoutNotPositive;
    const uint64_t depth = record->bitsPerPixel == 0 ? 8 : record->bitsPerPixel;
    // Width below 2^31 times a depth below 2^32 stays below 2^63: the row cannot wrap.
    const uint64_t rowBytes = paddedRowBytes(static_cast<uint64_t>(record->width), depth);
    const auto imageBytes = checkedMul(rowBytes, static_cast<uint64_t>(record->height));
    if (!imageBytes || *imageBytes > kMaxBitmapBytes)
        return kAllocNoHeaderMemory;
    record->bytesPerRow = static_cast<int32_t>(rowBytes);
    record->imageSize = static_cast<uint32_t>(*imageBytes);
    return 0;
}

void writeBitmapHeader(uint8_t* at, int32_t width, int32_t height, uint32_t bitsPerPixel,
                       uint32_t imageSize, int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
    store32le(at + 0, kBitmapHeaderSize);
    store32le(at + 4, static_cast<uint32_t>(width));
    store32le(at + 8, static_cast<uint32_t>(height));
    store16le(at + 12, 1);
    store16le(at + 14, static_cast<uint16_t>(bitsPerPixel));
    store32le(at + 16, 0);
    store32le(at + 20, imageSize);
    store32le(at + 24, static_cast<uint32_t>(xPelsPerMeter));
    store32le(at + 28, static_cast<uint32_t>(yPelsPerMeter));
    store32le(at + 32, 0);
    store32le(at + 36, 0);
}

int32_t allocateBitmap(ImageRecord* record, BitmapMode mode) {
    if (record == nullptr)
        return kAllocNoRecord;
    const int32_t entries = paletteEntriesForDepth(record->bitsPerPixel);
    if (record->bitsPerPixel == 0)
        record->bitsPerPixel = 8;
    record->paletteEntries = entries;
    // A page without a positive size, or too large to address, gets no storage at all:
    // the header and the pixel memory would both describe rows that do not exist.
    if (int32_t status = computeLayout(record); status != 0)
        return status;

    const size_t blockBytes = kBitmapHeaderSize + 4 * static_cast<size_t>(entries);
    auto* block = static_cast<uint8_t*>(std::malloc(blockBytes));
    if (block == nullptr) {
        record->bitmapInfo = nullptr;
        record->palette = nullptr;
        return kAllocNoHeaderMemory;
    }
    std::memset(block, 0, blockBytes);
    writeBitmapHeader(block, record->width, record->height, record->bitsPerPixel, record->imageSize,
                      0, 0);
    record->bitmapInfo = block;
    record->palette = block + kBitmapHeaderSize;

    if (mode == BitmapMode::HeaderOnly)
        return 0;
    if (record->deviceContext == nullptr)
        return kAllocNoDeviceContext;
    uint8_t* memory = nullptr;
    DibSection section =
        platform::createDibSection(record->deviceContext, record->imageSize, &memory);
    if (section == nullptr)
        return kAllocSectionRefused;
    record->dibSection = section;
    record->pixels = memory;
    record->roomBeforePixels = platform::kBlockRoomBeforePixels;
    return 0;
}
