// Runs over pages of every kind pelc routes, in which one heap allocation fails, for each
// allocation the run makes in turn (or every allocation from one on): the run always goes on
// to the end banner, and each page either comes out as in a run with memory to spare or is
// reported failed with its own message. The allocation functions are those of a test copy
// of pelc built with tests/support/failing_alloc.c.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/messages.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"

#ifdef PELC_FAILING_ALLOC_BINARY

using testsupport::PageLayout;

namespace {

// An old-style JPEG page holding a whole JPEG of itself: copied as it is, unless it is
// viewed turned, which decodes it.
std::vector<uint8_t> oldStyleJpegPage(uint16_t orientation) {
    constexpr uint32_t kWidth = 32, kHeight = 16;
    return tiff_builder::wholeJpegPageFile(testsupport::encodeJpeg(kWidth, kHeight), kWidth,
                                           kHeight, orientation);
}

PageLayout layout(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples,
                  uint16_t photometric, uint16_t compression) {
    PageLayout page;
    page.width = width;
    page.height = height;
    page.bitsPerSample = bits;
    page.samplesPerPixel = samples;
    page.photometric = photometric;
    page.compression = compression;
    page.rowsPerStrip = height / 2;
    page.pixels = testsupport::patternPixels(page, width + height);
    return page;
}

// The input files, named relative to the run's folder.
struct Inputs {
    std::vector<std::string> arguments;
};

Inputs writeInputs(const ScratchDir& dir) {
    PageLayout fax = layout(64, 24, 1, 1, 0, 4);
    PageLayout palette = layout(24, 16, 8, 1, 3, 32773);
    for (int channel = 0; channel < 3; ++channel)
        for (int i = 0; i < 256; ++i)
            palette.colorMap.push_back(static_cast<uint16_t>((i * (channel + 3) % 256) * 257));
    PageLayout cmyk = layout(20, 12, 8, 4, 5, 5);
    cmyk.inkSet = 1;
    PageLayout tiled = layout(40, 24, 8, 3, 2, 8);
    tiled.tileWidth = 16;
    tiled.tileLength = 16;
    PageLayout turned = layout(24, 16, 8, 1, 1, 1);
    turned.orientation = 6;
    EXPECT_TRUE(testsupport::writeTiffPages(dir.file("mixed.tif"),
                                            {fax, layout(24, 16, 8, 1, 1, 5), palette}));
    EXPECT_TRUE(testsupport::writeTiffPages(
        dir.file("colour.tif"), {layout(24, 16, 8, 3, 2, 1), layout(16, 8, 16, 1, 1, 1), cmyk},
        /*bigEndian=*/true));
    EXPECT_TRUE(testsupport::writeTiffPages(dir.file("tiled.tif"), {tiled, turned}));
    EXPECT_TRUE(testsupport::writeTiffPages(dir.file("big.tif"), {layout(24, 16, 8, 1, 1, 8)},
                                            false,
                                            /*bigTiff=*/true));
    dir.write("copied.tif", oldStyleJpegPage(1));
    dir.write("decoded.tif", oldStyleJpegPage(8));
    return {{"mixed.tif", "colour.tif", "tiled.tif", "copied.tif", "big.tif", "decoded.tif"}};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(text.substr(start, end - start));
    return result;
}

bool isJpegName(const std::string& line) {
    return line.size() > 4 && line.compare(line.size() - 4, 4, ".jpg") == 0;
}

// Every *.jpg and hidden output in the folder, removed before the next run.
void removeOutputs(const ScratchDir& dir, const std::vector<std::string>& outputs) {
    for (const std::string& name : outputs)
        std::remove(name.c_str());
    for (const std::string& name : hiddenOutputs(dir.path()))
        std::remove(dir.file(name).c_str());
}

// What went wrong in a run, by kind ("" when nothing did), and the run's own details.
struct Verdict {
    std::string kind;
    std::string details;
};

class AllocationFailure : public testing::Test {
  public:
    void SetUp() override {
        inputs = writeInputs(dir);
        const RunResult clean = run({"PELC_ALLOC_COUNT=1"});
        ASSERT_EQ(clean.exitCode, 0) << clean.err;
        ASSERT_EQ(std::sscanf(clean.err.c_str(), "allocations %lu", &allocations), 1) << clean.err;
        cleanLines = lines(clean.out);
        for (const std::string& line : cleanLines) {
            if (isJpegName(line)) {
                ASSERT_EQ(cleanJpegs.count(line), 0u) << "each page once: " << line;
                cleanJpegs[line] = readFileBytes(line);
                ASSERT_FALSE(cleanJpegs[line].empty()) << line;
                outputs.push_back(line);
            }
        }
        // Every page of every kind is written when memory is to spare.
        ASSERT_EQ(outputs.size(), 11u) << clean.out;
        ASSERT_EQ(clean.out.find("-->"), std::string::npos) << clean.out;
        clearOutputs();
        std::printf("clean run: %lu allocations\n", allocations);
    }

