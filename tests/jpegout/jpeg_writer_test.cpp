#include "jpegout/jpeg_writer.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bitmap/bitmap_storage.h"
#include "bitmap/pixel_convert.h"
#include "platform/device_context.h"
#include "tests/support/bitmap_page.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/scratch_dir.h"

namespace {

using testsupport::Bitmap;
using testsupport::DecodedJpeg;
using testsupport::decodeJpegFile;
using testsupport::meanAbsoluteError;
using testsupport::Page;

// Writes `page` into a fresh folder, decodes the file and returns it; fails the test when
// either step fails.
DecodedJpeg writeAndDecode(Page& page) {
    ScratchDir dir;
    const std::string path = dir.file("page.jpg");
    EXPECT_EQ(writeJpeg(&page.record, path.c_str()), 0);
    DecodedJpeg decoded;
    std::string error;
    EXPECT_TRUE(decodeJpegFile(path, decoded, &error)) << error;
    return decoded;
}

// Smooth colours a quality-75 JPEG keeps closely: every channel a gentle ramp.
uint8_t ramp(int32_t at, int32_t length, int32_t offset) {
    return static_cast<uint8_t>((at * 200 / std::max(length - 1, 1) + offset) % 256);
}

TEST(WriterResolution, ReachesTheFileAsDotsPerInch) {
    const struct {
        int32_t unit;
        double x, y;
        int densityUnit, xDensity, yDensity;
    } cases[] = {{2, 300, 300, 1, 300, 300},
                 {2, 72, 72, 1, 72, 72},
                 {2, 200, 100, 1, 200, 100},
                 {3, 80, 80, 1, 203, 203},
                 {3, 0.5, 0.5, 1, 1, 1},
                 // No unit, an unknown one, or nonsense: no density. Values beyond the
                 // header's fields must saturate, not overflow (the sanitizers watch).
                 {1, 300, 300, 0, 1, 1},
                 {0, 300, 300, 0, 1, 1},
                 {4, 300, 300, 0, 1, 1},
                 {2, 0, 0, 0, 1, 1},
                 {2, -300, 300, 0, 1, 1},
                 {3, NAN, 80, 0, 1, 1},
                 {2, -INFINITY, 300, 0, 1, 1},
                 {2, 4294967295.0, 300, 0, 1, 1},
                 {3, 1e300, 80, 0, 1, 1},
                 {2, INFINITY, INFINITY, 0, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << " x " << c.y << " per unit " << c.unit);
        Page page(8, 8, 24);
        page.record.resolutionUnit = c.unit;
        page.record.xResolution = c.x;
        page.record.yResolution = c.y;
        const DecodedJpeg decoded = writeAndDecode(page);
        EXPECT_EQ(decoded.densityUnit, c.densityUnit);
        EXPECT_EQ(decoded.xDensity, c.xDensity);
        EXPECT_EQ(decoded.yDensity, c.yDensity);
    }
}

TEST(WriterRoundTrip, EveryDepthComesBackCloseToItsColours) {
    constexpr int32_t kWidth = 61, kHeight = 37; // odd sizes: padded rows, partial blocks
    for (uint32_t depth : {4u, 8u, 16u, 24u, 32u}) {
        SCOPED_TRACE(testing::Message() << depth << " bpp");
        Page page(kWidth, kHeight, depth);
        std::vector<uint8_t> expected(size_t(kWidth) * kHeight * 3);
        if (depth <= 8) {
            const int entries = 1 << depth;
            for (int i = 0; i < entries; ++i)
                page.setEntry(i, ramp(i, entries, 10), ramp(i, entries, 30), ramp(i, entries, 50));
        }
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = page.topRow(y);
            for (int32_t x = 0; x < kWidth; ++x) {
                uint8_t* rgb = &expected[(size_t(y) * kWidth + x) * 3];
                if (depth == 4 || depth == 8) {
                    const int entries = 1 << depth;
                    const int index = x * entries / kWidth;
                    if (depth == 4)
                        row[x / 2] |= uint8_t(x % 2 == 0 ? index << 4 : index);
                    else
                        row[x] = uint8_t(index);
                    rgb[0] = ramp(index, entries, 50);
                    rgb[1] = ramp(index, entries, 30);
                    rgb[2] = ramp(index, entries, 10);
                } else if (depth == 16) {
                    const uint32_t r = x * 31 / kWidth, g = y * 31 / kHeight, b = 16;
                    const uint32_t word = r << 10 | g << 5 | b;
                    row[2 * x] = uint8_t(word);
                    row[2 * x + 1] = uint8_t(word >> 8);
                    rgb[0] = uint8_t(r << 3);
                    rgb[1] = uint8_t(g << 3);
                    rgb[2] = uint8_t(b << 3);
                } else if (depth == 24) {
                    row[3 * x] = ramp(x + y, kWidth + kHeight, 20);
                    row[3 * x + 1] = ramp(y, kHeight, 0);
                    row[3 * x + 2] = ramp(x, kWidth, 40);
                    rgb[0] = row[3 * x + 2];
                    rgb[1] = row[3 * x + 1];
                    rgb[2] = row[3 * x];
                } else {
                    const uint8_t c = ramp(x, kWidth, 0), m = ramp(y, kHeight, 0), k = 20;
                    const uint8_t inks[4] = {c, m, 0, k};
                    std::memcpy(row + 4 * x, inks, 4);
                    rgb[0] = uint8_t(std::max(0, 255 - c - k));
                    rgb[1] = uint8_t(std::max(0, 255 - m - k));
                    rgb[2] = uint8_t(255 - k);
                }
            }
        }
        const DecodedJpeg decoded = writeAndDecode(page);
        ASSERT_EQ(decoded.width, kWidth);
        ASSERT_EQ(decoded.height, kHeight);
        EXPECT_EQ(decoded.components, 3);
        const auto error = meanAbsoluteError(decoded.rgb, expected, kWidth, kHeight);
        for (int c = 0; c < 3; ++c)
            EXPECT_LE(error[c], 6.0) << "channel " << c;
    }
}

