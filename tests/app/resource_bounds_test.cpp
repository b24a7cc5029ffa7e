// What a hostile file may cost: no buffer over the bitmap limit is ever asked for, no chain
// makes the run read more than 65536 directories, no copied page grows past twice its
// input file. Asserted by what is allocated, read and written, never by time; the measured
// figures are bench/resources.sh's.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/messages.h"
#include "core/file_list.h"
#include "platform/device_context.h"
#include "readers/convert_engine.h"
#include "tests/support/bitmap_page.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"
#include "tiff/directory_chain.h"

using namespace tiff_builder;
using Bytes = std::vector<uint8_t>;

namespace {

void put16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A little-endian file of `count` chained directories, each the same `entries` (tag, type,
// count, value), after `payload` at offset 8. Built directly: the builder's generality
// costs seconds at this size.
struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
};
Bytes chainOfDirectories(size_t count, const std::vector<Entry>& entries, const Bytes& payload) {
    const uint32_t first = 8 + static_cast<uint32_t>(payload.size());
    const uint32_t size = 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    Bytes out = {'I', 'I', 42, 0};
    put32(out, first);
    out.insert(out.end(), payload.begin(), payload.end());
    out.reserve(first + count * size);
    for (size_t i = 0; i < count; ++i) {
        put16(out, static_cast<uint32_t>(entries.size()));
        for (const Entry& e : entries) {
            put16(out, e.tag);
            put16(out, e.type);
            put32(out, e.count);
            put32(out, e.value);
        }
        put32(out, i + 1 < count ? first + static_cast<uint32_t>(i + 1) * size : 0);
    }
    return out;
}

// A page without a width: listed, then refused by the engine without opening the file.
const std::vector<Entry> kNoWidth = {{kTagImageLength, kShort, 1, 16}};

// The payload of the old-style pages: a JPEG of their 16 x 16 pixels.
const Bytes kPageJpeg = testsupport::encodeJpeg(16, 16);
const auto kPageJpegSize = static_cast<uint32_t>(kPageJpeg.size());

std::string asString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string banners(const std::string& middle) {
    return consoleLine(sjis(messages::kStartBanner)) + middle +
           consoleLine(sjis(messages::kEndBanner)) + consoleLine("");
}

} // namespace

