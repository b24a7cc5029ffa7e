// Input files that change between the page list and the reading of a page: cut short,
// deleted or replaced, before or after the engine opened them. Every listed page then
// loads or copies what is there, or fails with a status; nothing crashes, nothing is read
// or written outside its buffer, and a failed copy leaves no output behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/clear_record.h"
#include "core/file_list.h"
#include "core/image_record.h"
#include "platform/device_context.h"
#include "readers/convert_engine.h"
#include "readers/jpeg_copy.h"
#include "tests/support/bitmap_page.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"
#include "tiff/directory_chain.h"

using namespace tiff_builder;
using Bytes = std::vector<uint8_t>;
using testsupport::Bitmap;

namespace {

// Pages whose directories come first and whose data lie from here on, so that a cut can
// take data while leaving every directory whole.
constexpr uint32_t kDataStart = 4096;
constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 32;
constexpr uint32_t kPageBytes = kWidth * kHeight; // 8-bit grey, rows of 64 bytes

Bytes pagePixels(int page) { return patternBytes(kPageBytes, static_cast<uint8_t>(7 * page + 1)); }

// Two 8-bit grey pages, one strip each, directories first.
Bytes decodedPages() {
    TiffBuilder builder;
    for (uint32_t page = 0; page < 2; ++page)
        builder.page()
            .tag(kTagImageWidth, kShort, {kWidth})
            .tag(kTagImageLength, kShort, {kHeight})
            .tag(kTagBitsPerSample, kShort, {8})
            .tag(kTagCompression, kShort, {1})
            .tag(262, kShort, {1}) // PhotometricInterpretation: BlackIsZero
            .tag(kTagStripOffsets, kLong, {kDataStart + page * kPageBytes})
            .tag(kTagRowsPerStrip, kShort, {kHeight})
            .tag(kTagStripByteCounts, kLong, {kPageBytes});
    Bytes file = builder.build();
    EXPECT_LE(file.size(), kDataStart);
    file.resize(kDataStart);
    for (int page = 0; page < 2; ++page) {
        const Bytes pixels = pagePixels(page);
        file.insert(file.end(), pixels.begin(), pixels.end());
    }
    return file;
}

// One old-style JPEG page, directory first, its two strips of 3000 bytes from kDataStart.
constexpr uint32_t kStripBytes = 3000;
const Bytes kStrips = patternBytes(2 * kStripBytes, 5);

Bytes copiedPage() {
    TiffBuilder builder;
    builder.oldJpegPage(16, 16, {kDataStart, kDataStart + kStripBytes}, {kStripBytes, kStripBytes});
    Bytes file = builder.build();
    EXPECT_LE(file.size(), kDataStart);
    file.resize(kDataStart);
    file.insert(file.end(), kStrips.begin(), kStrips.end());
    return file;
}

std::vector<ImageRecord> listedPages(const std::string& path) {
    std::vector<ImageRecord> pages;
    FileList list;
    if (tiffdir::listPages(path.c_str(), list) != 0)
        return pages;
    list.rewind();
    const int32_t count = list.count();
    for (int32_t i = 0; i < count && list.next() == 0; ++i)
        pages.push_back(*reinterpret_cast<const ImageRecord*>(list.current));
    return pages;
}

void cutTo(const std::string& path, off_t size) { ASSERT_EQ(::truncate(path.c_str(), size), 0); }

int32_t load(readers::ConvertEngine& engine, const std::string& path, ImageRecord page,
             Bitmap& out) {
    return engine.loadPage(platform::screenDeviceContext(), path.c_str(), page, out.record);
}

// The bitmap holds `page`'s pixels (rows bottom-up, 64 bytes each).
testing::AssertionResult holdsPage(const ImageRecord& bitmap, int page) {
    if (bitmap.width != int32_t{kWidth} || bitmap.height != int32_t{kHeight} ||
        bitmap.bitsPerPixel != 8 || bitmap.pixels == nullptr)
        return testing::AssertionFailure() << "not a 64 x 32 grey bitmap";
    const Bytes want = pagePixels(page);
    for (uint32_t y = 0; y < kHeight; ++y) {
        const uint8_t* row = bitmap.pixels + size_t(kHeight - 1 - y) * bitmap.bytesPerRow;
        if (!std::equal(row, row + kWidth, want.begin() + y * kWidth))
            return testing::AssertionFailure() << "row " << y << " differs";
    }
    return testing::AssertionSuccess();
}

} // namespace

