#include "platform/jpeg_encoder.h"

#include <cstring>
#include <functional>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/jpeg_decode.h"
#include "tests/support/scratch_dir.h"

namespace {

using testsupport::DecodedJpeg;
using testsupport::decodeJpegFile;

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> 8 * i);
}

uint32_t rowBytes(int32_t width) { return (uint32_t(width) * 24 + 31) / 32 * 4; }

// A packed 24-bit bitmap as the writer hands it over, owned for the test.
struct PackedBlock {
    GlobalBlockHandle handle = nullptr;
    uint8_t* bytes = nullptr;

    PackedBlock(int32_t width, int32_t height, int32_t xPels = 0, int32_t yPels = 0,
                size_t extraBytes = 0, size_t missingBytes = 0) {
        const size_t size = 40 + size_t(rowBytes(width)) * height + extraBytes - missingBytes;
        handle = platform::globalAlloc(size);
        bytes = platform::globalLock(handle);
        put32(bytes, 40);
        put32(bytes + 4, uint32_t(width));
        put32(bytes + 8, uint32_t(height));
        bytes[12] = 1;
        bytes[14] = 24;
        put32(bytes + 20, rowBytes(width) * uint32_t(height));
        put32(bytes + 24, uint32_t(xPels));
        put32(bytes + 28, uint32_t(yPels));
    }
    ~PackedBlock() { platform::globalFree(handle); }
    // Image row y counted from the top: the block holds the bottom row first.
    uint8_t* topRow(int32_t y) {
        const int32_t width = int32_t(load(4)), height = int32_t(load(8));
        return bytes + 40 + size_t(height - 1 - y) * rowBytes(width);
    }
    uint32_t load(int at) const {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
    }
};

// Saves `block` as `path` and decodes the file back; fails the test when either step fails.
DecodedJpeg saveAndDecode(const PackedBlock& block, const std::string& path) {
    EXPECT_EQ(platform::saveJpegFile(path.c_str(), block.handle), platform::kJpegFileSaved);
    DecodedJpeg decoded;
    EXPECT_TRUE(decodeJpegFile(path, decoded));
    return decoded;
}

TEST(JpegEncoder, RowsRunFromTheBottomOfTheBlockAndBytesAreBlueGreenRed) {
    ScratchDir dir;
    PackedBlock block(16, 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const uint8_t bgr[3] = {uint8_t(y < 8 ? 0 : 255), 0, uint8_t(y < 8 ? 255 : 0)};
            std::memcpy(block.topRow(y) + 3 * x, bgr, 3);
        }
    const DecodedJpeg decoded = saveAndDecode(block, dir.file("red_over_blue.jpg"));
    EXPECT_EQ(decoded.components, 3);
    const uint8_t* top = decoded.pixel(4, 2);
    const uint8_t* bottom = decoded.pixel(4, 13);
    EXPECT_GT(top[0], 200);
    EXPECT_LT(top[2], 60);
    EXPECT_LT(bottom[0], 60);
    EXPECT_GT(bottom[2], 200);
}

TEST(JpegEncoder, GreyPageBecomesOneComponent) {
    ScratchDir dir;
    PackedBlock block(33, 9);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 33; ++x)
            std::memset(block.topRow(y) + 3 * x, x * 7, 3);
    const DecodedJpeg decoded = saveAndDecode(block, dir.file("grey.jpg"));
    EXPECT_EQ(decoded.components, 1);
    EXPECT_NEAR(decoded.pixel(20, 4)[1], 140, 8);

    block.topRow(8)[3 * 32 + 1] ^= 1; // one pixel off grey, in the last place looked at
    EXPECT_EQ(saveAndDecode(block, dir.file("grey.jpg")).components, 3);
}

