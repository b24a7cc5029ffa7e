// The Win32 platform layer where the whole program does not show it: double-byte names
// split, outputs hidden until put in place and refused at device names, the CPUs
// the process may use.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

#include <windows.h>

#include "platform/machine.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"

namespace {
bool writeOutput(const std::string& path, const std::string& bytes) {
    platform::OutputFile file(path.c_str());
    return file.open() && file.write(bytes.data(), bytes.size()) && file.finish() &&
           file.putInPlace();
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

TEST(WindowsOutputs, AFileIsWrittenHiddenAndTakesItsNameOnlyWhenPutInPlace) {
    ScratchDir dir;
    const std::string path = dir.file("page_1.jpg");
    {
        platform::OutputFile file(path.c_str());
        ASSERT_TRUE(file.open() && file.write("abc", 3));
        const std::vector<std::string> hidden = hiddenOutputs(dir.path());
        ASSERT_EQ(hidden.size(), 1u);
        EXPECT_NE(GetFileAttributesA(dir.file(hidden[0]).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
        EXPECT_FALSE(pathExists(path));
        // Finished but dropped before its turn: nothing of it stays.
        ASSERT_TRUE(file.finish());
        EXPECT_EQ(hiddenOutputs(dir.path()).size(), 1u);
        EXPECT_FALSE(pathExists(path));
    }
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
    EXPECT_FALSE(pathExists(path));

    ASSERT_TRUE(writeOutput(path, "new page"));
    EXPECT_EQ(readFileBytes(path), "new page");
    EXPECT_EQ(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
}

TEST(WindowsOutputs, FoldersAndDeviceNamesAreNeverOpened) {
    ScratchDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.file("taken.jpg").c_str(), nullptr));
    const std::string drive = dir.path().substr(0, 2);
    for (const std::string& name :
         {dir.file("taken.jpg"), dir.file("NUL.jpg"), dir.file("com1.jpg"), dir.file("CON .jpg"),
          "\\\\?\\" + dir.file("NUL.jpg"), "\\\\.\\" + dir.file("lpt1.a.jpg"),
          std::string("\\\\.\\pipe\\pelc-test"), std::string("\\\\.\\NUL"),
          std::string("\\\\.\\COM1"), std::string("\\\\.\\PhysicalDrive0"), "\\\\.\\" + drive,
          std::string("\\\\?\\GLOBALROOT\\Device\\Null"),
          "\\\\.\\" + drive + "\\..\\pipe\\pelc-test", std::string("\\\\?\\UNC\\server\\share")}) {
        SCOPED_TRACE(name);
        platform::OutputFile file(name.c_str());
        EXPECT_FALSE(file.open());
        EXPECT_FALSE(file.finish());
    }
    EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
    // Files on a drive are files in the device namespace too.
    for (const char* prefix : {"\\\\?\\", "\\\\.\\", "//?/"}) {
        SCOPED_TRACE(prefix);
        ASSERT_TRUE(writeOutput(prefix + dir.file("page_1.jpg"), prefix));
        EXPECT_EQ(readFileBytes(dir.file("page_1.jpg")), prefix);
        EXPECT_TRUE(hiddenOutputs(dir.path()).empty());
    }
}

TEST(WindowsMachine, UsableCpusFollowTheAffinityMask) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), 1));
    EXPECT_EQ(platform::usableCpuCount(), 1);
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), process));
    EXPECT_EQ(platform::usableCpuCount(), std::popcount(static_cast<unsigned long long>(process)));
    EXPECT_GT(platform::usableMemoryBytes(), uint64_t{1} << 20);
}

TEST(WindowsMachine, UsableMemoryFitsTheAddressSpace) {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ASSERT_TRUE(GlobalMemoryStatusEx(&status));
    const uint64_t usable = platform::usableMemoryBytes();
    EXPECT_LE(usable, status.ullTotalVirtual);
    EXPECT_LE(usable, status.ullTotalPhys);
    // A 32-bit process's pages are bounded by its address space, not the machine's memory.
    EXPECT_LE(usable, uint64_t{SIZE_MAX});
}
