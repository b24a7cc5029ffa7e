#include "readers/tiff_page_reader.h"

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bitmap/bitmap_storage.h"
#include "core/clear_record.h"
#include "tests/support/bitmap_page.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_pages.h"

using readers::readTiffPage;
using testsupport::Bitmap;
using testsupport::PageLayout;
using testsupport::Rgb;

namespace {

// Hands out blocks of exactly the size asked for, so a row written past the layout the
// reader asked for lands outside the block (and the sanitizers see it).
class ExactBuffers : public readers::PageBufferSource {
  public:
    uint8_t* pageBufferOf(uint64_t bytes) override {
        ++calls;
        asked = bytes;
        block.reset(new (std::nothrow) uint8_t[bytes]);
        return block.get();
    }
    std::unique_ptr<uint8_t[]> block;
    uint64_t asked = 0;
    int calls = 0;
};

// A bitmap decoded from one page of a file.
struct Decoded : Bitmap {
    ExactBuffers buffers;
    int32_t status = 1;
};

void decode(const std::string& path, int index, Decoded& out) {
    readers::TiffHandle tif = readers::openTiff(path.c_str());
    initImageRecord(nullptr, &out.record);
    const std::vector<uint32_t> offsets = testsupport::tiffDirectoryOffsets(path);
    const readers::DirectoryPlace place{index < int(offsets.size()) ? offsets[index] : 0, index};
    out.status = readTiffPage(out.record, tif, place, out.buffers);
}

// Writes `layout` (pattern pixels when it has none) into `dir` and decodes its page; false
// when libtiff refuses to write it.
bool decodePage(const ScratchDir& dir, PageLayout layout, Decoded& out, bool bigEndian = false) {
    if (layout.pixels.empty())
        layout.pixels = testsupport::patternPixels(layout);
    const std::string path = dir.file("page.tif");
    if (!testsupport::writeTiffPages(path, {layout}, bigEndian))
        return false;
    decode(path, 0, out);
    return true;
}

bool isReleased(ImageRecord& bitmap) { return releaseImageRecord(&bitmap) == 1; }

std::vector<uint16_t> colorMap(int bits, bool sixteenBit) {
    const size_t n = size_t{1} << bits;
    std::vector<uint16_t> map(3 * n);
    for (size_t c = 0; c < 3; ++c)
        for (size_t k = 0; k < n; ++k)
            map[c * n + k] = sixteenBit ? uint16_t((k * 4099 + c * 21011) % 65536)
                                        : uint16_t((k * 7 + c * 50) % 256);
    return map;
}

PageLayout page(uint16_t bits, uint16_t samples, uint16_t photometric, uint16_t compression = 1) {
    PageLayout p;
    p.width = 37;
    p.height = 19;
    p.bitsPerSample = bits;
    p.samplesPerPixel = samples;
    p.photometric = photometric;
    p.compression = compression;
    return p;
}

// A page (8-bit grey unless given) written into `dir` and opened, for the reader's steps
// called alone.
readers::TiffHandle openPage(const ScratchDir& dir, PageLayout layout = page(8, 1, 1)) {
    layout.pixels = testsupport::patternPixels(layout);
    const std::string path = dir.file("page.tif");
    EXPECT_TRUE(testsupport::writeTiffPages(path, {layout}));
    readers::TiffHandle tif = readers::openTiff(path.c_str());
    EXPECT_NE(tif, nullptr);
    return tif;
}

struct RoutingCase {
    const char* name;
    PageLayout layout;
    uint32_t depth; // of the decoded bitmap
    int tolerance;
};

std::vector<RoutingCase> routingCases() {
    std::vector<RoutingCase> cases;
    auto add = [&](const char* name, PageLayout layout, uint32_t depth, int tolerance = 0) {
        if (layout.pixels.empty())
            layout.pixels = layout.compression == 7 ? testsupport::gradientPixels(layout)
                                                    : testsupport::patternPixels(layout);
        cases.push_back({name, std::move(layout), depth, tolerance});
    };
    add("1-bit WhiteIsZero", page(1, 1, 0), 1);
    add("1-bit BlackIsZero", page(1, 1, 1), 1);
    add("1-bit WhiteIsZero G3", page(1, 1, 0, 3), 1);
    add("1-bit BlackIsZero G3", page(1, 1, 1, 3), 1);
    add("1-bit WhiteIsZero G4", page(1, 1, 0, 4), 1);
    add("1-bit BlackIsZero G4", page(1, 1, 1, 4), 1);
    add("1-bit BlackIsZero LZW", page(1, 1, 1, 5), 1);
    PageLayout palette4 = page(4, 1, 3);
    palette4.colorMap = colorMap(4, true);
    // libtiff scales 16-bit maps by a shift, the palette by 255 / 65535: one level apart.
    add("4-bit palette", palette4, 4, 1);
    PageLayout palette8 = page(8, 1, 3, 5);
    palette8.colorMap = colorMap(8, true);
    add("8-bit palette", palette8, 8, 1);
    PageLayout palette8Small = page(8, 1, 3);
    palette8Small.colorMap = colorMap(8, false);
    add("8-bit palette, ColorMap below 256", palette8Small, 8);
    PageLayout palette1 = page(1, 1, 3);
    palette1.colorMap = {65535, 0, 0, 65535, 30000, 0};
    add("1-bit palette", palette1, 24);
    add("8-bit BlackIsZero", page(8, 1, 1), 8);
    add("8-bit BlackIsZero Deflate", page(8, 1, 1, 8), 8);
    add("8-bit WhiteIsZero", page(8, 1, 0), 24);
    add("2-bit grey", page(2, 1, 1), 24);
    add("4-bit grey", page(4, 1, 1), 24);
    add("4-bit WhiteIsZero", page(4, 1, 0), 24);
    add("16-bit grey", page(16, 1, 1), 24);
    add("24-bit RGB", page(8, 3, 2), 24);
    add("24-bit RGB LZW", page(8, 3, 2, 5), 24);
    add("24-bit RGB PackBits", page(8, 3, 2, 32773), 24);
    add("24-bit RGB Deflate", page(8, 3, 2, 8), 24);
    PageLayout rgbStrips = page(8, 3, 2, 5);
    rgbStrips.rowsPerStrip = 4;
    add("24-bit RGB LZW, strips of 4 rows", rgbStrips, 24);
    add("48-bit RGB", page(16, 3, 2), 24);
    add("JPEG RGB", page(8, 3, 2, 7), 24, 2);
    add("JPEG YCbCr", page(8, 3, 6, 7), 24, 2);
    add("JPEG grey", page(8, 1, 1, 7), 8, 2);
    PageLayout planar = page(8, 3, 2, 5);
    planar.planar = 2;
    add("planar-separate RGB", planar, 24);
    PageLayout tiled = page(8, 3, 2, 8);
    tiled.tileWidth = 16;
    tiled.tileLength = 16;
    add("tiled RGB", tiled, 24);
    PageLayout tiledGrey = page(8, 1, 1);
    tiledGrey.tileWidth = 16;
    tiledGrey.tileLength = 16;
    add("tiled 8-bit grey", tiledGrey, 24);
    PageLayout tiledRgb = page(8, 3, 2);
    tiledRgb.tileWidth = 16;
    tiledRgb.tileLength = 32;
    add("tiled RGB, uncompressed", tiledRgb, 24);
    PageLayout tiledPlanar = page(8, 3, 2);
    tiledPlanar.planar = 2;
    tiledPlanar.tileWidth = 16;
    tiledPlanar.tileLength = 16;
    add("tiled planar-separate RGB, uncompressed", tiledPlanar, 24);
    PageLayout opaqueAlpha = page(8, 4, 2);
    opaqueAlpha.extraSamples = {2};
    opaqueAlpha.pixels = testsupport::patternPixels(opaqueAlpha);
    for (size_t i = 3; i < opaqueAlpha.pixels.size(); i += 4)
        opaqueAlpha.pixels[i] = 255;
    add("RGBA, opaque", opaqueAlpha, 24);
    return cases;
}

} // namespace

