#include "readers/jpeg_copy.h"

#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "core/clear_record.h"
#include "tests/support/jpeg_decode.h"
#include "tests/support/jpeg_encode.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_builder.h"
#include "tiff/directory_chain.h"

using namespace tiff_builder;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kOldJpeg = 6;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + static_cast<long>(from),
                 bytes.begin() + static_cast<long>(from + count));
}

Bytes inserted(const Bytes& bytes, size_t at, const Bytes& more) {
    return concat({slice(bytes, 0, at), more, slice(bytes, at, bytes.size() - at)});
}

// A page over `data` placed at offset 8, its strips at `offsets` of `counts` bytes each (no
// strip tags when there are no offsets); old-style JPEG, when said so, first.
TiffBuilder stripsPage(const Bytes& data, std::vector<uint32_t> offsets,
                       std::vector<uint32_t> counts, bool oldJpeg = false,
                       ByteOrder order = ByteOrder::Little) {
    TiffBuilder builder(order);
    builder.blob(8, data).page();
    if (oldJpeg)
        builder.tag(kTagCompression, kShort, {kOldJpeg});
    if (!offsets.empty())
        builder.tag(kTagStripOffsets, kLong, std::move(offsets))
            .tag(kTagStripByteCounts, kLong, std::move(counts));
    return builder;
}

// The page `builder` describes, its last directory copied to a fresh "out.jpg".
struct CopiedPage {
    explicit CopiedPage(TiffBuilder& builder) {
        const std::string tiffPath = dir.write("page.tif", builder.build());
        output = dir.file("out.jpg");
        status = readers::copyJpegData(tiffPath.c_str(), output.c_str(),
                                       builder.directoryOffsets().back());
    }
    ScratchDir dir;
    std::string output;
    int32_t status;
};

} // namespace

TEST(JpegCopy, WritesTheBytesOfEachLayout) {
    const Bytes data = patternBytes(300, 7);
    const Bytes short90 = patternBytes(90), short40 = patternBytes(40);
    struct Case {
        std::string what;
        Bytes data;
        std::vector<uint32_t> offsets, counts;
        Bytes expected;
        uint32_t interchangeOffset, interchangeLength; // 0: no interchange block
        bool oldJpeg;                                  // Compression 6 is given
        bool noChain; // the header names no directory: a chain walk finds nothing
    };
    std::vector<Case> cases;
    const auto add = [&](std::string what, Bytes bytes, std::vector<uint32_t> offsets,
                         std::vector<uint32_t> counts, Bytes expected, uint32_t blockOffset = 0,
                         uint32_t blockLength = 0, bool oldJpeg = true, bool noChain = false) {
        cases.push_back(
            {what, bytes, offsets, counts, expected, blockOffset, blockLength, oldJpeg, noChain});
    };
    add("strips alone", data, {8, 108, 58}, {50, 100, 25},
        concat({slice(data, 0, 50), slice(data, 100, 100), slice(data, 50, 25)}));
    add("interchange block alone", data, {8}, {300}, data, 8, 300);
    add("interchange block, then strips", data, {48, 148}, {100, 60},
        concat({slice(data, 0, 40), slice(data, 40, 100), slice(data, 140, 60)}), 8, 40);
    // A block that holds the strips (a full stream whose lengths differ) is legitimate.
    add("interchange block holding its strips", data, {58, 108}, {50, 50},
        concat({slice(data, 0, 200), slice(data, 50, 100)}), 8, 200);
    // Only strips that have both an offset and a count are copied.
    add("three offsets, two counts", short90, {8, 38, 68}, {30, 30}, slice(short90, 0, 60), 0, 0,
        false);
    // Only the page's own directory is read.
    add("no directory in the header", short40, {8}, {40}, short40, 0, 0, false, true);
    for (uint32_t size : {32759u, 32760u, 32761u, 2 * 32760u + 1}) // about the transfer buffer
        add("one strip of " + std::to_string(size), patternBytes(size, 3), {8}, {size},
            patternBytes(size, 3), 0, 0, false);
    for (ByteOrder order : kBothOrders) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << nameOf(order) << ", " << c.what);
            TiffBuilder builder = stripsPage(c.data, c.offsets, c.counts, c.oldJpeg, order);
            if (c.interchangeOffset != 0)
                builder.tag(kTagJpegInterchangeFormat, kLong, {c.interchangeOffset})
                    .tag(kTagJpegInterchangeFormatLength, kLong, {c.interchangeLength});
            if (c.noChain)
                builder.firstOffset(0);
            CopiedPage page(builder);
            ASSERT_EQ(page.status, 0);
            EXPECT_EQ(readWholeFile(page.output), c.expected);
        }
    }
}

