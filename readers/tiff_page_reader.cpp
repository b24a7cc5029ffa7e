#include "readers/tiff_page_reader.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>

#include "bitmap/bitmap_storage.h"
#include "core/checked_math.h"

namespace readers {

namespace {

void ignoreMessage(const char*, const char*, va_list) {}

} // namespace

void quietLibtiff() {
    static const bool silenced = [] {
        TIFFSetErrorHandler(ignoreMessage);
        TIFFSetWarningHandler(ignoreMessage);
        return true;
    }();
    (void)silenced;
}

namespace {

// Per handle, so pages read on several handles at once count apart. Returning 1 keeps the
// message from the process-wide handlers.
int countError(TIFF*, void* messages, const char*, const char*, va_list) {
    ++static_cast<LibtiffMessages*>(messages)->errors;
    return 1;
}
int countWarning(TIFF*, void* messages, const char*, const char*, va_list) {
    ++static_cast<LibtiffMessages*>(messages)->warnings;
    return 1;
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

struct DirectoryFields {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samplesPerPixel = 0;
    uint16_t bitsPerSample = 0;
    uint16_t* red = nullptr;
    uint16_t* green = nullptr;
    uint16_t* blue = nullptr;
    uint16_t photometric = 0;
    float xResolution = 0;
    float yResolution = 0;
    uint16_t resolutionUnit = RESUNIT_INCH;
    uint16_t orientation = ORIENTATION_TOPLEFT;
};

// Results of TIFFGetField are not looked at: an absent field keeps its preset.
DirectoryFields readFields(TIFF* tif) {
    DirectoryFields f;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.height);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &f.samplesPerPixel);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &f.bitsPerSample);
    TIFFGetField(tif, TIFFTAG_COLORMAP, &f.red, &f.green, &f.blue);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.photometric);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &f.xResolution);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &f.yResolution);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &f.resolutionUnit);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &f.orientation);
    if (f.orientation < ORIENTATION_TOPLEFT || f.orientation > ORIENTATION_LEFTBOT)
        f.orientation = ORIENTATION_TOPLEFT;
    if (f.samplesPerPixel == 0)
        f.samplesPerPixel = 1;
    return f;
}

// How the RGBA raster's colours relate to its alpha, so the page can be laid on white.
enum class AlphaRule {
    Opaque,        // no alpha sample: the colours stand as they are
    Premultiplied, // colours already scaled by alpha: c + 255 - a
    Straight,      // colours not scaled: c * a / 255 + 255 - a
};

AlphaRule alphaRuleOf(TIFF* tif, uint16_t photometric) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) != 1 || count == 0 ||
        kinds == nullptr)
        return AlphaRule::Opaque;
    switch (kinds[0]) {
    case EXTRASAMPLE_ASSOCALPHA:
        return AlphaRule::Premultiplied;
    case EXTRASAMPLE_UNASSALPHA:
        // libtiff premultiplies colour pages itself but hands grey values on unscaled.
        return photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK
                   ? AlphaRule::Straight
                   : AlphaRule::Premultiplied;
    default:
        // An unspecified extra sample is data, not coverage.
        return AlphaRule::Opaque;
    }
}

inline uint8_t onWhite(uint32_t colour, uint32_t alpha, AlphaRule rule) {
    const uint32_t paper = 255 - alpha;
    if (rule == AlphaRule::Straight)
        return static_cast<uint8_t>(colour * alpha / 255 + paper);
    // Damaged premultiplied data can hold colours above their alpha.
    return static_cast<uint8_t>(std::min<uint32_t>(colour + paper, 255));
}