TEST(ResourceBounds, AWholeRunOver65536DirectoriesNamesEachListedPageOnceAndEnds) {
    ScratchDir dir;
    dir.write("long.tif", chainOfDirectories(tiffdir::kMaxDirectories + 2, kNoWidth, {}));
    const RunResult run = runPelc({"long.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    const std::string failed = consoleLine(sjis(messages::kLoadFailed));
    EXPECT_EQ(countOf(run.out, failed), size_t(tiffdir::kMaxDirectories));
    EXPECT_EQ(countOf(run.out, ".jpg\n"), size_t(tiffdir::kMaxDirectories));
    EXPECT_EQ(run.out.substr(0, run.out.find(failed) + failed.size()),
              consoleLine(sjis(messages::kStartBanner)) + consoleLine("long.tif") +
                  consoleLine(dir.file("long_00001.jpg")) + failed);
    const std::string end = consoleLine(dir.file("long_65536.jpg")) + failed +
                            consoleLine(sjis(messages::kEndBanner)) + consoleLine("");
    ASSERT_GE(run.out.size(), end.size());
    EXPECT_EQ(run.out.substr(run.out.size() - end.size()), end);
    EXPECT_TRUE(testsupport::jpegFilesIn(dir.path()).empty());
}

// The 65536-page run above writes no file; writing one per page costs the file system more
// than a test should wait, so the written variant is smaller.
TEST(ResourceBounds, ManyCopiedPagesSharingOneStripAreEachWrittenWhole) {
    ScratchDir dir;
    const Bytes& payload = kPageJpeg;
    const std::vector<Entry> page = {{kTagImageWidth, kShort, 1, 16},
                                     {kTagImageLength, kShort, 1, 16},
                                     {kTagCompression, kShort, 1, 6},
                                     {kTagStripOffsets, kLong, 1, 8},
                                     {kTagStripByteCounts, kLong, 1, kPageJpegSize}};
    constexpr size_t kPages = 1500;
    dir.write("many.tif", chainOfDirectories(kPages, page, payload));
    const RunResult run = runPelc({"many.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(countOf(run.out, ".jpg\n"), kPages);
    EXPECT_EQ(countOf(run.out, consoleLine(sjis(messages::kWriteFailed))), 0u);
    EXPECT_EQ(testsupport::jpegFilesIn(dir.path()).size(), kPages);
    for (const char* name : {"many_0001.jpg", "many_0750.jpg", "many_1500.jpg"})
        EXPECT_EQ(readFileBytes(dir.file(name)), asString(payload)) << name;
}

// 16384 strips that each claim 4 GiB, and other layouts that repeat bytes: a copied page is
// refused (and the page decoded by libtiff instead) or stays within twice its input; a
// decoded one takes what libtiff can read.
TEST(ResourceBounds, StripLayoutsThatRepeatBytesNeverGrowTheOutputPastTwiceTheInput) {
    ScratchDir dir;
    constexpr uint32_t kStrips = 16384;
    // A JPEG of the page: the layouts alone decide whether it is copied.
    Bytes data = kPageJpeg;
    data.resize(1024);
    auto oldStyle = [&](std::vector<uint32_t> offsets, std::vector<uint32_t> counts,
                        std::optional<uint32_t> interchangeLength) {
        TiffBuilder builder;
        builder.blob(8, data).oldJpegPage(16, 16, std::move(offsets), std::move(counts));
        if (interchangeLength)
            builder.tag(kTagJpegInterchangeFormat, kLong, {8})
                .tag(kTagJpegInterchangeFormatLength, kLong, {*interchangeLength});
        return asString(builder.build());
    };
    std::vector<uint32_t> spread(kStrips);
    for (uint32_t i = 0; i < kStrips; ++i)
        spread[i] = 8 + i % 1024;
    const struct {
        const char* name;
        std::string file;
        bool copied; // else refused and decoded
    } cases[] = {
        {"same.tif",
         oldStyle(std::vector<uint32_t>(kStrips, 8), std::vector<uint32_t>(kStrips, 0xFFFFFFFF),
                  {}),
         false},
        {"spread.tif", oldStyle(spread, std::vector<uint32_t>(kStrips, 0xFFFFFFFF), {}), false},
        {"twice.tif", oldStyle({8, 8}, {1024, 1024}, {}), false},
        {"overlap.tif", oldStyle({8, 500}, {1024, 100}, {}), false},
        // The interchange block may hold the strips that follow it: whole file plus strip.
        {"header.tif", oldStyle({8}, {1024}, 0xFFFFFFFF), true},
    };
    std::vector<std::string> args;
    std::string lines;
    for (const auto& c : cases) {
        dir.write(c.name, c.file);
        args.push_back(c.name);
        lines += consoleLine(c.name);
    }
    // A decoded page of 16384 one-row strips, all at one offset and each claiming 4 GiB.
    TiffBuilder decoded;
    decoded.blob(8, data)
        .page()
        .tag(kTagImageWidth, kShort, {16})
        .tag(kTagImageLength, kLong, {kStrips})
        .tag(kTagBitsPerSample, kShort, {8})
        .tag(kTagCompression, kShort, {1})
        .tag(262, kShort, {1})
        .tag(kTagStripOffsets, kLong, std::vector<uint32_t>(kStrips, 8))
        .tag(kTagRowsPerStrip, kShort, {1})
        .tag(kTagStripByteCounts, kLong, std::vector<uint32_t>(kStrips, 0xFFFFFFFF));
    dir.write("decoded.tif", decoded.build());
    args.push_back("decoded.tif");
    lines += consoleLine("decoded.tif");
    for (const auto& c : cases) {
        const std::string name = c.name;
        lines += consoleLine(dir.file(name.substr(0, name.size() - 4) + "_1.jpg"));
    }
    // libtiff reads each strip cut to size, but reports every claim as an error.
    lines += consoleLine(dir.file("decoded_1.jpg")) + consoleLine(sjis(messages::kLoadFailed));

    const RunResult run = runPelc(args, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, banners(lines));
    for (const auto& c : cases) {
        const std::string name = c.name;
        SCOPED_TRACE(name);
        const std::string output = dir.file(name.substr(0, name.size() - 4) + "_1.jpg");
        const std::string written = readFileBytes(output);
        EXPECT_LE(written.size(), 2 * c.file.size());
        // A copy begins with the interchange block: the file from the page's JPEG on.
        EXPECT_EQ(written.substr(0, c.file.size() - 8) == c.file.substr(8), c.copied);
        testsupport::DecodedJpeg page;
        EXPECT_TRUE(testsupport::decodeJpegFile(output, page));
        EXPECT_EQ(page.width, 16);
    }
    EXPECT_FALSE(pathExists(dir.file("decoded_1.jpg")));
}

// A page is written at 24 bits; one whose decoded rows or 24-bit form would pass the bitmap
// limit (1 GiB) is refused before its page buffer is asked for. Its neighbours just inside
// the limit do get their buffer (and then fail on the missing rows of these claiming files).
TEST(ResourceBounds, PagesPastTheLimitAtAnyStageAreRefusedBeforeAnyBuffer) {
    const struct {
        const char* what;
        uint32_t side;
        uint16_t bits, samples, photometric;
        int32_t status;
        bool buffered; // a page buffer was allocated
    } cases[] = {
        {"1-bit 65535 square", 65535, 1, 1, 0, kFailed, false},
        {"1-bit 18919 square, 24-bit form just over", 18919, 1, 1, 0, kFailed, false},
        {"1-bit 18918 square, 24-bit form just under", 18918, 1, 1, 0, readers::kScanlineFailed,
         true},
        {"8-bit grey 20000 square", 20000, 8, 1, 1, kFailed, false},
        {"4-bit palette-free grey 30000 square", 30000, 4, 1, 1, kFailed, false},
        {"RGB 65535 square", 65535, 8, 3, 2, kFailed, false},
    };
    ScratchDir dir;
    const std::string path = dir.file("claim.tif");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(
            testsupport::writeClaimingPage(path, c.side, c.side, c.bits, c.samples, c.photometric));
        ImageRecord page = testsupport::tiffPageRecord(path, 0);
        testsupport::Bitmap bitmap;
        readers::ConvertEngine engine;
        EXPECT_EQ(
            engine.loadPage(platform::screenDeviceContext(), path.c_str(), page, bitmap.record),
            c.status);
        EXPECT_EQ(engine.pageBuffer != nullptr, c.buffered);
        EXPECT_EQ(releaseImageRecord(&bitmap.record), 1);
    }
}

TEST(ResourceBounds, AWholeRunOverClaimsOf65535SquareRefusesThemAndGoesOn) {
    ScratchDir dir;
    ASSERT_TRUE(testsupport::writeClaimingPage(dir.file("rgb.tif"), 65535, 65535, 8, 3, 2));
    ASSERT_TRUE(testsupport::writeClaimingPage(dir.file("fax.tif"), 65535, 65535, 1, 1, 0));
    ASSERT_TRUE(testsupport::writeTiffPages(dir.file("small.tif"), {testsupport::greyPage(8, 8)}));
    const RunResult run = runPelc({"rgb.tif", "fax.tif", "small.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    const std::string failed = consoleLine(sjis(messages::kLoadFailed));
    EXPECT_EQ(run.out, banners(consoleLine("rgb.tif") + consoleLine("fax.tif") +
                               consoleLine("small.tif") + consoleLine(dir.file("rgb_1.jpg")) +
                               failed + consoleLine(dir.file("fax_1.jpg")) + failed +
                               consoleLine(dir.file("small_1.jpg"))));
    EXPECT_EQ(testsupport::jpegFilesIn(dir.path()), std::vector<std::string>{"small_1.jpg"});
}
