#include "tiff/tag_decode.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tiff_builder.h"
#include "tiff/directory_chain.h"

using namespace tiff_builder;

namespace {

std::vector<uint64_t> wide(const std::vector<uint32_t>& values) {
    return {values.begin(), values.end()};
}

} // namespace

TEST(TagDecode, ShortValuesAreReadAtTheirOwnPosition) {
    for (ByteOrder order : kBothOrders) {
        SCOPED_TRACE(nameOf(order));
        const bool big = order == ByteOrder::Big;
        // 528 as a SHORT, with garbage after it in the value field.
        const std::array<uint8_t, 4> width = big ? std::array<uint8_t, 4>{0x02, 0x10, 0xAB, 0xCD}
                                                 : std::array<uint8_t, 4>{0x10, 0x02, 0xAB, 0xCD};
        TiffBuilder builder(order);
        builder.page()
            .rawTag(kTagImageWidth, kShort, 1, width)
            .tag(kTagImageLength, kLong, {70000})
            .tag(kTagPageNumber, kShort, {2, 5})
            .tag(kTagCompression, kShort, {6});
        ReadBack page(builder.build());
        ASSERT_EQ(page.chainStatus, 0);
        EXPECT_EQ(page.reader.imageWidth, 528u);
        EXPECT_EQ(page.reader.imageLength, 70000u);
        EXPECT_EQ(page.reader.pageNumber, 2);
        EXPECT_EQ(page.reader.pageTotal, 5);
        EXPECT_EQ(page.reader.compression, 6);
    }
}

TEST(TagDecode, RefusedTypesLeaveTheDefaults) {
    TiffBuilder builder;
    builder.page()
        .tag(kTagCompression, kLong, {6})
        .tag(kTagJpegInterchangeFormatLength, kShort, {100})
        .tag(kTagImageWidth, kByte, {9})
        .tag(kTagPageNumber, kShort, {1, 2, 3})
        .tag(kTagStripOffsets, kByte, {1});
    ReadBack page(builder.build());
    ASSERT_EQ(page.chainStatus, 0);
    EXPECT_EQ(page.reader.compression, 0);
    EXPECT_EQ(page.reader.jpegInterchangeFormatLength, 0u);
    EXPECT_EQ(page.reader.imageWidth, 0u);
    EXPECT_EQ(page.reader.pageNumber, 0xFFFF);
    EXPECT_EQ(page.reader.stripOffsets, nullptr);
    EXPECT_EQ(page.reader.stripCount, 1);
}

TEST(TagDecode, BitsPerSampleArraysCountAsEightBits) {
    const struct {
        const char* what;
        std::vector<uint32_t> bits;
        uint32_t samples;
        uint16_t bitsPerSample;
        uint16_t bitsPerPixel;
    } cases[] = {
        {"one value", {4}, 1, 4, 4},
        {"two held in the value field", {8, 8}, 2, 8, 16},
        {"three at an offset", {16, 16, 16}, 3, 8, 24},
        {"no samples per pixel counts as one", {8}, 0, 8, 8},
    };
    for (ByteOrder order : kBothOrders) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder(order);
            builder.page().tag(kTagBitsPerSample, kShort, c.bits);
            if (c.samples != 0)
                builder.tag(kTagSamplesPerPixel, kShort, {c.samples});
            ReadBack page(builder.build());
            ASSERT_EQ(page.chainStatus, 0);
            EXPECT_EQ(page.reader.bitsPerSample, c.bitsPerSample);
            EXPECT_EQ(page.reader.bitsPerPixel, c.bitsPerPixel);
        }
    }
}