TEST(ChangingInput, AFileCutAfterListingFailsOnlyThePagesItLost) {
    struct Load {
        size_t page;
        int32_t status;       // when the cut comes before the engine's handle exists
        int32_t statusOpened; // when the handle was opened for page 0 before the cut
    };
    const struct {
        const char* what;
        off_t size;
        Load loads[2]; // in this order
    } cases[] = {
        {"cut in half of the second page",
         kDataStart + kPageBytes + kPageBytes / 2,
         {{1, readers::kScanlineFailed, readers::kScanlineFailed}, {0, 0, 0}}},
        // The open handle finds no directory; after that failure the engine lets it go, and
        // a fresh open finds no TIFF file.
        {"emptied",
         0,
         {{0, readers::kTiffOpenFailed, kFailed},
          {1, readers::kTiffOpenFailed, readers::kTiffOpenFailed}}},
    };
    for (const auto& c : cases) {
        for (bool openedBeforeTheCut : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << c.what << (openedBeforeTheCut ? ", handle opened before" : ""));
            ScratchDir dir;
            const std::string path = dir.write("cut.tif", decodedPages());
            const std::vector<ImageRecord> pages = listedPages(path);
            ASSERT_EQ(pages.size(), 2u);
            readers::ConvertEngine engine;
            if (openedBeforeTheCut) {
                Bitmap first;
                ASSERT_EQ(load(engine, path, pages[0], first), 0);
            }
            cutTo(path, c.size);
            for (const Load& l : c.loads) {
                SCOPED_TRACE(testing::Message() << "page " << l.page);
                Bitmap bitmap;
                const int32_t want = openedBeforeTheCut ? l.statusOpened : l.status;
                ASSERT_EQ(load(engine, path, pages[l.page], bitmap), want);
                if (want == 0)
                    EXPECT_TRUE(holdsPage(bitmap.record, int(l.page)));
                else
                    EXPECT_EQ(releaseImageRecord(&bitmap.record), 1); // released already
            }
        }
    }
}

TEST(ChangingInput, ADeletedFileFailsToOpenButAnOpenHandleStillReadsIt) {
    ScratchDir dir;
    const std::string path = dir.write("deleted.tif", decodedPages());
    const std::vector<ImageRecord> pages = listedPages(path);
    ASSERT_EQ(pages.size(), 2u);
    readers::ConvertEngine holding;
    {
        Bitmap first;
        ASSERT_EQ(load(holding, path, pages[0], first), 0);
    }
    ASSERT_EQ(::unlink(path.c_str()), 0);

    // The opened file is the one that was listed: its pages are still whole.
    Bitmap second;
    ASSERT_EQ(load(holding, path, pages[1], second), 0);
    EXPECT_TRUE(holdsPage(second.record, 1));

    readers::ConvertEngine fresh;
    Bitmap missing;
    EXPECT_EQ(load(fresh, path, pages[0], missing), readers::kTiffOpenFailed);
    // Once the file's pages are done, the engine lets go of the handle.
    holding.finishFile();
    Bitmap again;
    EXPECT_EQ(load(holding, path, pages[0], again), readers::kTiffOpenFailed);
}