    void clearOutputs() { removeOutputs(dir, outputs); }
    bool anyOutputWritten() const {
        return std::any_of(outputs.begin(), outputs.end(), pathExists);
    }

    RunResult run(std::vector<std::string> environment) {
        RunOptions options;
        options.program = PELC_FAILING_ALLOC_BINARY;
        options.cpuCount = 1;
        options.environment = std::move(environment);
        return runPelc(inputs.arguments, dir.path(), options);
    }

    // The values of k tried: every one up to the clean run's count, or evenly spread ones
    // when that would take too long (a sanitized run is several times slower).
    std::vector<unsigned long> chosenCalls(unsigned long most) const {
        std::vector<unsigned long> calls;
        const unsigned long step = std::max<unsigned long>(1, (allocations + most - 1) / most);
        for (unsigned long k = 1; k <= allocations; k += step)
            calls.push_back(k);
        return calls;
    }

    // Compares a run's console output with the clean run's, file by file and page by page:
    // each page shows its clean lines, or its name and then its failure message; a file
    // shows its pages, or its own failure line in their place. Returns the pages written.
    Verdict matchesCleanRun(const RunResult& result) {
        const std::vector<std::string> got = lines(result.out);
        const std::string loadFailed(messages::kLoadFailed.sjis);
        const std::string writeFailed(messages::kWriteFailed.sjis);
        size_t g = 0, c = 0;
        auto fail = [&](const char* what) {
            return Verdict{what, "at line " + std::to_string(g) + " of:\n" + result.out +
                                     "clean line " + std::to_string(c) + ": " +
                                     (c < cleanLines.size() ? cleanLines[c] : "(end)")};
        };
        // Banner and arguments as in the clean run.
        const size_t header = 1 + inputs.arguments.size();
        for (; c < header; ++c, ++g)
            if (g >= got.size() || got[g] != cleanLines[c])
                return fail("a different header");
        std::map<std::string, bool> shown; // output name: written
        for (const std::string& argument : inputs.arguments) {
            const std::string path = dir.file(argument);
            const std::string base = path.substr(0, path.size() - 4) + "_";
            if (g < got.size() && got[g] == path + sjis(messages::kFileFailed)) {
                // The file failed as a whole: none of its pages appears.
                ++g;
                while (c < cleanLines.size() && cleanLines[c].compare(0, base.size(), base) == 0)
                    shown[cleanLines[c++]] = false;
                continue;
            }
            while (c < cleanLines.size() && cleanLines[c].compare(0, base.size(), base) == 0) {
                if (g >= got.size() || got[g] != cleanLines[c])
                    return fail("a page line differs");
                const bool failed =
                    g + 1 < got.size() && (got[g + 1] == loadFailed || got[g + 1] == writeFailed);
                shown[cleanLines[c]] = !failed;
                ++c;
                g += failed ? 2 : 1;
            }
        }
        for (; c < cleanLines.size(); ++c, ++g)
            if (g >= got.size() || got[g] != cleanLines[c])
                return fail("a different end");
        if (g != got.size())
            return fail("lines after the end");
        for (const auto& [name, written] : shown) {
            const std::string bytes = readFileBytes(name);
            if (written && !pathExists(name))
                return {"a page without its JPEG or a message", name + " in:\n" + result.out};
            if (written && bytes != cleanJpegs[name])
                return {"a JPEG unlike the clean run's", name + " in:\n" + result.out};
            if (!written && pathExists(name))
                return {"a failed page's JPEG in place", name + " in:\n" + result.out};
        }
        return {};
    }

