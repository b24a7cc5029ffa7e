// Whole-program runs against a system that lets pelc down: an output name taken by a folder,
// a folder it may not write into, a disk that fills, memory that runs out. Each failing page
// ends in its message, the run goes on to the end banner with exit code 0, and a page
// reported as written is there and reads back; a failed one leaves no file behind.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "app/messages.h"
#include "core/scope_exit.h"
#include "platform/unique_fd.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_pages.h"

using namespace tiff_builder;
using testsupport::PageLayout;

namespace {

constexpr uint32_t kNobody = 65534;

// Old-style pages are copied byte for byte, each a JPEG of its page; the large one does not
// fit the full disk's 64 KiB.
constexpr uint32_t kCopySides[] = {16, 1024, 24};
const std::vector<uint8_t> kSmallCopy = testsupport::encodeJpeg(kCopySides[0], kCopySides[0]);
const std::vector<uint8_t> kLargeCopy = testsupport::encodeJpeg(kCopySides[1], kCopySides[1]);
const std::vector<uint8_t> kOtherCopy = testsupport::encodeJpeg(kCopySides[2], kCopySides[2], 1);
// What a test puts at an output's name before a run.
const std::string kEarlierPage = "an earlier page";

std::string copiedPages() {
    TiffBuilder builder;
    const std::vector<uint8_t>* payloads[] = {&kSmallCopy, &kLargeCopy, &kOtherCopy};
    uint32_t offset = 8;
    std::vector<uint32_t> offsets;
    for (const std::vector<uint8_t>* payload : payloads) {
        builder.blob(offset, *payload);
        offsets.push_back(offset);
        offset += static_cast<uint32_t>(payload->size());
    }
    for (size_t i = 0; i < 3; ++i)
        builder.oldJpegPage(kCopySides[i], kCopySides[i], {offsets[i]},
                            {static_cast<uint32_t>(payloads[i]->size())});
    const std::vector<uint8_t> bytes = builder.build();
    return std::string(bytes.begin(), bytes.end());
}

// Three decoded pages: small grey, 512 x 512 RGB noise (a JPEG of some hundred kilobytes),
// small RGB.
const PageLayout kDecodedPages[] = {
    testsupport::smooth(testsupport::greyPage(16, 16)),
    testsupport::rgbPage(512, 512, 7, 8),
    testsupport::smooth(testsupport::rgbPage(24, 8)),
};

enum class Outcome { Written, WriteFailed, LoadFailed };

struct InputFile {
    std::string argument; // as given on the command line, relative to the run's folder
    bool copied;          // the old-style pages, else the decoded ones
    Outcome pages[3];
};

void placeInputs(const ScratchDir& dir, const std::vector<InputFile>& inputs) {
    for (const InputFile& input : inputs) {
        if (input.copied)
            dir.write(input.argument, copiedPages());
        else
            ASSERT_TRUE(testsupport::writeTiffPages(
                dir.file(input.argument), {kDecodedPages[0], kDecodedPages[1], kDecodedPages[2]}));
    }
}

std::string outputOf(const ScratchDir& dir, const InputFile& input, int page) {
    const std::string base = input.argument.substr(0, input.argument.rfind('.'));
    return dir.file(base + "_" + std::to_string(page) + ".jpg");
}

// The console of the whole run, and what each page left in its folder.
void expectRun(const RunResult& run, const ScratchDir& dir, const std::vector<InputFile>& inputs) {
    EXPECT_EQ(run.exitCode, 0);
    std::string console = consoleLine(sjis(messages::kStartBanner));
    for (const InputFile& input : inputs)
        console += consoleLine(input.argument);
    for (const InputFile& input : inputs) {
        for (int page = 1; page <= 3; ++page) {
            console += consoleLine(outputOf(dir, input, page));
            if (input.pages[page - 1] == Outcome::WriteFailed)
                console += consoleLine(sjis(messages::kWriteFailed));
            if (input.pages[page - 1] == Outcome::LoadFailed)
                console += consoleLine(sjis(messages::kLoadFailed));
        }
    }
    console += consoleLine(sjis(messages::kEndBanner)) + consoleLine("");
    EXPECT_EQ(run.out, console);

    const std::vector<uint8_t>* payloads[] = {&kSmallCopy, &kLargeCopy, &kOtherCopy};
    for (const InputFile& input : inputs) {
        for (int page = 1; page <= 3; ++page) {
            const std::string output = outputOf(dir, input, page);
            SCOPED_TRACE(output);
            struct stat info;
            if (input.pages[page - 1] != Outcome::Written) {
                // Nothing claims to be the page: no file, what was there and is no file, or
                // the earlier file, untouched.
                if (lstat(output.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                    EXPECT_EQ(readFileBytes(output), kEarlierPage);
                }
                continue;
            }
            // A file the page did not replace (a FIFO behind a link) is never opened here.
            if (!(lstat(output.c_str(), &info) == 0 && S_ISREG(info.st_mode))) {
                ADD_FAILURE() << "not a regular file";
                continue;
            }
            if (input.copied) {
                const std::string& want =
                    std::string(payloads[page - 1]->begin(), payloads[page - 1]->end());
                EXPECT_TRUE(readFileBytes(output) == want);
                continue;
            }
            testsupport::DecodedJpeg jpeg;
            std::string error;
            EXPECT_TRUE(testsupport::decodeJpegFile(output, jpeg, &error)) << error;
            EXPECT_EQ(jpeg.width, static_cast<int>(kDecodedPages[page - 1].width));
            EXPECT_EQ(jpeg.height, static_cast<int>(kDecodedPages[page - 1].height));
        }
    }
}

mode_t currentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

mode_t modeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

ino_t inodeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

bool makeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
    return fd.valid() && bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

void writeWithMode(const ScratchDir& dir, const std::string& name, mode_t mode,
                   const std::string& bytes = kEarlierPage) {
    ASSERT_EQ(chmod(dir.write(name, bytes).c_str(), mode), 0);
}

// One page of RGB noise that takes long enough to encode to be caught while written.
void placeSlowPage(const ScratchDir& dir) {
    ASSERT_TRUE(
        testsupport::writeTiffPages(dir.file("big.tif"), {testsupport::rgbPage(4000, 4000)}));
}

constexpr Outcome W = Outcome::Written;
constexpr Outcome F = Outcome::WriteFailed;

// What is at an output's name, or around the run, and what the run must make of it.
struct OutputCase {
    const char* what;
    std::vector<InputFile> inputs;
    std::function<void(const ScratchDir&)> prepare; // after the inputs are placed
    std::function<void(const ScratchDir&)> check;   // after the run's console was checked
    bool unprivileged = false;                      // modes matter: as root, run as "nobody"
    int interrupt = 0;                              // signal sent while the slow page is written
};

const OutputCase kOutputCases[] = {
    {"a link at an output name is replaced, never written through",
     {{"old.tif", true, {W, W, W}}, {"pix.tif", false, {W, W, W}}},
     [](const ScratchDir& dir) {
         dir.write("victim", "not a page");
         ASSERT_EQ(symlink("victim", dir.file("old_1.jpg").c_str()), 0);
         ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("pix_2.jpg").c_str()), 0);
         ASSERT_EQ(symlink("nowhere", dir.file("old_3.jpg").c_str()), 0);
         // A link is judged as a link, never by what it leads to.
         ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
         ASSERT_EQ(symlink("folder", dir.file("pix_1.jpg").c_str()), 0);
         ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
         ASSERT_EQ(symlink("fifo", dir.file("pix_3.jpg").c_str()), 0);
     },
     [](const ScratchDir& dir) {
         EXPECT_EQ(readFileBytes(dir.file("victim")), "not a page");
         EXPECT_FALSE(pathExists(dir.file("nowhere")));
         EXPECT_EQ(rmdir(dir.file("folder").c_str()), 0) << "the folder is no longer empty";
         EXPECT_TRUE(S_ISFIFO(modeOf(dir.file("fifo"))));
         for (const char* name : {"old_1.jpg", "pix_2.jpg", "old_3.jpg", "pix_1.jpg", "pix_3.jpg"})
             EXPECT_TRUE(S_ISREG(modeOf(dir.file(name)))) << name;
     }},
    {"a folder, FIFO or socket at an output name fails that page, unopened",
     {{"old.tif", true, {W, F, F}}, {"pix.tif", false, {F, W, F}}},
     [](const ScratchDir& dir) {
         ASSERT_EQ(mkdir(dir.file("old_2.jpg").c_str(), 0755), 0);
         ASSERT_EQ(mkfifo(dir.file("old_3.jpg").c_str(), 0644), 0);
         ASSERT_EQ(mkfifo(dir.file("pix_1.jpg").c_str(), 0644), 0);
         ASSERT_TRUE(makeSocket(dir.file("pix_3.jpg")));
     },
     [](const ScratchDir& dir) {
         EXPECT_EQ(rmdir(dir.file("old_2.jpg").c_str()), 0) << "the folder is no longer empty";
         EXPECT_TRUE(S_ISFIFO(modeOf(dir.file("old_3.jpg"))));
         EXPECT_TRUE(S_ISFIFO(modeOf(dir.file("pix_1.jpg"))));
         EXPECT_TRUE(S_ISSOCK(modeOf(dir.file("pix_3.jpg"))));
     }},
    {"a replaced output keeps its permissions; a new one gets 0666 less the umask",
     {{"old.tif", true, {W, W, W}}, {"pix.tif", false, {W, W, W}}},
     [](const ScratchDir& dir) {
         writeWithMode(dir, "old_1.jpg", 0600);
         writeWithMode(dir, "pix_2.jpg", 0640);
         writeWithMode(dir, "pix_3.jpg", 0444);
     },
     [](const ScratchDir& dir) {
         EXPECT_EQ(modeOf(dir.file("old_1.jpg")) & 07777, 0600u);
         EXPECT_EQ(modeOf(dir.file("pix_2.jpg")) & 07777, 0640u);
         EXPECT_EQ(modeOf(dir.file("pix_3.jpg")) & 07777, 0444u);
         EXPECT_EQ(modeOf(dir.file("old_2.jpg")) & 07777, 0666u & ~currentUmask());
     }},
    {"a folder that refuses new files: existing writable outputs are written in place",
     {{"ro/old.tif", true, {W, F, F}},
      {"ro/pix.tif", false, {F, W, F}},
      {"rw/pix.tif", false, {W, W, W}}},
     [](const ScratchDir& dir) {
         // Longer than the page written over it: what is left of it past the page goes.
         writeWithMode(dir, "ro/old_1.jpg", 0666, std::string(256 * 1024, 'x'));
         writeWithMode(dir, "ro/old_2.jpg", 0444);
         writeWithMode(dir, "ro/pix_2.jpg", 0666);
         ASSERT_EQ(symlink("old_1.jpg", dir.file("ro/pix_3.jpg").c_str()), 0);
         ASSERT_EQ(chmod(dir.file("ro").c_str(), 0555), 0);
     },
     [](const ScratchDir& dir) {
         // A link is never written through, in place or not.
         EXPECT_TRUE(S_ISLNK(modeOf(dir.file("ro/pix_3.jpg"))));
     },
     true},
    {"SIGINT removes the output in flight", {}, placeSlowPage, nullptr, false, SIGINT},
    {"SIGTERM removes the output in flight", {}, placeSlowPage, nullptr, false, SIGTERM},
    {"SIGHUP removes the output in flight", {}, placeSlowPage, nullptr, false, SIGHUP},
    {"SIGQUIT removes the output in flight", {}, placeSlowPage, nullptr, false, SIGQUIT},
    {"SIGXCPU removes the output in flight", {}, placeSlowPage, nullptr, false, SIGXCPU},
};

} // namespace

