#include "platform/paths.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/scratch_dir.h"

namespace {
// Runs each case with a scratch folder as the current folder, and restores the old one.
class Paths : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(previous_), 0); }

    std::string full(const char* path) {
        char out[platform::kMaxPath];
        if (!platform::fullPath(path, out, sizeof out))
            return "<failed>";
        return out;
    }
    const std::string& cwd() const { return scratch_.path(); }
    const ScratchDir& scratch() const { return scratch_; }

  private:
    ScratchDir scratch_;
    char previous_[PATH_MAX];
};

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}
} // namespace

TEST_F(Paths, FullPathJoinsTheCurrentFolderAndNormalisesLexically) {
    const struct {
        const char* path;
        std::string expected;
    } cases[] = {
        {"a.tif", cwd() + "/a.tif"},
        {"./a.tif", cwd() + "/a.tif"},
        {"sub/../a.tif", cwd() + "/a.tif"},
        {"sub//deeper///a.tif", cwd() + "/sub/deeper/a.tif"},
        {"sub/", cwd() + "/sub/"},
        {"sub/.", cwd() + "/sub"},
        {".", cwd()},
        {"..", parentOf(cwd())},
        {"../../../../../../../../../../../../../..", "/"},
        {"/", "/"},
        {"//", "/"},
        {"/..", "/"},
        {"/../scans/./doc.tif", "/scans/doc.tif"},
        {"/scans/a/b/../../doc.tif", "/scans/doc.tif"},
        {"/scans/..x/...", "/scans/..x/..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(full(c.path), c.expected);
    }
}

TEST_F(Paths, FullPathLeavesSymlinksAlone) {
    ASSERT_EQ(mkdir(scratch().file("real").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(scratch().file("real/inner").c_str(), 0755), 0);
    ASSERT_EQ(symlink("real/inner", scratch().file("link").c_str()), 0);
    // A resolving implementation would give <cwd>/real/a.tif.
    EXPECT_EQ(full("link/../a.tif"), cwd() + "/a.tif");
    EXPECT_EQ(full("link/a.tif"), cwd() + "/link/a.tif");
}

TEST_F(Paths, FullPathRefusesEmptyPathsAndResultsThatDoNotFit) {
    char out[8];
    EXPECT_FALSE(platform::fullPath("", out, sizeof out));
    EXPECT_FALSE(platform::fullPath(nullptr, out, sizeof out));
    EXPECT_FALSE(platform::fullPath("/a", nullptr, sizeof out));
    EXPECT_FALSE(platform::fullPath("/a", out, 0));

    // Room for kMaxPath - 1 bytes and the zero: that many fit, one more does not. The bytes
    // behind the capacity stay untouched.
    const std::string fits = "/" + std::string(platform::kMaxPath - 2, 'f');
    const std::string tooLong = fits + "f";
    char buffer[platform::kMaxPath + 16];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_TRUE(platform::fullPath(fits.c_str(), buffer, platform::kMaxPath));
    EXPECT_EQ(std::string(buffer), fits);
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(platform::fullPath(tooLong.c_str(), buffer, platform::kMaxPath));
    for (size_t i = platform::kMaxPath; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '#') << "byte " << i;

    // Only the normalised result counts, not the length of the argument.
    const std::string shrinks = "/" + std::string(platform::kMaxPath, 'x') + "/../doc.tif";
    EXPECT_TRUE(platform::fullPath(shrinks.c_str(), buffer, platform::kMaxPath));
    EXPECT_STREQ(buffer, "/doc.tif");
    // A relative argument that fits alone but not behind the current folder.
    const std::string relative(platform::kMaxPath - 2, 'r');
    EXPECT_FALSE(platform::fullPath(relative.c_str(), buffer, platform::kMaxPath));
}

// A wildcard in the last component needs one matching entry.
TEST_F(Paths, FileExistsForFilesFoldersAndWildcardMatches) {
    scratch().write("a.tif", "II*");
    scratch().write("a1.tif", "");
    scratch().write("[x]b.tif", "");
    ASSERT_EQ(mkdir(scratch().file("folder").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(scratch().file("sub").c_str(), 0755), 0);
    scratch().write("sub/page.png", "");
    const struct {
        std::string path;
        bool exists;
    } cases[] = {
        {scratch().file("a.tif"), true},
        {scratch().file("folder"), true},
        {scratch().file("folder/"), true},
        {"/", true},
        {"a.tif", true},
        {scratch().file("missing.tif"), false},
        {scratch().file("a.tif/"), false}, // a file is not a folder
        {scratch().file("missing/a.tif"), false},
        {"", false},
        {scratch().file("*.tif"), true},
        {scratch().file("a?.tif"), true},
        {scratch().file("a?"), false},
        {scratch().file("*.jpg"), false},
        {scratch().file("sub/*.png"), true},
        {scratch().file("sub/*.tif"), false},
        {"*.tif", true}, // relative: the current folder
        // "[" and "]" are plain characters in a name: "[x]*" matches only "[x]b.tif".
        {scratch().file("[x]*"), true},
        {scratch().file("[a]*"), false},
        // Only the last component is a pattern; the folder part is taken literally.
        {scratch().file("su?/page.png"), false},
        {scratch().file("missing/*.tif"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(platform::fileExists(c.path.c_str()), c.exists);
    }
    EXPECT_FALSE(platform::fileExists(nullptr));
}
