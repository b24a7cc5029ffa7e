#include "readers/convert_engine.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/clear_record.h"
#include "platform/device_context.h"
#include "readers/jpeg_copy.h"
#include "readers/tiff_page_reader.h"
#include "tests/support/bitmap_page.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"
#include "tiff/directory_chain.h"

using readers::ConvertEngine;
using testsupport::Bitmap;
using testsupport::greyPage;
using testsupport::looksLikeLibtiff;
using testsupport::PageLayout;
using testsupport::Rgb;
using testsupport::rgbPage;

namespace {

int32_t load(ConvertEngine& engine, const std::string& path, int index, Bitmap& out) {
    ImageRecord page = testsupport::tiffPageRecord(path, index);
    return engine.loadPage(platform::screenDeviceContext(), path.c_str(), page, out.record);
}

} // namespace

// Pages of one file load in any order, each into the engine's buffer, which is allocated
// anew only when a page needs more than it holds.
TEST(ConvertEngine, LoadsPagesOfOneFileInAnyOrder) {
    ScratchDir dir;
    PageLayout fax;
    fax.width = 50;
    fax.height = 9;
    fax.bitsPerSample = 1;
    fax.photometric = 0;
    fax.compression = 4;
    fax.pixels = testsupport::patternPixels(fax, 3);
    PageLayout tiled = rgbPage(40, 20, 7);
    tiled.tileWidth = 16;
    tiled.tileLength = 16;
    const struct {
        const char* what;
        std::vector<PageLayout> pages;
        std::vector<int> order;
        std::vector<int32_t> capacity; // the buffer's size after each load; empty: not checked
    } cases[] = {
        {"grey, RGB, fax",
         {greyPage(20, 10, 1, 5), rgbPage(31, 7, 2, 8), fax},
         {2, 0, 1, 1, 2, 0},
         {}},
        {"sizes",
         {greyPage(40, 10, 1), greyPage(40, 10, 2), greyPage(8, 4, 3), rgbPage(40, 30, 4)},
         {0, 1, 2, 3, 0},
         {400, 400, 400, 3600, 3600}},
        {"small uncompressed tiles after a large strip",
         {greyPage(300, 200, 1), tiled, tiled},
         {0, 1, 2, 1},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("pages.tif");
        ASSERT_TRUE(testsupport::writeTiffPages(path, c.pages));
        ConvertEngine engine;
        for (size_t i = 0; i < c.order.size(); ++i) {
            const int index = c.order[i];
            SCOPED_TRACE(testing::Message() << "page " << index);
            Bitmap bitmap;
            ASSERT_EQ(load(engine, path, index, bitmap), 0);
            EXPECT_EQ(bitmap.record.pageNumber, index);
            EXPECT_EQ(bitmap.record.directoryIndex, index);
            EXPECT_EQ(bitmap.record.fileKind, kFileKindTiff);
            EXPECT_EQ(bitmap.record.pixels, engine.pageBuffer);
            if (!c.capacity.empty()) {
                EXPECT_EQ(engine.pageBufferSize, c.capacity[i]);
            }
            EXPECT_TRUE(looksLikeLibtiff(bitmap.record, path, index));
        }
        engine.finishFile();
    }
}

// A record without a positive size is refused without opening its file, and a file whose page
// claims 65535 x 65535 pixels before its page is decoded: neither costs an allocation.
TEST(ConvertEngine, PagesWithoutPositiveSizeOrClaimingTooMuchAreRefusedBeforeAnyBuffer) {
    ScratchDir dir;
    const std::string claims = dir.file("claims.tif");
    const struct {
        int32_t width, height;
        uint32_t bitsPerPixel;
        uint16_t bits, samples, photometric; // a file's claiming page; 0: the record alone
    } cases[] = {
        {0, 5, 8, 0, 0, 0},         {5, 0, 8, 0, 0, 0},         {-3, 5, 8, 0, 0, 0},
        {5, -1, 24, 0, 0, 0},       {65535, 65535, 8, 0, 0, 0}, {0x7FFFFFFF, 1, 32, 0, 0, 0},
        {65535, 65535, 0, 8, 1, 1}, {65535, 65535, 0, 8, 3, 2}, {65535, 65535, 0, 16, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.width << " x " << c.height << ", " << c.bits << " bits x " << c.samples);
        ConvertEngine engine;
        Bitmap bitmap;
        if (c.bits != 0) {
            ASSERT_TRUE(testsupport::writeClaimingPage(
                claims, uint32_t(c.width), uint32_t(c.height), c.bits, c.samples, c.photometric));
            EXPECT_EQ(load(engine, claims, 0, bitmap), kFailed);
        } else {
            ImageRecord page;
            clearRecord(page);
            page.width = c.width;
            page.height = c.height;
            page.bitsPerPixel = c.bitsPerPixel;
            // No such file: reaching for it would give -970, not -1.
            EXPECT_EQ(engine.loadPage(nullptr, dir.file("does_not_exist.tif").c_str(), page,
                                      bitmap.record),
                      kFailed);
        }
        EXPECT_EQ(engine.pageBuffer, nullptr);
        EXPECT_EQ(releaseImageRecord(&bitmap.record), 1);
    }
}

TEST(ConvertEngine, BufferFollowsTheLayoutDecodedNotTheRecord) {
    ScratchDir dir;
    PageLayout grey16 = greyPage(33, 17, 5);
    grey16.bitsPerSample = 16;
    grey16.pixels = testsupport::patternPixels(grey16, 5);
    const std::string path = dir.file("understated.tif");
    ASSERT_TRUE(testsupport::writeTiffPages(path, {rgbPage(33, 17, 6), grey16}));
    for (int index : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "page " << index);
        ConvertEngine engine;
        ImageRecord page = testsupport::tiffPageRecord(path, index);
        page.bitsPerPixel = 1; // a record that undercounts the depth
        Bitmap bitmap;
        ASSERT_EQ(engine.loadPage(nullptr, path.c_str(), page, bitmap.record), 0);
        EXPECT_EQ(bitmap.record.bitsPerPixel, 24u);
        EXPECT_GE(uint64_t(engine.pageBufferSize), uint64_t{bitmap.record.imageSize});
        EXPECT_NE(engine.pageBuffer, nullptr);
        EXPECT_TRUE(looksLikeLibtiff(bitmap.record, path, index));
    }
}