TEST(ProgramEnvironment, OutputsAreNeverFollowedBlockingWidenedOrLeftHalfDone) {
    for (const OutputCase& c : kOutputCases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        ASSERT_EQ(mkdir(dir.file("ro").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dir.file("rw").c_str(), 0777), 0);
        ASSERT_EQ(chmod(dir.file("rw").c_str(), 0777), 0); // mkdir's mode is masked
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        placeInputs(dir, c.inputs);
        // The folder is removed with the scratch folder: give write access back first.
        ScopeExit writableAgain([&] { chmod(dir.file("ro").c_str(), 0755); });
        c.prepare(dir);
        const ino_t inPlace = inodeOf(dir.file("ro/old_1.jpg"));

        RunOptions options;
        if (c.unprivileged && geteuid() == 0)
            options.userId = kNobody;
        if (c.interrupt != 0)
            options.interruptWhileWriting = c.interrupt;
        std::vector<std::string> args;
        for (const InputFile& input : c.inputs)
            args.push_back(input.argument);
        if (c.interrupt != 0)
            args.push_back("big.tif");
        const RunResult run = runPelc(args, dir.path(), options);
        ASSERT_NE(run.exitCode, kRunSetupFailed);

        if (c.interrupt != 0) {
            // Ended by the signal itself, while the page was written: its line, printed once
            // the page is done, never came, and nothing of it is left.
            EXPECT_EQ(run.exitCode, 128 + c.interrupt);
            EXPECT_EQ(run.out, consoleLine(sjis(messages::kStartBanner)) + consoleLine("big.tif"));
            EXPECT_FALSE(pathExists(dir.file("big_1.jpg")));
        } else {
            expectRun(run, dir, c.inputs);
        }
        if (c.unprivileged) {
            EXPECT_EQ(inodeOf(dir.file("ro/old_1.jpg")), inPlace) << "not written in place";
        }
        for (const char* folder : {"", "ro", "rw"})
            EXPECT_EQ(hiddenOutputs(dir.file(folder)), std::vector<std::string>()) << folder;
        if (c.check)
            c.check(dir);
    }
}

