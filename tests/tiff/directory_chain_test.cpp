#include "tiff/directory_chain.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/clear_record.h"
#include "core/image_record.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"

using namespace tiff_builder;

namespace {

std::vector<ImageRecord> recordsOf(FileList& list) {
    std::vector<ImageRecord> records;
    list.rewind();
    const int32_t n = list.count();
    for (int32_t i = 0; i < n && list.next() == 0; ++i) {
        ImageRecord record;
        std::memcpy(&record, list.current, sizeof record);
        records.push_back(record);
    }
    return records;
}

// The page list of a file holding `bytes`, with the status of listPages.
struct Listing {
    explicit Listing(const std::vector<uint8_t>& bytes) {
        status = tiffdir::listPages(dir.write("pages.tif", bytes).c_str(), list);
    }
    std::vector<ImageRecord> records() { return recordsOf(list); }
    ScratchDir dir;
    FileList list;
    int32_t status;
};

TiffBuilder pages(size_t count) {
    TiffBuilder builder;
    for (size_t i = 0; i < count; ++i)
        builder.plainPage(static_cast<uint32_t>(100 + i));
    return builder;
}

std::vector<int32_t> widthsOf(const std::vector<ImageRecord>& records) {
    std::vector<int32_t> widths;
    for (const ImageRecord& r : records)
        widths.push_back(r.width);
    return widths;
}

} // namespace

TEST(PageList, RecordsDescribeEachDirectoryAndNothingElse) {
    TiffBuilder builder;
    builder.page()
        .tag(kTagImageWidth, kLong, {1728})
        .tag(kTagImageLength, kShort, {2200})
        .tag(kTagCompression, kShort, {4})
        .page()
        .tag(kTagImageWidth, kShort, {640})
        .tag(kTagImageLength, kShort, {480})
        .tag(kTagBitsPerSample, kShort, {8, 8, 8})
        .tag(kTagSamplesPerPixel, kShort, {3})
        .tag(kTagCompression, kShort, {6});
    Listing listing(builder.build());
    ASSERT_EQ(listing.status, 0);
    const std::vector<ImageRecord> records = listing.records();
    ASSERT_EQ(records.size(), 2u);

    const struct {
        int32_t width, height;
        uint32_t bitsPerPixel;
        int32_t compression;
    } expected[] = {{1728, 2200, 1, 4}, {640, 480, 24, 6}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ImageRecord want;
        clearRecord(want);
        want.fileKind = kFileKindTiff;
        want.width = expected[i].width;
        want.height = expected[i].height;
        want.bitsPerPixel = expected[i].bitsPerPixel;
        want.compression = expected[i].compression;
        want.directoryIndex = i;
        want.pageCount = 2;
        want.pageNumber = i;
        want.directoryOffset = builder.directoryOffsets()[static_cast<size_t>(i)];
        EXPECT_EQ(std::memcmp(&records[static_cast<size_t>(i)], &want, sizeof want), 0);
    }
}

TEST(PageList, BothByteOrdersGiveTheSameList) {
    std::vector<ImageRecord> lists[2];
    int index = 0;
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        TiffBuilder builder(order);
        builder.page()
            .tag(kTagImageWidth, kShort, {300})
            .tag(kTagImageLength, kLong, {400})
            .tag(kTagBitsPerSample, kShort, {8, 8})
            .tag(kTagSamplesPerPixel, kShort, {2})
            .tag(kTagPageNumber, kShort, {1, 2})
            .page()
            .tag(kTagImageWidth, kLong, {70000})
            .tag(kTagCompression, kShort, {6})
            .tag(kTagPageNumber, kShort, {0, 2});
        Listing listing(builder.build());
        ASSERT_EQ(listing.status, 0);
        lists[index++] = listing.records();
    }
    ASSERT_EQ(lists[0].size(), 2u);
    ASSERT_EQ(lists[1].size(), 2u);
    EXPECT_EQ(lists[0][0].width, 70000);
    EXPECT_EQ(lists[0][1].bitsPerPixel, 16u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(std::memcmp(&lists[0][i], &lists[1][i], sizeof(ImageRecord)), 0) << i;
}

