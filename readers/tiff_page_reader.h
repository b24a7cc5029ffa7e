// Decodes one TIFF page through libtiff into a bitmap record and a pixel buffer.
#pragma once

#include <cstdint>
#include <memory>

#include <tiffio.h>

#include "core/image_record.h"

namespace readers {

inline constexpr int32_t kTiffOpenFailed = -970;
inline constexpr int32_t kDirectoryNotFound = -1; // also: no memory for the RGBA raster
inline constexpr int32_t kRgbaFailed = -2;        // also: a partial ColorMap
inline constexpr int32_t kScanlineFailed = -312;

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

/// Opens `path` with libtiff (no memory mapping; libtiff's messages kept off the console).
TiffHandle openTiff(const char* path);

/// Gives a buffer of at least `bytes` bytes for the rows of the page, or null. The page
/// reader asks for the layout it actually writes before writing any row.
class PageBufferSource {
  public:
    virtual ~PageBufferSource() = default;
    virtual uint8_t* pageBufferOf(uint64_t bytes) = 0;
};

/// Decodes the directory at `bitmap.directoryOffset` of the open file `tif` into `bitmap`
/// (initialised) and a buffer from `buffers`. 0, -1, -2, -312 or an allocation code; the
/// bitmap is released on failure.
int32_t readTiffPage(ImageRecord& bitmap, TIFF* tif, PageBufferSource& buffers);

/// Exchanges bytes 0 and 2 of `count` consecutive 3-byte pixels.
void swapRedBlue(uint8_t* row, uint32_t count);
/// 0 when the handle or a map is missing; 16 when a value is 256 or more; else 8.
int colormapDepth(TIFF* tif, uint32_t count, const uint16_t* red, const uint16_t* green,
                  const uint16_t* blue);

} // namespace readers