// A write past RLIMIT_FSIZE fails as on a full disk. Pages larger than the limit fail; those
// that fit are written, before and after them. Converting again onto the full disk, the pages
// that fail keep the files the earlier run wrote, and nothing half-written is left behind.
TEST(ProgramEnvironment, AFullDiskFailsThePagesThatDoNotFitAndKeepsTheirEarlierFiles) {
    ScratchDir dir;
    const std::vector<InputFile> inputs = {
        {"old.tif", true, {Outcome::Written, Outcome::WriteFailed, Outcome::Written}},
        {"pix.tif", false, {Outcome::Written, Outcome::WriteFailed, Outcome::Written}},
    };
    placeInputs(dir, inputs);
    RunOptions options;
    options.fileSizeLimit = 64 * 1024;
    const RunResult run = runPelc({"old.tif", "pix.tif"}, dir.path(), options);
    ASSERT_NE(run.exitCode, kRunSetupFailed);
    expectRun(run, dir, inputs);

    const std::string& earlier = kEarlierPage;
    const std::string oldPage = dir.write("old_2.jpg", earlier);
    const std::string pixPage = dir.write("pix_2.jpg", earlier);
    ASSERT_EQ(chmod(oldPage.c_str(), 0444), 0); // read-only outputs are replaced all the same
    const RunResult rerun = runPelc({"old.tif", "pix.tif"}, dir.path(), options);
    EXPECT_EQ(rerun.exitCode, 0);
    EXPECT_EQ(readFileBytes(oldPage), earlier);
    EXPECT_EQ(readFileBytes(pixPage), earlier);

    const RunResult again = runPelc({"old.tif"}, dir.path());
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(readFileBytes(oldPage), std::string(kLargeCopy.begin(), kLargeCopy.end()));
    // The new file keeps the permissions of the one it replaced.
    EXPECT_EQ(modeOf(oldPage) & 0777, 0444u);
    EXPECT_EQ(hiddenOutputs(dir.path()), std::vector<std::string>());
}

