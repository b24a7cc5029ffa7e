#include "readers/convert_engine.h"

#include <cstring>
#include <limits>

#include "bitmap/bitmap_storage.h"
#include "bitmap/pixel_convert.h"
#include "core/checked_math.h"
#include "core/clear_record.h"
#include "readers/tiff_page_reader.h"

namespace readers {

void ConvertEngine::TiffCloser::operator()(void* tif) const { TIFFClose(static_cast<TIFF*>(tif)); }

ConvertEngine::ConvertEngine() = default;

ConvertEngine::~ConvertEngine() { std::free(pageBuffer); }

void ConvertEngine::finishFile() {
    tif_.reset();
    tifPath_.reset();
}

void* ConvertEngine::fileFor(const char* path) {
    if (path == nullptr)
        return nullptr;
    if (tif_ != nullptr && tifPath_ != nullptr && std::strcmp(tifPath_.get(), path) == 0)
        return tif_.get();
    finishFile();
    tif_.reset(openTiff(path).release());
    if (tif_ != nullptr)
        tifPath_.reset(strdup(path)); // without a copy of the name the handle is not reused
    return tif_.get();
}

uint8_t* ConvertEngine::pageBufferOf(uint64_t bytes) {
    if (bytes > kMaxBitmapBytes)
        return nullptr;
    if (bytes == 0)
        bytes = 1;
    if (pageBuffer != nullptr && bytes <= static_cast<uint64_t>(pageBufferSize))
        return pageBuffer;
    std::free(pageBuffer);
    pageBufferSize = 0;
    pageBuffer = static_cast<uint8_t*>(std::malloc(bytes));
    if (pageBuffer == nullptr)
        return nullptr;
    pageBufferSize = static_cast<int32_t>(bytes);
    ++pageBufferAllocations;
    return pageBuffer;
}

int32_t ConvertEngine::loadPage(DeviceContext context, const char* tiffPath, ImageRecord& page,
                                ImageRecord& bitmap) {
    initImageRecord(context, &bitmap);
    // Every failure leaves the bitmap released, so releasing it again does nothing.
    if (page.width <= 0 || page.height <= 0) {
        releaseImageRecord(&bitmap);
        return kLoadFailed;
    }
    // The record's geometry only vets the page; the reader sizes the buffer from what
    // libtiff reports, so a record that understates the depth is never written short.
    const uint64_t depth = page.bitsPerPixel == 0 ? 8 : page.bitsPerPixel;
    const uint64_t rowBytes = paddedRowBytes(static_cast<uint64_t>(page.width), depth);
    const auto size = checkedMul<uint64_t>(rowBytes, static_cast<uint64_t>(page.height));
    if (!size || *size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        releaseImageRecord(&bitmap);
        return kLoadFailed;
    }
    page.bytesPerRow = static_cast<int32_t>(rowBytes);
    page.imageSize = static_cast<uint32_t>(*size);

    bitmap.directoryIndex = page.directoryIndex;
    bitmap.directoryOffset = page.directoryOffset;
    bitmap.pageNumber = page.pageNumber;
    bitmap.pageCount = page.pageCount;
    bitmap.fileKind = page.fileKind;
    bitmap.bitsPerPixel = page.bitsPerPixel;

    auto* tif = static_cast<TIFF*>(fileFor(tiffPath));
    if (tif == nullptr) {
        releaseImageRecord(&bitmap);
        return kTiffOpenFailed;
    }
    if (int32_t status = readTiffPage(bitmap, tif, *this); status != 0) {
        // A decoder that failed part-way may leave the handle in a state no later page
        // should inherit; the next page opens the file afresh.
        finishFile();
        releaseImageRecord(&bitmap);
        return status;
    }
    bitmap.pixels = pageBuffer;

    if (bitmap.bitsPerPixel == 32) {
        ImageRecord converted;
        clearRecord(converted);
        if (int32_t status = convertTo24(context, &bitmap, &converted); status != 0) {
            releaseImageRecord(&converted);
            releaseImageRecord(&bitmap);
            return status;
        }
        // The conversion knows nothing of pages; the result still names its page.
        converted.directoryIndex = bitmap.directoryIndex;
        converted.directoryOffset = bitmap.directoryOffset;
        converted.pageNumber = bitmap.pageNumber;
        converted.pageCount = bitmap.pageCount;
        converted.fileKind = bitmap.fileKind;
        releaseImageRecord(&bitmap);
        moveImageRecord(context, &converted, &bitmap);
    }
    return 0;
}

} // namespace readers