// libtiff (4.5, files not mapped) refuses an uncompressed tile unless its read buffer is
// exactly one tile, yet rounds the buffers it makes itself up to 1 KiB. Lending it a
// buffer of exactly one tile for the rendering gets such pages read; it is taken back
// before the buffer goes.
class ExactTileBuffer {
  public:
    explicit ExactTileBuffer(TIFF* tif) : tif_(tif) {
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        if (!TIFFIsTiled(tif) || compression != COMPRESSION_NONE)
            return;
        const uint64_t bytes = TIFFTileSize64(tif);
        if (bytes == 0 || bytes > kMaxBitmapBytes)
            return;
        block_ = static_cast<uint8_t*>(_TIFFmalloc(static_cast<tmsize_t>(bytes)));
        if (block_ != nullptr &&
            TIFFReadBufferSetup(tif, block_, static_cast<tmsize_t>(bytes)) != 1) {
            _TIFFfree(block_);
            block_ = nullptr;
        }
    }
    ~ExactTileBuffer() {
        if (block_ == nullptr)
            return;
        TIFFReadBufferSetup(tif_, nullptr, 1); // libtiff owns its buffer again
        _TIFFfree(block_);
    }
    ExactTileBuffer(const ExactTileBuffer&) = delete;
    ExactTileBuffer& operator=(const ExactTileBuffer&) = delete;

  private:
    TIFF* tif_;
    uint8_t* block_ = nullptr;
};

// TIFFReadRGBAImage flips pages for Orientation 2 to 4 but only mirrors 5 to 8; asked for
// the orientation the page already has, libtiff neither flips nor turns, and the writer
// turns every page alike. The raster's first row is the page's first stored row.
bool renderStoredOrder(TIFF* tif, uint32_t width, uint32_t height, uint32_t* raster) {
    // libtiff makes a YCbCr page's default ReferenceBlackWhite on the heap when first asked,
    // and its renderer quietly takes other colours when that fails: asked here first, no
    // memory fails the page instead.
    uint16_t photometric = 0;
    float* referenceBlackWhite = nullptr;
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1 &&
        photometric == PHOTOMETRIC_YCBCR &&
        TIFFGetFieldDefaulted(tif, TIFFTAG_REFERENCEBLACKWHITE, &referenceBlackWhite) != 1)
        return false;
    ExactTileBuffer tileBuffer(tif);
    char message[1024] = "";
    TIFFRGBAImage image;
    if (TIFFRGBAImageOK(tif, message) != 1 || TIFFRGBAImageBegin(&image, tif, 0, message) != 1)
        return false;
    image.req_orientation = image.orientation;
    const bool rendered = TIFFRGBAImageGet(&image, raster, width, height) == 1;
    TIFFRGBAImageEnd(&image);
    return rendered;
}

struct RasterFree {
    void operator()(uint32_t* raster) const { _TIFFfree(raster); }
};

constexpr uint8_t kWhite[4] = {255, 255, 255, 0};
constexpr uint8_t kBlack[4] = {0, 0, 0, 0};

} // namespace

TiffHandle openTiff(const char* path) {
    quietLibtiff();
    if (path == nullptr || path[0] == '\0')
        return nullptr;
    // libtiff's own buffers stay within what a bitmap may take, whatever a file claims.
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (options == nullptr)
        return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxBitmapBytes));
    TiffCloser closer{std::unique_ptr<LibtiffMessages>(new (std::nothrow) LibtiffMessages{})};
    if (closer.messages == nullptr)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), countError, closer.messages.get());
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), countWarning, closer.messages.get());
    // "m": a mapped file that shrinks under us would end the process with SIGBUS.
    TIFF* tif = TIFFOpenExt(path, "rm", options.get());
    if (tif == nullptr)
        return nullptr;
    return TiffHandle(tif, std::move(closer));
}

void swapRedBlue(uint8_t* row, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i, row += 3)
        std::swap(row[0], row[2]);
}

int colormapDepth(TIFF* tif, uint32_t count, const uint16_t* red, const uint16_t* green,
                  const uint16_t* blue) {
    if (tif == nullptr || red == nullptr || green == nullptr || blue == nullptr)
        return 0;
    for (uint32_t k = 0; k < count; ++k) {
        if (red[k] >= 256 || green[k] >= 256 || blue[k] >= 256)
            return 16;
    }
    return 8;
}