// A memory cgroup (v2) for one run: a group holding `limit` bytes with a group inside it,
// which the run joins, so the limit pelc must see is its parent's. Empty `skipReason` when
// made; removed when done.
class MemoryCgroup {
  public:
    explicit MemoryCgroup(uint64_t limit) {
        std::string self;
        for (std::ifstream lines("/proc/self/cgroup"); std::getline(lines, self);)
            if (self.rfind("0::", 0) == 0)
                break;
        const std::string folder = "/sys/fs/cgroup" + self.substr(std::min<size_t>(3, self.size()));
        std::string controllers;
        std::ifstream control(folder + "/cgroup.subtree_control");
        std::getline(control, controllers);
        if (self.rfind("0::", 0) != 0 ||
            (" " + controllers + " ").find(" memory ") == std::string::npos) {
            skipReason = "no cgroup v2 memory controller for the groups below " + folder;
            return;
        }
        group_ = folder + "/pelc-test-" + std::to_string(getpid());
        if (mkdir(group_.c_str(), 0755) != 0 || mkdir((group_ + "/run").c_str(), 0755) != 0 ||
            !(std::ofstream(group_ + "/memory.max") << limit << std::flush)) {
            skipReason = "cannot make a memory cgroup in " + folder + ": " + std::strerror(errno);
            return;
        }
        // Without swap held too the group would swap rather than meet its limit.
        std::ofstream(group_ + "/memory.swap.max") << 0 << std::flush;
    }
    ~MemoryCgroup() {
        if (!group_.empty()) {
            rmdir((group_ + "/run").c_str());
            rmdir(group_.c_str());
        }
    }
    MemoryCgroup(const MemoryCgroup&) = delete;
    MemoryCgroup& operator=(const MemoryCgroup&) = delete;
    std::string procs() const { return group_ + "/run/cgroup.procs"; }