// A page of black strokes on white, as a scanned letter: bars one to four pixels thick.
void drawStrokes(Page& page, std::vector<uint8_t>& expected, bool setBitIsBlack) {
    const int32_t width = page.record.width, height = page.record.height;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const bool ink = (x % 23 < 1 + y % 4) || (y % 17 < 2 && x % 40 < 30);
            if (ink == setBitIsBlack)
                page.topRow(y)[x / 8] |= uint8_t(0x80 >> x % 8);
            std::memset(&expected[(size_t(y) * width + x) * 3], ink ? 0 : 255, 3);
        }
}

TEST(WriterBilevel, TextLikePageStaysLegible) {
    constexpr int32_t kWidth = 203, kHeight = 97;
    for (int32_t photometric : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "photometric " << photometric);
        Page page(kWidth, kHeight, 1);
        page.record.photometric = photometric;
        std::vector<uint8_t> expected(size_t(kWidth) * kHeight * 3);
        drawStrokes(page, expected, photometric == 0);
        const DecodedJpeg decoded = writeAndDecode(page);
        ASSERT_EQ(decoded.width, kWidth);
        ASSERT_EQ(decoded.height, kHeight);
        EXPECT_EQ(decoded.components, 1); // a black and white page needs no colour
        const auto error = meanAbsoluteError(decoded.rgb, expected, kWidth, kHeight);
        for (int c = 0; c < 3; ++c)
            EXPECT_LE(error[c], 12.0) << "channel " << c;
        // Every pixel still falls on the right side of mid-grey: the text reads the same.
        size_t wrong = 0;
        for (size_t i = 0; i < expected.size(); i += 3)
            wrong += (decoded.rgb[i] < 128) != (expected[i] < 128);
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(WriterBilevel, ExpansionChoosesColoursByPhotometric) {
    // Width 10: byte 0 holds pixels 0-7, the top bits of byte 1 pixels 8-9; the rest of
    // byte 1 is set to prove it is ignored.
    const uint8_t bits[2] = {0b10110001, 0b01111111};
    const bool set[10] = {1, 0, 1, 1, 0, 0, 0, 1, 0, 1};
    const struct {
        int32_t photometric;
        uint8_t setBgr[3], clearBgr[3];
    } cases[] = {{0, {0, 0, 0}, {255, 255, 255}},
                 {1, {255, 255, 255}, {0, 0, 0}},
                 {3, {10, 20, 30}, {40, 50, 60}}, // a set bit takes entry 0
                 {2, {255, 255, 255}, {0, 0, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "photometric " << c.photometric);
        Page page(10, 2, 1);
        page.record.photometric = c.photometric;
        page.setEntry(0, 10, 20, 30);
        page.setEntry(1, 40, 50, 60);
        for (int32_t y = 0; y < 2; ++y)
            std::memcpy(page.topRow(y), bits, 2);
        Bitmap target;
        ASSERT_EQ(
            expandBilevelForJpeg(platform::screenDeviceContext(), &page.record, &target.record), 0);
        EXPECT_EQ(target.record.bitsPerPixel, 24u);
        EXPECT_EQ(target.record.bytesPerRow, 32);
        for (int32_t row = 0; row < 2; ++row)
            for (int x = 0; x < 10; ++x) {
                const uint8_t* pixel =
                    target.record.pixels + row * target.record.bytesPerRow + 3 * x;
                EXPECT_EQ(std::memcmp(pixel, set[x] ? c.setBgr : c.clearBgr, 3), 0)
                    << "row " << row << " pixel " << x;
            }
        EXPECT_EQ(releaseImageRecord(&target.record), 0);
    }
}

TEST(WriterBilevel, PaletteMissingGivesBlackRatherThanAStrayRead) {
    Page page(9, 1, 1);
    page.record.photometric = 3;
    page.record.paletteEntries = 1; // only entry 0 exists
    page.setEntry(0, 7, 8, 9);
    page.topRow(0)[0] = 0x80;
    Bitmap target;
    ASSERT_EQ(expandBilevelForJpeg(platform::screenDeviceContext(), &page.record, &target.record),
              0);
    const uint8_t first[3] = {7, 8, 9}, black[3] = {0, 0, 0};
    EXPECT_EQ(std::memcmp(target.record.pixels, first, 3), 0);
    EXPECT_EQ(std::memcmp(target.record.pixels + 3, black, 3), 0);
}

TEST(WriterGreyPages, PaletteAndBilevelColoursDecideTheComponentCount) {
    // Grey palette pages and black-and-white pages are grey whatever their pixels; one colour
    // entry anywhere in the palette leaves the choice to the pixels.
    const struct {
        uint32_t depth;
        int32_t photometric;
        bool colourEntry; // entry 1 red instead of grey (unused by the pixels below)
        bool colourPixel; // pixels use entry 1
        int components;
    } cases[] = {
        {8, 1, false, false, 1}, {8, 1, true, false, 1}, {8, 1, true, true, 3},
        {4, 1, false, true, 1},  {1, 0, false, true, 1}, {1, 3, true, true, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.depth << " bpp, colour entry " << c.colourEntry
                                        << ", colour pixel " << c.colourPixel);
        Page page(16, 8, c.depth);
        page.record.photometric = c.photometric;
        for (int i = 0; i < page.record.paletteEntries; ++i)
            page.setEntry(i, uint8_t(i), uint8_t(i), uint8_t(i));
        if (c.colourEntry)
            page.setEntry(1, 0, 0, 255);
        for (int32_t y = 0; y < 8; ++y) {
            const uint8_t fill = c.depth == 8 ? 1 : c.depth == 4 ? 0x11 : 0xFF;
            std::memset(page.topRow(y), c.colourPixel ? fill : 0, page.record.bytesPerRow);
        }
        if (c.depth == 1) // set bits take entry 0 of a palette
            page.setEntry(0, c.colourEntry ? 0 : 9, c.colourEntry ? 200 : 9, 9);
        const DecodedJpeg decoded = writeAndDecode(page);
        EXPECT_EQ(decoded.components, c.components);
    }
}

// A page known to be grey goes to the encoder as one grey level a pixel; the JPEG must be
// byte for byte the one its 24-bit form gives, whatever the depth, palette and turn.
TEST(WriterGreyPages, GreyLevelsGiveTheBytesOfTheTwentyFourBitForm) {
    const struct {
        uint32_t depth;
        int32_t photometric;
        bool inverted; // palette entry i is grey 255 - i, else i
    } cases[] = {{1, 0, false}, {1, 1, false}, {1, 3, true},
                 {4, 1, true},  {8, 1, false}, {8, 1, true}};
    for (const auto& c : cases) {
        for (int32_t orientation : {1, 3, 6}) {
            SCOPED_TRACE(testing::Message()
                         << c.depth << " bpp, photometric " << c.photometric << ", inverted "
                         << c.inverted << ", orientation " << orientation);
            Page page(13, 7, c.depth);
            page.record.photometric = c.photometric;
            page.record.orientation = orientation;
            for (int i = 0; i < page.record.paletteEntries; ++i) {
                const auto level =
                    uint8_t(c.inverted ? 255 - i * 255 / (page.record.paletteEntries - 1)
                                       : i * 255 / (page.record.paletteEntries - 1));
                page.setEntry(i, level, level, level);
            }
            for (size_t i = 0; i < page.rows.size(); ++i)
                page.rows[i] = uint8_t(i * 37 + 11);
            Bitmap wide;
            const DeviceContext context = platform::screenDeviceContext();
            ASSERT_EQ(c.depth == 1 ? expandBilevelForJpeg(context, &page.record, &wide.record)
                                   : convertTo24(context, &page.record, &wide.record),
                      0);
            wide.record.orientation = orientation;
            ScratchDir dir;
            ASSERT_EQ(writeJpeg(&page.record, dir.file("grey.jpg").c_str()), 0);
            ASSERT_EQ(writeJpeg(&wide.record, dir.file("wide.jpg").c_str()), 0);
            EXPECT_EQ(readFileBytes(dir.file("grey.jpg")), readFileBytes(dir.file("wide.jpg")));
        }
    }
}

TEST(WriterOwnership, TwentyFourBitPageIsTakenOverOthersAreKept) {
    ScratchDir dir;
    Page colour(4, 4, 24);
    ASSERT_EQ(writeJpeg(&colour.record, dir.file("taken.jpg").c_str()), 0);
    const std::vector<uint8_t> zero(sizeof(ImageRecord), 0);
    EXPECT_EQ(std::memcmp(&colour.record, zero.data(), zero.size()), 0);
    EXPECT_EQ(releaseImageRecord(&colour.record), 1);

    Page indexed(4, 4, 8);
    const ImageRecord before = indexed.record;
    ASSERT_EQ(writeJpeg(&indexed.record, dir.file("kept.jpg").c_str()), 0);
    EXPECT_EQ(std::memcmp(&indexed.record, &before, sizeof before), 0);
    EXPECT_EQ(releaseImageRecord(&indexed.record), 0);
}

TEST(WriterFailures, DepthWithoutConversionWritesNothing) {
    ScratchDir dir;
    for (uint32_t depth : {2u, 12u, 0u}) {
        SCOPED_TRACE(testing::Message() << depth << " bpp");
        Page page(4, 4, depth);
        page.record.bitsPerPixel = depth; // allocation turns 0 into 8; the writer sees 0
        const std::string path = dir.file("refused" + std::to_string(depth) + ".jpg");
        EXPECT_EQ(writeJpeg(&page.record, path.c_str()), kFailed);
        EXPECT_FALSE(pathExists(path));
        EXPECT_EQ(releaseImageRecord(&page.record), 0);
    }
}

TEST(WriterFailures, EncoderFailureLeavesNoFile) {
    ScratchDir dir;
    for (uint32_t depth : {1u, 24u}) {
        SCOPED_TRACE(testing::Message() << depth << " bpp");
        Page page(16, 16, depth);
        const std::string path = dir.file("no_such_folder/page_1.jpg");
        EXPECT_EQ(writeJpeg(&page.record, path.c_str()), kWriteEncoderFailed);
        EXPECT_FALSE(pathExists(path));
    }
    Page wide(65501, 1, 1); // wider than any JPEG can be
    const std::string path = dir.file("too_wide.jpg");
    EXPECT_EQ(writeJpeg(&wide.record, path.c_str()), kWriteEncoderFailed);
    EXPECT_FALSE(pathExists(path));
}

TEST(WriterFailures, RecordThatDoesNotDescribeItsRowsIsRefused) {
    ScratchDir dir;
    Page page(8, 8, 24);
    page.record.imageSize = 8; // fewer bytes than eight rows
    EXPECT_EQ(writeJpeg(&page.record, dir.file("inconsistent.jpg").c_str()), kFailed);
    EXPECT_EQ(writeJpeg(nullptr, dir.file("null.jpg").c_str()), kFailed);
}

} // namespace