TEST(PageRouting, EachClassDecodesAsLibtiffRendersItInBothByteOrders) {
    ScratchDir dir;
    for (const RoutingCase& c : routingCases()) {
        Decoded little, big;
        for (bool bigEndian : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (bigEndian ? ", MM" : ", II"));
            const std::string path = dir.file(bigEndian ? "mm.tif" : "ii.tif");
            ASSERT_TRUE(testsupport::writeTiffPages(path, {c.layout}, bigEndian));
            Decoded& d = bigEndian ? big : little;
            decode(path, 0, d);
            ASSERT_EQ(d.status, 0);
            EXPECT_EQ(d.record.bitsPerPixel, c.depth);
            EXPECT_EQ(d.record.width, int(c.layout.width));
            EXPECT_EQ(d.record.height, int(c.layout.height));
            EXPECT_EQ(d.buffers.asked, uint64_t{d.record.imageSize});
            EXPECT_EQ(d.record.pixels, d.buffers.block.get());
            EXPECT_TRUE(testsupport::looksLikeLibtiff(d.record, path, 0, c.tolerance));
        }
        // Within the tolerance of lossy pages the two orders must still agree exactly. Row
        // padding, and bits past the last pixel, are not the page's: compare pixels.
        SCOPED_TRACE(c.name);
        ASSERT_EQ(little.record.imageSize, big.record.imageSize);
        for (int y = 0; y < little.record.height; ++y)
            for (int x = 0; x < little.record.width; ++x)
                ASSERT_EQ(testsupport::bitmapPixel(little.record, x, y),
                          testsupport::bitmapPixel(big.record, x, y))
                    << "pixel " << x << ", " << y;
    }
}

