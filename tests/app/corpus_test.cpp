// Every public sample TIFF beside the repository goes through the whole program: no crash,
// no hang, every page either written or refused with one of the system's messages, and
// every page written decodes as a JPEG.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/messages.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

fs::path corpusRoot() { return fs::path(PELC_SOURCE_DIR) / ".." / "shared" / "corpus"; }

std::vector<fs::path> corpusFiles() {
    std::vector<fs::path> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(corpusRoot(), error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& p = it->path();
        if (it->is_regular_file() && p.filename() != "MANIFEST.tsv" && p.extension() != ".md")
            files.push_back(p);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

struct PageTally {
    int written = 0;
    int loadRefused = 0;
    int writeRefused = 0;
    int fileRefused = 0;
};

// The page number in an output name ("..._07.jpg" is page 7).
int pageOf(const std::string& output) {
    const size_t underscore = output.rfind('_');
    return underscore == std::string::npos ? -1 : std::atoi(output.c_str() + underscore + 1);
}

} // namespace

TEST(Corpus, EveryFileEndsInPagesWrittenOrExplainedRefusals) {
    const std::vector<fs::path> files = corpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no sample corpus beside the repository";

    const std::string loadFailed(messages::kLoadFailed.sjis);
    const std::string writeFailed(messages::kWriteFailed.sjis);
    const std::string fileFailed(messages::kFileFailed.sjis);
    const std::string endBanner(messages::kEndBanner.sjis);
    PageTally total;
    int undecodable = 0;
    for (const fs::path& file : files) {
        const std::string name = fs::relative(file, corpusRoot()).string();
        SCOPED_TRACE(name);
        ScratchDir dir;
        // Every sample is offered as a .tif, whatever its own extension.
        const std::string input = dir.write("page.tif", readFileBytes(file.string()));
        const RunResult run = runPelc({"page.tif"}, dir.path());
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");

        const std::vector<std::string> lines = splitLines(run.out);
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[lines.size() - 2], endBanner);
        EXPECT_EQ(lines.back(), "");
        PageTally tally;
        for (size_t i = 2; i + 2 < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line == input + fileFailed) {
                ++tally.fileRefused;
                continue;
            }
            ASSERT_TRUE(line.size() > 4 && line.substr(line.size() - 4) == ".jpg") << line;
            const std::string& after = i + 3 < lines.size() ? lines[i + 1] : std::string();
            if (after == loadFailed || after == writeFailed) {
                ++(after == loadFailed ? tally.loadRefused : tally.writeRefused);
                ++i;
                continue;
            }
            ++tally.written;
            EXPECT_TRUE(pathExists(line)) << line;
            testsupport::DecodedJpeg jpeg;
            std::string error;
            if (!testsupport::decodeJpegFile(line, jpeg, &error)) {
                ++undecodable;
                ADD_FAILURE() << "page " << pageOf(line) << " does not decode: " << error;
            }
        }
        std::printf("%-70s written %3d  load-refused %2d  write-refused %2d%s\n", name.c_str(),
                    tally.written, tally.loadRefused, tally.writeRefused,
                    tally.fileRefused ? "  file refused" : "");
        total.written += tally.written;
        total.loadRefused += tally.loadRefused;
        total.writeRefused += tally.writeRefused;
        total.fileRefused += tally.fileRefused;
    }
    std::printf("corpus: %zu files, %d pages written (%d not decodable as JPEG), %d refused at "
                "loading, %d refused at writing, %d files refused\n",
                files.size(), total.written, undecodable, total.loadRefused, total.writeRefused,
                total.fileRefused);
    EXPECT_GT(total.written, 0);
}
