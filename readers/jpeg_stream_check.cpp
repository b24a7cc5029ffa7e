#include "readers/jpeg_stream_check.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE

#include <jerror.h>
#include <jpeglib.h>

#include "bitmap/bitmap_storage.h"
#include "platform/file_io.h"
#include "platform/jpeg_errors.h"
#include "readers/tiff_page_reader.h"

namespace readers {

namespace {

// libjpeg-turbo's Huffman decoder takes a fast path, which neither reports a bad code nor
// reads ahead as far, whenever its input buffer holds a few kilobytes; so what it warns about
// depends on how its input comes in pieces. The stream is handed over as libjpeg's own file
// reader hands over the copied file: in windows of 4096 bytes counted from its first byte.
constexpr size_t kFileReaderWindow = 4096;
constexpr size_t kReadBufferSize = 4 * kFileReaderWindow;
// A progressive stream may repeat its scans without end, each a pass over the whole page;
// a real one has a dozen or so.
constexpr int kMaxScans = 256;
const JOCTET kEndOfImage[] = {0xFF, JPEG_EOI};

// A libjpeg source that reads the blocks one after another, as if they were one file.
struct BlockSource {
    jpeg_source_mgr base;
    int fd;
    const FileBlock* blocks;
    size_t blockCount;
    size_t block;  // the block read next
    uint64_t done; // bytes of that block already read
    size_t held;   // bytes in the buffer
    size_t handed; // of which libjpeg has had these
    JOCTET buffer[kReadBufferSize];
};

void startNothing(j_decompress_ptr) {}

// Fills the buffer from the blocks, as the copy reads them: whole, unless the blocks end.
void readBlocks(BlockSource& source) {
    source.held = 0;
    source.handed = 0;
    while (source.held < kReadBufferSize && source.block < source.blockCount) {
        const FileBlock& block = source.blocks[source.block];
        if (source.done == block.count) {
            ++source.block;
            source.done = 0;
            continue;
        }
        const uint64_t at = block.offset + source.done;
        const bool placed =
            source.done != 0 || platform::seekTo(source.fd, at) == static_cast<int64_t>(at);
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>(block.count - source.done, kReadBufferSize - source.held));
        const ssize_t got =
            placed ? platform::readFully(source.fd, source.buffer + source.held, want) : -1;
        if (got < 0) {
            source.block = source.blockCount; // the stream ends at a failed seek or read
            break;
        }
        source.held += static_cast<size_t>(got);
        // A block cut short by the end of the file ends here; the next one still follows.
        source.done = static_cast<size_t>(got) < want ? block.count
                                                      : source.done + static_cast<uint64_t>(got);
    }
}

boolean fillFromBlocks(j_decompress_ptr info) {
    BlockSource& source = *reinterpret_cast<BlockSource*>(info->src);
    if (source.handed == source.held)
        readBlocks(source);
    if (source.held == 0) {
        // The data end before EOI: libjpeg's own remedy, a warning and a made-up EOI.
        WARNMS(info, JWRN_JPEG_EOF);
        source.base.next_input_byte = kEndOfImage;
        source.base.bytes_in_buffer = sizeof kEndOfImage;
        return TRUE;
    }
    const size_t window = std::min(kFileReaderWindow, source.held - source.handed);
    source.base.next_input_byte = source.buffer + source.handed;
    source.base.bytes_in_buffer = window;
    source.handed += window;
    return TRUE;
}

void skipInBlocks(j_decompress_ptr info, long count) {
    jpeg_source_mgr& source = *info->src;
    if (count <= 0)
        return;
    while (static_cast<unsigned long>(count) > source.bytes_in_buffer) {
        count -= static_cast<long>(source.bytes_in_buffer);
        fillFromBlocks(info);
    }
    source.next_input_byte += count;
    source.bytes_in_buffer -= static_cast<size_t>(count);
}

// Any warning (libjpeg's word for corrupt data) ends the check; trace messages do not.
void escapeOnWarning(j_common_ptr info, int level) {
    if (level < 0)
        platform::escapeFromJpeg(info);
}

void stopEndlessScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans)
        platform::escapeFromJpeg(info);
}

// Walks the whole stream: every MCU but those of the last row is only entropy-decoded.
// jpeg_skip_scanlines would skip to the end without reading anything, so the last row is
// read as pixels, and jpeg_finish_decompress reads on to EOI.
void walkStream(jpeg_decompress_struct& info) {
    // Decoded in the colours it will be viewed in: a stream whose chroma libjpeg cannot bring
    // to full size reads well in grey and still fails every viewer.
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
    info.do_block_smoothing = FALSE;
    jpeg_start_decompress(&info);
    if (info.output_height > 1)
        jpeg_skip_scanlines(&info, info.output_height - 1);
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                               info.output_width * info.output_components, 1);
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, row, 1);
    jpeg_finish_decompress(&info);
}

} // namespace

// Holds only plain data, so the longjmp out of libjpeg skips no destructor; everything
// libjpeg allocates goes with jpeg_destroy_decompress.
bool isJpegOfSize(int fd, const FileBlock* blocks, size_t blockCount, uint32_t width,
                  uint32_t height, bool* outOfMemory) {
    if (outOfMemory != nullptr)
        *outOfMemory = false;
    BlockSource source{};
    source.base.init_source = startNothing;
    source.base.fill_input_buffer = fillFromBlocks;
    source.base.skip_input_data = skipInBlocks;
    source.base.resync_to_restart = jpeg_resync_to_restart;
    source.base.term_source = startNothing;
    source.fd = fd;
    source.blocks = blocks;
    source.blockCount = blockCount;

    jpeg_progress_mgr progress{};
    progress.progress_monitor = stopEndlessScans;
    jpeg_decompress_struct info;
    platform::JpegErrors errors;
    info.err = platform::quietJpegErrors(errors);
    errors.base.emit_message = escapeOnWarning;
    if (setjmp(errors.escape)) {
        if (outOfMemory != nullptr)
            *outOfMemory = errors.base.msg_code == JERR_OUT_OF_MEMORY;
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    info.progress = &progress;
    // A multi-scan stream is held whole while it is read: no more than a page may take.
    info.mem->max_memory_to_use = static_cast<long>(kMaxBitmapBytes);
    info.src = &source.base;
    // Old-style pages are never arithmetic-coded, whose flat blocks cost next to nothing in
    // the file and full work here; and a page no bitmap may hold is not walked at all.
    bool matches =
        jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK && info.image_width == width &&
        info.image_height == height && !info.arith_code &&
        pageFitsBitmapLimit(static_cast<int64_t>(width), static_cast<int64_t>(height), 24);
    if (matches)
        walkStream(info);
    jpeg_destroy_decompress(&info);
    return matches;
}

} // namespace readers
