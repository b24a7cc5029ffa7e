#include "readers/convert_engine.h"

#include <cstdlib>
#include <cstring>

#include "bitmap/bitmap_storage.h"
#include "bitmap/pixel_convert.h"
#include "core/clear_record.h"
#include "platform/global_memory.h"
#include "platform/process_memory.h"
#include "readers/tiff_page_reader.h"

namespace readers {

ConvertEngine::ConvertEngine() = default;

namespace {
// The page buffer keeps the room in front of its pixels that lets the writer hand them over
// without a copy; the heap block starts there.
uint8_t* blockOf(uint8_t* pixels) {
    return pixels != nullptr ? pixels - platform::kBlockRoomBeforePixels : nullptr;
}
} // namespace

ConvertEngine::~ConvertEngine() { std::free(blockOf(pageBuffer)); }

void ConvertEngine::finishFile() {
    tif_.reset();
    tifPath_.reset();
}

TIFF* ConvertEngine::fileFor(const char* path) {
    if (path == nullptr)
        return nullptr;
    if (tif_ != nullptr && tifPath_ != nullptr && std::strcmp(tifPath_.get(), path) == 0)
        return tif_.get();
    finishFile();
    tif_ = openTiff(path);
    if (tif_ != nullptr) {
        // Without a copy of the name the handle is not reused.
        const size_t bytes = std::strlen(path) + 1;
        tifPath_.reset(static_cast<char*>(std::malloc(bytes)));
        if (tifPath_ != nullptr)
            std::memcpy(tifPath_.get(), path, bytes);
    }
    return tif_.get();
}

uint8_t* ConvertEngine::pageBufferOf(uint64_t bytes) {
    if (bytes > kMaxBitmapBytes)
        return nullptr;
    if (bytes == 0)
        bytes = 1;
    if (pageBuffer != nullptr && bytes <= static_cast<uint64_t>(pageBufferSize))
        return pageBuffer;
    std::free(blockOf(pageBuffer));
    pageBufferSize = 0;
    pageBuffer = nullptr;
    auto* block = static_cast<uint8_t*>(
        platform::allocatePageMemory(platform::kBlockRoomBeforePixels + bytes));
    if (block == nullptr)
        return nullptr;
    pageBuffer = block + platform::kBlockRoomBeforePixels;
    pageBufferSize = static_cast<int32_t>(bytes);
    return pageBuffer;
}

void ConvertEngine::attachIccProfile(TIFF* tif, ImageRecord& bitmap) {
    const platform::IccProfile profile = suitedIccProfile(tif);
    if (profile.size == 0)
        return;
    if (profile.size > profileBufferSize_) {
        profileBuffer_.reset(static_cast<uint8_t*>(std::malloc(profile.size)));
        profileBufferSize_ = profileBuffer_ != nullptr ? profile.size : 0;
        if (profileBuffer_ == nullptr)
            return;
    }
    std::memcpy(profileBuffer_.get(), profile.bytes, profile.size);
    bitmap.iccProfile = profileBuffer_.get();
    bitmap.iccProfileSize = profile.size;
}

namespace {

// The bitmap names the page it was decoded from; the reader itself never looks at this.
void namePage(const ImageRecord& page, ImageRecord& bitmap) {
    bitmap.directoryIndex = page.directoryIndex;
    bitmap.directoryOffset = page.directoryOffset;
    bitmap.pageNumber = page.pageNumber;
    bitmap.pageCount = page.pageCount;
    bitmap.fileKind = page.fileKind;
}

} // namespace

int32_t ConvertEngine::loadPage(DeviceContext context, const char* tiffPath,
                                const ImageRecord& page, ImageRecord& bitmap) {
    initImageRecord(context, &bitmap);
    // Every failure leaves the bitmap released, so releasing it again does nothing.
    if (page.width <= 0 || page.height <= 0) {
        releaseImageRecord(&bitmap);
        return kFailed;
    }
    // The record's depth is only the structure reader's count, so a record is vetted by its
    // 24-bit form alone; the reader applies the same limit to what libtiff reports.
    if (!pageFitsBitmapLimit(page.width, page.height, 24)) {
        releaseImageRecord(&bitmap);
        return kFailed;
    }
    if (fileFor(tiffPath) == nullptr) {
        releaseImageRecord(&bitmap);
        return kTiffOpenFailed;
    }
    const DirectoryPlace place{page.directoryOffset, page.directoryIndex};
    if (int32_t status = readTiffPage(bitmap, tif_, place, *this); status != 0) {
        // A decoder that failed part-way may leave the handle in a state no later page
        // should inherit; the next page opens the file afresh.
        finishFile();
        releaseImageRecord(&bitmap);
        return status;
    }
    bitmap.pixels = pageBuffer;
    bitmap.roomBeforePixels = platform::kBlockRoomBeforePixels;

    if (bitmap.bitsPerPixel == 32) {
        ImageRecord converted;
        clearRecord(converted);
        if (int32_t status = convertTo24(context, &bitmap, &converted); status != 0) {
            releaseImageRecord(&converted);
            releaseImageRecord(&bitmap);
            return status;
        }
        converted.orientation = bitmap.orientation;
        releaseImageRecord(&bitmap);
        moveImageRecord(context, &converted, &bitmap);
    }
    attachIccProfile(tif_.get(), bitmap);
    namePage(page, bitmap);
    return 0;
}

} // namespace readers
