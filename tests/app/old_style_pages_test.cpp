// Old-style JPEG pages whose stored bytes are no JPEG of the page as they stand: pelc
// decodes them through libtiff, which rebuilds their tables and restart markers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/jpeg_decode.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"

using namespace tiff_builder;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kTagPhotometric = 262;
constexpr uint16_t kTagYCbCrSubsampling = 530;
constexpr uint16_t kTagJpegProc = 512;
constexpr uint16_t kTagJpegQTables = 519;
constexpr uint16_t kTagJpegDcTables = 520;
constexpr uint16_t kTagJpegAcTables = 521;
constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
constexpr uint32_t kRowsPerStrip = 16;

// A JPEG stream taken apart: what precedes the scan, the tables' bodies as the
// JPEGQTables/DCTables/ACTables tags point at them, and the scan's entropy-coded data cut at
// its restart markers (the markers themselves dropped, as old-style writers stored them).
struct JpegParts {
    Bytes header; // SOI up to the end of the SOS segment, without DRI
    std::vector<Bytes> qTables, dcTables, acTables;
    std::vector<Bytes> segments;
};

JpegParts takeApart(const Bytes& jpeg) {
    JpegParts parts;
    parts.header = {0xFF, 0xD8};
    size_t at = 2;
    for (;;) {
        const uint8_t marker = jpeg[at + 1];
        const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        const Bytes body(jpeg.begin() + long(at + 4), jpeg.begin() + long(at + 2 + length));
        if (marker == 0xDB)
            parts.qTables.emplace_back(body.begin() + 1, body.end());
        if (marker == 0xC4)
            (body[0] >> 4 ? parts.acTables : parts.dcTables)
                .emplace_back(body.begin() + 1, body.end());
        if (marker != 0xDD)
            parts.header.insert(parts.header.end(), jpeg.begin() + long(at),
                                jpeg.begin() + long(at + 2 + length));
        at += 2 + length;
        if (marker == 0xDA)
            break;
    }
    parts.segments.emplace_back();
    for (; at + 2 < jpeg.size(); ++at) { // the last two bytes are EOI
        if (jpeg[at] == 0xFF && jpeg[at + 1] >= 0xD0 && jpeg[at + 1] <= 0xD7) {
            parts.segments.emplace_back();
            ++at;
            continue;
        }
        parts.segments.back().push_back(jpeg[at]);
    }
    return parts;
}

struct Layout {
    const char* what;
    int components;
    bool interchangeHeader; // the header in JPEGInterchangeFormat, else the tables in tags
    bool severalStrips;
};

// The page `layout` describes, its blocks laid out from offset 8 on.
Bytes oldStylePage(const Layout& layout, const Bytes& jpeg) {
    const JpegParts parts = takeApart(jpeg);
    TiffBuilder builder;
    uint32_t next = 8;
    auto place = [&](const Bytes& bytes) {
        builder.blob(next, bytes);
        const uint32_t at = next;
        next += static_cast<uint32_t>(bytes.size()) + 2;
        return at;
    };
    // One table per component, the chroma components sharing the second.
    auto tableOffsets = [&](const std::vector<Bytes>& tables) {
        std::vector<uint32_t> offsets;
        for (const Bytes& table : tables)
            offsets.push_back(place(table));
        if (layout.components == 3)
            offsets.push_back(offsets.back());
        return offsets;
    };
    const std::vector<uint32_t> q = tableOffsets(parts.qTables), dc = tableOffsets(parts.dcTables),
                                ac = tableOffsets(parts.acTables);
    const uint32_t header = place(parts.header);
    std::vector<uint32_t> offsets, counts;
    for (const Bytes& segment : parts.segments) {
        offsets.push_back(place(segment));
        counts.push_back(static_cast<uint32_t>(segment.size()));
    }
    const bool colour = layout.components == 3;
    builder.page()
        .tag(kTagImageWidth, kShort, {kWidth})
        .tag(kTagImageLength, kShort, {kHeight})
        .tag(kTagBitsPerSample, kShort,
             colour ? std::vector<uint32_t>{8, 8, 8} : std::vector<uint32_t>{8})
        .tag(kTagCompression, kShort, {6})
        .tag(kTagPhotometric, kShort, {colour ? 6u : 1u})
        .tag(kTagStripOffsets, kLong, offsets)
        .tag(kTagSamplesPerPixel, kShort, {static_cast<uint32_t>(layout.components)})
        .tag(kTagRowsPerStrip, kShort, {layout.severalStrips ? kRowsPerStrip : kHeight})
        .tag(kTagStripByteCounts, kLong, counts)
        .tag(kTagJpegProc, kShort, {1});
    if (layout.interchangeHeader)
        builder.tag(kTagJpegInterchangeFormat, kLong, {header})
            .tag(kTagJpegInterchangeFormatLength, kLong,
                 {static_cast<uint32_t>(parts.header.size())});
    builder.tag(kTagJpegQTables, kLong, q)
        .tag(kTagJpegDcTables, kLong, dc)
        .tag(kTagJpegAcTables, kLong, ac);
    if (colour)
        builder.tag(kTagYCbCrSubsampling, kShort, {2, 2});
    return builder.build();
}

} // namespace