TEST(TagDecode, UnreadableBitsPerSampleKeepsTheDefault) {
    const struct {
        const char* what;
        uint32_t count;
        uint32_t offset;
    } cases[] = {{"three values past the end", 3, 0x7FFFFFF0},
                 {"count 0", 0, 0},
                 {"16385 values", 16385, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder;
        builder.page()
            .tagAt(kTagBitsPerSample, kShort, c.count, c.offset)
            .tag(kTagSamplesPerPixel, kShort, {3});
        ReadBack page(builder.build());
        ASSERT_EQ(page.chainStatus, 0);
        EXPECT_EQ(page.reader.bitsPerSample, 1);
        EXPECT_EQ(page.reader.bitsPerPixel, 3); // an RGB page whose sample sizes are lost
    }
}

TEST(TagDecode, StripArraysHoldAtMost16384Values) {
    const struct {
        uint32_t count;
        bool accepted;
    } cases[] = {{16384, true}, {16385, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        std::vector<uint32_t> offsets(c.count);
        for (uint32_t i = 0; i < c.count; ++i)
            offsets[i] = 1000 + i;
        TiffBuilder builder;
        builder.page()
            .tag(kTagStripOffsets, kLong, offsets)
            .tag(kTagStripByteCounts, kLong, offsets);
        ReadBack page(builder.build());
        ASSERT_EQ(page.chainStatus, 0);
        if (c.accepted) {
            EXPECT_EQ(page.reader.stripCount, 16384);
            EXPECT_EQ(page.stripOffsets(), wide(offsets));
            EXPECT_EQ(page.stripByteCounts(), wide(offsets));
        } else {
            EXPECT_EQ(page.reader.stripCount, 1);
            EXPECT_EQ(page.reader.stripOffsets, nullptr);
            EXPECT_EQ(page.reader.stripOffsetsLength, 0u);
            // Derived instead: the refused counts leave room for the whole-image strip.
            EXPECT_EQ(page.reader.stripByteCountsLength, 1u);
        }
    }
}

TEST(TagDecode, StripValuesComeFromTheFieldOrTheirOffset) {
    const struct {
        const char* what;
        uint16_t type;
        std::vector<uint32_t> values;
    } cases[] = {
        {"one LONG in the field", kLong, {0x12345678}},
        {"one SHORT in the field", kShort, {0xFFFE}},
        {"two SHORTs in the field, widened", kShort, {0x1234, 0xFEDC}},
        {"five SHORTs at an offset, widened", kShort, {1, 0xFFFF, 3, 0x8000, 5}},
        {"three LONGs at an offset", kLong, {7, 0xFFFFFFFF, 9}},
    };
    for (ByteOrder order : kBothOrders) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder(order);
            builder.page().tag(kTagStripOffsets, c.type, c.values);
            ReadBack page(builder.build());
            ASSERT_EQ(page.chainStatus, 0);
            EXPECT_EQ(page.reader.stripCount, static_cast<int>(c.values.size()));
            EXPECT_EQ(page.stripOffsets(), wide(c.values));
        }
    }
}

TEST(TagDecode, ArraysReadPastTheEndKeepWhatArrivedAndTheirLength) {
    // Four LONGs asked for where only two remain in the file.
    const std::vector<uint8_t> tail{1, 0, 0, 0, 2, 0, 0, 0};
    TiffBuilder builder;
    builder.page()
        .tagAt(kTagStripOffsets, kLong, 4, 0) // patched below
        .tagAt(kTagStripByteCounts, kLong, 3, 0x7FFFFFF0);
    std::vector<uint8_t> file = builder.build();
    const uint32_t end = static_cast<uint32_t>(file.size());
    file.insert(file.end(), tail.begin(), tail.end());
    // Point StripOffsets (first entry of the directory) at the last eight bytes.
    const uint32_t field = builder.directoryOffsets()[0] + 2 + 8;
    file[field] = static_cast<uint8_t>(end);
    file[field + 1] = static_cast<uint8_t>(end >> 8);

    ReadBack page(file);
    ASSERT_EQ(page.chainStatus, 0);
    EXPECT_EQ(page.stripOffsets(), (std::vector<uint64_t>{1, 2, 0, 0}));
    ASSERT_EQ(page.reader.stripByteCountsLength, 3u);
    EXPECT_EQ(page.reader.stripByteCounts[0], 0u);
}