TEST(PageList, FollowsPageNumbersOnlyWhenTheyArePageOrder) {
    const struct {
        const char* what;
        std::vector<std::vector<uint32_t>> pageNumbers; // empty: no PageNumber tag
        std::vector<int32_t> directoryOrder;
    } cases[] = {
        {"no page numbers", {{}, {}, {}}, {0, 1, 2}},
        {"a permutation", {{2, 3}, {0, 3}, {1, 3}}, {1, 2, 0}},
        {"numbered from 1", {{1, 3}, {2, 3}, {3, 3}}, {0, 1, 2}},
        {"a repeat", {{0, 2}, {0, 2}}, {0, 1}},
        {"past the total counts as the total", {{1, 2}, {5, 2}, {0, 2}}, {2, 0, 1}},
        {"0x8000 and more is no page number", {{0x8000, 2}, {0, 2}}, {0, 1}},
        {"total 0 keeps the number", {{1, 0}, {0, 0}}, {1, 0}},
        {"total 0, number 5", {{5, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}, {1, 2, 3, 4, 5, 0}},
        {"number 5 of 3 is page 3", {{5, 3}, {0, 3}, {1, 3}, {2, 3}}, {1, 2, 3, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder;
        for (size_t i = 0; i < c.pageNumbers.size(); ++i) {
            builder.plainPage(static_cast<uint32_t>(i));
            if (!c.pageNumbers[i].empty())
                builder.tag(kTagPageNumber, kShort, c.pageNumbers[i]);
        }
        Listing listing(builder.build());
        ASSERT_EQ(listing.status, 0);
        const std::vector<ImageRecord> records = listing.records();
        ASSERT_EQ(records.size(), c.directoryOrder.size());
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].directoryIndex, c.directoryOrder[i]) << i;
            EXPECT_EQ(records[i].width, c.directoryOrder[i]) << i; // the record moved whole
            EXPECT_EQ(records[i].pageNumber, static_cast<int32_t>(i));
            EXPECT_EQ(records[i].pageCount, static_cast<int32_t>(records.size()));
        }
    }
}

TEST(DirectoryChain, EndsAtADirectoryWithoutEntries) {
    const struct {
        size_t emptyPage;
        uint16_t count;
        int32_t status;
        size_t pagesListed;
    } cases[] = {{1, 0, 0, 1},
                 {1, 0x8000, 0, 1},
                 {1, 0xFFFF, 0, 1},
                 {2, 0x8000, 0, 2},
                 {0, 0, tiffdir::kNoDirectory, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count << " in page " << c.emptyPage);
        TiffBuilder broken;
        for (size_t i = 0; i < 3; ++i) {
            broken.plainPage(static_cast<uint32_t>(i));
            if (i == c.emptyPage)
                broken.entryCount(c.count);
        }
        Listing listing(broken.build());
        EXPECT_EQ(listing.status, c.status);
        EXPECT_EQ(listing.records().size(), c.pagesListed);
    }
}

TEST(DirectoryChain, AFirstOffsetOfZeroIsNoDirectory) {
    TiffBuilder builder = pages(1);
    Listing listing(builder.firstOffset(0).build());
    EXPECT_EQ(listing.status, tiffdir::kNoDirectory);
    EXPECT_EQ(listing.list.count(), 0);
}

