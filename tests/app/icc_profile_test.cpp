// A page's ICC profile seen from outside: which JPEG files carry it, byte for byte, and
// which carry none but are written all the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/jpeg_decode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_pages.h"

namespace {

using testsupport::PageLayout;

// A profile of `size` bytes in colour space `space` ("RGB ", "GRAY", "CMYK", "Lab "), its body a
// pattern of `seed`, so two profiles differ and a shifted or cut copy shows.
std::vector<uint8_t> profile(const char* space, uint32_t size, uint8_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + seed);
    const uint32_t declared = size;
    for (int k = 0; k < 4; ++k)
        bytes[k] = static_cast<uint8_t>(declared >> (24 - 8 * k));
    std::copy(space, space + 4, bytes.begin() + 16);
    std::copy_n("acsp", 4, bytes.begin() + 36);
    return bytes;
}

std::vector<uint8_t> withByte(std::vector<uint8_t> bytes, size_t at, uint8_t value) {
    bytes[at] = value;
    return bytes;
}

PageLayout colourPage() { return testsupport::rgbPage(32, 24, 3); }

PageLayout greyPixelsOnRgbPage() {
    PageLayout page = testsupport::rgbPage(32, 24);
    for (size_t i = 0; i + 2 < page.pixels.size(); i += 3)
        page.pixels[i + 1] = page.pixels[i + 2] = page.pixels[i];
    return page;
}

PageLayout palettePage() {
    PageLayout page = testsupport::greyPage(32, 24);
    page.photometric = 3;
    for (int k = 0; k < 3 * 256; ++k)
        page.colorMap.push_back(static_cast<uint16_t>(k * 7919));
    return page;
}

PageLayout ycbcrJpegPage() {
    PageLayout page = testsupport::rgbPage(32, 32, 2, 7);
    page.photometric = 6;
    return testsupport::smooth(page);
}

PageLayout cmykPage() {
    PageLayout page;
    page.width = 32;
    page.height = 24;
    page.samplesPerPixel = 4;
    page.photometric = 5;
    page.inkSet = 1;
    page.pixels = testsupport::patternPixels(page);
    return page;
}

PageLayout bilevelPage() {
    PageLayout page;
    page.width = 32;
    page.height = 24;
    page.bitsPerSample = 1;
    page.pixels = testsupport::patternPixels(page);
    return page;
}

struct ProfileCase {
    const char* name;
    PageLayout (*page)();
    std::vector<uint8_t> profile;
    bool carried;
    int components;
};

void PrintTo(const ProfileCase& c, std::ostream* out) { *out << c.name; }

const uint32_t kLimit = 4 * 1024 * 1024;

std::vector<ProfileCase> profileCases() {
    const auto rgb = profile("RGB ", 3000);
    const auto grey = profile("GRAY", 600);
    return {
        {"RgbOnRgbPage", colourPage, rgb, true, 3},
        {"GreyOnGreyPage", [] { return testsupport::greyPage(32, 24); }, grey, true, 1},
        {"RgbKeepsGreyPixelsInColour", greyPixelsOnRgbPage, rgb, true, 3},
        {"RgbOnPalettePage", palettePage, rgb, true, 3},
        {"RgbOnRenderedYCbCrPage", ycbcrJpegPage, rgb, true, 3},
        {"RgbAtTheSizeLimit", colourPage, profile("RGB ", kLimit), true, 3},
        {"NoneOnCmykPage", cmykPage, rgb, false, 3},
        {"NoneOnBilevelPage", bilevelPage, grey, false, 1},
        {"NoGreyOnRgbPage", colourPage, grey, false, 3},
        {"NoRgbOnGreyPage", [] { return testsupport::greyPage(32, 24); }, rgb, false, 1},
        {"NoCmykOnRgbPage", colourPage, profile("CMYK", 3000), false, 3},
        {"NoLabOnGreyPage", [] { return testsupport::greyPage(32, 24); }, profile("Lab ", 600),
         false, 1},
        {"NoneWithoutSignature", colourPage, withByte(rgb, 36, 'b'), false, 3},
        {"NoneWhenSizeFieldExceedsTag", colourPage, withByte(rgb, 1, 0x20), false, 3},
        {"NoneShorterThanHeader", colourPage, profile("RGB ", 127), false, 3},
        {"NoneOverTheSizeLimit", colourPage, profile("RGB ", kLimit + 1), false, 3},
    };
}

class IccProfiles : public testing::TestWithParam<ProfileCase> {};

TEST_P(IccProfiles, ReachTheJpegOnlyWhereItsColourSpaceMatches) {
    const ProfileCase& c = GetParam();
    ScratchDir dir;
    PageLayout page = c.page();
    page.iccProfile = c.profile;
    ASSERT_TRUE(testsupport::writeTiffPages(dir.file("page.tif"), {page}));

    const RunResult run = runPelc({"page.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    testsupport::DecodedJpeg jpeg;
    std::string error;
    ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("page_1.jpg"), jpeg, &error)) << error;
    EXPECT_EQ(jpeg.components, c.components);
    if (c.carried)
        EXPECT_TRUE(jpeg.iccProfile == c.profile) << jpeg.iccProfile.size() << " bytes";
    else
        EXPECT_TRUE(jpeg.iccProfile.empty()) << jpeg.iccProfile.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Pages, IccProfiles, testing::ValuesIn(profileCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The engine's copy outlives libtiff's only until the next page: each page carries its own
// profile or none, never the one before it.
TEST(IccProfilesAcrossPages, EachPageCarriesItsOwn) {
    ScratchDir dir;
    PageLayout first = colourPage();
    first.iccProfile = profile("RGB ", 5000, 1);
    const PageLayout without = colourPage();
    PageLayout smaller = colourPage();
    smaller.iccProfile = profile("RGB ", 700, 9);
    ASSERT_TRUE(testsupport::writeTiffPages(dir.file("pages.tif"), {first, without, smaller}));

    EXPECT_EQ(runPelc({"pages.tif"}, dir.path()).exitCode, 0);
    const std::vector<std::vector<uint8_t>> expected = {first.iccProfile, {}, smaller.iccProfile};
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i + 1);
        testsupport::DecodedJpeg jpeg;
        ASSERT_TRUE(
            testsupport::decodeJpegFile(dir.file("pages_" + std::to_string(i + 1) + ".jpg"), jpeg));
        EXPECT_TRUE(jpeg.iccProfile == expected[i]) << jpeg.iccProfile.size() << " bytes";
    }
}

} // namespace
