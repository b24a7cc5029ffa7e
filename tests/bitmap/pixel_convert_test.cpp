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

TEST(Convert4To24, TakesHighNibbleFirstAndStopsAtTheWidth) {
    Page source(3, 2, 4);
    for (int i = 0; i < 16; ++i)
        source.setEntry(i, uint8_t(i), uint8_t(16 * i), uint8_t(255 - i));
    source.row(0)[0] = 0x12;
    source.row(0)[1] = 0x3F; // the low nibble lies beyond the width
    source.row(1)[0] = 0xF0;
    source.row(1)[1] = 0xA0;
    Bitmap out;
    ASSERT_EQ(convert4To24(platform::screenDeviceContext(), &source.record, &out.record), 0);
    EXPECT_EQ(out.record.bytesPerRow, 12);
    EXPECT_EQ(at(out, 0, 0), (Bgr{1, 16, 254}));
    EXPECT_EQ(at(out, 1, 0), (Bgr{2, 32, 253}));
    EXPECT_EQ(at(out, 2, 0), (Bgr{3, 48, 252}));
    EXPECT_EQ(at(out, 0, 1), (Bgr{15, 240, 240}));
    EXPECT_EQ(at(out, 1, 1), (Bgr{0, 0, 255}));
    EXPECT_EQ(at(out, 2, 1), (Bgr{10, 160, 245}));
}

TEST(Convert8To24, LooksEachIndexUpInThePalette) {
    Page source(5, 1, 8);
    source.setEntry(0, 1, 2, 3);
    source.setEntry(7, 10, 20, 30);
    source.setEntry(255, 200, 100, 50);
    const uint8_t indexes[5] = {7, 255, 0, 7, 255};
    std::memcpy(source.row(0), indexes, 5);
    Bitmap out;
    ASSERT_EQ(convert8To24(platform::screenDeviceContext(), &source.record, &out.record), 0);
    EXPECT_EQ(out.record.bytesPerRow, 16);
    const Bgr expected[5] = {{10, 20, 30}, {200, 100, 50}, {1, 2, 3}, {10, 20, 30}, {200, 100, 50}};
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(at(out, x, 0), expected[x]) << "pixel " << x;
}

TEST(Convert8To24, IndexBeyondAShortPaletteIsBlack) {
    // A 2-bit header holds four entries; read as 8-bit, indexes 4..255 have no entry.
    Page source(3, 1, 2);
    for (int i = 0; i < 4; ++i)
        source.setEntry(i, uint8_t(50 + i), uint8_t(60 + i), uint8_t(70 + i));
    source.record.bitsPerPixel = 8;
    source.record.bytesPerRow = 4;
    source.rows.assign(4, 0);
    source.record.pixels = source.rows.data();
    source.rows[0] = 3;
    source.rows[1] = 4;
    source.rows[2] = 255;
    Bitmap out;
    ASSERT_EQ(convert8To24(platform::screenDeviceContext(), &source.record, &out.record), 0);
    EXPECT_EQ(at(out, 0, 0), (Bgr{53, 63, 73}));
    EXPECT_EQ(at(out, 1, 0), kBlack);
    EXPECT_EQ(at(out, 2, 0), kBlack);
}

TEST(Convert16To24, SpreadsFiveBitsPerColour) {
    const struct {
        uint16_t word;
        Bgr bgr;
    } cases[] = {{0x7FFF, {248, 248, 248}}, {0x8000, kBlack},      {0x001F, {248, 0, 0}},
                 {0x03E0, {0, 248, 0}},     {0x7C00, {0, 0, 248}}, {0x0421, {8, 8, 8}}};
    Page source(6, 2, 16);
    for (int x = 0; x < 6; ++x) {
        source.row(1)[2 * x] = uint8_t(cases[x].word); // little-endian words
        source.row(1)[2 * x + 1] = uint8_t(cases[x].word >> 8);
    }
    Bitmap out;
    ASSERT_EQ(convert16To24(platform::screenDeviceContext(), &source.record, &out.record), 0);
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(at(out, x, 1), cases[x].bgr) << std::hex << cases[x].word;
        EXPECT_EQ(at(out, x, 0), kBlack);
    }
}

TEST(Convert32To24, SubtractsInkAndBlackLimitedAtZero) {
    const struct {
        uint8_t c, m, y, k;
        Bgr bgr;
    } cases[] = {{0, 0, 0, 0, kWhite},
                 {0, 0, 0, 255, kBlack},
                 {255, 0, 0, 0, {255, 255, 0}},
                 {10, 20, 30, 40, {185, 195, 205}},
                 {200, 100, 50, 100, {105, 55, 0}}, // cyan and black exceed 255: red stops at 0
                 {255, 255, 255, 255, kBlack}};
    Page source(6, 1, 32);
    for (int x = 0; x < 6; ++x) {
        const uint8_t inks[4] = {cases[x].c, cases[x].m, cases[x].y, cases[x].k};
        std::memcpy(source.row(0) + 4 * x, inks, 4);
    }
    Bitmap out;
    ASSERT_EQ(convert32To24(platform::screenDeviceContext(), &source.record, &out.record), 0);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(at(out, x, 0), cases[x].bgr) << "pixel " << x;
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