TEST(ConvertEngine, CmykPageBecomesTwentyFourBitsWithItsOwnPixels) {
    ScratchDir dir;
    PageLayout cmyk;
    cmyk.width = 13;
    cmyk.height = 5;
    cmyk.samplesPerPixel = 4;
    cmyk.photometric = 5;
    cmyk.pixels = testsupport::patternPixels(cmyk, 9);
    cmyk.pixels[0] = 0; // one white pixel, one black, the rest as they come
    cmyk.pixels[1] = 0;
    cmyk.pixels[2] = 0;
    cmyk.pixels[3] = 0;
    cmyk.pixels[7] = 255;
    const std::string path = dir.file("cmyk.tif");
    ASSERT_TRUE(testsupport::writeTiffPages(path, {cmyk, greyPage(13, 5, 1)}));
    ConvertEngine engine;
    {
        Bitmap bitmap;
        ASSERT_EQ(load(engine, path, 0, bitmap), 0);
        const ImageRecord& b = bitmap.record;
        EXPECT_EQ(b.bitsPerPixel, 24u);
        EXPECT_NE(b.dibSection, nullptr);
        EXPECT_NE(b.pixels, engine.pageBuffer);
        EXPECT_EQ(b.pageNumber, 0);
        EXPECT_EQ(b.fileKind, kFileKindTiff);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 13; ++x) {
                const uint8_t* p = cmyk.pixels.data() + (y * 13 + x) * 4;
                auto ink = [&](int i) { return uint8_t(std::max(255 - p[i] - p[3], 0)); };
                ASSERT_EQ(testsupport::bitmapPixel(b, x, y), (Rgb{ink(0), ink(1), ink(2)}))
                    << "pixel " << x << ", " << y;
            }
        }
    }
    // Releasing the converted page left the engine's buffer alone.
    Bitmap next;
    ASSERT_EQ(load(engine, path, 1, next), 0);
    EXPECT_EQ(next.record.pixels, engine.pageBuffer);
    EXPECT_TRUE(looksLikeLibtiff(next.record, path, 1));
}