TEST(JpegCopy, ReplacesAnExistingOutputWhole) {
    const Bytes data = patternBytes(64);
    const struct {
        const char* what;
        mode_t mode;
    } cases[] = {{"longer file", 0644}, {"read-only file", 0444}};
    ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder = stripsPage(data, {8}, {64});
        const std::string tiffPath = dir.write("page.tif", builder.build());
        const std::string output = dir.write("existing.jpg", Bytes(1000, 0xEE));
        ASSERT_EQ(::chmod(output.c_str(), c.mode), 0);
        EXPECT_EQ(
            readers::copyJpegData(tiffPath.c_str(), output.c_str(), builder.directoryOffsets()[0]),
            0);
        EXPECT_EQ(readWholeFile(output), data);
        struct stat info;
        ASSERT_EQ(::stat(output.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, c.mode); // replaced, with its permissions kept
    }
}

TEST(JpegCopy, AStripRunningPastTheEndGivesWhatExists) {
    const Bytes data = patternBytes(100);
    // The second strip lies at the very end of the file and claims 1000 bytes of which
    // 30 exist; its offset is patched in once the file's size is known.
    TiffBuilder builder = stripsPage(data, {8, 0}, {40, 1000});
    Bytes file = builder.build();
    const uint32_t tailOffset = static_cast<uint32_t>(file.size());
    const Bytes tail = patternBytes(30, 99);
    file.insert(file.end(), tail.begin(), tail.end());
    // Point strip 1 at the tail: StripOffsets' two LONGs lie out of line behind the directory.
    const uint32_t arrayOffset = builder.directoryOffsets()[0] + 2 + 2 * 12 + 4;
    file[arrayOffset + 4] = static_cast<uint8_t>(tailOffset);
    file[arrayOffset + 5] = static_cast<uint8_t>(tailOffset >> 8);
    ScratchDir dir;
    const std::string tiffPath = dir.write("page.tif", file);
    const std::string output = dir.file("tail.jpg");
    ASSERT_EQ(
        readers::copyJpegData(tiffPath.c_str(), output.c_str(), builder.directoryOffsets()[0]), 0);
    EXPECT_EQ(readWholeFile(output), concat({slice(data, 0, 40), tail}));
}

TEST(JpegCopy, RefusesAPageItCannotCopyBeforeTouchingTheOutput) {
    const std::vector<uint32_t> manyOffsets(16384, 8), manyCounts(16384, 100);
    const struct {
        const char* what;
        std::vector<uint32_t> offsets, counts;
        bool interchange; // a block past the end
        bool oldJpeg;
        size_t bytes; // placed at offset 8
    } cases[] = {
        {"zero-length strips", {8, 9}, {0, 0}, false, true, 10},
        {"strips past the end", {0x7FFFFFF0, 0xFFFFFFFF}, {10, 10}, false, true, 10},
        {"no strips at all", {}, {}, false, true, 10},
        {"interchange block past the end", {0x7FFFFFF0}, {5}, true, true, 10},
        {"16384 strips on one spot", manyOffsets, manyCounts, false, false, 100},
        {"a repeated strip", {8, 58, 8}, {50, 50, 50}, false, false, 100},
        {"one byte shared", {8, 57}, {50, 50}, false, false, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder = stripsPage(patternBytes(c.bytes), c.offsets, c.counts, c.oldJpeg);
        if (c.interchange)
            builder.tag(kTagJpegInterchangeFormat, kLong, {0x7FFFFFF0})
                .tag(kTagJpegInterchangeFormatLength, kLong, {100});
        CopiedPage page(builder);
        EXPECT_EQ(page.status, kFailed);
        EXPECT_FALSE(pathExists(page.output));

        // An earlier file of that name stays as it was.
        const Bytes earlier = patternBytes(20);
        page.dir.write("out.jpg", earlier);
        EXPECT_EQ(readers::copyJpegData(page.dir.file("page.tif").c_str(), page.output.c_str(),
                                        builder.directoryOffsets()[0]),
                  kFailed);
        EXPECT_EQ(readWholeFile(page.output), earlier);
    }
}

TEST(JpegCopy, RefusesADirectoryItCannotRead) {
    TiffBuilder builder = stripsPage(patternBytes(10), {8}, {10});
    builder.page().entryCount(0).tag(kTagImageWidth, kShort, {1});
    ScratchDir dir;
    const std::string tiffPath = dir.write("page.tif", builder.build());
    const std::string output = dir.file("unreadable.jpg");
    const uint32_t unreadable[] = {builder.directoryOffsets()[1], 0x7FFFFFF0, 9};
    for (uint32_t offset : unreadable) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(readers::copyJpegData(tiffPath.c_str(), output.c_str(), offset), kFailed);
        EXPECT_FALSE(pathExists(output));
    }
}

