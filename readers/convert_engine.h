// Turns a page record into a decoded bitmap whose rows lie in a buffer the engine owns
// and reuses; keeps the current file's libtiff handle open across its pages.
#pragma once

#include <cstdint>

#include "core/image_record.h"
#include "platform/heap_array.h"
#include "readers/tiff_page_reader.h"

namespace readers {

class ConvertEngine : public PageBufferSource {
  public:
    ConvertEngine();
    ~ConvertEngine() override;
    ConvertEngine(const ConvertEngine&) = delete;
    ConvertEngine& operator=(const ConvertEngine&) = delete;

    /// Decodes `page` of `tiffPath` into `bitmap` (overwritten, not released), which then
    /// names the page (directory index and offset, page number and count, file kind). On
    /// success the bitmap's pixels lie in the page buffer, except a 32-bit page, which
    /// becomes a 24-bit bitmap owning its pixels. 0, kFailed (a width or
    /// height not positive, or a 24-bit form that fails pageFitsBitmapLimit), a code of
    /// readTiffPage or of the 32-bit conversion; after a failure the bitmap holds nothing that
    /// needs freeing. kFailed for those is given without the file being opened. A page with a
    /// suited ICC profile (suitedIccProfile) points at a copy the engine holds until the next page
    /// is loaded.
    int32_t loadPage(DeviceContext context, const char* tiffPath, const ImageRecord& page,
                     ImageRecord& bitmap);
    /// Closes the file kept open for the pages of the last file loaded.
    void finishFile();

    /// Grows the page buffer to `bytes` (never shrinks it). Null above kMaxBitmapBytes or
    /// when memory runs out; the engine then holds no buffer.
    uint8_t* pageBufferOf(uint64_t bytes) override;

    uint8_t* pageBuffer = nullptr;
    int32_t pageBufferSize = 0;

  private:
    /// The handle for `path`: the one held when the path is the same, else a fresh one.
    TIFF* fileFor(const char* path);
    /// Points `bitmap` at a copy of the suited ICC profile of the directory `tif` stands
    /// on, in the profile buffer; without memory for it the page goes without.
    void attachIccProfile(TIFF* tif, ImageRecord& bitmap);

    TiffHandle tif_;
    HeapArray<char> tifPath_; // path of tif_; null: tif_ is not reused
    // libtiff frees a profile when it leaves the directory; pages point here instead.
    HeapArray<uint8_t> profileBuffer_;
    uint32_t profileBufferSize_ = 0;
};

} // namespace readers
