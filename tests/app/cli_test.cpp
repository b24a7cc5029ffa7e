// The whole program as a user runs it: exact stdout bytes (Shift-JIS, stdout being a pipe),
// stderr and exit codes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/messages.h"
#include "platform/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_pages.h"

namespace {
using messages::kEndBanner;
using messages::kFormatError;
using messages::kStartBanner;
using testsupport::greyPage;
using testsupport::writeTiffPages;

// The usage as a pipe in the POSIX locale shows it, naming the program as Linux users type it.
std::string usageLines() {
    return consoleLine(sjis(messages::kUsageTitle)) +
           consoleLine(sjis(messages::kUsageSyntax) + "pelc" + sjis(messages::kUsageArguments)) +
           consoleLine(sjis(messages::kUsageInputs));
}

std::string lines(std::initializer_list<std::string> texts) {
    std::string all;
    for (const std::string& text : texts)
        all += consoleLine(text);
    return all;
}

// The output of a run that stopped on a bad argument: banner, echoed arguments, the
// argument's own message if any, the format error.
std::string formatErrorRun(std::initializer_list<std::string> echoed, const std::string& message) {
    std::string all = consoleLine(sjis(kStartBanner));
    for (const std::string& argument : echoed)
        all += consoleLine(argument);
    return all + message + consoleLine(sjis(kFormatError));
}
} // namespace

TEST(CommandLine, UsageOptionsAfterTheFirstArgumentAreFileNames) {
    ScratchDir dir;
    dir.write("a.txt", "text");
    for (const char* option : {"-h", "--help", "/?"}) {
        SCOPED_TRACE(option);
        const RunResult run = runPelc({"a.txt", option}, dir.path());
        const std::string out = run.out;
        // "/?" second is an absolute wildcard path: whether "/" holds a one-letter name
        // depends on the machine, so only the names below are checked for it.
        if (std::string(option) != "/?") {
            EXPECT_EQ(out,
                      formatErrorRun({"a.txt", option}, pathLine(option, messages::kNotFound)));
            EXPECT_EQ(run.exitCode, 1);
        }
        EXPECT_EQ(out.find(usageLines()), std::string::npos);
    }
}

