#include "readers/jpeg_copy.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/clear_record.h"
#include "core/scope_exit.h"
#include "platform/file_io.h"
#include "platform/heap_array.h"
#include "platform/output_file.h"
#include "readers/jpeg_stream_check.h"
#include "tiff/directory_chain.h"
#include "tiff/tag_decode.h"

namespace readers {

namespace {

constexpr uint32_t kTransferBufferSize = 32760;

using Block = FileBlock;

// The blocks a page's copy writes, in order, each clipped to the file so that the plan
// says exactly how many bytes the output gets.
struct CopyPlan {
    HeapArray<Block> blocks;
    size_t blockCount = 0;
    uint64_t total = 0;
};

uint32_t stripsOf(const tiffdir::TiffReader& reader) {
    // Strip i exists only where both arrays have an entry i.
    if (reader.stripOffsets == nullptr || reader.stripByteCounts == nullptr)
        return 0;
    return std::min(reader.stripOffsetsLength, reader.stripByteCountsLength);
}

void addBlock(CopyPlan& plan, uint64_t fileSize, uint64_t offset, uint64_t count) {
    if (offset >= fileSize || count == 0)
        return;
    const uint64_t clipped = std::min<uint64_t>(count, fileSize - offset);
    plan.blocks[plan.blockCount++] = Block{offset, clipped};
    plan.total += clipped;
}

// Whether two strips share a byte. A real page's strips are disjoint slices of the
// file; strips that repeat or overlap would let a small file grow a huge output.
enum class Overlap { None, Found, NoMemory };
Overlap stripsOverlap(const Block* strips, size_t count) {
    HeapArray<Block> sorted(static_cast<Block*>(std::malloc(count * sizeof(Block) + 1)));
    if (!sorted)
        return Overlap::NoMemory; // cannot check: the copy fails
    std::copy(strips, strips + count, sorted.get());
    std::sort(sorted.get(), sorted.get() + count,
              [](const Block& a, const Block& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < count; ++i)
        if (sorted[i].offset < sorted[i - 1].offset + sorted[i - 1].count)
            return Overlap::Found;
    return Overlap::None;
}

// Plans the interchange block (when asked) and then the strips (when asked). The output's
// size stays bounded by the input: strips must not overlap one another, and the whole
// plan may not exceed twice the file. The interchange block alone is exempt from the
// overlap rule, since it legitimately may contain the strips that follow it; being
// clipped to the file, it adds at most one file's worth, hence the factor of two.
int32_t planCopy(const tiffdir::TiffReader& reader, bool interchange, bool strips, CopyPlan& plan) {
    const uint32_t stripCount = strips ? stripsOf(reader) : 0;
    plan.blocks.reset(static_cast<Block*>(std::malloc((size_t{stripCount} + 1) * sizeof(Block))));
    if (!plan.blocks)
        return kFailed;
    if (interchange)
        addBlock(plan, reader.fileSize, reader.jpegInterchangeFormat,
                 reader.jpegInterchangeFormatLength);
    const size_t firstStrip = plan.blockCount;
    for (uint32_t i = 0; i < stripCount; ++i)
        addBlock(plan, reader.fileSize, reader.stripOffsets[i], reader.stripByteCounts[i]);

    // A page with nothing to copy is refused before its output exists: no empty file,
    // and no earlier good file of that name is truncated for nothing.
    if (plan.total == 0)
        return kNotAJpegOfThePage;
    if (plan.total > 2 * reader.fileSize)
        return kNotAJpegOfThePage;
    switch (stripsOverlap(plan.blocks.get() + firstStrip, plan.blockCount - firstStrip)) {
    case Overlap::Found:
        return kNotAJpegOfThePage;
    case Overlap::NoMemory:
        return kFailed;
    case Overlap::None:
        break;
    }
    return 0;
}

int32_t copyBlock(int input, platform::OutputFile& output, const Block& block, uint8_t* buffer,
                  uint64_t& written) {
    if (platform::seekTo(input, block.offset) != static_cast<int64_t>(block.offset))
        return tiffdir::kSeekError;
    uint64_t left = block.count;
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, kTransferBufferSize));
        const ssize_t got = platform::readFully(input, buffer, want);
        if (got < 0)
            return kFailed;
        if (got > 0 && !output.write(buffer, static_cast<size_t>(got)))
            return kFailed;
        written += static_cast<uint64_t>(got);
        // A file that shrank under us ends this block with what was there; the next
        // block still follows.
        if (static_cast<size_t>(got) < want)
            return 0;
        left -= want;
    }
    return 0;
}

