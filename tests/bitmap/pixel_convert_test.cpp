#include "bitmap/pixel_convert.h"

#include <array>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "bitmap/bitmap_storage.h"
#include "platform/device_context.h"
#include "tests/support/bitmap_page.h"

namespace {

using testsupport::Bitmap;
using testsupport::Page;
using Bgr = std::array<uint8_t, 3>;

// Pixel `x` of row `fromBottom` of a 24-bit bitmap, as stored.
Bgr at(const Bitmap& bitmap, int32_t x, int32_t fromBottom) {
    const ImageRecord& r = bitmap.record;
    const uint8_t* p = r.pixels + fromBottom * r.bytesPerRow + 3 * x;
    return {p[0], p[1], p[2]};
}

const Bgr kBlack{0, 0, 0};
const Bgr kWhite{255, 255, 255};

// Each depth through the dispatcher: 4 bits take the high nibble first and stop at the
// width; 8 bits look each index up, and an index beyond a short palette is black; 16 bits
// spread five bits per colour (blue lowest, bit 15 ignored); 32 bits subtract ink and black
// from white, limited at zero.
TEST(ConvertTo24, EachDepthGivesItsColours) {
    struct Entry {
        int index;
        Bgr bgr;
    };
    std::vector<Entry> ramp;
    for (int i = 0; i < 16; ++i)
        ramp.push_back({i, {uint8_t(i), uint8_t(16 * i), uint8_t(255 - i)}});
    const struct {
        const char* what;
        uint32_t depth;
        uint32_t paletteDepth; // the header's palette is made for this depth
        int32_t width;
        std::vector<Entry> palette;
        std::vector<std::vector<uint8_t>> rows; // bottom row first
        int32_t bytesPerRow;
        std::vector<std::vector<Bgr>> pixels; // bottom row first
    } cases[] = {
        {"4 bits",
         4,
         4,
         3,
         ramp,
         {{0x12, 0x3F}, {0xF0, 0xA0}}, // the low nibble of 0x3F and 0xA0 lies beyond the width
         12,
         {{{1, 16, 254}, {2, 32, 253}, {3, 48, 252}},
          {{15, 240, 240}, {0, 0, 255}, {10, 160, 245}}}},
        {"8 bits",
         8,
         8,
         5,
         {{0, {1, 2, 3}}, {7, {10, 20, 30}}, {255, {200, 100, 50}}},
         {{7, 255, 0, 7, 255}},
         16,
         {{{10, 20, 30}, {200, 100, 50}, {1, 2, 3}, {10, 20, 30}, {200, 100, 50}}}},
        // A 2-bit header holds four entries; read as 8-bit, indexes 4..255 have no entry.
        {"8 bits, short palette",
         8,
         2,
         3,
         {{0, {50, 60, 70}}, {1, {51, 61, 71}}, {2, {52, 62, 72}}, {3, {53, 63, 73}}},
         {{3, 4, 255}},
         12,
         {{{53, 63, 73}, kBlack, kBlack}}},
        {"16 bits",
         16,
         16,
         6,
         {},
         {std::vector<uint8_t>(12, 0),
          {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0x21, 0x04}},
         20,
         {std::vector<Bgr>(6, kBlack),
          {{248, 248, 248}, kBlack, {248, 0, 0}, {0, 248, 0}, {0, 0, 248}, {8, 8, 8}}}},
        {"32 bits",
         32,
         32,
         6,
         {},
         {{0,  0,  0,  0,  0,   0,   0,  255, 255, 0,   0,   0,
           10, 20, 30, 40, 200, 100, 50, 100, 255, 255, 255, 255}},
         20,
         // cyan and black exceed 255 in the fifth pixel: red stops at 0
         {{kWhite, kBlack, {255, 255, 0}, {185, 195, 205}, {105, 55, 0}, kBlack}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto height = static_cast<int32_t>(c.rows.size());
        Page source(c.width, height, c.paletteDepth);
        for (const Entry& e : c.palette)
            source.setEntry(e.index, e.bgr[0], e.bgr[1], e.bgr[2]);
        if (c.depth != c.paletteDepth) {
            source.record.bitsPerPixel = c.depth;
            source.record.bytesPerRow = int32_t((c.width * c.depth + 31) / 32 * 4);
            source.rows.assign(size_t(source.record.bytesPerRow) * height, 0);
            source.record.pixels = source.rows.data();
        }
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(source.row(y), c.rows[y].data(), c.rows[y].size());
        Bitmap out;
        ASSERT_EQ(convertTo24(platform::screenDeviceContext(), &source.record, &out.record), 0);
        EXPECT_EQ(out.record.bytesPerRow, c.bytesPerRow);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < c.width; ++x)
                EXPECT_EQ(at(out, x, y), c.pixels[y][x]) << "pixel " << x << ", row " << y;
    }
}

TEST(ConvertFrame, ResultIsAFreshDeviceBitmapWithTheSourceResolution) {
    Page source(5, 3, 8);
    source.record.resolutionUnit = 3;
    source.record.xResolution = 80.5;
    source.record.yResolution = 40.25;
    source.record.fileKind = kFileKindTiff;
    source.record.compression = 5;
    source.record.photometric = 3;
    source.record.pageNumber = 4;
    source.record.pageCount = 9;
    source.record.directoryIndex = 4;
    DeviceContext screen = platform::screenDeviceContext();
    Bitmap out;
    ASSERT_EQ(convertTo24(screen, &source.record, &out.record), 0);
    const ImageRecord& r = out.record;
    EXPECT_EQ(r.deviceContext, screen);
    EXPECT_EQ(r.resolutionUnit, 3);
    EXPECT_EQ(r.xResolution, 80.5);
    EXPECT_EQ(r.yResolution, 40.25);
    EXPECT_EQ(r.width, 5);
    EXPECT_EQ(r.height, 3);
    EXPECT_EQ(r.bitsPerPixel, 24u);
    EXPECT_EQ(r.bytesPerRow, 16);
    EXPECT_EQ(r.imageSize, 48u);
    EXPECT_EQ(r.paletteEntries, 0);
    EXPECT_NE(r.dibSection, nullptr);
    EXPECT_NE(r.bitmapInfo, nullptr);
    for (int32_t field :
         {r.fileKind, r.compression, r.photometric, r.pageNumber, r.pageCount, r.directoryIndex})
        EXPECT_EQ(field, 0);
}

TEST(ConvertFrame, RowsStayBottomUpAndApartByTheirOwnStride) {
    Page source(5, 3, 4);
    source.setEntry(1, 1, 1, 1);
    source.setEntry(2, 2, 2, 2);
    source.setEntry(3, 3, 3, 3);
    for (int row = 0; row < 3; ++row)
        std::memset(source.row(row), (row + 1) * 0x11, 3);
    Bitmap out;
    ASSERT_EQ(convert4To24(platform::screenDeviceContext(), &source.record, &out.record), 0);
    for (int row = 0; row < 3; ++row)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(at(out, x, row), (Bgr{uint8_t(row + 1), uint8_t(row + 1), uint8_t(row + 1)}));
}

TEST(ConvertTo24, DepthWithoutConversionLeavesTheDestinationAlone) {
    for (uint32_t depth : {1u, 2u, 24u}) {
        SCOPED_TRACE(testing::Message() << depth << " bpp");
        Page source(4, 2, depth);
        ImageRecord destination;
        std::memset(static_cast<void*>(&destination), 0xAB, sizeof destination);
        ImageRecord before;
        std::memcpy(static_cast<void*>(&before), &destination, sizeof before);
        EXPECT_EQ(convertTo24(platform::screenDeviceContext(), &source.record, &destination),
                  kNoConversion);
        EXPECT_EQ(std::memcmp(&before, &destination, sizeof before), 0);
    }
}

TEST(ConvertFailures, AllocationCodePassesUnchangedAndReleaseFreesTheHeader) {
    Page source(4, 2, 16);
    Bitmap out;
    EXPECT_EQ(convert16To24(nullptr, &source.record, &out.record), kAllocNoDeviceContext);
    EXPECT_NE(out.record.bitmapInfo, nullptr);
    EXPECT_EQ(releaseImageRecord(&out.record), 0);
}

TEST(ConvertFailures, SourceRowsShorterThanTheWidthAreNotRead) {
    Page source(8, 2, 32);
    source.record.bytesPerRow = 28; // one pixel short of 8 x 4 bytes
    Bitmap out;
    EXPECT_EQ(convert32To24(platform::screenDeviceContext(), &source.record, &out.record),
              kAllocNoRecord);
    source.record.bytesPerRow = 32;
    source.record.pixels = nullptr;
    EXPECT_EQ(convertTo24(platform::screenDeviceContext(), &source.record, &out.record),
              kAllocNoRecord);
}

} // namespace