// Each run judged by its whole console, stderr and exit code: the usage, arguments skipped
// silently, and bad arguments, which end the run with a format error before anything is
// converted.
TEST(CommandLine, EachRunEndsAsItsArgumentsDecide) {
    ScratchDir dir;
    ASSERT_TRUE(writeTiffPages(dir.file("a.tif"), {greyPage(8, 8)}));
    dir.write("bad.tif", "this is not a TIFF file");
    dir.write("notes.txt", "text");
    dir.write("photo.jpg", "not even a jpeg");
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    // Arguments are paths: each may take the system's longest path, kMaxPath - 1 bytes.
    const std::string longRelative(platform::kMaxPath - 1, 'r'); // full form cannot fit
    const std::string longAbsolute =
        "/" + std::string(platform::kMaxPath - 2, 'n'); // nothing there
    const std::string tooLong(platform::kMaxPath, 'x');
    struct Case {
        std::string name;
        std::vector<std::string> args;
        std::string expected;
        int exitCode;
    };
    std::vector<Case> cases = {
        {"no arguments: the usage", {}, consoleLine(sjis(kStartBanner)) + usageLines(), 2},
        {"the root folder alone is skipped",
         {"/"},
         lines({sjis(kStartBanner), "/", sjis(kEndBanner), ""}),
         0},
        {"files of other kinds are skipped",
         {"notes.txt", "photo.jpg", "folder", "*.txt"},
         lines({sjis(kStartBanner), "notes.txt", "photo.jpg", "folder", "*.txt", sjis(kEndBanner),
                ""}),
         0},
        // A relative name, with "." and ".." in it, reaches the driver as its full form.
        {"inputs are stored as full paths",
         {"sub/../bad.tif", "./sub/.././bad.tif"},
         lines({sjis(kStartBanner), "sub/../bad.tif", "./sub/.././bad.tif"}) +
             pathLine(dir.file("bad.tif"), messages::kFileFailed) +
             pathLine(dir.file("bad.tif"), messages::kFileFailed) + lines({sjis(kEndBanner), ""}),
         0},
        // A wildcard that matches is kept in the path: no file of that literal name can be
        // read, so the driver reports it.
        {"a wildcard that matches",
         {"*.tif"},
         lines({sjis(kStartBanner), "*.tif"}) + pathLine(dir.file("*.tif"), messages::kFileFailed) +
             lines({sjis(kEndBanner), ""}),
         0},
        {"absolute name that does not exist",
         {"/nonexistent-pelc-input.tif"},
         formatErrorRun({"/nonexistent-pelc-input.tif"},
                        pathLine("/nonexistent-pelc-input.tif", messages::kNotFound)),
         1},
        {"empty argument", {""}, formatErrorRun({""}, ""), 1},
        {"empty argument after a good one",
         {"a.tif", "", "a.tif"},
         formatErrorRun({"a.tif", ""}, ""),
         1},
        {"argument of kMaxPath bytes", {tooLong}, formatErrorRun({tooLong}, ""), 1},
        {"full path of kMaxPath bytes or more",
         {longRelative},
         formatErrorRun({longRelative}, pathLine(longRelative, messages::kPathFailed)),
         1},
        {"argument of kMaxPath - 1 bytes naming nothing",
         {longAbsolute},
         formatErrorRun({longAbsolute}, pathLine(longAbsolute, messages::kNotFound)),
         1},
        {"a later argument missing",
         {"a.tif", "missing.tif"},
         formatErrorRun({"a.tif", "missing.tif"}, pathLine("missing.tif", messages::kNotFound)),
         1},
        {"second of three missing",
         {"a.tif", "missing.tif", "c.tif"},
         formatErrorRun({"a.tif", "missing.tif"}, pathLine("missing.tif", messages::kNotFound)),
         1},
        {"message shows the argument as typed",
         {"./sub/../missing.tif"},
         formatErrorRun({"./sub/../missing.tif"},
                        pathLine("./sub/../missing.tif", messages::kNotFound)),
         1},
        {"a file used as a folder",
         {"a.tif/"},
         formatErrorRun({"a.tif/"}, pathLine("a.tif/", messages::kNotFound)),
         1},
        {"wildcard matching nothing",
         {"*.png"},
         formatErrorRun({"*.png"}, pathLine("*.png", messages::kNotFound)),
         1},
    };
    // A usage option first shows the usage and the rest is ignored.
    for (const char* option : {"/?", "/?x", "-h", "--help"})
        cases.push_back({std::string("usage option ") + option,
                         {option, "missing.tif", "/nowhere"},
                         consoleLine(sjis(kStartBanner)) + consoleLine(option) + usageLines(),
                         0});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult run = runPelc(c.args, dir.path());
        EXPECT_EQ(run.out, c.expected);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitCode, c.exitCode);
    }
    EXPECT_FALSE(pathExists(dir.file("a_1.jpg")));
}

// Texts follow the locale's character set, whatever reads them (here a pipe); arguments are
// echoed as their own bytes in either.
TEST(CommandLine, TextsAreInTheLocalesCharacterSetAndArgumentsTheirOwnBytes) {
    ScratchDir dir;
    const std::string utf8Name = "\xe5\x8e\x9f\xe7\xa8\xbf.txt"; // 原稿.txt in UTF-8
    const std::string sjisName = "\x8c\xb4\x8d\x65.txt";         // 原稿.txt in Shift-JIS
    dir.write(utf8Name, "");
    dir.write(sjisName, "");
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "C.UTF-8" : "POSIX");
        RunOptions options;
        options.environment = {utf8 ? "LC_ALL=C.UTF-8" : "LC_ALL=POSIX"};
        const auto text = [utf8](const Message& message) {
            return std::string(utf8 ? message.utf8 : message.sjis);
        };
        const RunResult run = runPelc({utf8Name, sjisName}, dir.path(), options);
        EXPECT_EQ(run.out, lines({text(kStartBanner), utf8Name, sjisName, text(kEndBanner), ""}));
        EXPECT_EQ(run.exitCode, 0);
        const RunResult usage = runPelc({"-h"}, dir.path(), options);
        EXPECT_EQ(usage.out,
                  lines({text(kStartBanner), "-h", text(messages::kUsageTitle),
                         text(messages::kUsageSyntax) + "pelc" + text(messages::kUsageArguments),
                         text(messages::kUsageInputs)}));
    }
}

