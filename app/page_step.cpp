#include "app/page_step.h"

#include <algorithm>
#include <limits>
#include <new>
#include <optional>

#include "core/checked_math.h"
#include "core/clear_record.h"
#include "jpegout/jpeg_writer.h"
#include "platform/device_context.h"
#include "platform/machine.h"
#include "readers/jpeg_copy.h"
#include "tiff/tag_decode.h"

namespace {

// What the process itself takes besides the page in work: code, libraries, the page list.
constexpr uint64_t kProcessBaselineBytes = uint64_t{16} << 20;

// The largest page cost a process that may use `usableMemory` bytes (0: unknown, no limit)
// can afford on its own.
uint64_t pageMemoryCeiling(uint64_t usableMemory) {
    if (usableMemory == 0)
        return std::numeric_limits<uint64_t>::max();
    return usableMemory - std::min(usableMemory, kProcessBaselineBytes);
}

} // namespace

PageOutcome convertPageQuietly(const ImageRecord& page, const char* inputPath,
                               platform::OutputFile& output, readers::ConvertEngine& engine) {
    const bool oldStyle = page.compression == tiffdir::kCompressionOldJpeg;
    int32_t result = 0;
    if (oldStyle) {
        // Memory that runs out where the standard library allocates fails the page.
        try {
            result = readers::copyPageJpeg(inputPath, output, page.directoryOffset);
        } catch (const std::bad_alloc&) {
            return {kFailed, &messages::kWriteFailed};
        }
    }
    // An old-style page whose bytes are not its JPEG is decoded as any other page.
    if (oldStyle && result != readers::kNotAJpegOfThePage)
        return {result, result != 0 ? &messages::kWriteFailed : nullptr};

    // A page that could not be held even alone is refused here rather than run into the
    // memory limit, which would end the whole run.
    static const uint64_t ceiling = pageMemoryCeiling(platform::usableMemoryBytes());
    if (pageMemoryCost(page) > ceiling)
        return {kFailed, oldStyle ? &messages::kWriteFailed : &messages::kLoadFailed};

    ImageRecord bitmap;
    clearRecord(bitmap);
    DeviceContext context = platform::screenDeviceContext();
    const int32_t loaded = engine.loadPage(context, inputPath, page, bitmap);
    platform::releaseDeviceContext(context);
    if (loaded != 0) {
        // An old-style page that libtiff cannot decode either is a JPEG that was not written.
        releaseImageRecord(&bitmap);
        return {loaded, oldStyle ? &messages::kWriteFailed : &messages::kLoadFailed};
    }
    try {
        result = writeJpeg(&bitmap, output);
    } catch (const std::bad_alloc&) {
        result = kFailed;
    }
    releaseImageRecord(&bitmap);
    return {result, result != 0 ? &messages::kWriteFailed : nullptr};
}

uint64_t pageMemoryCost(const ImageRecord& page) {
    const uint64_t width = page.width > 0 ? static_cast<uint64_t>(page.width) : 0;
    const uint64_t height = page.height > 0 ? static_cast<uint64_t>(page.height) : 0;
    // A page without BitsPerSample has one bit per pixel.
    const uint64_t bits = std::max<uint64_t>(page.bitsPerPixel, 1);
    // Bytes per pixel held at once, in sixteenths (bench/results has the measured peaks):
    // 7 for libtiff's RGBA raster beside the 24-bit page, or for a 24-bit copy beside the
    // writer's packed rows; the larger of 3 and the page as stored (a 32-bit page kept
    // beside its copy, libtiff's decoded strip); half the stored page again for a
    // compressed strip read whole (LZW grows noise by up to a half).
    const uint64_t sixteenths = 7 * 16 + 2 * std::max<uint64_t>(bits, 24) + 3 * bits;
    const auto pixels = checkedMul(width, height);
    const auto cost = pixels ? checkedMul(*pixels, sixteenths) : std::nullopt;
    return cost ? *cost / 16 + 1 : std::numeric_limits<uint64_t>::max();
}
