// Bitmaps held by tests: released however the test ends, so a failed assertion leaks
// nothing the sanitizers would report.
#pragma once

#include <cstdint>
#include <vector>

#include "core/image_record.h"

namespace testsupport {

/// A record, cleared to start with, that is released when the object ends (a second release
/// after the test's own is harmless: it returns 1).
struct Bitmap {
    ImageRecord record;

    Bitmap();
    ~Bitmap();
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
};

/// A bitmap as the page loader hands it to the converters and the writer: header and palette
/// allocated, pixels in a buffer of the test's own (bottom row first).
struct Page : Bitmap {
    std::vector<uint8_t> rows;

    Page(int32_t width, int32_t height, uint32_t depth);

    /// Row `fromBottom` of the pixels, 0 being the bottom row as stored.
    uint8_t* row(int32_t fromBottom);
    /// Row `y` counted from the top of the page.
    uint8_t* topRow(int32_t y);
    /// Palette entry `index`, in the bitmap's blue, green, red order.
    void setEntry(int index, uint8_t blue, uint8_t green, uint8_t red);
};

} // namespace testsupport