TEST(JpegCopy, PassesReaderFailuresUpAndRefusesAnUnwritableOutput) {
    ScratchDir dir;
    const std::string missing = dir.file("no_such_input.tif");
    const std::string output = dir.file("never.jpg");
    EXPECT_EQ(readers::copyJpegData(missing.c_str(), output.c_str(), 8), tiffdir::kOpenError);
    EXPECT_EQ(readers::copyJpegData("", output.c_str(), 8), tiffdir::kOpenError);
    const std::string notTiff = dir.write("not.tif", Bytes(20, 'x'));
    EXPECT_EQ(readers::copyJpegData(notTiff.c_str(), output.c_str(), 8), tiffdir::kNotTiff);
    EXPECT_FALSE(pathExists(output));

    TiffBuilder builder = stripsPage(patternBytes(10), {8}, {10});
    const std::string tiffPath = dir.write("page.tif", builder.build());
    const std::string noFolder = dir.file("no_such_folder/out.jpg");
    EXPECT_EQ(
        readers::copyJpegData(tiffPath.c_str(), noFolder.c_str(), builder.directoryOffsets()[0]),
        kFailed);
}

TEST(JpegCopy, AFailedWriteIsReported) {
    if (!pathExists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TiffBuilder builder = stripsPage(patternBytes(10), {8}, {10});
    ScratchDir dir;
    const std::string tiffPath = dir.write("page.tif", builder.build());
    EXPECT_EQ(readers::copyJpegData(tiffPath.c_str(), "/dev/full", builder.directoryOffsets()[0]),
              kFailed);
}

// The checked copy writes only bytes that are one whole JPEG of the page's size; anything
// else is left to decoding, with the output untouched.
TEST(JpegCopy, TheCheckedCopyTakesOnlyACompleteJpegOfThePage) {
    const Bytes jpeg = testsupport::encodeJpeg(64, 48);
    const Bytes grey = testsupport::encodeJpeg(64, 48, 1);
    // Damage that libjpeg reports only where its input buffer runs low, as it does every few
    // kilobytes when reading a file: here within the first 4 KiB of a 6 KiB stream, and
    // before the end marker of a stream followed by more bytes.
    const Bytes large = testsupport::encodeJpeg(256, 256);
    const Bytes ones = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00}; // no Huffman code is all ones
    const struct {
        const char* what;
        Bytes payload;
        uint32_t width, height;
        bool copied;
    } cases[] = {
        {"complete", jpeg, 64, 48, true},
        {"complete, grey", grey, 64, 48, true},
        {"followed by other bytes", concat({jpeg, patternBytes(50)}), 64, 48, true},
        {"another width", jpeg, 63, 48, false},
        {"another height", jpeg, 64, 64, false},
        {"no start marker", slice(jpeg, 2, jpeg.size() - 2), 64, 48, false},
        {"cut in its last rows", slice(jpeg, 0, jpeg.size() - 40), 64, 48, false},
        {"cut in its first rows", slice(jpeg, 0, jpeg.size() * 2 / 3), 64, 48, false},
        {"no end marker", slice(jpeg, 0, jpeg.size() - 2), 64, 48, false},
        {"tables only", slice(jpeg, 0, 300), 64, 48, false},
        {"arithmetic-coded", testsupport::encodeJpeg(64, 48, 3, 0, true), 64, 48, false},
        {"chroma sampled by fractions", testsupport::encodeFractionalChromaJpeg(48, 16), 48, 16,
         false},
        {"large, then other bytes", concat({large, patternBytes(700)}), 256, 256, true},
        {"a bad Huffman code", inserted(large, 1200, ones), 256, 256, false},
        {"two bytes before its end marker, then other bytes",
         concat({inserted(large, large.size() - 2, {0x12, 0x34}), patternBytes(700)}), 256, 256,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TiffBuilder builder;
        builder.blob(8, c.payload)
            .page()
            .tag(kTagImageWidth, kShort, {c.width})
            .tag(kTagImageLength, kShort, {c.height})
            .tag(kTagCompression, kShort, {kOldJpeg})
            .tag(kTagStripOffsets, kLong, {8})
            .tag(kTagStripByteCounts, kLong, {static_cast<uint32_t>(c.payload.size())});
        ScratchDir dir;
        const std::string tiffPath = dir.write("page.tif", builder.build());
        const std::string output = dir.file("out.jpg");
        platform::OutputFile file(output.c_str());
        EXPECT_EQ(readers::copyPageJpeg(tiffPath.c_str(), file, builder.directoryOffsets()[0]),
                  c.copied ? 0 : readers::kNotAJpegOfThePage);
        EXPECT_EQ(file.finished() && file.putInPlace(), c.copied);
        EXPECT_EQ(pathExists(output), c.copied);
        if (c.copied) {
            EXPECT_EQ(readWholeFile(output), c.payload);
        }
        // Whatever is copied must read without a corrupt-data warning.
        if (pathExists(output)) {
            testsupport::DecodedJpeg decoded;
            std::string error;
            EXPECT_TRUE(testsupport::decodeJpegFile(output, decoded, &error)) << error;
        }
    }
}
