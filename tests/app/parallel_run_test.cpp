// Runs on one CPU and on all of them against each other: whatever the workers do at once,
// the console and the files come out as a run that converts one page after another.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/page_pipeline.h"
#include "app/page_step.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"

using namespace tiff_builder;
using testsupport::PageLayout;

namespace {

// Pages of very different cost, so that on several workers later pages finish first.
std::vector<PageLayout> unevenPages(int count) {
    std::vector<PageLayout> pages;
    for (int i = 0; i < count; ++i) {
        const uint32_t seed = static_cast<uint32_t>(i + 1);
        if (i % 5 == 0)
            pages.push_back(testsupport::rgbPage(900, 700, seed, 5));
        else if (i % 2 == 0)
            pages.push_back(testsupport::greyPage(40, 30, seed));
        else
            pages.push_back(testsupport::rgbPage(120, 90, seed));
    }
    return pages;
}

// Inputs: every kind of line a run prints, in an order that mixes them.
std::vector<std::string> placeMixedInputs(const ScratchDir& dir) {
    EXPECT_TRUE(testsupport::writeTiffPages(dir.file("uneven.tif"), unevenPages(23)));
    EXPECT_TRUE(testsupport::writeTiffPages(dir.file("one.tif"), {testsupport::greyPage(64, 48)}));
    dir.write("failing.tif", failingPagesFile(testsupport::encodeJpeg(16, 16, 3, 0)));
    dir.write("unreadable.tif", std::string("not a TIFF file at all"));
    dir.write("notes.txt", std::string("skipped"));
    return {"uneven.tif", "failing.tif", "unreadable.tif", "one.tif",
            "notes.txt",  "uneven.tif",  "one.tif"};
}

// Every JPEG in `folder` with its bytes; removes them, ready for the next run.
std::map<std::string, std::string> takeOutputs(const std::string& folder) {
    std::map<std::string, std::string> outputs;
    for (const std::string& name : testsupport::jpegFilesIn(folder)) {
        outputs[name] = readFileBytes(folder + "/" + name);
        std::remove((folder + "/" + name).c_str());
    }
    return outputs;
}

} // namespace

TEST(ParallelRun, GivesTheConsoleAndFilesOfARunOnOneCpu) {
    ScratchDir dir;
    const std::vector<std::string> args = placeMixedInputs(dir);

    RunOptions oneCpu;
    oneCpu.cpuCount = 1;
    const RunResult single = runPelc(args, dir.path(), oneCpu);
    const auto singleOutputs = takeOutputs(dir.path());
    ASSERT_EQ(single.exitCode, 0) << single.err;

    // The pages that fail, fail on both runs, in their places.
    EXPECT_EQ(countOf(single.out, sjis(messages::kLoadFailed)), 1u);
    EXPECT_EQ(countOf(single.out, sjis(messages::kWriteFailed)), 1u);
    EXPECT_EQ(countOf(single.out, pathLine(dir.file("unreadable.tif"), messages::kFileFailed)), 1u);
    EXPECT_EQ(countOf(single.out, consoleLine(dir.file("uneven_23.jpg"))), 2u);
    EXPECT_EQ(singleOutputs.size(), 23u + 1 + 2);

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const RunResult all = runPelc(args, dir.path());
        EXPECT_EQ(all.exitCode, single.exitCode);
        EXPECT_EQ(all.out, single.out);
        EXPECT_EQ(all.err, single.err);
        EXPECT_TRUE(takeOutputs(dir.path()) == singleOutputs);
        EXPECT_EQ(hiddenOutputs(dir.path()), std::vector<std::string>());
    }
}

TEST(ParallelRun, AnInterruptLeavesInPlaceOnlyThePagesWhoseLinesWerePrinted) {
    ScratchDir dir;
    constexpr int kPages = 30;
    ASSERT_TRUE(testsupport::writeTiffPages(dir.file("long.tif"), unevenPages(kPages)));
    // Banner, argument, then a few pages' lines: the workers are ahead of the console.
    for (const size_t lines : {size_t{4}, size_t{9}}) {
        SCOPED_TRACE(lines);
        RunOptions options;
        options.interruptAfterLines = {lines, SIGINT};
        const RunResult run = runPelc({"long.tif"}, dir.path(), options);
        ASSERT_EQ(run.exitCode, 128 + SIGINT);
        // A page is put in place just after its line: only the last line printed may lack
        // its file.
        int printedPages = 0;
        int placedPages = 0;
        for (int page = 1; page <= kPages; ++page) {
            char name[32];
            std::snprintf(name, sizeof name, "long_%02d.jpg", page);
            const bool printed = run.out.find(consoleLine(dir.file(name))) != std::string::npos;
            const bool placed = pathExists(dir.file(name));
            EXPECT_TRUE(printed || !placed) << name << " in place before its line";
            printedPages += printed ? 1 : 0;
            placedPages += placed ? 1 : 0;
        }
        EXPECT_GE(placedPages, printedPages - 1);
        EXPECT_GE(printedPages, static_cast<int>(lines) - 2);
        EXPECT_LT(printedPages, kPages);
        EXPECT_EQ(hiddenOutputs(dir.path()), std::vector<std::string>());
        takeOutputs(dir.path());
    }
}

// The cost of an A4 page at 300 dpi of each kind covers the peak measured for it (pelc's
// resident memory above a 16 x 16 page's, bench/results/page-memory-2026-12-08.txt), so a
// page never takes more than the pipeline counts.
TEST(ParallelRun, APageCostsAtLeastItsMeasuredPeak) {
    constexpr int32_t kWidth = 2480;
    constexpr int32_t kHeight = 3508;
    const struct {
        const char* kind;
        uint32_t bitsPerPixel;
        double measuredBytesPerPixel; // the worst layout measured of the kind
    } cases[] = {
        {"bilevel, Deflate in one strip", 1, 6.31},
        {"grey or palette, Deflate in one strip", 8, 8.03},
        {"RGB, LZW in one strip", 24, 10.14},
        {"YCbCr JPEG in one strip", 24, 10.10},
        {"old-style JPEG, turned, decoded", 24, 8.49},
        {"CMYK, LZW in one strip", 32, 15.51},
        {"RGBA, Deflate in one strip", 32, 13.27},
        {"16-bit RGB, Deflate in one strip", 48, 17.26},
    };
    for (const auto& c : cases) {
        ImageRecord page{};
        page.width = kWidth;
        page.height = kHeight;
        page.bitsPerPixel = c.bitsPerPixel;
        EXPECT_GE(pageMemoryCost(page), uint64_t(c.measuredBytesPerPixel * kWidth * kHeight))
            << c.kind;
    }
    ImageRecord huge{};
    huge.width = huge.height = std::numeric_limits<int32_t>::max();
    huge.bitsPerPixel = std::numeric_limits<uint32_t>::max();
    EXPECT_EQ(pageMemoryCost(huge), std::numeric_limits<uint64_t>::max());
}