TEST(OldStylePages, BytesThatAreNoJpegOfThePageAreDecodedInstead) {
    const Layout layouts[] = {
        {"no start marker, tables only in the tags", 3, false, false},
        {"grey, no start marker, tables only in the tags", 1, false, false},
        {"several strips without restart markers", 3, true, true},
        {"several strips, tables only in the tags", 3, false, true},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.what);
        // Colour pages restart at every strip (16 rows: one MCU row), grey ones (8-row MCUs)
        // at every other MCU row.
        const int restartRows = layout.severalStrips ? (layout.components == 3 ? 1 : 2) : 0;
        const Bytes jpeg = testsupport::encodeJpeg(kWidth, kHeight, layout.components, restartRows);
        ScratchDir dir;
        dir.write("source.jpg", jpeg);
        dir.write("page.tif", oldStylePage(layout, jpeg));

        const RunResult run = runPelc({"page.tif"}, dir.path());
        EXPECT_EQ(run.out.find("-->"), std::string::npos) << run.out;
        testsupport::DecodedJpeg written, page;
        std::string error;
        ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("source.jpg"), page));
        ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("page_1.jpg"), written, &error)) << error;
        ASSERT_EQ(written.width, page.width);
        ASSERT_EQ(written.height, page.height);
        for (double difference :
             testsupport::meanAbsoluteError(written.rgb, page.rgb, page.width, page.height))
            EXPECT_LT(difference, 3.0);
    }
}

// The stored stream is a whole JPEG of the page as stored, which a page viewed otherwise is
// not: it is written turned.
TEST(OldStylePages, ACompletePageViewedTurnedIsWrittenTurned) {
    const Bytes jpeg = testsupport::encodeJpeg(kWidth, kHeight);
    ScratchDir dir;
    dir.write("source.jpg", jpeg);
    dir.write("page.tif", wholeJpegPageFile(jpeg, kWidth, kHeight, 6));

    const RunResult run = runPelc({"page.tif"}, dir.path());
    EXPECT_EQ(run.out.find("-->"), std::string::npos) << run.out;
    testsupport::DecodedJpeg written, page;
    ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("source.jpg"), page));
    ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("page_1.jpg"), written));
    ASSERT_EQ(written.width, page.height);
    ASSERT_EQ(written.height, page.width);
    // Viewed pixel (x, y) is the stored one in column y, row height - 1 - x.
    double difference = 0;
    for (int y = 0; y < written.height; ++y)
        for (int x = 0; x < written.width; ++x)
            for (int k = 0; k < 3; ++k)
                difference +=
                    std::abs(written.pixel(x, y)[k] - page.pixel(y, page.height - 1 - x)[k]);
    EXPECT_LT(difference / (3.0 * written.width * written.height), 3.0);
}
