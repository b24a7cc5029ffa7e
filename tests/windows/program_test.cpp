// pelc.exe as a Windows user runs it, under wine with code page 932: exact console bytes
// (Shift-JIS, CR LF), exit codes, Windows paths and wildcards, and the files it writes.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include <windows.h>

#include "app/messages.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"

namespace {
using messages::kEndBanner;
using messages::kFormatError;
using messages::kStartBanner;

std::string lines(std::initializer_list<std::string> texts) {
    std::string all;
    for (const std::string& text : texts)
        all += consoleLine(text);
    return all;
}

std::string usageLines() {
    return lines({sjis(messages::kUsageTitle),
                  sjis(messages::kUsageSyntax) + "pelc.exe" + sjis(messages::kUsageArguments),
                  sjis(messages::kUsageInputs)});
}

// A run that stopped on its last echoed argument.
std::string formatErrorRun(std::initializer_list<std::string> echoed, const std::string& message) {
    std::string all = consoleLine(sjis(kStartBanner));
    for (const std::string& argument : echoed)
        all += consoleLine(argument);
    return all + message + consoleLine(sjis(kFormatError));
}

// A complete run: banner, echoed arguments, the driver's lines, end banner, empty line.
std::string completeRun(std::initializer_list<std::string> echoed, const std::string& driver) {
    std::string all = consoleLine(sjis(kStartBanner));
    for (const std::string& argument : echoed)
        all += consoleLine(argument);
    return all + driver + lines({sjis(kEndBanner), ""});
}

std::string asString(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// One old-style JPEG page whose only strip is `jpeg`, a complete JPEG of the page: copied.
std::vector<uint8_t> oldStyleFile(const std::vector<uint8_t>& jpeg, uint32_t side) {
    using namespace tiff_builder;
    TiffBuilder builder;
    builder.blob(8, jpeg)
        .page()
        .tag(kTagImageWidth, kShort, {side})
        .tag(kTagImageLength, kShort, {side})
        .tag(kTagCompression, kShort, {6})
        .tag(kTagStripOffsets, kLong, {8})
        .tag(kTagStripByteCounts, kLong, {static_cast<uint32_t>(jpeg.size())});
    return builder.build();
}
} // namespace

TEST(WindowsProgram, RunsUnderTheJapaneseCodePage) {
    // Every case below relies on it: Shift-JIS names and texts as a Japanese Windows has them.
    EXPECT_EQ(GetACP(), 932u);
}

TEST(WindowsProgram, ArgumentFailuresPrintTheirLinesInShiftJisWithCrLf) {
    ScratchDir dir;
    dir.write("a.tif", "not a tiff");
    const std::string tooLong(260, 'x');
    const std::string longRelative(259, 'r'); // its full form cannot fit
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string expected;
        int exitCode;
    } cases[] = {
        {"no arguments", {}, consoleLine(sjis(kStartBanner)) + usageLines(), 2},
        {"usage", {"/?", "missing.tif"}, lines({sjis(kStartBanner), "/?"}) + usageLines(), 0},
        {"usage by its first two characters",
         {"/?x"},
         lines({sjis(kStartBanner), "/?x"}) + usageLines(),
         0},
        {"-h", {"-h"}, lines({sjis(kStartBanner), "-h"}) + usageLines(), 0},
        {"--help", {"--help"}, lines({sjis(kStartBanner), "--help"}) + usageLines(), 0},
        {"any other option", {"/x", "a.tif"}, formatErrorRun({"/x"}, ""), 1},
        {"a slash alone", {"/"}, formatErrorRun({"/"}, ""), 1},
        {"missing file",
         {"a.tif", "missing.tif", "a.tif"},
         formatErrorRun({"a.tif", "missing.tif"}, pathLine("missing.tif", messages::kNotFound)),
         1},
        {"empty argument", {""}, formatErrorRun({""}, ""), 1},
        {"argument of 260 bytes", {tooLong}, formatErrorRun({tooLong}, ""), 1},
        {"full path of 260 bytes or more",
         {longRelative},
         formatErrorRun({longRelative}, pathLine(longRelative, messages::kPathFailed)),
         1},
        {"a file used as a folder",
         {"a.tif\\"},
         formatErrorRun({"a.tif\\"}, pathLine("a.tif\\", messages::kNotFound)),
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult run = runPelc(c.args, dir.path());
        EXPECT_EQ(run.out, c.expected);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitCode, c.exitCode);
    }
}

