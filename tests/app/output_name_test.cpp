#include "app/output_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/paths.h"

namespace {
// The name of one page as the driver forms it: folder of the input, one "/" stripped.
std::string outputNameFor(const std::string& input, int32_t pageCount, int32_t pageNumber) {
    PathParts parts;
    EXPECT_EQ(parts.split(input.c_str()), 0);
    char folder[platform::kMaxPath];
    std::memcpy(folder, parts.folder, sizeof folder);
    stripTrailingSeparator(folder);
    char name[platform::kMaxPath];
    if (makeOutputName(input.c_str(), folder, name, pageCount, pageNumber) != 0)
        return "<refused>";
    EXPECT_EQ(name, composeOutputName(input.c_str(), folder, pageCount, pageNumber));
    return name;
}
} // namespace

TEST(OutputName, PageNumbersArePaddedToTheWidthOfThePageCount) {
    const struct {
        int32_t pageCount;
        int32_t pageNumber;
        const char* expected;
    } cases[] = {
        {1, 1, "/scans/doc_1.jpg"},
        {3, 1, "/scans/doc_1.jpg"},
        {3, 3, "/scans/doc_3.jpg"},
        {9, 9, "/scans/doc_9.jpg"},
        {10, 1, "/scans/doc_01.jpg"},
        {12, 12, "/scans/doc_12.jpg"},
        {99, 7, "/scans/doc_07.jpg"},
        {100, 7, "/scans/doc_007.jpg"},
        {120, 1, "/scans/doc_001.jpg"},
        {120, 120, "/scans/doc_120.jpg"},
        {1000, 7, "/scans/doc_0007.jpg"},
        {99999, 7, "/scans/doc_00007.jpg"},
        {123456, 7, "/scans/doc_000007.jpg"},
        {9999999, 7, "/scans/doc_0000007.jpg"},
        {10000000, 7, "/scans/doc_7.jpg"}, // 8 digits and more: no padding at all
        {INT32_MAX, 7, "/scans/doc_7.jpg"},
        {9, 10, "/scans/doc_10.jpg"}, // a number wider than the count is written whole
        {10, 123, "/scans/doc_123.jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "page " << c.pageNumber << " of " << c.pageCount);
        EXPECT_EQ(outputNameFor("/scans/doc.tif", c.pageCount, c.pageNumber), c.expected);
    }
}

TEST(OutputName, NameComesFromTheInputsFolderAndBaseName) {
    const struct {
        const char* input;
        const char* expected;
    } cases[] = {
        {"/doc.tif", "/doc_1.jpg"},             // root folder: no doubled "/"
        {"/scans/a.b.tif", "/scans/a.b_1.jpg"}, // only the last dot starts the extension
        {"/scans/doc.TIFF", "/scans/doc_1.jpg"},
        {"/scans/doc.tiff", "/scans/doc_1.jpg"}, // same name as doc.tif: no check here
        {"/scans/noext", "/scans/noext_1.jpg"},
        {"/scans.d/doc", "/scans.d/doc_1.jpg"}, // a dot in the folder is not an extension
        {"/scans/.tif", "/scans/_1.jpg"},
        {"/a/b/c/d.e.f.tif", "/a/b/c/d.e.f_1.jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(outputNameFor(c.input, 3, 1), c.expected);
    }
}

TEST(OutputName, ANameThatWouldNotFitIsRefusedWithoutOverrun) {
    // A folder of kMaxPath - 22 bytes in folders of 200 and a base name of 10:
    // "<folder>/<base>_<n>.jpg" takes kMaxPath - 6 bytes and the n digits of the page
    // number, and needs a zero behind them.
    std::string folder;
    while (folder.size() < platform::kMaxPath - 22)
        folder += "/" + std::string(199, 'd');
    folder.resize(platform::kMaxPath - 22);
    const std::string input = folder + "/" + std::string(10, 'b') + ".tif";
    char name[platform::kMaxPath + 16];
    const struct {
        int32_t pageCount;
        bool fits;
    } cases[] = {
        {1, true},         // kMaxPath - 5 bytes
        {10000, true},     // 5 digits: kMaxPath - 1 bytes, the last that fits
        {100000, false},   // 6 digits: kMaxPath bytes
        {1000000, false},  // 7 digits
        {INT32_MAX, true}, // from 8 digits on the number is not padded
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pageCount);
        std::memset(name, '#', sizeof name);
        const int32_t result = makeOutputName(input.c_str(), folder.c_str(), name, c.pageCount, 1);
        const std::string whole = composeOutputName(input.c_str(), folder.c_str(), c.pageCount, 1);
        if (c.fits) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(std::string(name), whole);
            EXPECT_LT(whole.size(), platform::kMaxPath);
        } else {
            EXPECT_EQ(result, kFailed);
            EXPECT_EQ(name[0], '\0');
            EXPECT_GE(whole.size(), platform::kMaxPath);
        }
        for (size_t i = platform::kMaxPath; i < sizeof name; ++i)
            ASSERT_EQ(name[i], '#') << "byte " << i << " written";
    }
    // Null arguments are refused, and leave the name empty.
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(makeOutputName(nullptr, "/", name, 1, 1), kFailed);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(makeOutputName("/a.tif", "/", nullptr, 1, 1), kFailed);
}