TEST(CommandLine, ASuccessfulRunNamesEveryOutputAndEndsWithTheEndBanner) {
    ScratchDir dir;
    ASSERT_TRUE(
        writeTiffPages(dir.file("doc.tif"), {greyPage(8, 8), greyPage(12, 12), greyPage(16, 16)}));
    const RunResult run = runPelc({"doc.tif", "doc.tif"}, dir.path());
    const std::string names =
        lines({dir.file("doc_1.jpg"), dir.file("doc_2.jpg"), dir.file("doc_3.jpg")});
    // The same file named twice is converted twice.
    EXPECT_EQ(run.out, lines({sjis(kStartBanner), "doc.tif", "doc.tif"}) + names + names +
                           lines({sjis(kEndBanner), ""}));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    for (const char* name : {"doc_1.jpg", "doc_2.jpg", "doc_3.jpg"}) {
        SCOPED_TRACE(name);
        const std::string jpeg = readFileBytes(dir.file(name));
        ASSERT_GE(jpeg.size(), 4u);
        EXPECT_EQ(jpeg.substr(0, 2), "\xff\xd8");
    }
}

TEST(CommandLine, LongPathsAreConvertedAndNamedBesideTheirInput) {
    ScratchDir dir;
    // Folders named in Japanese, 80 characters (240 bytes in UTF-8) each, until the input's
    // full path is about 3000 bytes.
    std::string folderName;
    for (int i = 0; i < 40; ++i)
        folderName += "\xe5\x8e\x9f\xe7\xa8\xbf"; // 原稿
    std::string relative;
    while (dir.path().size() + relative.size() < 2750)
        relative += folderName + "/";
    const std::string folder = dir.makeFolders(relative);
    const std::string input = relative + "doc.tif";
    ASSERT_TRUE(writeTiffPages(dir.file(input), {greyPage(8, 8), greyPage(12, 12)}));
    ASSERT_GT(dir.file(input).size(), 2900u);

    // Once relative to the current folder, once as the full path.
    const RunResult run = runPelc({input, dir.file(input)}, dir.path());
    const std::string names = lines({folder + "doc_1.jpg", folder + "doc_2.jpg"});
    EXPECT_EQ(run.out, lines({sjis(kStartBanner), input, dir.file(input)}) + names + names +
                           lines({sjis(kEndBanner), ""}));
    EXPECT_EQ(run.exitCode, 0);
    for (const char* name : {"doc_1.jpg", "doc_2.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readFileBytes(folder + name).substr(0, 2), "\xff\xd8");
    }
    EXPECT_TRUE(hiddenOutputs(folder).empty());
}

TEST(CommandLine, FailedPagesNeverChangeTheExitCode) {
    ScratchDir dir;
    dir.write("empty.tif", "");
    dir.write("header-only.tif", std::string("II*\0\0\0\0\0", 8));
    const RunResult run = runPelc({"empty.tif", "header-only.tif"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    const std::string ending = lines({sjis(kEndBanner), ""});
    ASSERT_GE(run.out.size(), ending.size());
    EXPECT_EQ(run.out.substr(run.out.size() - ending.size()), ending);
    EXPECT_NE(run.out.find(pathLine(dir.file("empty.tif"), messages::kFileFailed)),
              std::string::npos);
}