TEST(WindowsProgram, VersionIsOneLineAndSuccess) {
    ScratchDir dir;
    const RunResult run = runPelc({"--version"}, dir.path());
    EXPECT_EQ(run.out, consoleLine(std::string("pelc ") + PELC_VERSION));
    EXPECT_EQ(run.exitCode, 0);
}

TEST(WindowsProgram, SlashArgumentsAfterTheFirstArePaths) {
    ScratchDir dir;
    dir.write("a.txt", "");
    // "/x" names x in the root of the current drive, where there is none.
    const RunResult run = runPelc({"a.txt", "/pelc-nowhere.tif"}, dir.path());
    EXPECT_EQ(run.out, formatErrorRun({"a.txt", "/pelc-nowhere.tif"},
                                      pathLine("/pelc-nowhere.tif", messages::kNotFound)));
    EXPECT_EQ(run.exitCode, 1);
}

TEST(WindowsProgram, InputsAreStoredInTheirFullWindowsForm) {
    ScratchDir dir;
    dir.write("bad.tif", "this is not a TIFF file");
    ASSERT_TRUE(CreateDirectoryA(dir.file("sub").c_str(), nullptr));
    const std::string full = dir.file("bad.tif");
    const std::string failed = pathLine(full, messages::kFileFailed);
    // "/" is taken for "\", "." and ".." resolved, the drive letter kept.
    const RunResult run = runPelc({"sub/../bad.tif", ".\\sub\\..\\bad.tif", full}, dir.path());
    EXPECT_EQ(run.out, completeRun({"sub/../bad.tif", ".\\sub\\..\\bad.tif", full},
                                   failed + failed + failed));
    EXPECT_EQ(full.substr(1, 2), ":\\");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(WindowsProgram, InputsInTheDeviceNamespaceGetTheirOutputsBesideThem) {
    ScratchDir dir;
    ASSERT_TRUE(testsupport::writeTiffPages(
        dir.file("doc.tif"), {testsupport::greyPage(8, 8), testsupport::greyPage(12, 12)}));
    for (const std::string prefix : {"\\\\?\\", "\\\\.\\"}) {
        SCOPED_TRACE(prefix);
        const std::string input = prefix + dir.file("doc.tif");
        const RunResult run = runPelc({input}, dir.path());
        EXPECT_EQ(run.out, completeRun({input}, lines({prefix + dir.file("doc_1.jpg"),
                                                       prefix + dir.file("doc_2.jpg")})));
        EXPECT_EQ(run.exitCode, 0);
        for (const char* name : {"doc_1.jpg", "doc_2.jpg"}) {
            EXPECT_EQ(readFileBytes(dir.file(name)).substr(0, 2), "\xff\xd8") << name;
            ASSERT_TRUE(DeleteFileA(dir.file(name).c_str()));
        }
        EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
    }
}

TEST(WindowsProgram, WildcardsAreMatchedAsWindowsDoesAndKeptInThePath) {
    ScratchDir dir;
    dir.write("ab.tif", "");
    dir.write("noext", "");
    // Found names are accepted; a TIFF name then fails in the driver, since no file has
    // that literal name, and any other is skipped.
    enum Outcome { NotFound, FoundTiff, FoundOther };
    const struct {
        const char* pattern;
        Outcome outcome;
    } cases[] = {
        {"*.tif", FoundTiff}, {"a?.tif", FoundTiff}, {"A*.TIF", FoundTiff},  {"no*", FoundOther},
        {"?.tif", NotFound},  {"*.png", NotFound},   {"[ab].tif", NotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        const RunResult run = runPelc({c.pattern}, dir.path());
        if (c.outcome == NotFound)
            EXPECT_EQ(run.out,
                      formatErrorRun({c.pattern}, pathLine(c.pattern, messages::kNotFound)));
        else
            EXPECT_EQ(run.out, completeRun({c.pattern}, c.outcome == FoundOther
                                                            ? ""
                                                            : pathLine(dir.file(c.pattern),
                                                                       messages::kFileFailed)));
        EXPECT_EQ(run.exitCode, c.outcome == NotFound ? 1 : 0);
    }
}

TEST(WindowsProgram, WildcardInAFolderOfDriveZ) {
    // The source tree lies on wine's drive Z:, the host's root; nothing is written there,
    // since no file is named "*.tif".
    const std::string pattern = std::string(PELC_SOURCE_DIR) + "\\samples\\*.tif";
    ScratchDir dir;
    const RunResult run = runPelc({pattern}, dir.path());
    EXPECT_EQ(run.out, completeRun({pattern}, pathLine(pattern, messages::kFileFailed)));
    EXPECT_EQ(pattern.substr(0, 3), "Z:\\");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(WindowsProgram, TwelvePagesAreNumberedFrom01To12) {
    ScratchDir dir;
    std::vector<testsupport::PageLayout> pages;
    for (uint32_t i = 0; i < 12; ++i)
        pages.push_back(testsupport::greyPage(8 + i, 8, i));
    ASSERT_TRUE(testsupport::writeTiffPages(dir.file("doc.tif"), pages));
    const RunResult run = runPelc({"doc.tif"}, dir.path());
    std::string names;
    for (int page = 1; page <= 12; ++page) {
        const std::string name =
            dir.file((page < 10 ? "doc_0" : "doc_") + std::to_string(page) + ".jpg");
        names += consoleLine(name);
        EXPECT_TRUE(pathExists(name)) << name;
    }
    EXPECT_EQ(run.out, completeRun({"doc.tif"}, names));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
}

TEST(WindowsProgram, AReadOnlyOldStyleOutputIsOverwrittenWithThePagesBytes) {
    ScratchDir dir;
    const std::vector<uint8_t> jpeg = testsupport::encodeJpeg(48, 48);
    dir.write("fax.tif", oldStyleFile(jpeg, 48));
    const std::string output = dir.write("fax_1.jpg", "an earlier page");
    ASSERT_TRUE(SetFileAttributesA(output.c_str(), FILE_ATTRIBUTE_READONLY));

    const RunResult run = runPelc({"fax.tif"}, dir.path());
    EXPECT_EQ(run.out, completeRun({"fax.tif"}, consoleLine(output)));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFileBytes(output), asString(jpeg));
    // Overwritten as SetFileAttributesA(FILE_ATTRIBUTE_NORMAL) leaves it, and never hidden.
    const DWORD attributes = GetFileAttributesA(output.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
}

TEST(WindowsProgram, AShiftJisNameWhoseSecondByteIsABackslashKeepsItsFolder) {
    ScratchDir dir;
    // 表 is 0x95 0x5C in Shift-JIS: its second byte is "\" and must not split the name.
    const std::string name = "\x95\x5c.tif";
    const std::string output = dir.file("\x95\x5c_1.jpg");
    ASSERT_TRUE(testsupport::writeTiffPages(dir.file(name), {testsupport::greyPage(8, 8)}));
    const RunResult run = runPelc({name}, dir.path());
    EXPECT_EQ(run.out, completeRun({name}, consoleLine(output)));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(pathExists(output));
    // The same file under its Unicode name: the bytes were read as code page 932.
    wchar_t folder[MAX_PATH];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, dir.path().c_str(), -1, folder, MAX_PATH), 0);
    const std::wstring unicodeName = std::wstring(folder) + L"\\\x8868_1.jpg";
    EXPECT_NE(GetFileAttributesW(unicodeName.c_str()), INVALID_FILE_ATTRIBUTES);
}