namespace {

// True when the directory `tif` stands on is read scanline by scanline with its own depth:
// stored in strips, samples together, unsigned, and one of 1-bit grey or mask (photometric
// 0, 1, 4), 4- or 8-bit palette, 8-bit BlackIsZero grey, 8-bit RGB, or 8-bit CMYK. Every
// other page goes through libtiff's RGBA rendering.
bool readsRowByRow(TIFF* tif) {
    if (TIFFIsTiled(tif))
        return false;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    if (planar != PLANARCONFIG_CONTIG || sampleFormat != SAMPLEFORMAT_UINT)
        return false;
    // libtiff's old-style JPEG decoder (4.5) loses its session after the first scanline of
    // some pages (one strip, tables in their tags); its RGBA reader takes whole strips.
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_OJPEG)
        return false;
    const DirectoryFields f = readFields(tif);
    const uint16_t bits = f.bitsPerSample;
    switch (f.samplesPerPixel) {
    case 1:
        if (bits == 1)
            return f.photometric == PHOTOMETRIC_MINISWHITE ||
                   f.photometric == PHOTOMETRIC_MINISBLACK || f.photometric == PHOTOMETRIC_MASK;
        if (f.photometric == PHOTOMETRIC_PALETTE)
            return bits == 4 || bits == 8;
        return bits == 8 && f.photometric == PHOTOMETRIC_MINISBLACK;
    case 3:
        return bits == 8 && f.photometric == PHOTOMETRIC_RGB;
    case 4:
        return bits == 8 && f.photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK;
    default:
        return false;
    }
}

} // namespace

platform::IccProfile suitedIccProfile(TIFF* tif) {
    uint32_t size = 0;
    void* bytes = nullptr;
    if (tif == nullptr || TIFFGetField(tif, TIFFTAG_ICCPROFILE, &size, &bytes) != 1 ||
        bytes == nullptr)
        return {};
    const DirectoryFields f = readFields(tif);
    auto wanted = platform::ProfileColours::Unusable;
    if (f.bitsPerSample > 1) {
        switch (f.photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            wanted = platform::ProfileColours::Grey;
            break;
        case PHOTOMETRIC_RGB:
        case PHOTOMETRIC_PALETTE:
        case PHOTOMETRIC_YCBCR:
            wanted = platform::ProfileColours::Rgb;
            break;
        default:
            break;
        }
    }
    const auto* profile = static_cast<const uint8_t*>(bytes);
    if (wanted == platform::ProfileColours::Unusable ||
        platform::iccProfileColours(profile, size) != wanted)
        return {};
    return {profile, size};
}

bool pageFitsBitmapLimit(int64_t width, int64_t height, uint32_t bitsPerPixel) {
    constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return false;
    // Refusing a page whose 24-bit form is too large here spares decoding rows (a few
    // hundred megabytes at 1 bit) that could never be written.
    const uint64_t depth = std::max<uint32_t>(bitsPerPixel, 24);
    const auto bytes = checkedMul<uint64_t>(paddedRowBytes(static_cast<uint64_t>(width), depth),
                                            static_cast<uint64_t>(height));
    return bytes && *bytes <= kMaxBitmapBytes;
}

int32_t setBitmapGeometry(ImageRecord& bitmap, int32_t width, int32_t height,
                          uint32_t bitsPerPixel) {
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bitsPerPixel = bitsPerPixel;
    bitmap.imageSize = 0;
    bitmap.compression = 0;
    bitmap.pixels = nullptr;
    return allocateBitmap(&bitmap, BitmapMode::HeaderOnly);
}