    std::string skipReason;

  private:
    std::string group_;
};

// A page too large for the memory the process may use is refused before it is decoded, with
// a load failure; the pages around it convert. The limit is an address-space limit or a
// parent's memory cgroup; the A4 page would fit the limit itself but not the cost pelc must
// allow for a page of its kind, the 192 MB page not at all (a cgroup would kill the run).
TEST(ProgramEnvironment, PagesTooLargeForTheMemoryLimitAreRefusedAndTheOthersConvert) {
    constexpr uint64_t kLimit = 128u << 20;
    ScratchDir dir;
    auto plain = [](uint32_t width, uint32_t height) {
        PageLayout page;
        page.width = width;
        page.height = height;
        page.samplesPerPixel = 3;
        page.photometric = 2;
        page.compression = 8;
        page.pixels.assign(testsupport::pixelRowBytes(page) * page.height, 200);
        return page;
    };
    ASSERT_TRUE(
        testsupport::writeTiffPages(dir.file("big.tif"), {kDecodedPages[0], plain(8000, 8000),
                                                          plain(2480, 3508), kDecodedPages[2]}));
    const std::string refused = consoleLine(sjis(messages::kLoadFailed));
    const std::string expected =
        consoleLine(sjis(messages::kStartBanner)) + consoleLine("big.tif") +
        consoleLine(dir.file("big_1.jpg")) + consoleLine(dir.file("big_2.jpg")) + refused +
        consoleLine(dir.file("big_3.jpg")) + refused + consoleLine(dir.file("big_4.jpg")) +
        consoleLine(sjis(messages::kEndBanner)) + consoleLine("");

    std::string skipped;
    for (const bool cgroup : {false, true}) {
        SCOPED_TRACE(cgroup ? "memory cgroup" : "address-space limit");
        RunOptions options;
        std::optional<MemoryCgroup> group;
        if (!cgroup) {
            if (sanitized()) {
                skipped = "an address-space limit cannot hold a sanitized process; ";
                continue;
            }
            options.addressSpaceLimit = kLimit;
        } else {
            group.emplace(kLimit);
            if (!group->skipReason.empty())
                GTEST_SKIP() << skipped << group->skipReason;
            options.cgroupProcs = group->procs();
        }
        ASSERT_EQ(runPelc({"/?"}, dir.path(), options).exitCode, 0)
            << "pelc does not start within the limit";
        for (const char* name : {"big_1.jpg", "big_4.jpg"})
            std::remove(dir.file(name).c_str());

        const RunResult run = runPelc({"big.tif"}, dir.path(), options);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, expected);
        EXPECT_FALSE(pathExists(dir.file("big_2.jpg")));
        EXPECT_FALSE(pathExists(dir.file("big_3.jpg")));
        for (const char* name : {"big_1.jpg", "big_4.jpg"}) {
            testsupport::DecodedJpeg jpeg;
            EXPECT_TRUE(testsupport::decodeJpegFile(dir.file(name), jpeg)) << name;
        }
    }
}

namespace {

// How a run is cut short, and where its outputs go.
struct CutRun {
    const char* what;
    std::string under;  // the file system of the run's folder; empty: the tests' own
    bool inPlace;       // the folder refuses new files: outputs are written over the earlier ones
    RunOptions options; // the cut
    int expectedSignal; // 0: the run ends with its banner
};

RunOptions cutAfterLines(size_t lines, int signalNumber) {
    RunOptions options;
    options.interruptAfterLines = {lines, signalNumber};
    return options;
}

RunOptions fileSizeLimit(uint64_t bytes) {
    RunOptions options;
    options.fileSizeLimit = bytes;
    return options;
}

constexpr int kCutFiles = 6;
constexpr int kCutPages = 4;

std::string cutInput(int file) {
    char name[32];
    std::snprintf(name, sizeof name, "f%d.tif", file);
    return name;
}
std::string cutOutput(int file, int page) {
    char name[32];
    std::snprintf(name, sizeof name, "f%d_%d.jpg", file, page);
    return name;
}

// Pages of noise in several sizes: some above the size limit below, each long enough to
// encode that a cut lands while pages are written.
void placeCutInputs(const ScratchDir& dir, const std::string& folder) {
    for (int file = 0; file < kCutFiles; ++file) {
        std::vector<PageLayout> pages;
        for (int page = 0; page < kCutPages; ++page) {
            const uint32_t side = page % 2 == 0 ? 900 : 200;
            pages.push_back(testsupport::rgbPage(side, side, uint32_t(file * kCutPages + page)));
        }
        ASSERT_TRUE(testsupport::writeTiffPages(dir.file(folder + cutInput(file)), pages));
    }
}

} // namespace

