// BigTIFF files through the whole program: real ones convert page by page like classic
// files; hostile ones are refused without a crash and without an output.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/jpeg_decode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"

using namespace tiff_builder;

namespace {

// A page of 8-bit grey pixels whose strips the tests place where they please.
TiffBuilder& stripPage(TiffBuilder& builder, uint16_t compression) {
    return builder.page()
        .tag(kTagImageWidth, kShort, {16})
        .tag(kTagImageLength, kShort, {16})
        .tag(kTagBitsPerSample, kShort, {8})
        .tag(kTagCompression, kShort, {compression})
        .tag(262, kShort, {1}) // PhotometricInterpretation: BlackIsZero
        .tag(kTagRowsPerStrip, kShort, {16});
}

} // namespace

TEST(BigTiffRun, AThreePageFileConvertsInBothByteOrders) {
    using testsupport::PageLayout;
    const PageLayout rgb = testsupport::smooth(testsupport::rgbPage(64, 48, 1, 5));
    const PageLayout grey = testsupport::smooth(testsupport::greyPage(40, 30, 1, 8));
    PageLayout tiled = testsupport::greyPage(48, 40);
    tiled.tileWidth = tiled.tileLength = 16;
    tiled.pixels = testsupport::gradientPixels(tiled);
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        ScratchDir dir;
        const std::string path = dir.file("big.tif");
        ASSERT_TRUE(testsupport::writeTiffPages(path, {rgb, grey, tiled}, bigEndian, true));
        ASSERT_EQ(readWholeFile(path).at(bigEndian ? 3 : 2), 43) << "not written as BigTIFF";

        const RunResult run = runPelc({"big.tif"}, dir.path());
        EXPECT_EQ(run.exitCode, 0);
        for (int page = 1; page <= 3; ++page) {
            SCOPED_TRACE(page);
            testsupport::DecodedJpeg jpeg;
            ASSERT_TRUE(testsupport::decodeJpegFile(
                dir.file("big_" + std::to_string(page) + ".jpg"), jpeg));
            EXPECT_TRUE(testsupport::looksLikeLibtiff(jpeg.width, jpeg.height, jpeg.rgb, path,
                                                      page - 1, 255, 4.0));
        }
    }
}

TEST(BigTiffRun, HostileFilesAreRefusedWithoutACrash) {
    const uint64_t far = uint64_t{1} << 32;
    const struct {
        const char* what;
        uint16_t compression;
        uint64_t stripOffset;
        uint64_t stripCount;
        uint64_t interchange; // JPEGInterchangeFormat, 0 for none
    } cases[] = {
        {"a strip beyond 4 GiB", 1, far + 16, 256, 0},
        {"an old-style strip beyond 4 GiB", 6, far + 16, 256, 0},
        {"an old-style strip near 2^64", 6, ~uint64_t{0} - 100, 200, 0},
        {"an interchange block beyond 4 GiB", 6, 16, 256, far},
        {"offsets and counts that wrap", 6, ~uint64_t{0} - 10, ~uint64_t{0} - 10, ~uint64_t{0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        TiffBuilder builder(ByteOrder::Little, Format::BigTiff);
        builder.blob(16, patternBytes(256));
        stripPage(builder, c.compression)
            .tag64(kTagStripOffsets, kLong8, {c.stripOffset})
            .tag64(kTagStripByteCounts, kLong8, {c.stripCount});
        if (c.interchange != 0)
            builder.tag64(kTagJpegInterchangeFormat, kLong8, {c.interchange})
                .tag64(kTagJpegInterchangeFormatLength, kLong8, {c.stripCount});
        dir.write("hostile.tif", builder.build());

        const RunResult run = runPelc({"hostile.tif"}, dir.path());
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(testsupport::jpegFilesIn(dir.path()).empty());
        EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
    }
}