int32_t buildTiffPalette(TIFF* tif, ImageRecord& bitmap, uint32_t bitsPerPixel,
                         uint16_t bitsPerSample, const uint16_t* red, const uint16_t* green,
                         const uint16_t* blue) {
    if (bitmap.palette == nullptr)
        return kFailed;
    const uint32_t room =
        bitmap.paletteEntries > 0 ? static_cast<uint32_t>(bitmap.paletteEntries) : 0;
    uint8_t* palette = bitmap.palette;

    if (bitsPerPixel == 1) {
        uint16_t photometric = 0;
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        const bool whiteFirst =
            photometric == PHOTOMETRIC_MINISWHITE || compression == COMPRESSION_CCITTRLE ||
            compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4 ||
            compression == COMPRESSION_CCITTRLEW;
        if (room >= 2) {
            std::memcpy(palette, whiteFirst ? kWhite : kBlack, 4);
            std::memcpy(palette + 4, whiteFirst ? kBlack : kWhite, 4);
        }
        return 0;
    }
    if (bitsPerPixel > 8)
        return 0;

    // A map of 2^bitsPerSample entries, bounded by the palette's room.
    const uint32_t mapEntries = bitsPerSample < 16 ? uint32_t{1} << bitsPerSample : 65536;
    const uint32_t count = std::min(mapEntries, room);
    if (red == nullptr && green == nullptr && blue == nullptr) {
        for (uint32_t k = 0; k < count; ++k) {
            const auto level = static_cast<uint8_t>(k);
            uint8_t* entry = palette + 4 * k;
            entry[0] = entry[1] = entry[2] = level;
            entry[3] = 0;
        }
        return 0;
    }
    const int depth = colormapDepth(tif, count, red, green, blue);
    if (depth < 1)
        return kPageUnreadable;
    for (uint32_t k = 0; k < count; ++k) {
        uint8_t* entry = palette + 4 * k;
        if (depth == 16) {
            entry[0] = static_cast<uint8_t>(uint32_t{blue[k]} * 255 / 65535);
            entry[1] = static_cast<uint8_t>(uint32_t{green[k]} * 255 / 65535);
            entry[2] = static_cast<uint8_t>(uint32_t{red[k]} * 255 / 65535);
        } else {
            entry[0] = static_cast<uint8_t>(blue[k]);
            entry[1] = static_cast<uint8_t>(green[k]);
            entry[2] = static_cast<uint8_t>(red[k]);
        }
        entry[3] = 0;
    }
    return 0;
}

int32_t readRgbaPage(ImageRecord& bitmap, uint8_t* buffer, TIFF* tif) {
    if (bitmap.bitsPerPixel != 24 || bitmap.width <= 0 || bitmap.height <= 0 || buffer == nullptr)
        return kFailed;
    const auto width = static_cast<uint32_t>(bitmap.width);
    const auto height = static_cast<uint32_t>(bitmap.height);
    const uint64_t rowBytes = paddedRowBytes(width, 24);
    if (static_cast<uint64_t>(bitmap.bytesPerRow) < rowBytes ||
        uint64_t{bitmap.imageSize} < rowBytes * height)
        return kFailed;
    const auto pixelCount = checkedMul<uint64_t>(width, height);
    if (!pixelCount || *pixelCount > kMaxBitmapBytes / 4)
        return kFailed;
    std::unique_ptr<uint32_t, RasterFree> raster(
        static_cast<uint32_t*>(_TIFFmalloc(static_cast<tmsize_t>(*pixelCount * 4))));
    if (raster == nullptr)
        return kFailed;
    uint16_t photometric = 0;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const AlphaRule rule = alphaRuleOf(tif, photometric);
    if (!renderStoredOrder(tif, width, height, raster.get()))
        return kPageUnreadable;

    // The raster starts at the top row, the bitmap at the bottom one.
    const uint32_t* word = raster.get();
    for (uint32_t i = 0; i < height; ++i) {
        uint8_t* out =
            buffer + uint64_t{height - 1 - i} * static_cast<uint32_t>(bitmap.bytesPerRow);
        for (uint32_t j = 0; j < width; ++j, ++word, out += 3) {
            const uint32_t w = *word;
            const uint32_t alpha = w >> 24;
            if (rule == AlphaRule::Opaque || alpha == 255) {
                out[0] = static_cast<uint8_t>(w >> 16);
                out[1] = static_cast<uint8_t>(w >> 8);
                out[2] = static_cast<uint8_t>(w);
            } else {
                out[0] = onWhite((w >> 16) & 255, alpha, rule);
                out[1] = onWhite((w >> 8) & 255, alpha, rule);
                out[2] = onWhite(w & 255, alpha, rule);
            }
        }
    }
    return 0;
}