// Whatever cuts a run short (an interrupt while earlier outputs are written over in place, a
// full disk, a kill on a journalling disk or on tmpfs), every page name holds its earlier
// bytes (none, for the kills' fresh names) or the page's whole JPEG, byte for byte the one an
// uncut run writes, and no hidden file is left.
TEST(ProgramEnvironment, ACutRunLeavesEachNameWithItsEarlierBytesOrTheWholePage) {
    ScratchDir clean;
    placeCutInputs(clean, "");
    std::vector<std::string> args;
    for (int file = 0; file < kCutFiles; ++file)
        args.push_back(cutInput(file));
    ASSERT_EQ(runPelc(args, clean.path()).exitCode, 0);

    const size_t firstPageLine = 1 + kCutFiles;
    const CutRun cases[] = {
        {"SIGINT while pages are written in place", "", true,
         cutAfterLines(firstPageLine + 3, SIGINT), SIGINT},
        {"a full disk while pages are written in place", "", true, fileSizeLimit(200 * 1024), 0},
        {"SIGKILL mid-run", "", false, cutAfterLines(firstPageLine + 3, SIGKILL), SIGKILL},
        {"SIGKILL mid-run on tmpfs", "/dev/shm", false, cutAfterLines(firstPageLine + 3, SIGKILL),
         SIGKILL},
    };
    for (const CutRun& c : cases) {
        SCOPED_TRACE(c.what);
        struct stat base;
        if (!c.under.empty() && stat(c.under.c_str(), &base) != 0) {
            ADD_FAILURE() << c.under << " is missing";
            continue;
        }
        ScratchDir dir = c.under.empty() ? ScratchDir() : ScratchDir(c.under);
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        const std::string folder = "out/";
        ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
        placeCutInputs(dir, folder);
        // Kills find fresh names: replacing a name takes a hidden link for an instant.
        for (int file = 0; file < kCutFiles && c.inPlace; ++file)
            for (int page = 1; page <= kCutPages; ++page)
                writeWithMode(dir, folder + cutOutput(file, page), 0666);
        RunOptions options = c.options;
        if (c.inPlace) {
            ASSERT_EQ(chmod(dir.file("out").c_str(), 0555), 0);
            if (geteuid() == 0)
                options.userId = kNobody;
        }
        ScopeExit writableAgain([&] { chmod(dir.file("out").c_str(), 0755); });
        std::vector<std::string> cutArgs;
        for (const std::string& arg : args)
            cutArgs.push_back(folder + arg);
        const RunResult run = runPelc(cutArgs, dir.path(), options);
        ASSERT_NE(run.exitCode, kRunSetupFailed);
        EXPECT_EQ(run.exitCode, c.expectedSignal == 0 ? 0 : 128 + c.expectedSignal);

        int earlier = 0;
        int renewed = 0;
        for (int file = 0; file < kCutFiles; ++file) {
            for (int page = 1; page <= kCutPages; ++page) {
                const std::string name = cutOutput(file, page);
                const std::string bytes = readFileBytes(dir.file(folder + name));
                const bool isEarlier = bytes == (c.inPlace ? kEarlierPage : "");
                EXPECT_TRUE(isEarlier || bytes == readFileBytes(clean.file(name))) << name;
                earlier += isEarlier ? 1 : 0;
                renewed += isEarlier ? 0 : 1;
            }
        }
        // The cut came while the run was under way: some pages were written, some not.
        EXPECT_GT(earlier, 0);
        EXPECT_GT(renewed, 0);
        EXPECT_EQ(hiddenOutputs(dir.file("out")), std::vector<std::string>());
    }
}
