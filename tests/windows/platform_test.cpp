// The Win32 platform layer on its own: paths as Windows forms and splits them, the option
// rule, outputs put in place with MoveFileExA, the CPUs the process may use.
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include <windows.h>

#include "platform/command_line.h"
#include "platform/machine.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"

namespace {
std::string currentFolder() {
    char folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    return length > 0 && length < sizeof folder ? folder : "";
}

bool writeOutput(const std::string& path, const std::string& bytes) {
    platform::OutputFile file(path.c_str());
    return file.write(bytes.data(), bytes.size()) && file.commit();
}
} // namespace

TEST(WindowsPaths, SplitAsTheRuntimeSplitsWithDrivesBothSeparatorsAndDoubleByteNames) {
    ASSERT_EQ(GetACP(), 932u);
    const struct {
        const char* path;
        const char *drive, *directory, *baseName, *extension;
    } cases[] = {
        {"C:\\scans\\doc.tif", "C:", "\\scans\\", "doc", ".tif"},
        {"C:\\doc.tif", "C:", "\\", "doc", ".tif"},
        {"C:doc.tif", "C:", "", "doc", ".tif"},
        {"C:/scans/a.b.tif", "C:", "/scans/", "a.b", ".tif"},
        {"\\\\server\\share\\doc.tif", "", "\\\\server\\share\\", "doc", ".tif"},
        {"C:\\scans.d\\doc", "C:", "\\scans.d\\", "doc", ""},
        {"Z:\\.tif", "Z:", "\\", "", ".tif"},
        // Shift-JIS characters whose second byte is "\" (表, ソ) or "." never split a name.
        {"C:\\\x95\x5c.tif", "C:", "\\", "\x95\x5c", ".tif"},
        {"C:\\\x83\x5c\\a\x95\x5c", "C:", "\\\x83\x5c\\", "a\x95\x5c", ""},
        {"\x95\x5c\x95\x2e", "", "", "\x95\x5c\x95\x2e", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const platform::PathSplit parts = platform::splitPath(c.path);
        EXPECT_EQ(parts.drive, c.drive);
        EXPECT_EQ(parts.directory, c.directory);
        EXPECT_EQ(parts.baseName, c.baseName);
        EXPECT_EQ(parts.extension, c.extension);
    }
    EXPECT_EQ(platform::pathSeparator(), '\\');
}

TEST(WindowsPaths, FullPathIsGetFullPathNameWithinItsBuffer) {
    const std::string here = currentFolder();
    ASSERT_FALSE(here.empty());
    const std::string inHere = here.back() == '\\' ? here : here + "\\";
    char out[platform::kMaxPath];
    ASSERT_TRUE(platform::fullPath("sub/../a.tif", out, sizeof out));
    EXPECT_EQ(std::string(out), inHere + "a.tif");
    ASSERT_TRUE(platform::fullPath("Z:/x//y\\.\\z.tif", out, sizeof out));
    EXPECT_EQ(std::string(out), "Z:\\x\\y\\z.tif");
    const std::string needs = inHere + "a.tif";
    EXPECT_FALSE(platform::fullPath("a.tif", out, needs.size())); // no room for the zero
    EXPECT_TRUE(platform::fullPath("a.tif", out, needs.size() + 1));
    EXPECT_FALSE(platform::fullPath("", out, sizeof out));
}

TEST(WindowsPaths, ExistenceIsFindFirstFileWithItsWildcards) {
    ScratchDir dir;
    dir.write("noext", "");
    dir.write("ab.tif", "");
    EXPECT_TRUE(platform::fileExists(dir.file("ab.tif").c_str()));
    EXPECT_TRUE(platform::fileExists(dir.path().c_str())); // a folder counts
    EXPECT_TRUE(platform::fileExists(dir.file("?b.*").c_str()));
    EXPECT_FALSE(platform::fileExists(dir.file("?.tif").c_str()));
    EXPECT_FALSE(platform::fileExists(dir.file("a[b].tif").c_str()));
    EXPECT_FALSE(platform::fileExists(dir.file("ab.tif\\").c_str()));
}

TEST(WindowsOptions, AFirstArgumentBeginningWithSlashIsAnOption) {
    using platform::FirstArgument;
    const struct {
        const char* argument;
        FirstArgument kind;
    } cases[] = {
        {"/?", FirstArgument::Usage},
        {"/?x", FirstArgument::Usage},
        {"-h", FirstArgument::Usage},
        {"--help", FirstArgument::Usage},
        {"/x", FirstArgument::BadOption},
        {"/", FirstArgument::BadOption},
        {"//server/a.tif", FirstArgument::BadOption},
        {"a.tif", FirstArgument::Path},
        {"-x", FirstArgument::Path},
        {"\\?", FirstArgument::Path},
        {"", FirstArgument::Path},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(platform::judgeFirstArgument(c.argument), c.kind);
    }
}

TEST(WindowsOutputs, AFileIsWrittenHiddenAndTakesItsNameOnlyWhenCommitted) {
    ScratchDir dir;
    const std::string path = dir.file("page_1.jpg");
    {
        platform::OutputFile file(path.c_str());
        ASSERT_TRUE(file.write("abc", 3));
        const std::vector<std::string> hidden = hiddenOutputs(dir.path());
        ASSERT_EQ(hidden.size(), 1u);
        EXPECT_NE(GetFileAttributesA(dir.file(hidden[0]).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
        EXPECT_FALSE(pathExists(path));
        // Dropped without a commit: nothing of it stays.
    }
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
    EXPECT_FALSE(pathExists(path));

    dir.write("page_1.jpg", "an earlier page");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(writeOutput(path, "new page"));
    EXPECT_EQ(readFileBytes(path), "new page");
    const DWORD attributes = GetFileAttributesA(path.c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), 0u);
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
}

TEST(WindowsOutputs, FoldersAndDeviceNamesAreNeverOpened) {
    ScratchDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.file("taken.jpg").c_str(), nullptr));
    for (const std::string& name :
         {dir.file("taken.jpg"), dir.file("NUL.jpg"), dir.file("com1.jpg"), dir.file("CON .jpg"),
          std::string("\\\\.\\pipe\\pelc-test")}) {
        SCOPED_TRACE(name);
        platform::OutputFile file(name.c_str());
        EXPECT_EQ(file.descriptor(), -1);
        EXPECT_FALSE(file.commit());
    }
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
}