namespace {

int32_t decodeDirectoryAs(ImageRecord& bitmap, TIFF* tif, PageBufferSource& buffers,
                          bool rowByRow) {
    const DirectoryFields f = readFields(tif);
    const uint32_t bitsPerPixel = rowByRow ? uint32_t{f.bitsPerSample} * f.samplesPerPixel : 24;

    bitmap.resolutionUnit =
        f.resolutionUnit >= RESUNIT_NONE && f.resolutionUnit <= RESUNIT_CENTIMETER
            ? f.resolutionUnit
            : 0;
    bitmap.xResolution = f.xResolution;
    bitmap.yResolution = f.yResolution;
    bitmap.photometric = static_cast<int16_t>(f.photometric);
    bitmap.orientation = f.orientation;

    // Sizes come from the file: refuse what no bitmap may hold before anything is built.
    if (!pageFitsBitmapLimit(f.width, f.height, bitsPerPixel))
        return kFailed;

    if (int32_t status = setBitmapGeometry(bitmap, static_cast<int32_t>(f.width),
                                           static_cast<int32_t>(f.height), bitsPerPixel);
        status != 0)
        return status;
    if (int32_t status = buildTiffPalette(tif, bitmap, bitmap.bitsPerPixel, f.bitsPerSample, f.red,
                                          f.green, f.blue);
        status != 0)
        return status;

    uint8_t* buffer = buffers.pageBufferOf(bitmap.imageSize);
    if (buffer == nullptr)
        return kFailed;
    bitmap.pixels = buffer;
    if (!rowByRow)
        return readRgbaPage(bitmap, buffer, tif);

    const auto bytesPerRow = static_cast<uint32_t>(bitmap.bytesPerRow);
    const tmsize_t scanline = TIFFScanlineSize(tif);
    if (scanline <= 0 || static_cast<uint64_t>(scanline) > bytesPerRow)
        return kFailed;
    for (uint32_t r = 0; r < f.height; ++r) {
        uint8_t* row = buffer + uint64_t{f.height - 1 - r} * bytesPerRow;
        if (TIFFReadScanline(tif, row, r, 0) < 0)
            return kScanlineFailed;
        if (bitsPerPixel == 24)
            swapRedBlue(row, f.width);
    }
    return 0;
}

bool reachDirectory(TIFF* tif, DirectoryPlace place) {
    if (place.offset != 0)
        return TIFFSetSubDirectory(tif, place.offset) == 1;
    return place.index >= 0 && TIFFSetDirectory(tif, static_cast<tdir_t>(place.index)) == 1;
}

// The page's pixels as libtiff judges them: what it said about the directory is left out.
int32_t decodeWithVerdict(ImageRecord& bitmap, TIFF* tif, LibtiffMessages& messages,
                          PageBufferSource& buffers) {
    messages = {};
    int32_t status = decodeTiffDirectory(bitmap, tif, buffers);
    if (status == kScanlineFailed && messages.errors == 0) {
        // A damaged fax line stops the row decoder where libtiff's renderer carries on;
        // the page is built again from scratch as a 24-bit bitmap.
        const DeviceContext context = bitmap.deviceContext;
        releaseImageRecord(&bitmap);
        initImageRecord(context, &bitmap);
        status = decodeDirectoryAs(bitmap, tif, buffers, false);
    }
    // A decoder's own failure keeps its code; a page libtiff decoded over its errors fails here.
    return status == 0 && messages.errors != 0 ? kPageUnreadable : status;
}

} // namespace

int32_t decodeTiffDirectory(ImageRecord& bitmap, TIFF* tif, PageBufferSource& buffers) {
    return decodeDirectoryAs(bitmap, tif, buffers, readsRowByRow(tif));
}

int32_t readTiffPage(ImageRecord& bitmap, const TiffHandle& tif, DirectoryPlace place,
                     PageBufferSource& buffers) {
    int32_t status = 0;
    if (tif == nullptr)
        status = kTiffOpenFailed;
    else if (!reachDirectory(tif.get(), place))
        status = kFailed;
    else if (LibtiffMessages* messages = tif.get_deleter().messages.get(); messages != nullptr)
        status = decodeWithVerdict(bitmap, tif.get(), *messages, buffers);
    else
        status = decodeTiffDirectory(bitmap, tif.get(), buffers);
    if (status != 0)
        releaseImageRecord(&bitmap);
    return status;
}

} // namespace readers