TEST(ConvertEngine, PageThatFailsToDecodeDoesNotStopTheNext) {
    ScratchDir dir;
    for (uint16_t compression : {uint16_t{5}, uint16_t{8}}) {
        SCOPED_TRACE(testing::Message() << "compression " << compression);
        const std::string path = dir.file("middle.tif");
        ASSERT_TRUE(testsupport::writeTiffPages(path, {greyPage(30, 12, 1, compression),
                                                       greyPage(30, 12, 2, compression),
                                                       greyPage(30, 12, 3, compression)}));
        // Spoil the middle page's compressed strip.
        const std::vector<uint32_t> strips = testsupport::tiffStripOffsets(path, 1);
        ASSERT_EQ(strips.size(), 1u);
        std::vector<uint8_t> bytes = tiff_builder::readWholeFile(path);
        for (size_t i = strips[0]; i < strips[0] + 40 && i < bytes.size(); ++i)
            bytes[i] = 0xFF;
        dir.write("middle.tif", bytes);

        ConvertEngine engine;
        for (int index : {0, 1, 2, 1, 0}) {
            SCOPED_TRACE(testing::Message() << "page " << index);
            Bitmap bitmap;
            const int32_t status = load(engine, path, index, bitmap);
            if (index == 1) {
                EXPECT_EQ(status, readers::kScanlineFailed);
                EXPECT_EQ(releaseImageRecord(&bitmap.record), 1);
            } else {
                ASSERT_EQ(status, 0);
                EXPECT_TRUE(looksLikeLibtiff(bitmap.record, path, index));
            }
        }
    }
}

TEST(ConvertEngine, MissingFileGivesOpenFailureAndTheEngineGoesOn) {
    ScratchDir dir;
    const std::string path = dir.file("present.tif");
    ASSERT_TRUE(testsupport::writeTiffPages(path, {greyPage(10, 10, 1)}));
    ConvertEngine engine;
    ImageRecord page = testsupport::tiffPageRecord(path, 0);
    Bitmap missing;
    EXPECT_EQ(engine.loadPage(nullptr, dir.file("absent.tif").c_str(), page, missing.record),
              readers::kTiffOpenFailed);
    EXPECT_EQ(releaseImageRecord(&missing.record), 1);
    Bitmap notTiff;
    const std::string text = dir.write("text.tif", "hello");
    EXPECT_EQ(engine.loadPage(nullptr, text.c_str(), page, notTiff.record),
              readers::kTiffOpenFailed);
    Bitmap present;
    EXPECT_EQ(engine.loadPage(nullptr, path.c_str(), page, present.record), 0);
}

TEST(ConvertEngine, FinishFileLetsTheSamePathBeReadAfresh) {
    ScratchDir dir;
    const std::string path = dir.file("rewritten.tif");
    ConvertEngine engine;
    for (uint32_t seed : {1u, 2u}) {
        ASSERT_TRUE(testsupport::writeTiffPages(path, {greyPage(12, 6, seed)}));
        Bitmap bitmap;
        ASSERT_EQ(load(engine, path, 0, bitmap), 0);
        EXPECT_TRUE(looksLikeLibtiff(bitmap.record, path, 0));
        engine.finishFile();
    }
}

