// Pages as the user is to see them: turned as their Orientation says, whichever path decodes
// them, and written or refused as libtiff judges their pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <tiffio.h>

#include "app/messages.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"

using namespace tiff_builder;
using testsupport::PageLayout;

namespace {

constexpr int kUprightWidth = 64, kUprightHeight = 48, kCell = 8;

// The upright page, asymmetric every way, so that any wrong turn or mirror shows: bilevel,
// cells black or white by a hash of their place; in colour, red rising to the right, green
// downwards, blue towards the bottom right corner (smooth, so JPEG keeps it close).
uint8_t uprightSample(int x, int y, int channel, bool bilevel) {
    if (bilevel) {
        const uint32_t cell = uint32_t(x / kCell) * 7919u + uint32_t(y / kCell) * 104729u;
        return ((cell ^ (cell >> 7)) * 2654435761u >> 24 & 1) != 0 ? 0 : 255;
    }
    const int right = kUprightWidth - 1, down = kUprightHeight - 1;
    const int value = channel == 0   ? x * 255 / right
                      : channel == 1 ? y * 255 / down
                                     : x * y * 255 / (right * down);
    return uint8_t(value);
}

// Where stored pixel (column c, row r) of a w x h page is seen under `orientation`, as TIFF
// names them: from 5 on, stored rows are seen as columns; 2, 3, 6 and 7 see the first stored
// column (or row) on the right, 3, 4, 7 and 8 the first row (or column) at the bottom.
void viewedAt(int orientation, int w, int h, int c, int r, int& x, int& y) {
    const bool exchanged = orientation >= ORIENTATION_LEFTTOP;
    const int across = exchanged ? r : c, down = exchanged ? c : r;
    const bool fromRight =
        orientation == 2 || orientation == 3 || orientation == 6 || orientation == 7;
    const bool fromBottom =
        orientation == 3 || orientation == 4 || orientation == 7 || orientation == 8;
    x = fromRight ? (exchanged ? h : w) - 1 - across : across;
    y = fromBottom ? (exchanged ? w : h) - 1 - down : down;
}

// The page stored so that, viewed as `orientation` says, it shows the upright cells: a G4
// fax page (read row by row) or a JPEG-compressed YCbCr page (libtiff's RGBA path).
PageLayout storedPage(int orientation, bool bilevel) {
    PageLayout page;
    const bool exchanged = orientation >= ORIENTATION_LEFTTOP;
    page.width = exchanged ? kUprightHeight : kUprightWidth;
    page.height = exchanged ? kUprightWidth : kUprightHeight;
    page.orientation = uint16_t(orientation);
    page.xResolution = 200;
    page.yResolution = 100;
    page.resolutionUnit = RESUNIT_INCH;
    page.bitsPerSample = bilevel ? 1 : 8;
    page.samplesPerPixel = bilevel ? 1 : 3;
    page.photometric = bilevel ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_YCBCR;
    page.compression = bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_JPEG;
    page.pixels.assign(testsupport::pixelRowBytes(page) * page.height, 0);
    for (int r = 0; r < int(page.height); ++r) {
        uint8_t* row = page.pixels.data() + size_t(r) * testsupport::pixelRowBytes(page);
        for (int c = 0; c < int(page.width); ++c) {
            int x, y;
            viewedAt(orientation, int(page.width), int(page.height), c, r, x, y);
            if (bilevel && uprightSample(x, y, 0, true) == 0)
                row[c / 8] |= uint8_t(0x80 >> c % 8); // a set bit is black
            for (int s = 0; !bilevel && s < 3; ++s)
                row[3 * c + s] = uprightSample(x, y, s, false);
        }
    }
    return page;
}

// A one-strip page built tag by tag, for data libtiff's writer would never produce.
std::vector<uint8_t> stripPage(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples,
                               uint16_t photometric, uint16_t compression,
                               std::vector<uint8_t> strip) {
    const auto count = uint32_t(strip.size());
    TiffBuilder builder;
    builder.blob(8, std::move(strip))
        .page()
        .tag(kTagImageWidth, kShort, {width})
        .tag(kTagImageLength, kShort, {height})
        .tag(kTagBitsPerSample, kShort, std::vector<uint32_t>(samples, bits))
        .tag(kTagCompression, kShort, {compression})
        .tag(TIFFTAG_PHOTOMETRIC, kShort, {photometric})
        .tag(kTagStripOffsets, kLong, {8})
        .tag(kTagSamplesPerPixel, kShort, {samples})
        .tag(kTagRowsPerStrip, kShort, {height})
        .tag(kTagStripByteCounts, kLong, {count});
    if (samples == 4)
        builder.tag(TIFFTAG_EXTRASAMPLES, kShort, {EXTRASAMPLE_UNASSALPHA});
    return builder.build();
}

// A 16 x 16 fax page in modified Huffman (compression 2) whose strip ends after 8 rows: a
// white row, then rows of 4 white, 8 black, 4 white. libtiff warns of the lines it lost.
std::vector<uint8_t> faxCutShort() {
    std::vector<uint8_t> strip(15, 0xB1);
    strip[0] = 0xA8;
    for (size_t i = 2; i < strip.size(); i += 2)
        strip[i] = 0x6C;
    return stripPage(16, 16, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTRLE, strip);
}

} // namespace

