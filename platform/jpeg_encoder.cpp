#include "platform/jpeg_encoder.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/dib_section.h"
#include "platform/icc_profile.h"
#include "platform/jpeg_errors.h"
#include "platform/output_file.h"

namespace platform {
namespace {

constexpr size_t kOutputBufferSize = 256 * 1024;

constexpr int kQuality = 75;
constexpr uint32_t kHeaderSize = 40;
constexpr int kRowsPerCall = 16; // one MCU row at 2x2 chroma subsampling

// The block as the encoder sees it, after its header has been checked.
struct PackedBitmap {
    const uint8_t* bottomRow;
    uint32_t width;
    uint32_t height;
    int components; // 3: blue, green, red; 1: grey levels
    size_t bytesPerRow;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
};

uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Accepts only what the writer packs: a 40-byte header, a positive size, 24 bits (or 8 bits
// of grey levels, without a palette), and exactly the padded rows behind it, so no row read
// can leave the block.
bool readPackedBitmap(const uint8_t* bytes, size_t size, PackedBitmap& bitmap) {
    if (bytes == nullptr || size < kHeaderSize || read32(bytes) != kHeaderSize)
        return false;
    const auto width = static_cast<int32_t>(read32(bytes + 4));
    const auto height = static_cast<int32_t>(read32(bytes + 8));
    const uint16_t depth = read16(bytes + 14);
    if (width <= 0 || height <= 0 || (depth != 24 && depth != 8) || read32(bytes + 16) != 0)
        return false;
    const uint64_t rowBytes = paddedRowBytes(width, depth);
    if (size - kHeaderSize != rowBytes * uint64_t(height))
        return false;
    bitmap.bottomRow = bytes + kHeaderSize;
    bitmap.width = static_cast<uint32_t>(width);
    bitmap.height = static_cast<uint32_t>(height);
    bitmap.components = depth / 8;
    bitmap.bytesPerRow = static_cast<size_t>(rowBytes);
    bitmap.xPelsPerMeter = static_cast<int32_t>(read32(bytes + 24));
    bitmap.yPelsPerMeter = static_cast<int32_t>(read32(bytes + 28));
    return true;
}

// Pixels per metre to whole dots per inch; 0 when out of what JFIF can hold.
uint16_t dotsPerInch(int32_t pelsPerMeter) {
    if (pelsPerMeter <= 0)
        return 0;
    const double dpi = pelsPerMeter / kInchesPerMetre + 0.5;
    return dpi >= 1.0 && dpi < 65536.0 ? static_cast<uint16_t>(dpi) : 0;
}

// Scanned and faxed pages are mostly grey: one component encodes about three times less
// data and gives a smaller file that looks the same.
bool everyPixelGrey(const PackedBitmap& bitmap) {
    const uint8_t* row = bitmap.bottomRow;
    for (uint32_t y = 0; y < bitmap.height; ++y, row += bitmap.bytesPerRow) {
        const uint8_t* end = row + size_t(bitmap.width) * 3;
        for (const uint8_t* p = row; p != end; p += 3)
            if (p[0] != p[1] || p[1] != p[2])
                return false;
    }
    return true;
}

// libjpeg's output gathered into large writes to the output file; a failed write ends the
// encoding through the error manager, so nothing after it pretends to be written.
struct FileDestination {
    jpeg_destination_mgr base;
    OutputFile* file;
    std::unique_ptr<JOCTET[]> buffer;
};

void startOutput(j_compress_ptr info) {
    auto* dest = reinterpret_cast<FileDestination*>(info->dest);
    dest->base.next_output_byte = dest->buffer.get();
    dest->base.free_in_buffer = kOutputBufferSize;
}

boolean flushFullBuffer(j_compress_ptr info) {
    auto* dest = reinterpret_cast<FileDestination*>(info->dest);
    if (!dest->file->write(dest->buffer.get(), kOutputBufferSize))
        ERREXIT(info, JERR_FILE_WRITE);
    startOutput(info);
    return TRUE;
}

void flushRest(j_compress_ptr info) {
    auto* dest = reinterpret_cast<FileDestination*>(info->dest);
    const size_t used = kOutputBufferSize - dest->base.free_in_buffer;
    if (used > 0 && !dest->file->write(dest->buffer.get(), used))
        ERREXIT(info, JERR_FILE_WRITE);
}

// Holds only plain data, so the longjmp out of libjpeg skips no destructor; everything
// libjpeg allocates goes with jpeg_destroy_compress, the destination with its caller.
bool encodeRows(FileDestination& destination, const PackedBitmap& bitmap, bool grey,
                IccProfile profile) {
    jpeg_compress_struct info;
    JpegErrors errors;
    info.err = quietJpegErrors(errors);
    if (setjmp(errors.escape)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    destination.base.init_destination = startOutput;
    destination.base.empty_output_buffer = flushFullBuffer;
    destination.base.term_destination = flushRest;
    info.dest = &destination.base;
    info.image_width = bitmap.width;
    info.image_height = bitmap.height;
    info.input_components = bitmap.components;
    info.in_color_space = bitmap.components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    // libjpeg-turbo takes the grey value out of the blue, green, red rows itself, exactly
    // (its weights add up to one), so the rows are fed as they lie either way.
    if (grey)
        jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    jpeg_set_quality(&info, kQuality, TRUE);
    const uint16_t xDpi = dotsPerInch(bitmap.xPelsPerMeter);
    const uint16_t yDpi = dotsPerInch(bitmap.yPelsPerMeter);
    info.write_JFIF_header = TRUE;
    info.density_unit = xDpi != 0 && yDpi != 0 ? 1 : 0;
    info.X_density = info.density_unit == 1 ? xDpi : 1;
    info.Y_density = info.density_unit == 1 ? yDpi : 1;
    jpeg_start_compress(&info, TRUE);
    if (profile.bytes != nullptr)
        jpeg_write_icc_profile(&info, profile.bytes, profile.size);

    JSAMPROW rows[kRowsPerCall];
    while (info.next_scanline < info.image_height) {
        const uint32_t first = info.next_scanline;
        uint32_t count = info.image_height - first;
        if (count > kRowsPerCall)
            count = kRowsPerCall;
        for (uint32_t i = 0; i < count; ++i) {
            // Image row r (0 at the top) is the (height - 1 - r)-th row from the bottom.
            const uint8_t* row =
                bitmap.bottomRow + size_t(bitmap.height - 1 - (first + i)) * bitmap.bytesPerRow;
            rows[i] = const_cast<JSAMPROW>(row);
        }
        jpeg_write_scanlines(&info, rows, count);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

bool saveJpegFile(OutputFile& file, GlobalBlockHandle block, PageColours colours,
                  IccProfile profile) {
    const uint8_t* bytes = globalLock(block);
    PackedBitmap bitmap;
    const bool valid = readPackedBitmap(bytes, globalSize(block), bitmap);
    if (!valid) {
        globalUnlock(block);
        return false;
    }
    // An RGB profile describes the page's colours even where they happen to be grey, so it
    // keeps three components; a profile whose space the JPEG does not get is left out.
    const ProfileColours space = iccProfileColours(profile.bytes, profile.size);
    const bool grey =
        bitmap.components == 1 ||
        (space != ProfileColours::Rgb && (colours == PageColours::Grey || everyPixelGrey(bitmap)));
    if (space != (grey ? ProfileColours::Grey : ProfileColours::Rgb))
        profile = {};
    FileDestination destination{
        {}, &file, std::unique_ptr<JOCTET[]>(new (std::nothrow) JOCTET[kOutputBufferSize])};
    const bool encoded = destination.buffer != nullptr && file.open() &&
                         encodeRows(destination, bitmap, grey, profile);
    globalUnlock(block);
    // A cut-off JPEG opens as a grey or broken page: it never takes the page's name.
    return encoded && file.finish();
}

int saveJpegFile(const char* fileName, GlobalBlockHandle block, PageColours colours,
                 IccProfile profile) {
    if (fileName == nullptr)
        return 0;
    OutputFile file(fileName);
    return saveJpegFile(file, block, colours, profile) && file.putInPlace() ? kJpegFileSaved : 0;
}

} // namespace platform