TEST(DirectoryChain, AnOffsetPastTheEndEndsTheChain) {
    const struct {
        const char* what;
        uint32_t next;
    } cases[] = {{"far past", 0x7FFFFFF0}, {"highest offset", 0xFFFFFFFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder = pages(2);
        builder.nextOffset(c.next);
        Listing listing(builder.build());
        EXPECT_EQ(listing.status, 0);
        EXPECT_EQ(widthsOf(listing.records()), (std::vector<int32_t>{100, 101}));
    }
    TiffBuilder first = pages(1);
    Listing nothing(first.firstOffset(0x7FFFFFF0).build());
    EXPECT_EQ(nothing.status, tiffdir::kNoDirectory);
}

TEST(DirectoryChain, ATruncatedDirectoryEndsTheChain) {
    // Cut inside the second directory's entries, it is not read; cut inside its next
    // offset, its entries stand as the last page.
    const struct {
        const char* what;
        size_t keep; // bytes of the second directory kept
        std::vector<int32_t> widths;
    } cases[] = {{"inside an entry", 2 + 3 * 12 + 5, {100}},
                 {"inside the next offset", 2 + 4 * 12 + 2, {100, 101}},
                 {"before the next offset", 2 + 4 * 12, {100, 101}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder = pages(2);
        std::vector<uint8_t> file = builder.build();
        file.resize(builder.directoryOffsets()[1] + c.keep);
        Listing listing(file);
        EXPECT_EQ(listing.status, 0);
        EXPECT_EQ(widthsOf(listing.records()), c.widths);
    }
}

// A chain ends at its first repeated directory, or after 65536 directories; each directory
// before is read once and listed once, in chain order.
TEST(DirectoryChain, EndsAtALoopOrAfter65536Directories) {
    TiffBuilder longChain; // directories of one entry each, chained in file order
    for (size_t i = 0; i < tiffdir::kMaxDirectories + 2; ++i)
        longChain.page().tag(kTagImageWidth, kShort, {static_cast<uint32_t>(i & 0xFFFF)});
    const auto loop = [](size_t count, size_t loopTo) {
        TiffBuilder builder = pages(count);
        builder.nextOffsetToPage(loopTo);
        return builder.build();
    };
    const struct {
        const char* what;
        std::vector<uint8_t> file;
        size_t pages;
        int32_t firstWidth; // the widths run up from here
    } cases[] = {
        {"back to the first", loop(3, 0), 3, 100},
        {"onto itself", loop(1, 0), 1, 100},
        {"back to the middle", loop(3, 1), 3, 100},
        {"back to the middle of four", loop(4, 2), 4, 100},
        {"65538 directories", longChain.build(), size_t(tiffdir::kMaxDirectories), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReadBack chain(c.file);
        EXPECT_EQ(chain.chainStatus, 0);
        EXPECT_EQ(chain.reader.directoryCount, static_cast<int>(c.pages));
        EXPECT_EQ(KbfCount(&chain.reader.directories), static_cast<int32_t>(c.pages));
        Listing listing(c.file);
        EXPECT_EQ(listing.status, 0);
        std::vector<int32_t> widths(c.pages);
        for (size_t k = 0; k < c.pages; ++k)
            widths[k] = c.firstWidth + static_cast<int32_t>(k);
        EXPECT_EQ(widthsOf(listing.records()), widths);
    }
}

TEST(DirectoryChain, OverlappingDirectoriesEndOnceTheyHoldFarMoreThanTheFile) {
    // Directory k at 8 + 4k claims 32767 entries, which overlap those of its neighbours;
    // its next offset, past all the counts, names directory k + 1. Zeros after the chain
    // make the file large without adding entries.
    constexpr uint32_t kEntries = 0x7FFF;
    const struct {
        uint32_t directories;
        size_t fileSize; // 0: just the chain
    } cases[] = {{64, 0}, {160, size_t{40} << 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileSize);
        const uint32_t nextAt = 8 + 2 + kEntries * 12;
        std::vector<uint8_t> file(std::max<size_t>(nextAt + 4 * c.directories, c.fileSize), 0);
        const uint8_t header[] = {'I', 'I', 42, 0, 8, 0, 0, 0};
        std::copy(std::begin(header), std::end(header), file.begin());
        for (uint32_t k = 0; k < c.directories; ++k) {
            file[8 + 4 * k] = kEntries & 0xFF;
            file[9 + 4 * k] = kEntries >> 8;
            const uint32_t next = k + 1 < c.directories ? 8 + 4 * (k + 1) : 0;
            for (int b = 0; b < 4; ++b)
                file[nextAt + 4 * k + b] = static_cast<uint8_t>(next >> (8 * b));
        }
        ReadBack chain(file);
        EXPECT_EQ(chain.chainStatus, 0);
        const uint64_t allowed =
            std::min(tiffdir::kMaxHeldEntries + file.size() / 3, tiffdir::kMaxChainEntries);
        EXPECT_EQ(chain.reader.directoryCount, static_cast<int>(allowed / kEntries + 1));
        EXPECT_LT(chain.reader.directoryCount, static_cast<int>(c.directories));
    }
}

TEST(DirectoryChain, ReadDirectoryReportsEachFailure) {
    TiffBuilder builder = pages(1);
    builder.page().entryCount(0).tag(kTagImageWidth, kShort, {1});
    std::vector<uint8_t> file = builder.build();
    const uint32_t end = static_cast<uint32_t>(file.size());
    // A last directory that promises five entries and holds none.
    file.push_back(5);
    file.push_back(0);
    ScratchDir dir;
    const std::string path = dir.write("dirs.tif", file);
    const struct {
        const char* what;
        uint32_t offset;
        int32_t status;
    } cases[] = {
        {"a good directory", builder.directoryOffsets()[0], 0},
        {"no entries", builder.directoryOffsets()[1], tiffdir::kNoEntries},
        {"entries past the end", end, tiffdir::kReadError},
        {"at the very end", end + 2, tiffdir::kReadError},
        {"past the end", 0xFFFFFFFF, tiffdir::kReadError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tiffdir::TiffReader reader;
        clearRecord(reader);
        ASSERT_EQ(tiffdir::open(reader, path.c_str()), 0);
        EXPECT_EQ(tiffdir::readDirectory(reader, c.offset), c.status);
        tiffdir::close(reader);
    }
}
