// The conversion driver seen from outside: which files and pages become which JPEG files,
// in which order, and what the console says about those that fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/messages.h"
#include "platform/paths.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"

using namespace tiff_builder;

namespace {

std::string asString(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A JPEG of a 16 x 16 page; variants 0 to 2 are three different ones.
std::vector<uint8_t> pageJpeg(int variant = 0) {
    return testsupport::encodeJpeg(16, 16, variant == 1 ? 1 : 3, variant == 2 ? 1 : 0);
}

uint32_t sizeOf(const std::vector<uint8_t>& bytes) { return static_cast<uint32_t>(bytes.size()); }

// A file of one old-style page, pageJpeg() its only strip.
std::vector<uint8_t> onePageFile() {
    TiffBuilder builder;
    builder.blob(8, pageJpeg()).oldJpegPage(16, 16, {8}, {sizeOf(pageJpeg())});
    return builder.build();
}

std::string runOutputLines(const std::vector<std::string>& lines) {
    std::string all = consoleLine(sjis(messages::kStartBanner));
    for (const std::string& line : lines)
        all += line;
    return all + consoleLine(sjis(messages::kEndBanner)) + consoleLine("");
}

} // namespace

TEST(ConversionDriver, OldStylePagesAreCopiedByLayout) {
    ScratchDir dir;
    // Each page's blocks, read in order, are one JPEG of the page cut into pieces.
    const std::vector<uint8_t> jpeg = pageJpeg();
    const size_t size = jpeg.size();
    auto piece = [&](size_t from, size_t to) {
        return std::vector<uint8_t>(jpeg.begin() + static_cast<long>(from),
                                    jpeg.begin() + static_cast<long>(to));
    };
    const auto header = piece(0, 300), strip1 = piece(300, size - 90),
               strip2 = piece(size - 90, size), alone1 = piece(0, 333), alone2 = piece(333, size);
    const auto at = [](uint32_t base, size_t size) { return base + static_cast<uint32_t>(size); };
    TiffBuilder builder;
    builder.blob(8, header)
        .blob(400, strip1)
        .blob(2000, strip2)
        .blob(2200, jpeg)
        .blob(at(2300, size), alone1)
        .blob(at(2700, size), alone2);
    // Page 1: an interchange block that is the single strip: the block alone.
    builder.oldJpegPage(16, 16, {2200}, {static_cast<uint32_t>(size)});
    builder.tag(kTagJpegInterchangeFormat, kLong, {2200})
        .tag(kTagJpegInterchangeFormatLength, kLong, {static_cast<uint32_t>(size)});
    // Page 2: a header block, then two strips.
    builder.oldJpegPage(
        16, 16, {400, 2000},
        {static_cast<uint32_t>(strip1.size()), static_cast<uint32_t>(strip2.size())});
    builder.tag(kTagJpegInterchangeFormat, kLong, {8})
        .tag(kTagJpegInterchangeFormatLength, kLong, {300});
    // Page 3: strips alone.
    builder.oldJpegPage(16, 16, {at(2300, size), at(2700, size)},
                        {333, static_cast<uint32_t>(alone2.size())});
    const std::string path = dir.write("fax.tif", builder.build());

    const RunResult run = runPelc({"fax.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, runOutputLines({consoleLine("fax.tif"), consoleLine(dir.file("fax_1.jpg")),
                                       consoleLine(dir.file("fax_2.jpg")),
                                       consoleLine(dir.file("fax_3.jpg"))}));
    EXPECT_EQ(readFileBytes(dir.file("fax_1.jpg")), asString(jpeg));
    EXPECT_EQ(readFileBytes(dir.file("fax_2.jpg")),
              asString(header) + asString(strip1) + asString(strip2));
    EXPECT_EQ(readFileBytes(dir.file("fax_3.jpg")), asString(alone1) + asString(alone2));
}

