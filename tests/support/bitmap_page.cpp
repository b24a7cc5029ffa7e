#include "tests/support/bitmap_page.h"

#include <cstring>

#include <gtest/gtest.h>

#include "bitmap/bitmap_storage.h"
#include "core/clear_record.h"

namespace testsupport {

Bitmap::Bitmap() { clearRecord(record); }

Bitmap::~Bitmap() { releaseImageRecord(&record); }

Page::Page(int32_t width, int32_t height, uint32_t depth) {
    initImageRecord(nullptr, &record);
    record.width = width;
    record.height = height;
    record.bitsPerPixel = depth;
    EXPECT_EQ(allocateBitmap(&record, BitmapMode::HeaderOnly), 0);
    rows.assign(record.imageSize, 0);
    record.pixels = rows.data();
}

uint8_t* Page::row(int32_t fromBottom) { return rows.data() + fromBottom * record.bytesPerRow; }

uint8_t* Page::topRow(int32_t y) { return row(record.height - 1 - y); }

void Page::setEntry(int index, uint8_t blue, uint8_t green, uint8_t red) {
    const uint8_t entry[4] = {blue, green, red, 0};
    std::memcpy(record.palette + 4 * index, entry, 4);
}

} // namespace testsupport
