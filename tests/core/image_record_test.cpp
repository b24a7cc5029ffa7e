#include "core/image_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "core/clear_record.h"
#include "platform/device_context.h"
#include "platform/dib_section.h"

namespace {
bool allZero(const ImageRecord& record) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// A record that owns a header block and a pixel section, as allocated storage does.
void makeBitmap(ImageRecord& record, DeviceContext context) {
    ASSERT_EQ(initImageRecord(context, &record), 0);
    record.width = 3;
    record.height = 2;
    record.bitsPerPixel = 24;
    record.bytesPerRow = 12;
    record.imageSize = 24;
    record.bitmapInfo = static_cast<uint8_t*>(std::calloc(1, 40));
    ASSERT_NE(record.bitmapInfo, nullptr);
    record.palette = record.bitmapInfo + 40;
    record.dibSection = platform::createDibSection(context, record.imageSize, &record.pixels);
    ASSERT_NE(record.dibSection, nullptr);
}

struct ScreenContext {
    DeviceContext context = platform::screenDeviceContext();
    ~ScreenContext() { platform::releaseDeviceContext(context); }
};
} // namespace

TEST(ImageRecord, NullRecordsAreRefused) {
    EXPECT_EQ(initImageRecord(nullptr, nullptr), -1);
    EXPECT_EQ(releaseImageRecord(nullptr), -1);
}

TEST(ImageRecord, InitClearsTheWholeRecordAndSigns) {
    ScreenContext screen;
    ImageRecord record;
    std::memset(static_cast<void*>(&record), 0xA5, sizeof record);
    ASSERT_EQ(initImageRecord(screen.context, &record), 0);
    EXPECT_EQ(std::memcmp(record.signature, "aRPL", 4), 0);
    EXPECT_EQ(record.deviceContext, screen.context);
    // Apart from signature and context, every byte is zero.
    ImageRecord rest = record;
    std::memset(rest.signature, 0, sizeof rest.signature);
    rest.deviceContext = nullptr;
    EXPECT_TRUE(allZero(rest));
}

TEST(ImageRecord, ReleasingTwiceGivesZeroThenOne) {
    ScreenContext screen;
    ImageRecord record;
    makeBitmap(record, screen.context);
    EXPECT_EQ(releaseImageRecord(&record), 0);
    EXPECT_EQ(record.bitmapInfo, nullptr);
    EXPECT_EQ(record.dibSection, nullptr);
    EXPECT_EQ(std::memcmp(record.signature, "\0\0\0\0", 4), 0);
    // The second release must not free again (the sanitizers see a double free).
    EXPECT_EQ(releaseImageRecord(&record), 1);
}

TEST(ImageRecord, ReleaseOfAPageDescriptionReturnsOneAndChangesNothing) {
    ImageRecord page;
    clearRecord(page);
    page.fileKind = kFileKindTiff;
    page.width = 1728;
    page.height = 2200;
    page.compression = 4;
    page.pageCount = 3;
    page.pageNumber = 1;
    page.directoryIndex = 1;
    page.directoryOffset = 4096;
    // Addresses in a page description are not owned: release must not touch them.
    page.bitmapInfo = reinterpret_cast<uint8_t*>(&page);
    const ImageRecord before = page;
    EXPECT_EQ(releaseImageRecord(&page), 1);
    EXPECT_EQ(std::memcmp(&page, &before, sizeof page), 0);

    ImageRecord cleared;
    clearRecord(cleared);
    EXPECT_EQ(releaseImageRecord(&cleared), 1);
    EXPECT_TRUE(allZero(cleared));
}

TEST(ImageRecord, MoveHandsOwnershipOverAndClearsTheSource) {
    ScreenContext screen;
    ImageRecord source;
    makeBitmap(source, screen.context);
    source.xResolution = 300;
    const ImageRecord original = source;
    ImageRecord destination;
    clearRecord(destination);

    EXPECT_EQ(moveImageRecord(screen.context, &source, &destination), 0);
    EXPECT_TRUE(allZero(source));
    EXPECT_EQ(std::memcmp(&destination, &original, sizeof destination), 0);
    EXPECT_EQ(releaseImageRecord(&source), 1);
    // Frees the block and the section exactly once (the sanitizers check both).
    EXPECT_EQ(releaseImageRecord(&destination), 0);
}

TEST(ImageRecord, CopyResolutionCopiesOnlyTheResolution) {
    ImageRecord source;
    clearRecord(source);
    source.resolutionUnit = 3;
    source.xResolution = 80.0;
    source.yResolution = 77.5;
    source.width = 99;
    ImageRecord destination;
    clearRecord(destination);
    destination.width = 5;
    EXPECT_EQ(copyResolution(&source, &destination), 0);
    EXPECT_EQ(destination.resolutionUnit, 3);
    EXPECT_EQ(destination.xResolution, 80.0);
    EXPECT_EQ(destination.yResolution, 77.5);
    EXPECT_EQ(destination.width, 5);
}