TEST(ChangingInput, AFileReplacedAfterListingIsReadSafelyWhateverItHolds) {
    ScratchDir dir;
    const std::string path = dir.write("replaced.tif", decodedPages());
    const std::vector<ImageRecord> pages = listedPages(path);
    ASSERT_EQ(pages.size(), 2u);
    // Another file takes the name: one small RGB page laid out by libtiff, so the listed
    // directory offsets point at whatever lies there now.
    const std::string replacement = dir.file("replacement.tif");
    ASSERT_TRUE(testsupport::writeTiffPages(replacement, {testsupport::rgbPage(8, 3, 9)}));
    ASSERT_EQ(std::rename(replacement.c_str(), path.c_str()), 0);

    readers::ConvertEngine engine;
    for (const ImageRecord& page : pages) {
        Bitmap bitmap;
        const int32_t status = load(engine, path, page, bitmap);
        EXPECT_LE(status, 0);
        if (status != 0) {
            EXPECT_EQ(releaseImageRecord(&bitmap.record), 1);
            continue;
        }
        // Whatever was decoded describes itself and lies inside the engine's buffer.
        EXPECT_GT(bitmap.record.width, 0);
        EXPECT_GT(bitmap.record.height, 0);
        EXPECT_LE(uint64_t(bitmap.record.bytesPerRow) * uint64_t(bitmap.record.height),
                  uint64_t(engine.pageBufferSize));
    }
}

TEST(ChangingInput, ACopyOfAFileCutShortWritesWhatCanBeRead) {
    const struct {
        const char* what;
        off_t size; // -1: deleted
        int32_t status;
        size_t bytesWritten; // of kStrips, from its start; only when the status is 0
    } cases[] = {
        {"whole", kDataStart + 2 * kStripBytes, 0, 2 * kStripBytes},
        {"second strip cut", kDataStart + kStripBytes + 1000, 0, kStripBytes + 1000},
        {"first strip cut", kDataStart + 10, 0, 10},
        {"no strip left", kDataStart, kFailed, 0},
        {"directory cut", 20, kFailed, 0},
        {"header only", 8, kFailed, 0},
        {"emptied", 0, tiffdir::kReadError, 0},
        {"deleted", -1, tiffdir::kOpenError, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string path = dir.write("copied.tif", copiedPage());
        const std::vector<ImageRecord> pages = listedPages(path);
        ASSERT_EQ(pages.size(), 1u);
        if (c.size < 0)
            ASSERT_EQ(::unlink(path.c_str()), 0);
        else
            cutTo(path, c.size);
        const std::string output = path + ".jpg";

        EXPECT_EQ(readers::copyJpegData(path.c_str(), output.c_str(), pages[0].directoryOffset),
                  c.status);
        if (c.status == 0)
            EXPECT_EQ(readWholeFile(output),
                      Bytes(kStrips.begin(), kStrips.begin() + long(c.bytesWritten)));
        else
            EXPECT_FALSE(pathExists(output));
    }
}

// The copy plans its blocks from the size the file had when it was opened; a file that
// shrinks after that gives short reads, and the copy writes what they returned.
TEST(ChangingInput, AFileThatShrinksDuringTheCopyGivesTheBytesThatRemain) {
    const struct {
        const char* what;
        off_t size;
        int32_t status;
        size_t bytesWritten;
    } cases[] = {
        {"into the second strip", kDataStart + kStripBytes + 123, 0, kStripBytes + 123},
        {"into the first strip", kDataStart + 1, 0, 1},
        // Not one byte could be read: an empty file would only pretend to be the page.
        {"before the strips", kDataStart, kFailed, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string path = dir.write("shrinking.tif", copiedPage());
        const std::vector<ImageRecord> pages = listedPages(path);
        ASSERT_EQ(pages.size(), 1u);
        tiffdir::TiffReader reader;
        clearRecord(reader);
        ASSERT_EQ(tiffdir::open(reader, path.c_str()), 0);
        ASSERT_EQ(tiffdir::readDirectory(reader, pages[0].directoryOffset), 0);
        tiffdir::loadDirectory(
            reader, *reinterpret_cast<const tiffdir::DirectoryBlock*>(reader.directories.data));
        cutTo(path, c.size);
        const std::string output = path + ".jpg";

        EXPECT_EQ(readers::copyStrips(reader, output.c_str()), c.status);
        tiffdir::close(reader);
        if (c.status == 0)
            EXPECT_EQ(readWholeFile(output),
                      Bytes(kStrips.begin(), kStrips.begin() + long(c.bytesWritten)));
        else
            EXPECT_FALSE(pathExists(output));
    }
}
