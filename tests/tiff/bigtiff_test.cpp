// BigTIFF through the structure reader: which headers count as BigTIFF, its directories
// and 8-byte entries, and the classic reader's limits holding for it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/file_list.h"
#include "core/image_record.h"
#include "tests/support/tiff_builder.h"
#include "tiff/directory_chain.h"
#include "tiff/tag_decode.h"

using namespace tiff_builder;

namespace {

constexpr uint64_t kAtTheEnd = 1; // stands for the file's size, known only once built

void poke64(std::vector<uint8_t>& file, size_t at, uint64_t value, ByteOrder order) {
    for (size_t i = 0; i < 8; ++i) {
        const size_t shift = order == ByteOrder::Big ? 56 - 8 * i : 8 * i;
        file.at(at + i) = static_cast<uint8_t>(value >> shift);
    }
}

std::vector<uint8_t> threePages(TiffBuilder& builder) {
    for (uint32_t width : {100u, 200u, 300u})
        builder.plainPage(width);
    return builder.build();
}

} // namespace

TEST(BigTiffHeader, IsBigTiffOnlyWhenEveryFieldSaysSo) {
    // Changes to a good BigTIFF header; a header that is not BigTIFF is read as a classic
    // one, its bytes 4-7 (in the file's order) the first offset.
    const struct {
        const char* what;
        size_t at; // byte to change, 0 for none
        uint8_t value;
        std::optional<uint64_t> first; // the first directory's offset instead of its own
        size_t keep;                   // bytes of the file kept, 0 for all
        bool bigTiff;
        uint64_t littleOffset, bigOffset; // classic first offset in either order
    } cases[] = {
        {"a valid header", 0, 0, {}, 0, true, 0, 0},
        {"offset size 4", 4, 4, {}, 0, false, 4, 0x40000},
        {"a pad of 1", 6, 1, {}, 0, false, 0x10008, 0x80001},
        {"a header of 12 bytes", 0, 0, {}, 12, false, 8, 0x80000},
        {"a first offset at the end", 0, 0, kAtTheEnd, 0, false, 8, 0x80000},
        {"a first offset beyond 4 GiB", 0, 0, uint64_t{1} << 40, 0, false, 8, 0x80000},
        {"a first offset of 2^64 - 1", 0, 0, ~uint64_t{0}, 0, false, 8, 0x80000},
    };
    for (ByteOrder order : kBothOrders) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder(order, Format::BigTiff);
            std::vector<uint8_t> file = threePages(builder);
            if (c.at != 0)
                file[c.at + (order == ByteOrder::Big ? 1 : 0)] = c.value;
            if (c.first)
                poke64(file, 8, *c.first == kAtTheEnd ? file.size() : *c.first, order);
            if (c.keep != 0)
                file.resize(c.keep);
            ReadBack read(file);
            ASSERT_EQ(read.openStatus, 0);
            EXPECT_EQ(read.reader.bigTiff, c.bigTiff);
            EXPECT_EQ(read.reader.version, 43);
            const uint64_t classic = order == ByteOrder::Big ? c.bigOffset : c.littleOffset;
            EXPECT_EQ(read.reader.firstDirectoryOffset,
                      c.bigTiff ? builder.directoryOffsets()[0] : classic);
            if (c.bigTiff) {
                EXPECT_EQ(read.reader.directoryCount, 3);
            }
        }
    }
}

TEST(BigTiffChain, ListsEveryPageWithItsDirectoryOffset) {
    const struct {
        const char* what;
        int loopTo; // the last page's next directory, -1 for none
    } cases[] = {{"a plain chain", -1}, {"a chain looping back to its start", 0}};
    for (ByteOrder order : kBothOrders) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder(order, Format::BigTiff);
            for (uint32_t width : {100u, 200u, 300u})
                builder.plainPage(width);
            if (c.loopTo >= 0)
                builder.nextOffsetToPage(static_cast<size_t>(c.loopTo));
            ScratchDir dir;
            FileList list;
            ASSERT_EQ(tiffdir::listPages(dir.write("big.tif", builder.build()).c_str(), list), 0);
            ASSERT_EQ(list.count(), 3);
            list.rewind();
            for (int i = 0; i < 3 && list.next() == 0; ++i) {
                const auto& page = *reinterpret_cast<const ImageRecord*>(list.current);
                EXPECT_EQ(page.width, 100 * (i + 1));
                EXPECT_EQ(page.directoryIndex, i);
                EXPECT_EQ(page.directoryOffset, builder.directoryOffsets()[size_t(i)]);
            }
        }
    }
}

TEST(BigTiffChain, HostileDirectoriesEndTheChainAfterTheGoodOnes) {
    // Each case spoils the second of three directories or the link to it.
    const struct {
        const char* what;
        size_t field; // 0: the first directory's next offset; 1: the second's entry count
        uint64_t value;
    } cases[] = {
        {"a next offset beyond 4 GiB", 0, uint64_t{1} << 32},
        {"a next offset near 2^64", 0, ~uint64_t{0} - 3},
        {"no entries", 1, 0},
        {"0x8000 entries", 1, 0x8000},
        {"an entry count whose size overflows", 1, (uint64_t{1} << 62) + 1},
    };
    for (ByteOrder order : kBothOrders) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder(order, Format::BigTiff);
            std::vector<uint8_t> file = threePages(builder);
            const size_t first = builder.directoryOffsets()[0];
            const size_t at =
                c.field == 0 ? first + 8 + 4 * 20 : size_t{builder.directoryOffsets()[1]};
            poke64(file, at, c.value, order);
            ReadBack read(file);
            ASSERT_EQ(read.chainStatus, 0);
            EXPECT_EQ(read.reader.directoryCount, 1);
        }
    }
}