int32_t runPlan(const tiffdir::TiffReader& reader, platform::OutputFile& output,
                const CopyPlan& plan) {
    HeapArray<uint8_t> buffer(static_cast<uint8_t*>(std::malloc(kTransferBufferSize)));
    if (!buffer || reader.fileHandle < 0 || !output.open())
        return kFailed;
    int32_t status = 0;
    uint64_t written = 0;
    for (size_t i = 0; i < plan.blockCount && status == 0; ++i)
        status = copyBlock(reader.fileHandle, output, plan.blocks[i], buffer.get(), written);
    // The file shrank after it was opened and not one byte was left to read: an empty
    // file would only pretend to be the page.
    if (status == 0 && written == 0)
        status = kFailed;
    // A page cut off by a failed write or read never takes the page's name; a missed seek
    // keeps the blocks copied before it, when there are any.
    if (status == kFailed || written == 0)
        return status;
    return output.finish() ? status : kFailed;
}

// Which blocks a page's copy writes.
enum class Blocks { Strips, Interchange, InterchangeAndStrips };

int32_t copyPlanned(tiffdir::TiffReader& reader, platform::OutputFile& output, Blocks blocks,
                    bool checked) {
    // The stream is the page as stored; a page viewed otherwise is turned on the decoder's
    // path, which writes it anew.
    if (checked && tiffdir::viewedTurned(reader.orientation))
        return kNotAJpegOfThePage;
    CopyPlan plan;
    const int32_t planned =
        planCopy(reader, blocks != Blocks::Strips, blocks != Blocks::Interchange, plan);
    // Unchecked copies report a refused plan as any other failure.
    if (planned != 0)
        return checked || planned != kNotAJpegOfThePage ? planned : kFailed;
    // Memory that runs out during the check fails the page; it does not make the stream
    // another page's, to be decoded instead.
    bool outOfMemory = false;
    if (checked && !isJpegOfSize(reader.fileHandle, plan.blocks.get(), plan.blockCount,
                                 reader.imageWidth, reader.imageLength, &outOfMemory))
        return outOfMemory ? kFailed : kNotAJpegOfThePage;
    return runPlan(reader, output, plan);
}

int32_t copyPage(const char* tiffPath, platform::OutputFile& output, uint64_t directoryOffset,
                 bool checked) {
    tiffdir::TiffReader reader;
    clearRecord(reader);
    if (int32_t status = tiffdir::open(reader, tiffPath); status != 0)
        return status;
    ScopeExit closeReader([&] { tiffdir::close(reader); });
    // Only the page's own directory is read: the page list already walked the chain.
    if (tiffdir::readDirectory(reader, directoryOffset) != 0)
        return kFailed;
    if (tiffdir::loadDirectory(reader, *reinterpret_cast<const tiffdir::DirectoryBlock*>(
                                           reader.directories.data)) != 0)
        return kFailed;

    if (reader.jpegInterchangeFormat == 0)
        return copyPlanned(reader, output, Blocks::Strips, checked);
    // Only the lengths are compared: a stream whose one strip is as long as the
    // interchange block is taken to be that block.
    if (reader.stripCount == 1 && reader.stripByteCountsLength >= 1 &&
        reader.jpegInterchangeFormatLength == reader.stripByteCounts[0])
        return copyPlanned(reader, output, Blocks::Interchange, checked);
    return copyPlanned(reader, output, Blocks::InterchangeAndStrips, checked);
}

// The copy under a name, put in place as soon as it is whole.
template <class Copy> int32_t copyNamed(const char* outputPath, Copy copy) {
    platform::OutputFile output(outputPath);
    const int32_t status = copy(output);
    return !output.finished() || output.putInPlace() ? status : kFailed;
}

} // namespace

int32_t copyStrips(tiffdir::TiffReader& reader, const char* outputPath) {
    return copyNamed(outputPath, [&](platform::OutputFile& output) {
        return copyPlanned(reader, output, Blocks::Strips, false);
    });
}

int32_t copyInterchangeData(tiffdir::TiffReader& reader, const char* outputPath) {
    return copyNamed(outputPath, [&](platform::OutputFile& output) {
        return copyPlanned(reader, output, Blocks::InterchangeAndStrips, false);
    });
}

int32_t copyJpegData(const char* tiffPath, const char* outputPath, uint64_t directoryOffset) {
    return copyNamed(outputPath, [&](platform::OutputFile& output) {
        return copyPage(tiffPath, output, directoryOffset, false);
    });
}

int32_t copyPageJpeg(const char* tiffPath, platform::OutputFile& output, uint64_t directoryOffset) {
    return copyPage(tiffPath, output, directoryOffset, true);
}

} // namespace readers