TEST(PathParts, SplitsALinuxPath) {
    const struct {
        const char* path;
        const char* directory;
        const char* baseName;
        const char* extension;
    } cases[] = {
        {"/scans/doc.tif", "/scans/", "doc", ".tif"},
        {"/doc.tif", "/", "doc", ".tif"},
        {"/", "/", "", ""},
        {"doc.tif", "", "doc", ".tif"},
        {"/scans/a.b.tif", "/scans/", "a.b", ".tif"},
        {"/scans.d/doc", "/scans.d/", "doc", ""},
        {"/scans/doc.", "/scans/", "doc", "."},
        {"/scans/.profile", "/scans/", "", ".profile"},
        {"/scans/sub/", "/scans/sub/", "", ""},
        {"", "", "", ""},
        {"C:\\scans\\doc.tif", "", "C:\\scans\\doc", ".tif"}, // "\" is a plain character
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        PathParts parts;
        EXPECT_EQ(parts.split(c.path), 0);
        EXPECT_STREQ(parts.drive, "");
        EXPECT_STREQ(parts.directory, c.directory);
        EXPECT_STREQ(parts.baseName, c.baseName);
        EXPECT_STREQ(parts.extension, c.extension);
        EXPECT_STREQ(parts.folder, c.directory);
    }
}

TEST(PathParts, AnyAcceptedPathIsKeptWhole) {
    // Accepted paths are shorter than kMaxPath bytes: a directory part of that size (far over
    // the 256 of the runtime's path splitting) still fits.
    std::string directory;
    while (directory.size() < platform::kMaxPath - 3)
        directory += "/" + std::string(250, 'd');
    directory.resize(platform::kMaxPath - 3);
    directory += "/";
    const std::string path = directory + "a";
    ASSERT_EQ(path.size(), platform::kMaxPath - 1);
    PathParts parts;
    EXPECT_EQ(parts.split(path.c_str()), 0);
    EXPECT_EQ(std::string(parts.directory), directory);
    EXPECT_EQ(std::string(parts.folder), directory);
    EXPECT_STREQ(parts.baseName, "a");
}

TEST(PathParts, PartsThatDoNotFitComeBackEmpty) {
    // The object is followed by a guard area, so a write past the last field shows.
    struct Guarded {
        PathParts parts;
        char guard[64];
    } guarded;
    std::memset(guarded.guard, '#', sizeof guarded.guard);

    const std::string longDirectory = "/" + std::string(platform::kMaxPath, 'd') + "/";
    const std::string longName(platform::kMaxPath, 'n');
    const struct {
        std::string path;
        std::string directory, baseName, extension;
    } cases[] = {
        {longDirectory + "doc.tif", "", "doc", ".tif"},
        {"/scans/" + longName + ".tif", "/scans/", "", ".tif"},
        {"/scans/doc." + longName, "/scans/", "doc", ""},
        {longDirectory + longName + "." + longName, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.size());
        EXPECT_EQ(guarded.parts.split(c.path.c_str()), kFailed);
        EXPECT_EQ(std::string(guarded.parts.directory), c.directory);
        EXPECT_EQ(std::string(guarded.parts.baseName), c.baseName);
        EXPECT_EQ(std::string(guarded.parts.extension), c.extension);
        EXPECT_EQ(std::string(guarded.parts.folder), c.directory);
        for (char g : guarded.guard)
            ASSERT_EQ(g, '#');
    }
    EXPECT_EQ(guarded.parts.split(nullptr), kFailed);
    EXPECT_STREQ(guarded.parts.folder, "");
}

TEST(PathParts, StripTrailingSeparatorRemovesOnlyAFinalSlash) {
    const struct {
        const char* folder;
        const char* expected;
    } cases[] = {
        {"/scans/", "/scans"}, {"/", ""},        {"/scans", "/scans"}, {"", ""},
        {"/a//", "/a/"},       {"C:\\", "C:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        char folder[16];
        std::strcpy(folder, c.folder);
        stripTrailingSeparator(folder);
        EXPECT_STREQ(folder, c.expected);
    }
    stripTrailingSeparator(nullptr);
}