    ScratchDir dir;
    Inputs inputs;
    unsigned long allocations = 0;
    std::vector<std::string> cleanLines;
    std::map<std::string, std::string> cleanJpegs;
    std::vector<std::string> outputs;
};

// Whether the run stopped at the arguments, before converting anything, as a run does
// whose input list cannot be stored: the banner, the arguments up to the one that could
// not be taken (its path message, when its full path could not be formed), and the format
// error.
bool refusedTheArguments(const RunResult& result, const std::vector<std::string>& cleanLines) {
    const std::vector<std::string> got = lines(result.out);
    if (result.exitCode != 1 || got.size() < 2 || got.back() != sjis(messages::kFormatError))
        return false;
    size_t echoed = got.size() - 1;
    if (echoed >= 2 && got[echoed - 1] == got[echoed - 2] + sjis(messages::kPathFailed))
        --echoed;
    for (size_t i = 0; i < echoed; ++i)
        if (i >= cleanLines.size() || got[i] != cleanLines[i] || isJpegName(got[i]))
            return false;
    return true;
}

Verdict judgeEnd(const RunResult& result, const std::string& folder) {
    if (result.exitCode > 128)
        return {"signal " + std::to_string(result.exitCode - 128), result.err};
    if (result.exitCode != 0)
        return {"exit code " + std::to_string(result.exitCode), result.out + result.err};
    if (!result.err.empty())
        return {"error output", result.err};
    if (!hiddenOutputs(folder).empty())
        return {"hidden file left", result.out};
    return {};
}

// Runs every value of `calls` with `setting` (e.g. "PELC_FAIL_ALLOC_AT=") and expects each
// run to pass `judge`; prints the runs' count and time, and the failures by kind.
template <typename Judge>
void expectEveryRunSound(AllocationFailure& test, const std::vector<unsigned long>& calls,
                         const std::string& setting, Judge judge) {
    const auto start = std::chrono::steady_clock::now();
    std::map<std::string, int> badRuns;
    std::vector<std::string> examples;
    int refused = 0;
    for (unsigned long k : calls) {
        const RunResult result = test.run({setting + std::to_string(k)});
        if (refusedTheArguments(result, test.cleanLines) && !test.anyOutputWritten()) {
            ++refused;
            test.clearOutputs();
            continue;
        }
        const Verdict verdict = judge(result);
        if (!verdict.kind.empty()) {
            if (badRuns[verdict.kind]++ == 0)
                examples.push_back(setting + std::to_string(k) + ": " + verdict.kind + "\n" +
                                   verdict.details);
        }
        test.clearOutputs();
    }
    std::printf("%zu runs with %s..., %d stopped at the arguments, %.1f s\n", calls.size(),
                setting.c_str(), refused,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    for (const auto& [kind, count] : badRuns)
        ADD_FAILURE() << count << " runs: " << kind;
    for (const std::string& example : examples)
        ADD_FAILURE() << example;
}

} // namespace

TEST_F(AllocationFailure, EachFailedAllocationFailsOnlyItsPage) {
    expectEveryRunSound(*this, chosenCalls(2000),
                        "PELC_FAIL_ALLOC_AT=", [&](const RunResult& result) {
                            Verdict verdict = judgeEnd(result, dir.path());
                            if (verdict.kind.empty())
                                verdict = matchesCleanRun(result);
                            return verdict;
                        });
}

TEST_F(AllocationFailure, EveryAllocationFailingFromOneOnStillEndsTheRun) {
    const std::string endBanner(messages::kEndBanner.sjis);
    expectEveryRunSound(
        *this, chosenCalls(2000), "PELC_FAIL_ALLOC_FROM=", [&](const RunResult& result) {
            Verdict verdict = judgeEnd(result, dir.path());
            const std::vector<std::string> got = lines(result.out);
            if (verdict.kind.empty() && !(got.size() >= 2 && got[got.size() - 2] == endBanner))
                verdict = {"no end banner", result.out};
            return verdict;
        });
}

#endif