// Damaged files, every byte flipped in turn and then cut short: the page list, the loader
// and the copy of old-style JPEG data each give a status, never a crash (this test earns
// its keep under the sanitizers), and a copy never grows past twice its input.
TEST(DamagedFiles, GiveAStatusNeverACrash) {
    using namespace tiff_builder;
    ScratchDir dir;
    const auto listed = [](ByteOrder order) {
        TiffBuilder builder(order);
        builder.blob(8, patternBytes(16))
            .page()
            .tag(kTagImageWidth, kShort, {16})
            .tag(kTagImageLength, kLong, {4})
            .tag(kTagBitsPerSample, kShort, {8, 8, 8})
            .tag(kTagSamplesPerPixel, kShort, {3})
            .tag(kTagStripOffsets, kShort, {8, 12, 16})
            .tag(kTagStripByteCounts, kLong, {4, 4, 8})
            .tag(kTagPageNumber, kShort, {1, 2})
            .page()
            .tag(kTagImageWidth, kLong, {1})
            .tag(kTagCompression, kShort, {6})
            .tag(kTagJpegInterchangeFormat, kLong, {8})
            .tag(kTagJpegInterchangeFormatLength, kLong, {16})
            .tag(kTagPageNumber, kShort, {0, 2});
        return builder.build();
    };
    const auto listPages = [](const std::string& path, size_t size) {
        FileList list;
        const int32_t status = tiffdir::listPages(path.c_str(), list);
        EXPECT_LE(status, 0);
        if (size < 8) {
            EXPECT_EQ(status, tiffdir::kReadError);
        }
    };

    PageLayout fax;
    fax.width = 24;
    fax.height = 6;
    fax.bitsPerSample = 1;
    fax.compression = 4;
    fax.pixels = testsupport::patternPixels(fax, 4);
    PageLayout palette;
    palette.width = 6;
    palette.height = 4;
    palette.bitsPerSample = 4;
    palette.photometric = 3;
    palette.colorMap.assign(48, 40000);
    palette.pixels = testsupport::patternPixels(palette, 5);
    const std::string original = dir.file("damage_source.tif");
    ASSERT_TRUE(testsupport::writeTiffPages(
        original, {greyPage(8, 5, 1, 5), fax, rgbPage(5, 4, 2, 8), palette}));
    std::vector<ImageRecord> pages;
    for (int i = 0; i < 4; ++i)
        pages.push_back(testsupport::tiffPageRecord(original, i));
    const auto loadPages = [&pages](const std::string& path, size_t) {
        ConvertEngine engine;
        for (ImageRecord page : pages) {
            Bitmap bitmap;
            const int32_t status =
                engine.loadPage(platform::screenDeviceContext(), path.c_str(), page, bitmap.record);
            EXPECT_LE(status, 0);
            if (status == 0) {
                EXPECT_GT(bitmap.record.width, 0);
                EXPECT_GE(uint64_t(engine.pageBufferSize), uint64_t{bitmap.record.imageSize});
            }
        }
        engine.finishFile();
    };

    TiffBuilder copied(ByteOrder::Big); // both layouts: an interchange block and strips
    copied.blob(8, patternBytes(64))
        .page()
        .tag(kTagCompression, kShort, {6})
        .tag(kTagStripOffsets, kShort, {24, 40, 56})
        .tag(kTagStripByteCounts, kShort, {16, 16, 16})
        .tag(kTagJpegInterchangeFormat, kLong, {8})
        .tag(kTagJpegInterchangeFormatLength, kLong, {16});
    const std::string output = dir.file("copy.jpg");
    const auto copyPage = [&](const std::string& path, size_t size) {
        EXPECT_LE(readers::copyJpegData(path.c_str(), output.c_str(), copied.directoryOffsets()[0]),
                  0);
        EXPECT_LE(readWholeFile(output).size(), 2 * size);
    };

    const struct {
        const char* what;
        std::vector<uint8_t> file;
        size_t cutStep; // cut after every this many bytes; 0: not cut
        std::function<void(const std::string& path, size_t size)> check;
    } cases[] = {
        {"page list, little-endian", listed(ByteOrder::Little), 1, listPages},
        {"page list, big-endian", listed(ByteOrder::Big), 1, listPages},
        {"decoded pages", readWholeFile(original), 7, loadPages},
        {"copied JPEG data", copied.build(), 0, copyPage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.file.empty());
        for (size_t i = 0; i < c.file.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "byte " << i << " flipped");
            std::vector<uint8_t> bad = c.file;
            bad[i] ^= 0xFF;
            c.check(dir.write("damaged.tif", bad), bad.size());
        }
        for (size_t size = 0; c.cutStep != 0 && size < c.file.size(); size += c.cutStep) {
            SCOPED_TRACE(testing::Message() << "cut at " << size);
            const std::vector<uint8_t> cut(c.file.begin(), c.file.begin() + long(size));
            c.check(dir.write("damaged.tif", cut), size);
        }
    }
}
