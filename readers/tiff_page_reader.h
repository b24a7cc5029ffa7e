// Decodes one TIFF page through libtiff into a bitmap record and a pixel buffer.
#pragma once

#include <cstdint>
#include <memory>

#include <tiffio.h>

#include "core/image_record.h"
#include "core/status.h"
#include "platform/icc_profile.h"

namespace readers {

inline constexpr int32_t kTiffOpenFailed = -970; // libtiff gave no handle
inline constexpr int32_t kScanlineFailed = -312; // libtiff lost a row
/// libtiff reported an error decoding the pixels or could not render the page, or the
/// ColorMap has some but not all of its arrays.
inline constexpr int32_t kPageUnreadable = -2;

/// Gives a buffer of at least `bytes` bytes for the rows of the page, or null. The page
/// reader asks for the layout it actually writes before writing any row.
class PageBufferSource {
  public:
    virtual ~PageBufferSource() = default;
    virtual uint8_t* pageBufferOf(uint64_t bytes) = 0;
};

/// What libtiff reported through one handle since the counts were last cleared.
struct LibtiffMessages {
    uint32_t errors = 0;
    uint32_t warnings = 0;
};

/// Owns, besides the handle, the counts its handlers write to: they outlive the handle,
/// which may still report while it closes.
struct TiffCloser {
    std::unique_ptr<LibtiffMessages> messages;
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

/// Keeps libtiff's process-wide error and warning handlers off the console. Idempotent;
/// openTiff calls it, and threads that share libtiff call it before they start.
void quietLibtiff();
/// Opens `path` with libtiff (no memory mapping; libtiff's messages kept off the console and
/// counted in the handle's LibtiffMessages). Null when libtiff cannot open it.
TiffHandle openTiff(const char* path);

/// Where a page's directory lies: its file offset, or, when that is 0, its position in
/// chain order.
struct DirectoryPlace {
    uint64_t offset = 0;
    int32_t index = 0;
};

/// True when a page of `width` x `height` pixels decoded at `bitsPerPixel` fits a bitmap:
/// both its rows and the 24-bit form every page is written in stay within kMaxBitmapBytes.
bool pageFitsBitmapLimit(int64_t width, int64_t height, uint32_t bitsPerPixel);

/// Moves `tif` to the directory at `place` and decodes it into `bitmap` (initialised) with
/// decodeTiffDirectory; libtiff's verdict on the pixels decides, whatever it said about the
/// directory. A page whose rows libtiff gives up on with warnings only is rendered again
/// through libtiff's RGBA path. 0, kTiffOpenFailed, kFailed (the directory
/// was not reached), kPageUnreadable (libtiff reported an error while decoding), a code of
/// decodeTiffDirectory, or an allocation code; the bitmap is released on failure. The handle stays
/// open.
int32_t readTiffPage(ImageRecord& bitmap, const TiffHandle& tif, DirectoryPlace place,
                     PageBufferSource& buffers);

/// Decodes the directory `tif` stands on into `bitmap` (initialised): geometry, header and
/// palette, resolution, photometric, and the rows in a buffer from `buffers`, bottom row
/// first, as stored (`orientation` tells how the page is viewed). Pages outside the
/// row-by-row classes (stored in strips, samples together, unsigned: 1-bit grey or mask,
/// 4- or 8-bit palette, 8-bit grey, RGB or CMYK) become 24-bit bitmaps rendered by libtiff and
/// laid on white where they carry alpha. 0, kFailed (a page
/// over the bitmap limit, no page buffer, or a scanline longer than the row), kScanlineFailed, a
/// code of buildTiffPalette or readRgbaPage, or an allocation code; the bitmap is left as far as it
/// got (its holder releases it).
int32_t decodeTiffDirectory(ImageRecord& bitmap, TIFF* tif, PageBufferSource& buffers);

/// The ICC profile of the directory `tif` stands on, when the JPEG its page becomes can
/// carry it (iccProfileColours): an RGB profile on an RGB, palette or YCbCr page, a grey
/// profile on a grey page of more than one bit. Empty for any other page: CMYK pages become
/// RGB without their profile, bilevel pages carry none. The bytes are libtiff's, valid only
/// while `tif` stays on this directory.
platform::IccProfile suitedIccProfile(TIFF* tif);

/// Sets width, height and depth, clears imageSize, compression and pixels, and builds
/// the header with room for the palette (allocateBitmap, HeaderOnly).
int32_t setBitmapGeometry(ImageRecord& bitmap, int32_t width, int32_t height,
                          uint32_t bitsPerPixel);

/// Fills the palette: the 1-bit black/white order (WhiteIsZero or CCITT: entry 0 white),
/// the ColorMap (8- or 16-bit values), or a ramp of the entry numbers. Never writes more
/// than `bitmap.paletteEntries` entries. 0, kFailed (a bitmap without a
/// palette) or kPageUnreadable (a partial ColorMap).
int32_t buildTiffPalette(TIFF* tif, ImageRecord& bitmap, uint32_t bitsPerPixel,
                         uint16_t bitsPerSample, const uint16_t* red, const uint16_t* green,
                         const uint16_t* blue);

/// Renders the page through libtiff's RGBA reader into `buffer`, which holds the bitmap's
/// rows laid out for 24 bits, in stored order (neither flipped nor turned). 0, kFailed
/// (rows not laid out so, a raster over kMaxBitmapBytes, or no memory) or kPageUnreadable.
int32_t readRgbaPage(ImageRecord& bitmap, uint8_t* buffer, TIFF* tif);

/// Exchanges bytes 0 and 2 of `count` consecutive 3-byte pixels.
void swapRedBlue(uint8_t* row, uint32_t count);
/// 0 when the handle or a map is missing; 16 when a value is 256 or more; else 8.
int colormapDepth(TIFF* tif, uint32_t count, const uint16_t* red, const uint16_t* green,
                  const uint16_t* blue);

} // namespace readers