TEST(TagDecode, MissingStripByteCountsCoverTheWholeImage) {
    const struct {
        const char* what;
        uint32_t width;
        std::vector<uint32_t> bits;
        uint32_t samples;
        uint32_t bytesPerRow;
    } cases[] = {
        {"24-bit, 101 wide", 101, {8, 8, 8}, 3, 304},
        {"1-bit fax, 1728 wide", 1728, {1}, 1, 216},
    };
    for (ByteOrder order : kBothOrders) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder(order);
            builder.page()
                .tag(kTagImageWidth, kLong, {c.width})
                .tag(kTagImageLength, kShort, {100})
                .tag(kTagBitsPerSample, kShort, c.bits)
                .tag(kTagSamplesPerPixel, kShort, {c.samples});
            ReadBack page(builder.build());
            ASSERT_EQ(page.chainStatus, 0);
            EXPECT_EQ(page.reader.bytesPerRow, c.bytesPerRow);
            EXPECT_EQ(page.stripByteCounts(), std::vector<uint64_t>{100 * c.bytesPerRow});
        }
    }
}

TEST(TagDecode, ALaterEntryOfTheSameTagWins) {
    TiffBuilder builder;
    builder.page()
        .tag(kTagStripOffsets, kLong, {10, 20, 30})
        .tag(kTagStripOffsets, kShort, {40})
        .tag(kTagJpegInterchangeFormat, kLong, {100})
        .tag(kTagJpegInterchangeFormat, kShort, {200});
    ReadBack page(builder.build());
    ASSERT_EQ(page.chainStatus, 0);
    EXPECT_EQ(page.reader.stripCount, 1);
    EXPECT_EQ(page.stripOffsets(), std::vector<uint64_t>{40});
    EXPECT_EQ(page.reader.jpegInterchangeFormat, 200u);
}

TEST(TagDecode, RepeatsOfATagCostAtMostOneMoreArray) {
    // Each repeat claims more values than the one before, all of them past the end.
    TiffBuilder builder;
    auto& page = builder.page();
    for (uint32_t count = 100; count <= 3000; count += 100)
        page.tag(kTagStripOffsets, kLong, std::vector<uint32_t>(count, 0xFFFFFF00u));
    page.tag(kTagStripOffsets, kShort, {40});
    ReadBack loaded(builder.build());
    ASSERT_EQ(loaded.chainStatus, 0);
    EXPECT_EQ(loaded.stripOffsets(), std::vector<uint64_t>{40});
    // The first array, one of the largest size for every repeat, and the byte counts derived
    // for the missing tag: not one array per repeat.
    EXPECT_EQ(KbfCount(&loaded.reader.tagData), 3);
}

TEST(TagDecode, DecodeEntryReportsWhyItRefused) {
    TiffBuilder builder;
    builder.page().tag(kTagImageWidth, kShort, {1});
    ReadBack page(builder.build());
    ASSERT_EQ(page.chainStatus, 0);
    const struct {
        const char* what;
        tiffdir::DirectoryEntry entry;
        int32_t status;
    } cases[] = {
        {"type", {kTagStripOffsets, kRational, 1, {}, 0}, kFailed},
        {"too many", {kTagStripByteCounts, kLong, 16385, {}, 0}, tiffdir::kTooManyValues},
        {"too many samples",
         {kTagBitsPerSample, kShort, 0xFFFFFFFF, {}, 0},
         tiffdir::kTooManyValues},
        {"none", {kTagStripOffsets, kLong, 0, {}, 0}, tiffdir::kDataBufferError},
        {"past the end", {kTagStripOffsets, kLong, 2, {}, 0xFFFFFFF0}, tiffdir::kReadError},
        {"unknown tag", {700, kLong, 1, {}, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(tiffdir::decodeEntry(page.reader, c.entry), c.status);
    }
}
