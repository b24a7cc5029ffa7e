#include "tiff/tiff_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/clear_record.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"

using namespace tiff_builder;

namespace {

// A reader opened on `path`, closed when the test is done with it.
struct OpenedReader {
    explicit OpenedReader(const std::string& path) : OpenedReader(path.c_str()) {}
    explicit OpenedReader(const char* path) {
        clearRecord(reader);
        status = tiffdir::open(reader, path);
    }
    ~OpenedReader() {
        if (status == 0)
            tiffdir::close(reader);
    }
    tiffdir::TiffReader reader;
    int32_t status;
};

} // namespace

TEST(TiffReaderOpen, RefusesWhatCannotBeOpened) {
    ScratchDir dir;
    const std::string missing = dir.file("no_such_file.tif");
    const std::string fifo = dir.file("fifo.tif");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    const struct {
        const char* what;
        const char* path;
    } cases[] = {{"null path", nullptr},
                 {"empty path", ""},
                 {"missing file", missing.c_str()},
                 {"a folder", dir.path().c_str()},
                 {"a FIFO, without waiting for a writer", fifo.c_str()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OpenedReader opened(c.path);
        EXPECT_EQ(opened.status, tiffdir::kOpenError);
    }
}

TEST(TiffReaderOpen, RefusesShortAndForeignHeaders) {
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t status;
    } cases[] = {
        {"empty file", {}, tiffdir::kReadError},
        {"seven bytes", {'I', 'I', 42, 0, 8, 0, 0}, tiffdir::kReadError},
        {"mixed mark", {'I', 'M', 42, 0, 8, 0, 0, 0}, tiffdir::kNotTiff},
        {"a JPEG", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F'}, tiffdir::kNotTiff},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OpenedReader opened(dir.write("header.tif", c.bytes));
        EXPECT_EQ(opened.status, c.status);
    }
}

TEST(TiffReaderOpen, ReadsTheHeaderInItsByteOrder) {
    const struct {
        uint8_t mark;
        uint8_t version[2];
        bool bigEndian;
        uint16_t expectedVersion;
        uint32_t expectedOffset;
    } cases[] = {
        {'M', {0, 42}, true, 42, 8},
        {'I', {42, 0}, false, 42, 0x08000000},
        {'I', {43, 0}, false, 43, 0x08000000}, // 43 without an offset size of 8: classic
        {'M', {0, 0}, true, 0, 8},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mark << " version " << c.expectedVersion);
        const std::vector<uint8_t> bytes{c.mark, c.mark, c.version[0], c.version[1], 0, 0, 0, 8,
                                         0,      0};
        OpenedReader opened(dir.write("header.tif", bytes));
        ASSERT_EQ(opened.status, 0);
        EXPECT_EQ(opened.reader.bigEndian, c.bigEndian);
        EXPECT_EQ(opened.reader.version, c.expectedVersion);
        EXPECT_EQ(opened.reader.firstDirectoryOffset, c.expectedOffset);
        EXPECT_EQ(opened.reader.fileSize, bytes.size());
        EXPECT_GE(opened.reader.fileHandle, 0);
    }
}

TEST(TiffReaderClose, ClosesTheFileAndForgetsItsStores) {
    ScratchDir dir;
    OpenedReader opened(
        dir.write("c.tif", TiffBuilder().page().tag(kTagImageWidth, kShort, {1}).build()));
    ASSERT_EQ(opened.status, 0);
    const int fd = opened.reader.fileHandle;
    EXPECT_EQ(tiffdir::close(opened.reader), 0);
    opened.status = -1; // closed here already
    EXPECT_EQ(opened.reader.fileHandle, -1);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(KbfCheck(&opened.reader.directories), kKbfBadSignature);
    EXPECT_EQ(KbfCheck(&opened.reader.tagData), kKbfBadSignature);
}

TEST(TiffReaderValues, ReadShortsAndLongsInTheFilesByteOrder) {
    const std::vector<uint8_t> payload{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    ScratchDir dir;
    for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big}) {
        const bool big = order == ByteOrder::Big;
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        OpenedReader opened(dir.write(
            "values.tif",
            TiffBuilder(order).blob(16, payload).page().tag(kTagImageWidth, kShort, {1}).build()));
        ASSERT_EQ(opened.status, 0);
        uint16_t shorts[4] = {};
        ASSERT_EQ(tiffdir::readShorts(opened.reader, 16, 4, shorts), 0);
        EXPECT_EQ(shorts[0], big ? 0x1234 : 0x3412);
        EXPECT_EQ(shorts[3], big ? 0xDEF0 : 0xF0DE);
        uint32_t longs[2] = {};
        ASSERT_EQ(tiffdir::readLongs(opened.reader, 16, 2, longs), 0);
        EXPECT_EQ(longs[0], big ? 0x12345678u : 0x78563412u);
        EXPECT_EQ(longs[1], big ? 0x9ABCDEF0u : 0xF0DEBC9Au);
    }
}

TEST(TiffReaderValues, AReadPastTheEndIsAShortRead) {
    const std::vector<uint8_t> file{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
    ScratchDir dir;
    OpenedReader opened(dir.write("short.tif", file));
    ASSERT_EQ(opened.status, 0);
    uint32_t longs[4] = {};
    // Two values exist, four are asked for: the two that arrived are kept.
    EXPECT_EQ(tiffdir::readLongs(opened.reader, 8, 4, longs), tiffdir::kReadError);
    EXPECT_EQ(longs[0], 1u);
    EXPECT_EQ(longs[1], 2u);
    EXPECT_EQ(longs[2], 0u);
    EXPECT_EQ(tiffdir::readLongs(opened.reader, 0xFFFFFFF0u, 1, longs), tiffdir::kReadError);
    uint16_t shorts[1] = {};
    EXPECT_EQ(tiffdir::readShorts(opened.reader, 16, 1, shorts), tiffdir::kReadError);
}