TEST(PageView, EveryOrientationShowsTheUprightPageOnBothPaths) {
    for (const bool bilevel : {true, false}) {
        std::vector<uint8_t> upright;
        for (int y = 0; y < kUprightHeight; ++y)
            for (int x = 0; x < kUprightWidth; ++x)
                for (int s = 0; s < 3; ++s)
                    upright.push_back(uprightSample(x, y, s, bilevel));
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << (bilevel ? "bilevel" : "YCbCr") << " page, "
                                            << "orientation " << orientation);
            ScratchDir dir;
            ASSERT_TRUE(testsupport::writeTiffPages(dir.file("page.tif"),
                                                    {storedPage(orientation, bilevel)}));
            const RunResult run = runPelc({"page.tif"}, dir.path());
            ASSERT_EQ(run.exitCode, 0);
            testsupport::DecodedJpeg jpeg;
            ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("page_1.jpg"), jpeg)) << run.out;
            ASSERT_EQ(jpeg.width, kUprightWidth);
            ASSERT_EQ(jpeg.height, kUprightHeight);
            // A wrong turn or mirror moves half the cells or reverses a ramp: mean errors
            // of 60 and more.
            for (double error :
                 testsupport::meanAbsoluteError(jpeg.rgb, upright, jpeg.width, jpeg.height))
                EXPECT_LT(error, 12.0);
            // Turned a quarter, the page's horizontal density is the stored vertical one.
            const bool exchanged = orientation >= ORIENTATION_LEFTTOP;
            EXPECT_EQ(jpeg.xDensity, exchanged ? 100 : 200);
            EXPECT_EQ(jpeg.yDensity, exchanged ? 200 : 100);
        }
    }
}

TEST(PageView, LibtiffsVerdictOnThePixelsDecidesWhetherAPageIsWritten) {
    const std::vector<uint8_t> noDeflateStream = patternBytes(64, 0);
    const struct {
        const char* what;
        std::vector<uint8_t> file;
        bool written;
    } cases[] = {
        {"fax page with lines lost, warned about only", faxCutShort(), true},
        {"16-bit grey in compression 34712, which libtiff cannot decode",
         stripPage(8, 8, 16, 1, PHOTOMETRIC_MINISBLACK, 34712, patternBytes(128, 1)), false},
        {"RGBA in compression 60000",
         stripPage(8, 8, 8, 4, PHOTOMETRIC_RGB, 60000, patternBytes(256, 2)), false},
        {"16-bit grey Deflate whose data libtiff reports as corrupt",
         stripPage(8, 8, 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, noDeflateStream),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("page.tif", c.file);
        const RunResult run = runPelc({"page.tif"}, dir.path());
        ASSERT_EQ(run.exitCode, 0);
        const std::string refused = consoleLine(sjis(messages::kLoadFailed));
        EXPECT_EQ(run.out.find(refused) == std::string::npos, c.written) << run.out;
        ASSERT_EQ(pathExists(dir.file("page_1.jpg")), c.written);
        if (!c.written)
            continue;
        testsupport::DecodedJpeg jpeg;
        ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("page_1.jpg"), jpeg));
        ASSERT_EQ(jpeg.width, 16);
        ASSERT_EQ(jpeg.height, 16);
        // The rows libtiff decoded are there: black in the middle of row 4, white at its ends.
        EXPECT_LT(jpeg.pixel(8, 4)[0], 64);
        EXPECT_GT(jpeg.pixel(1, 4)[0], 192);
    }
}