TEST(JpegEncoder, DensityIsWrittenInDotsPerInchOnlyWhenBothFit) {
    ScratchDir dir;
    const struct {
        int32_t xPels, yPels;
        int unit, x, y;
    } cases[] = {{11811, 11811, 1, 300, 300}, {2834, 7874, 1, 72, 200},
                 {39, 39, 1, 1, 1},           {19, 11811, 0, 1, 1}, // 0.48 dpi rounds to none
                 {0, 11811, 0, 1, 1},         {2580000, 2580000, 1, 65532, 65532},
                 {2580200, 11811, 0, 1, 1}, // 65537 dpi does not fit
                 {-11811, 11811, 0, 1, 1},    {2147483647, 2147483647, 0, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.xPels << " x " << c.yPels << " per metre");
        PackedBlock block(8, 8, c.xPels, c.yPels);
        const DecodedJpeg decoded = saveAndDecode(block, dir.file("density.jpg"));
        EXPECT_EQ(decoded.densityUnit, c.unit);
        EXPECT_EQ(decoded.xDensity, c.x);
        EXPECT_EQ(decoded.yDensity, c.y);
    }
}

TEST(JpegEncoder, ExistingFileIsTruncated) {
    ScratchDir dir;
    const std::string path = dir.file("truncated.jpg");
    PackedBlock large(300, 200);
    for (int32_t y = 0; y < 200; ++y)
        for (uint32_t i = 0; i < 900; ++i)
            large.topRow(y)[i] = uint8_t(i * 37 + y * 11); // noise: a large file
    ASSERT_EQ(platform::saveJpegFile(path.c_str(), large.handle), platform::kJpegFileSaved);
    EXPECT_EQ(saveAndDecode(PackedBlock(8, 8), path).width, 8);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_LT(info.st_size, 2000);
}

TEST(JpegEncoder, RefusesABlockItCannotTrust) {
    ScratchDir dir;
    const struct {
        const char* what;
        std::function<void(PackedBlock&)> spoil;
    } cases[] = {{"header size", [](PackedBlock& b) { put32(b.bytes, 41); }},
                 {"zero width", [](PackedBlock& b) { put32(b.bytes + 4, 0); }},
                 {"negative height", [](PackedBlock& b) { put32(b.bytes + 8, uint32_t(-4)); }},
                 {"wider than the rows", [](PackedBlock& b) { put32(b.bytes + 4, 9); }},
                 {"32 bits", [](PackedBlock& b) { b.bytes[14] = 32; }},
                 {"compressed", [](PackedBlock& b) { put32(b.bytes + 16, 1); }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PackedBlock block(4, 4);
        c.spoil(block);
        const std::string path = dir.file("refused.jpg");
        EXPECT_EQ(platform::saveJpegFile(path.c_str(), block.handle), 0);
        EXPECT_FALSE(pathExists(path));
    }
    for (size_t extra : {0, 1}) {
        PackedBlock block(4, 4, 0, 0, extra, 1 - extra); // one byte short, one byte over
        EXPECT_EQ(platform::saveJpegFile(dir.file("refused.jpg").c_str(), block.handle), 0);
    }
    EXPECT_EQ(platform::saveJpegFile(dir.file("refused.jpg").c_str(), nullptr), 0);
    EXPECT_FALSE(pathExists(dir.file("refused.jpg")));
}

TEST(JpegEncoder, FailuresReportZeroAndLeaveNoFile) {
    ScratchDir dir;
    PackedBlock widest(65500, 1);
    const std::string widestPath = dir.file("widest.jpg");
    EXPECT_EQ(platform::saveJpegFile(widestPath.c_str(), widest.handle), platform::kJpegFileSaved);

    PackedBlock tooWide(65501, 1);
    const std::string path = dir.file("too_wide.jpg");
    EXPECT_EQ(platform::saveJpegFile(path.c_str(), tooWide.handle), 0);
    EXPECT_FALSE(pathExists(path));

    PackedBlock page(64, 64);
    EXPECT_EQ(platform::saveJpegFile(dir.file("missing/page.jpg").c_str(), page.handle), 0);
}

TEST(JpegEncoder, FullDiskIsAFailureAndTheDeviceStays) {
    struct stat info;
    if (stat("/dev/full", &info) != 0)
        GTEST_SKIP() << "no /dev/full here";
    PackedBlock page(256, 256);
    EXPECT_EQ(platform::saveJpegFile("/dev/full", page.handle), 0);
    EXPECT_EQ(stat("/dev/full", &info), 0);
}

} // namespace