TEST(PageRouting, RgbArrivesBlueGreenRedBottomRowFirst) {
    ScratchDir dir;
    PageLayout layout = page(8, 3, 2);
    layout.width = 2;
    layout.height = 2;
    layout.pixels = {10, 20, 30, 40,  50,  60,   // top row
                     70, 80, 90, 100, 110, 120}; // bottom row
    Decoded d;
    ASSERT_TRUE(decodePage(dir, layout, d));
    ASSERT_EQ(d.status, 0);
    ASSERT_EQ(d.record.bytesPerRow, 8);
    const uint8_t bottom[6] = {90, 80, 70, 120, 110, 100};
    const uint8_t top[6] = {30, 20, 10, 60, 50, 40};
    EXPECT_EQ(0, std::memcmp(d.record.pixels, bottom, 6));
    EXPECT_EQ(0, std::memcmp(d.record.pixels + 8, top, 6));
}

TEST(PageRouting, CmykAndMaskPagesKeepTheirRowsAsStored) {
    ScratchDir dir;
    PageLayout cmyk = page(8, 4, 5);
    cmyk.inkSet = 1;
    const struct {
        const char* name;
        PageLayout layout;
        uint32_t depth;
    } cases[] = {{"CMYK", cmyk, 32}, {"1-bit mask", page(1, 1, 4), 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageLayout layout = c.layout;
        layout.pixels = testsupport::patternPixels(layout);
        Decoded d;
        ASSERT_TRUE(decodePage(dir, layout, d));
        ASSERT_EQ(d.status, 0);
        ASSERT_EQ(d.record.bitsPerPixel, c.depth);
        EXPECT_EQ(d.record.photometric, layout.photometric);
        if (c.depth == 32) {
            EXPECT_EQ(d.record.paletteEntries, 0);
        }
        const size_t rowBytes = testsupport::pixelRowBytes(layout);
        for (int y = 0; y < d.record.height; ++y)
            ASSERT_EQ(
                0, std::memcmp(d.record.pixels + (d.record.height - 1 - y) * d.record.bytesPerRow,
                               layout.pixels.data() + y * rowBytes, rowBytes))
                << "row " << y;
    }
}

TEST(PageRouting, CmykWithAnotherInkSetIsRenderedByLibtiffOrRefused) {
    ScratchDir dir;
    PageLayout layout = page(8, 4, 5);
    layout.inkSet = 2;
    Decoded d;
    ASSERT_TRUE(decodePage(dir, layout, d));
    if (d.status == 0)
        EXPECT_EQ(d.record.bitsPerPixel, 24u);
    else
        EXPECT_EQ(d.status, readers::kPageUnreadable);
}

TEST(PageRouting, UnknownPhotometricIsRefusedNotReadRowByRow) {
    ScratchDir dir;
    PageLayout layout = page(8, 1, 32844 - 100); // no libtiff rendering exists for it
    Decoded d;
    ASSERT_TRUE(decodePage(dir, layout, d));
    EXPECT_EQ(d.status, readers::kPageUnreadable);
    EXPECT_TRUE(isReleased(d.record));
}

namespace {

struct AlphaCase {
    const char* name;
    uint16_t photometric;
    uint16_t samples;
    uint16_t extra;
    std::vector<uint8_t> pixels; // transparent, half, opaque
    Rgb expected[3];
};

} // namespace

TEST(PageAlpha, PagesWithAlphaLookAsOnWhitePaper) {
    ScratchDir dir;
    // Straight colour (200, 100, 50); premultiplied by 128/255 it is (100, 50, 25).
    // On white: c + 255 - a for premultiplied, c * a / 255 + 255 - a for straight.
    const AlphaCase cases[] = {
        {"RGB, unassociated alpha",
         2,
         4,
         2,
         {200, 100, 50, 0, 200, 100, 50, 128, 200, 100, 50, 255},
         {{255, 255, 255}, {227, 177, 152}, {200, 100, 50}}},
        {"RGB, associated alpha",
         2,
         4,
         1,
         {0, 0, 0, 0, 100, 50, 25, 128, 200, 100, 50, 255},
         {{255, 255, 255}, {227, 177, 152}, {200, 100, 50}}},
        {"grey, unassociated alpha",
         1,
         2,
         2,
         {200, 0, 200, 128, 200, 255},
         {{255, 255, 255}, {227, 227, 227}, {200, 200, 200}}},
        {"grey, associated alpha",
         1,
         2,
         1,
         {0, 0, 100, 128, 200, 255},
         {{255, 255, 255}, {227, 227, 227}, {200, 200, 200}}},
        {"WhiteIsZero grey, unassociated alpha",
         0,
         2,
         2,
         {55, 0, 55, 128, 55, 255},
         {{255, 255, 255}, {227, 227, 227}, {200, 200, 200}}},
        // An unspecified extra sample is not coverage: the colours stand.
        {"RGB, unspecified extra sample",
         2,
         4,
         0,
         {200, 100, 50, 0, 200, 100, 50, 128, 200, 100, 50, 255},
         {{200, 100, 50}, {200, 100, 50}, {200, 100, 50}}},
    };
    for (const AlphaCase& c : cases) {
        SCOPED_TRACE(c.name);
        PageLayout layout = page(8, c.samples, c.photometric);
        layout.width = 3;
        layout.height = 2;
        layout.extraSamples = {c.extra};
        layout.pixels = c.pixels;
        layout.pixels.insert(layout.pixels.end(), c.pixels.begin(), c.pixels.end());
        Decoded d;
        ASSERT_TRUE(decodePage(dir, layout, d));
        ASSERT_EQ(d.status, 0);
        ASSERT_EQ(d.record.bitsPerPixel, 24u);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(testsupport::bitmapPixel(d.record, x, y), c.expected[x])
                    << "pixel " << x << ", " << y;
    }
}

// Decoded pages: the 1-bit black/white order follows photometric and compression, 8-bit
// grey gets the full ramp, and a ColorMap is scaled down only when it holds a value of 256
// or more (entry 0 is (red, green, blue), red of entry 1 follows; in a 16-bit map 256 and
// 255 both scale to 0). Called directly, buildTiffPalette never writes more entries than the
// palette holds (a 4-bit header block is exactly 40 + 64 bytes, whatever the sample size or
// map), refuses a partial map and a bitmap without a palette; colormapDepth looks at `count`
// values for one of 256 or more.
TEST(PagePalette, FollowsThePageAndItsColorMap) {
    ScratchDir dir;
    const std::vector<uint8_t> white = {255, 255, 255, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> black = {0, 0, 0, 0, 255, 255, 255, 0};
    std::vector<uint8_t> ramp;
    for (int k = 0; k < 256; ++k)
        ramp.insert(ramp.end(), {uint8_t(k), uint8_t(k), uint8_t(k), 0});
    const auto mapped = [](uint16_t bits, std::array<uint16_t, 3> entry0, uint16_t red1) {
        PageLayout layout = page(bits, 1, 3);
        const size_t n = size_t{1} << bits;
        layout.colorMap.assign(3 * n, 0);
        for (size_t c = 0; c < 3; ++c)
            layout.colorMap[c * n] = entry0[c];
        layout.colorMap[1] = red1;
        return layout;
    };
    const struct {
        const char* what;
        PageLayout layout;
        int32_t entries;
        std::vector<uint8_t> palette; // its first bytes
    } decoded[] = {
        {"1-bit, BlackIsZero, CCITT T.6", page(1, 1, 1, 4), 2, white},
        {"1-bit, BlackIsZero, CCITT T.4", page(1, 1, 1, 3), 2, white},
        {"1-bit, BlackIsZero, LZW", page(1, 1, 1, 5), 2, black},
        {"1-bit, BlackIsZero, none", page(1, 1, 1, 1), 2, black},
        {"1-bit, WhiteIsZero, LZW", page(1, 1, 0, 5), 2, white},
        {"1-bit, WhiteIsZero, none", page(1, 1, 0, 1), 2, white},
        {"1-bit, mask", page(1, 1, 4, 1), 2, black},
        {"8-bit grey", page(8, 1, 1), 256, ramp},
        {"8-bit map with 16-bit values",
         mapped(8, {65535, 32768, 256}, 255),
         256,
         {0, 127, 255, 0, 0, 0, 0, 0}},
        {"4-bit map of 8-bit values",
         mapped(4, {255, 128, 7}, 3),
         16,
         {7, 128, 255, 0, 0, 0, 3, 0}},
    };
    for (const auto& c : decoded) {
        SCOPED_TRACE(c.what);
        Decoded d;
        ASSERT_TRUE(decodePage(dir, c.layout, d));
        ASSERT_EQ(d.status, 0);
        ASSERT_EQ(d.record.paletteEntries, c.entries);
        EXPECT_EQ(std::vector<uint8_t>(d.record.palette, d.record.palette + c.palette.size()),
                  c.palette);
    }

    const std::vector<uint16_t> map = colorMap(8, true);
    const uint16_t* full = map.data();
    const uint16_t zeros[256] = {};
    readers::TiffHandle tif = openPage(dir);
    const struct {
        const char* what;
        uint32_t depth; // 0: an 8-bit page whose bitmap has no palette
        const uint16_t *red, *green, *blue;
        int32_t status;
    } direct[] = {
        {"4 bits of 8-bit samples, no map", 4, nullptr, nullptr, nullptr, 0},
        {"4 bits, 256-entry map", 4, full, full + 256, full + 512, 0},
        {"partial map", 8, zeros, nullptr, zeros, readers::kPageUnreadable},
        {"no palette", 0, nullptr, nullptr, nullptr, kFailed},
    };
    for (const auto& c : direct) {
        SCOPED_TRACE(c.what);
        Bitmap bitmap;
        initImageRecord(nullptr, &bitmap.record);
        if (c.depth != 0) {
            ASSERT_EQ(readers::setBitmapGeometry(bitmap.record, 5, 5, c.depth), 0);
        }
        const uint32_t depth = c.depth != 0 ? c.depth : 8;
        EXPECT_EQ(
            readers::buildTiffPalette(tif.get(), bitmap.record, depth, 8, c.red, c.green, c.blue),
            c.status);
        if (c.status == 0 && c.red == nullptr) {
            EXPECT_EQ(bitmap.record.palette[4 * 15], 15); // the ramp is the entry numbers
        }
    }

    const uint16_t low[3] = {0, 255, 17};
    const uint16_t high[3] = {0, 256, 17};
    const struct {
        TIFF* tif;
        uint32_t count;
        const uint16_t* green;
        const uint16_t* blue;
        int depth;
    } depths[] = {{nullptr, 3, low, low, 0},
                  {tif.get(), 3, nullptr, low, 0},
                  {tif.get(), 3, low, low, 8},
                  {tif.get(), 3, low, high, 16},
                  {tif.get(), 1, low, high, 8}}; // only `count` values looked at
    for (const auto& c : depths)
        EXPECT_EQ(readers::colormapDepth(c.tif, c.count, low, c.green, c.blue), c.depth)
            << c.count << " values";
}

TEST(PageFields, ResolutionAndUnitFollowTheirRules) {
    ScratchDir dir;
    const struct {
        std::optional<float> x, y;
        std::optional<uint16_t> unit;
        double wantX, wantY;
        int32_t wantUnit;
    } cases[] = {
        {{}, {}, {}, 0, 0, 2},
        {300.f, 200.f, {}, 300, 200, 2},
        {300.f, 300.f, uint16_t{2}, 300, 300, 2},
        {80.f, 40.f, uint16_t{3}, 80, 40, 3},
        {72.f, 72.f, uint16_t{1}, 72, 72, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "unit " << c.wantUnit << " x " << c.wantX);
        PageLayout layout = page(8, 1, 1);
        layout.xResolution = c.x;
        layout.yResolution = c.y;
        layout.resolutionUnit = c.unit;
        Decoded d;
        ASSERT_TRUE(decodePage(dir, layout, d));
        ASSERT_EQ(d.status, 0);
        EXPECT_EQ(d.record.xResolution, c.wantX);
        EXPECT_EQ(d.record.yResolution, c.wantY);
        EXPECT_EQ(d.record.resolutionUnit, c.wantUnit);
    }
}

TEST(PageFields, PhotometricIsKeptAsSigned16Bits) {
    ScratchDir dir;
    readers::TiffHandle tif = openPage(dir, page(8, 1, 40000));
    Bitmap bitmap;
    initImageRecord(nullptr, &bitmap.record);
    ExactBuffers buffers;
    readers::decodeTiffDirectory(bitmap.record, tif.get(), buffers);
    EXPECT_EQ(bitmap.record.photometric, 40000 - 65536);
}

TEST(PageDirectory, OffsetOrIndexReachesThePage) {
    ScratchDir dir;
    std::vector<PageLayout> pages;
    for (uint32_t i = 0; i < 3; ++i) {
        PageLayout p = page(8, 1, 1);
        p.width = 10 + i;
        p.pixels = testsupport::patternPixels(p, i);
        pages.push_back(p);
    }
    const std::string path = dir.file("three.tif");
    ASSERT_TRUE(testsupport::writeTiffPages(path, pages));
    const std::vector<uint32_t> offsets = testsupport::tiffDirectoryOffsets(path);
    ASSERT_EQ(offsets.size(), 3u);
    readers::TiffHandle tif = readers::openTiff(path.c_str());
    // By offset, then by index (offset 0), in an order the chain does not have.
    for (bool byOffset : {true, false}) {
        for (int index : {2, 0, 1, 1, 2}) {
            SCOPED_TRACE(testing::Message() << "page " << index << (byOffset ? " by offset" : ""));
            Bitmap bitmap;
            initImageRecord(nullptr, &bitmap.record);
            const readers::DirectoryPlace place{byOffset ? offsets[index] : 0, index};
            ExactBuffers buffers;
            ASSERT_EQ(readTiffPage(bitmap.record, tif, place, buffers), 0);
            EXPECT_EQ(bitmap.record.width, 10 + index);
            EXPECT_TRUE(testsupport::looksLikeLibtiff(bitmap.record, path, index));
        }
    }
}

TEST(PageDirectory, MissingDirectoryGivesMinusOneAndReleases) {
    ScratchDir dir;
    const readers::TiffHandle tif = openPage(dir), none;
    const struct {
        int32_t index;
        uint32_t offset;
        bool opened; // else no file at all
        int32_t status;
    } cases[] = {{1, 0, true, kFailed},
                 {-1, 0, true, kFailed},
                 {0, 3, true, kFailed},
                 {0, 0x7FFFFFF0, true, kFailed},
                 {0, 0, false, readers::kTiffOpenFailed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.index << " at " << c.offset);
        Bitmap bitmap;
        initImageRecord(nullptr, &bitmap.record);
        ExactBuffers buffers;
        EXPECT_EQ(readTiffPage(bitmap.record, c.opened ? tif : none, {c.offset, c.index}, buffers),
                  c.status);
        EXPECT_TRUE(isReleased(bitmap.record));
        EXPECT_EQ(buffers.calls, 0);
    }
}

TEST(PageLimits, PagesOverTheBitmapLimitAreRefusedBeforeAnyBuffer) {
    ScratchDir dir;
    const struct {
        const char* name;
        uint32_t width, height;
        uint16_t bits, samples, photometric;
    } cases[] = {
        {"8-bit grey 65535 x 65535", 65535, 65535, 8, 1, 1},
        {"24-bit RGB 20000 x 20000", 20000, 20000, 8, 3, 2},
        {"2-bit grey 20000 x 20000, rendered at 24 bits", 20000, 20000, 2, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("huge.tif");
        ASSERT_TRUE(testsupport::writeClaimingPage(path, c.width, c.height, c.bits, c.samples,
                                                   c.photometric));
        Decoded d;
        decode(path, 0, d);
        EXPECT_EQ(d.status, kFailed);
        EXPECT_EQ(d.buffers.calls, 0);
        EXPECT_TRUE(isReleased(d.record));
    }
}

TEST(PageLimits, RgbaRasterIsRefusedOverTheLimitAndOnAForeignLayout) {
    ScratchDir dir;
    readers::TiffHandle tif = openPage(dir, page(8, 3, 2));
    uint8_t buffer[64] = {};
    ImageRecord bitmap;
    clearRecord(bitmap);
    bitmap.width = 4;
    bitmap.height = 4;
    bitmap.bitsPerPixel = 8; // rows laid out for 8 bits must not take 3 bytes per pixel
    bitmap.bytesPerRow = 4;
    bitmap.imageSize = 16;
    EXPECT_EQ(readers::readRgbaPage(bitmap, buffer, tif.get()), kFailed);
    // Rows laid out for 24 bits, but a raster of 400 million pixels.
    bitmap.width = 20000;
    bitmap.height = 20000;
    bitmap.bitsPerPixel = 24;
    bitmap.bytesPerRow = 60000;
    bitmap.imageSize = 1200000000;
    EXPECT_EQ(readers::readRgbaPage(bitmap, buffer, tif.get()), kFailed);
}

TEST(PageSwap, SwapsFirstAndThirdByteOfEachPixel) {
    uint8_t row[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 99};
    readers::swapRedBlue(row, 3);
    const uint8_t want[10] = {3, 2, 1, 6, 5, 4, 9, 8, 7, 99};
    EXPECT_EQ(0, std::memcmp(row, want, sizeof row));
}

TEST(PageOpen, OpenTiffRefusesWhatIsNotATiffFile) {
    ScratchDir dir;
    const std::string path = dir.write("not_tiff.tif", "this is not a TIFF file at all");
    EXPECT_EQ(readers::openTiff(path.c_str()), nullptr);
    EXPECT_EQ(readers::openTiff((path + ".missing").c_str()), nullptr);
    EXPECT_EQ(readers::openTiff(""), nullptr);
    EXPECT_EQ(readers::openTiff(nullptr), nullptr);
}