TEST(ConversionDriver, PageNumbersDecideWhichDirectoryEachNameGets) {
    ScratchDir dir;
    const auto a = pageJpeg(0), b = pageJpeg(1), c = pageJpeg(2);
    TiffBuilder builder;
    builder.blob(8, a).blob(1000, b).blob(2000, c);
    builder.oldJpegPage(16, 16, {8}, {sizeOf(a)});
    builder.tag(kTagPageNumber, kShort, {2, 3});
    builder.oldJpegPage(16, 16, {1000}, {sizeOf(b)});
    builder.tag(kTagPageNumber, kShort, {0, 3});
    builder.oldJpegPage(16, 16, {2000}, {sizeOf(c)});
    builder.tag(kTagPageNumber, kShort, {1, 3});
    dir.write("order.tif", builder.build());

    const RunResult run = runPelc({"order.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFileBytes(dir.file("order_1.jpg")), asString(b));
    EXPECT_EQ(readFileBytes(dir.file("order_2.jpg")), asString(c));
    EXPECT_EQ(readFileBytes(dir.file("order_3.jpg")), asString(a));
}

TEST(ConversionDriver, PagesAreNumberedToTheWidthOfTheirCount) {
    ScratchDir dir;
    const auto payload = pageJpeg();
    TiffBuilder builder;
    builder.blob(8, payload);
    for (int i = 0; i < 12; ++i)
        builder.oldJpegPage(16, 16, {8}, {sizeOf(payload)});
    dir.write("doc.tif", builder.build());

    const RunResult run = runPelc({"doc.tif"}, dir.path());
    std::vector<std::string> lines = {consoleLine("doc.tif")};
    for (int page = 1; page <= 12; ++page) {
        const std::string name =
            dir.file((page < 10 ? "doc_0" : "doc_") + std::to_string(page) + ".jpg");
        lines.push_back(consoleLine(name));
        EXPECT_EQ(readFileBytes(name), asString(payload)) << name;
    }
    EXPECT_EQ(run.out, runOutputLines(lines));
}

TEST(ConversionDriver, OnlyTiffExtensionsAreConvertedInAnyLetterCase) {
    ScratchDir dir;
    const std::string tiff = asString(onePageFile());
    for (const char* name : {"x.TIF", "y.Tiff", "z.jpg", "w.nsk", "v.", "u"})
        dir.write(name, tiff);

    const RunResult run = runPelc({"x.TIF", "z.jpg", "y.Tiff", "w.nsk", "v.", "u"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              runOutputLines({consoleLine("x.TIF"), consoleLine("z.jpg"), consoleLine("y.Tiff"),
                              consoleLine("w.nsk"), consoleLine("v."), consoleLine("u"),
                              consoleLine(dir.file("x_1.jpg")), consoleLine(dir.file("y_1.jpg"))}));
    EXPECT_FALSE(pathExists(dir.file("z_1.jpg")));
    EXPECT_FALSE(pathExists(dir.file("w_1.jpg")));
}

TEST(ConversionDriver, FilesThatCannotBeListedAreReportedByFullPath) {
    ScratchDir dir;
    dir.write("note.tif", "this is not a TIFF file\n");
    dir.write("a.tif", "");
    dir.write("b.tif", "");
    dir.write("good.tif", onePageFile());

    // A relative name, a wildcard that matched, a file named twice.
    const RunResult run = runPelc({"note.tif", "?.tif", "good.tif", "./good.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              runOutputLines(
                  {consoleLine("note.tif"), consoleLine("?.tif"), consoleLine("good.tif"),
                   consoleLine("./good.tif"), pathLine(dir.file("note.tif"), messages::kFileFailed),
                   pathLine(dir.file("?.tif"), messages::kFileFailed),
                   consoleLine(dir.file("good_1.jpg")), consoleLine(dir.file("good_1.jpg"))}));
}

TEST(ConversionDriver, ANameTooLongForItsBufferIsRefusedWithoutTouchingAFile) {
    ScratchDir dir;
    // Input path of kMaxPath - 2 bytes, in folders of 200 bytes; "_1.jpg" pushes the output
    // name over the limit.
    std::string relative;
    while (dir.path().size() + relative.size() < platform::kMaxPath - 250)
        relative += std::string(199, 'f') + "/";
    const std::string folder = dir.makeFolders(relative);
    const std::string input =
        relative + std::string(platform::kMaxPath - 2 - folder.size() - 4, 'n') + ".tif";
    ASSERT_EQ(dir.file(input).size(), platform::kMaxPath - 2);
    dir.write(input, onePageFile());

    const RunResult run = runPelc({input}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    const std::string wouldBe = dir.file(input.substr(0, input.size() - 4) + "_1.jpg");
    EXPECT_EQ(run.out, runOutputLines({consoleLine(input), consoleLine(wouldBe),
                                       consoleLine(sjis(messages::kWriteFailed))}));
    EXPECT_FALSE(pathExists(wouldBe));
    EXPECT_TRUE(hiddenOutputs(folder).empty());
}

TEST(ConversionDriver, AFailedPageDoesNotStopThePagesAfterIt) {
    ScratchDir dir;
    const std::vector<uint8_t> jpeg = pageJpeg();
    dir.write("mixed.tif", failingPagesFile(jpeg));

    const RunResult run = runPelc({"mixed.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              runOutputLines(
                  {consoleLine("mixed.tif"), consoleLine(dir.file("mixed_1.jpg")),
                   consoleLine(dir.file("mixed_2.jpg")), consoleLine(sjis(messages::kLoadFailed)),
                   consoleLine(dir.file("mixed_3.jpg")), consoleLine(sjis(messages::kWriteFailed)),
                   consoleLine(dir.file("mixed_4.jpg"))}));
    EXPECT_EQ(readFileBytes(dir.file("mixed_4.jpg")), asString(jpeg));
    EXPECT_FALSE(pathExists(dir.file("mixed_2.jpg")));
    EXPECT_FALSE(pathExists(dir.file("mixed_3.jpg")));
}

TEST(ConversionDriver, TheBundledSampleConvertsEveryPageInOrder) {
    ScratchDir dir;
    const std::string sample = readFileBytes(std::string(PELC_SOURCE_DIR) + "/samples/sample.tif");
    ASSERT_FALSE(sample.empty());
    dir.write("sample.tif", sample);

    const RunResult run = runPelc({"sample.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              runOutputLines({consoleLine("sample.tif"), consoleLine(dir.file("sample_1.jpg")),
                              consoleLine(dir.file("sample_2.jpg")),
                              consoleLine(dir.file("sample_3.jpg"))}));
    // Fax page, colour page, old-style JPEG page: sizes as stored, fax page at 200 dpi.
    const struct {
        const char* name;
        int width, height, xDensity;
    } expected[] = {{"sample_1.jpg", 1728, 1100, 200},
                    {"sample_2.jpg", 480, 360, 150},
                    {"sample_3.jpg", 320, 240, -1}};
    for (const auto& page : expected) {
        SCOPED_TRACE(page.name);
        testsupport::DecodedJpeg jpeg;
        std::string error;
        ASSERT_TRUE(testsupport::decodeJpegFile(dir.file(page.name), jpeg, &error)) << error;
        EXPECT_EQ(jpeg.width, page.width);
        EXPECT_EQ(jpeg.height, page.height);
        if (page.xDensity > 0) {
            EXPECT_EQ(jpeg.densityUnit, 1);
            EXPECT_EQ(jpeg.xDensity, page.xDensity);
        }
    }
    // The fax page is white paper with a black frame: its corner pixel is black, its centre
    // margin white.
    testsupport::DecodedJpeg fax;
    ASSERT_TRUE(testsupport::decodeJpegFile(dir.file("sample_1.jpg"), fax));
    EXPECT_LT(fax.pixel(1, 1)[0], 64);
    EXPECT_GT(fax.pixel(80, 60)[0], 192);
}

TEST(ConversionDriver, DecodedPagesLookLikeTheirSource) {
    ScratchDir dir;
    using testsupport::PageLayout;
    const PageLayout grey = testsupport::smooth(testsupport::greyPage(64, 48));
    const PageLayout rgb = testsupport::smooth(testsupport::rgbPage(64, 48, 1, 5));
    const std::string path = dir.file("pages.tif");
    ASSERT_TRUE(testsupport::writeTiffPages(path, {rgb, grey, rgb}));

    const RunResult run = runPelc({"pages.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        testsupport::DecodedJpeg jpeg;
        ASSERT_TRUE(
            testsupport::decodeJpegFile(dir.file("pages_" + std::to_string(page) + ".jpg"), jpeg));
        EXPECT_TRUE(testsupport::looksLikeLibtiff(jpeg.width, jpeg.height, jpeg.rgb, path, page - 1,
                                                  255, 4.0));
    }
}