TEST(WindowsOutputs, HeldCommitsStayHiddenUntilPutInPlaceInOrder) {
    ScratchDir dir;
    platform::HeldOutputs held;
    {
        platform::CommitHold hold(held);
        ASSERT_TRUE(writeOutput(dir.file("a_1.jpg"), "first"));
        ASSERT_TRUE(writeOutput(dir.file("a_2.jpg"), "second"));
    }
    EXPECT_FALSE(pathExists(dir.file("a_1.jpg")));
    EXPECT_EQ(hiddenOutputs(dir.path()).size(), 2u);
    EXPECT_TRUE(held.putInPlace());
    EXPECT_EQ(readFileBytes(dir.file("a_1.jpg")), "first");
    EXPECT_EQ(readFileBytes(dir.file("a_2.jpg")), "second");
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());

    {
        platform::CommitHold hold(held);
        ASSERT_TRUE(writeOutput(dir.file("a_3.jpg"), "dropped"));
    }
    held.clear();
    EXPECT_FALSE(pathExists(dir.file("a_3.jpg")));
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
}

TEST(WindowsMachine, UsableCpusFollowTheAffinityMask) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), 1));
    EXPECT_EQ(platform::usableCpuCount(), 1);
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), process));
    EXPECT_EQ(platform::usableCpuCount(), std::popcount(static_cast<unsigned long long>(process)));
    EXPECT_GT(platform::physicalMemoryBytes(), uint64_t{1} << 20);
}