TEST(BigTiffEntries, EightByteValuesAreReadInlineAndOutOfLine) {
    const uint64_t far = uint64_t{5} << 32; // an offset only 64 bits can hold
    const struct {
        const char* what;
        uint16_t type;
        std::vector<uint64_t> values;
    } cases[] = {
        {"one LONG8, in the value field", kLong8, {far}},
        {"one SLONG8, in the value field", kSLong8, {77}},
        {"one IFD8, in the value field", kIfd8, {far + 1}},
        {"three LONG8s, out of line", kLong8, {far, 20, far + 2}},
        {"two SLONG8s, out of line", kSLong8, {30, 40}},
        {"two IFD8s, out of line", kIfd8, {far, 50}},
    };
    for (ByteOrder order : kBothOrders) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder(order, Format::BigTiff);
            builder.page()
                .tag64(kTagImageWidth, kLong8, {640})
                .tag64(kTagStripOffsets, c.type, c.values)
                .tag64(kTagJpegInterchangeFormat, c.type, {c.values.back()})
                .tag64(kTagJpegInterchangeFormatLength, c.type, {c.values.front()});
            ReadBack read(builder.build());
            ASSERT_EQ(read.chainStatus, 0);
            EXPECT_EQ(read.stripOffsets(), c.values);
            EXPECT_EQ(read.reader.stripCount, static_cast<int>(c.values.size()));
            EXPECT_EQ(read.reader.jpegInterchangeFormat, c.values.back());
            EXPECT_EQ(read.reader.jpegInterchangeFormatLength, c.values.front());
            EXPECT_EQ(read.reader.imageWidth, 640u);
        }
    }
}

TEST(BigTiffEntries, SmallTypesFillTheEightByteField) {
    for (ByteOrder order : kBothOrders) {
        SCOPED_TRACE(nameOf(order));
        TiffBuilder builder(order, Format::BigTiff);
        builder.page()
            .tag(kTagStripOffsets, kShort, {1, 2, 3, 4})
            .tag(kTagStripByteCounts, kLong, {70000, 80000})
            .tag(kTagBitsPerSample, kShort, {16, 16, 16})
            .tag(kTagSamplesPerPixel, kShort, {3});
        ReadBack read(builder.build());
        ASSERT_EQ(read.chainStatus, 0);
        EXPECT_EQ(read.stripOffsets(), (std::vector<uint64_t>{1, 2, 3, 4}));
        ASSERT_EQ(read.reader.stripByteCountsLength, 2u);
        EXPECT_EQ(read.reader.stripByteCounts[1], 80000u);
        EXPECT_EQ(read.reader.bitsPerPixel, 24);
    }
}

TEST(BigTiffEntries, TheClassicLimitsHold) {
    const std::vector<uint64_t> many(tiffdir::kMaxArrayValues, 16);
    std::vector<uint64_t> tooMany = many;
    tooMany.push_back(16);
    const struct {
        const char* what;
        Format format;
        uint16_t type;
        const std::vector<uint64_t>* values; // or, when null, `count` at `offset`
        uint64_t count;
        uint64_t offset;
        int stripCount; // 1 with no array: the entry was refused
        bool array;
    } cases[] = {
        {"16384 values", Format::BigTiff, kLong8, &many, 0, 0, 16384, true},
        {"16385 values", Format::BigTiff, kLong8, &tooMany, 0, 0, 1, false},
        {"a count whose size overflows", Format::BigTiff, kLong8, nullptr, uint64_t{1} << 61, 16, 1,
         false},
        {"values beyond 4 GiB", Format::BigTiff, kLong8, nullptr, 4, uint64_t{1} << 32, 4, true},
        {"values near 2^64", Format::BigTiff, kIfd8, nullptr, 4, ~uint64_t{0} - 8, 4, true},
        {"LONG8 in a classic file", Format::Classic, kLong8, nullptr, 1, 16, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder(ByteOrder::Little, c.format);
        builder.page().tag(kTagImageWidth, kShort, {8});
        if (c.values != nullptr)
            builder.tag64(kTagStripOffsets, c.type, *c.values);
        else
            builder.tagAt(kTagStripOffsets, c.type, c.count, c.offset);
        ReadBack read(builder.build());
        ASSERT_EQ(read.chainStatus, 0);
        EXPECT_EQ(read.reader.stripCount, c.stripCount);
        EXPECT_EQ(read.reader.stripOffsets != nullptr, c.array);
        // Values that cannot be read stay zero; none comes from beyond the array.
        if (c.array && c.values == nullptr) {
            EXPECT_EQ(read.stripOffsets(), std::vector<uint64_t>(c.count, 0));
        }
    }
}
