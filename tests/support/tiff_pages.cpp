#include "tests/support/tiff_pages.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <tiffio.h>

#include "core/clear_record.h"
#include "tests/support/jpeg_decode.h"

namespace testsupport {

namespace {

struct Closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Handle = std::unique_ptr<TIFF, Closer>;

// Bytes of sample `s` of pixel `x` in an interleaved row of samples of `bits` >= 8.
void copySample(const uint8_t* row, uint32_t x, uint16_t s, const PageLayout& page, uint8_t* out) {
    const size_t bytes = page.bitsPerSample / 8;
    std::memcpy(out, row + (size_t(x) * page.samplesPerPixel + s) * bytes, bytes);
}

bool writeStrips(TIFF* tif, const PageLayout& page) {
    const size_t rowBytes = pixelRowBytes(page);
    if (page.planar == PLANARCONFIG_SEPARATE) {
        const size_t sampleBytes = page.bitsPerSample / 8;
        std::vector<uint8_t> plane(size_t(page.width) * sampleBytes);
        for (uint16_t s = 0; s < page.samplesPerPixel; ++s) {
            for (uint32_t y = 0; y < page.height; ++y) {
                const uint8_t* row = page.pixels.data() + y * rowBytes;
                for (uint32_t x = 0; x < page.width; ++x)
                    copySample(row, x, s, page, plane.data() + x * sampleBytes);
                if (TIFFWriteScanline(tif, plane.data(), y, s) < 0)
                    return false;
            }
        }
        return true;
    }
    std::vector<uint8_t> row(rowBytes);
    for (uint32_t y = 0; y < page.height; ++y) {
        std::memcpy(row.data(), page.pixels.data() + y * rowBytes, rowBytes);
        if (TIFFWriteScanline(tif, row.data(), y, 0) < 0)
            return false;
    }
    return true;
}

bool writeTiles(TIFF* tif, const PageLayout& page) {
    // Samples stored apart: one tile per sample plane, each holding that sample alone.
    const bool separate = page.planar == PLANARCONFIG_SEPARATE;
    const uint16_t planes = separate ? page.samplesPerPixel : 1;
    const size_t sampleBytes = page.bitsPerSample / 8;
    const size_t pixelBytes = size_t(page.samplesPerPixel) * sampleBytes;
    const size_t tileBytes = separate ? sampleBytes : pixelBytes;
    const size_t rowBytes = pixelRowBytes(page);
    std::vector<uint8_t> tile(size_t(page.tileWidth) * page.tileLength * tileBytes);
    for (uint16_t plane = 0; plane < planes; ++plane) {
        for (uint32_t ty = 0; ty < page.height; ty += page.tileLength) {
            for (uint32_t tx = 0; tx < page.width; tx += page.tileWidth) {
                std::fill(tile.begin(), tile.end(), 0);
                const uint32_t columns = std::min(page.tileWidth, page.width - tx);
                for (uint32_t y = 0; y < page.tileLength && ty + y < page.height; ++y) {
                    const uint8_t* from = page.pixels.data() + (ty + y) * rowBytes;
                    uint8_t* to = tile.data() + y * page.tileWidth * tileBytes;
                    if (!separate)
                        std::memcpy(to, from + tx * pixelBytes, columns * pixelBytes);
                    for (uint32_t x = 0; separate && x < columns; ++x)
                        copySample(from, tx + x, plane, page, to + x * sampleBytes);
                }
                if (TIFFWriteTile(tif, tile.data(), tx, ty, 0, plane) < 0)
                    return false;
            }
        }
    }
    return true;
}

bool writePage(TIFF* tif, const PageLayout& page) {
    if (page.pixels.size() != pixelRowBytes(page) * page.height)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.bitsPerSample);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.samplesPerPixel);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, page.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, page.planar);
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, page.compression))
        return false;
    if (page.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, page.jpegQuality);
        if (page.photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (!page.extraSamples.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(page.extraSamples.size()),
                     page.extraSamples.data());
    if (!page.colorMap.empty()) {
        const size_t n = page.colorMap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, page.colorMap.data(), page.colorMap.data() + n,
                     page.colorMap.data() + 2 * n);
    }
    if (page.inkSet)
        TIFFSetField(tif, TIFFTAG_INKSET, *page.inkSet);
    if (page.xResolution)
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(*page.xResolution));
    if (page.yResolution)
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(*page.yResolution));
    if (page.resolutionUnit)
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, *page.resolutionUnit);
    if (!page.iccProfile.empty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(page.iccProfile.size()),
                     page.iccProfile.data());
    if (page.orientation)
        TIFFSetField(tif, TIFFTAG_ORIENTATION, *page.orientation);

    bool written;
    if (page.tileWidth != 0 && page.tileLength != 0) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, page.tileWidth);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, page.tileLength);
        written = writeTiles(tif, page);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                     page.rowsPerStrip != 0 ? page.rowsPerStrip : page.height);
        written = writeStrips(tif, page);
    }
    return written && TIFFWriteDirectory(tif) == 1;
}

uint8_t clampInk(int value) { return static_cast<uint8_t>(std::max(value, 0)); }

// libtiff's rendering of directory `index` as RGB, top row first; empty on failure.
std::vector<uint8_t> tiffRgb(const std::string& path, int index, int& width, int& height) {
    // Mapped: libtiff 4.5 reads small uncompressed tiles only from a mapped file (or a
    // read buffer of exactly one tile).
    Handle tif(TIFFOpen(path.c_str(), "r"));
    if (tif == nullptr || TIFFSetDirectory(tif.get(), static_cast<tdir_t>(index)) != 1)
        return {};
    uint32_t w = 0, h = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint32_t> raster(size_t(w) * h);
    if (TIFFReadRGBAImage(tif.get(), w, h, raster.data(), 0) != 1)
        return {};
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < raster.size(); ++i) {
        const uint32_t pixel = raster[(h - 1 - i / w) * w + i % w]; // the raster is bottom-up
        rgb.insert(rgb.end(),
                   {uint8_t(TIFFGetR(pixel)), uint8_t(TIFFGetG(pixel)), uint8_t(TIFFGetB(pixel))});
    }
    return rgb;
}

} // namespace

size_t pixelRowBytes(const PageLayout& page) {
    return (size_t(page.width) * page.samplesPerPixel * page.bitsPerSample + 7) / 8;
}

std::vector<uint8_t> patternPixels(const PageLayout& page, uint32_t seed) {
    std::vector<uint8_t> pixels(pixelRowBytes(page) * page.height);
    uint32_t state = seed * 2654435761u + 12345u;
    for (uint8_t& b : pixels) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return pixels;
}

PageLayout greyPage(uint32_t width, uint32_t height, uint32_t seed, uint16_t compression) {
    PageLayout p;
    p.width = width;
    p.height = height;
    p.compression = compression;
    p.pixels = patternPixels(p, seed);
    return p;
}

PageLayout rgbPage(uint32_t width, uint32_t height, uint32_t seed, uint16_t compression) {
    PageLayout p;
    p.width = width;
    p.height = height;
    p.samplesPerPixel = 3;
    p.photometric = 2;
    p.compression = compression;
    p.pixels = patternPixels(p, seed);
    return p;
}

PageLayout smooth(PageLayout page) {
    page.pixels = gradientPixels(page);
    return page;
}

std::vector<uint8_t> gradientPixels(const PageLayout& page) {
    std::vector<uint8_t> pixels(pixelRowBytes(page) * page.height);
    const uint32_t samples = page.samplesPerPixel;
    for (uint32_t y = 0; y < page.height; ++y) {
        for (uint32_t x = 0; x < page.width; ++x) {
            for (uint32_t s = 0; s < samples; ++s) {
                const uint32_t value = s % 3 == 0   ? x * 255 / std::max(page.width - 1, 1u)
                                       : s % 3 == 1 ? y * 255 / std::max(page.height - 1, 1u)
                                                    : 128 + (x + y) % 64;
                pixels[(size_t(y) * page.width + x) * samples + s] = static_cast<uint8_t>(value);
            }
        }
    }
    return pixels;
}

bool writeTiffPages(const std::string& path, const std::vector<PageLayout>& pages, bool bigEndian,
                    bool bigTiff) {
    const std::string mode = std::string("w") + (bigEndian ? "b" : "l") + (bigTiff ? "8" : "");
    Handle tif(TIFFOpen(path.c_str(), mode.c_str()));
    if (tif == nullptr)
        return false;
    for (const PageLayout& page : pages) {
        if (!writePage(tif.get(), page))
            return false;
    }
    return true;
}

bool writeClaimingPage(const std::string& path, uint32_t width, uint32_t height, uint16_t bits,
                       uint16_t samples, uint16_t photometric) {
    Handle tif(TIFFOpen(path.c_str(), "w"));
    if (tif == nullptr)
        return false;
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_DEFLATE);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, height);
    uint8_t strip[16] = {};
    return TIFFWriteRawStrip(tif.get(), 0, strip, sizeof strip) == sizeof strip &&
           TIFFWriteDirectory(tif.get()) == 1;
}

std::vector<uint32_t> tiffStripOffsets(const std::string& path, int index) {
    Handle tif(TIFFOpen(path.c_str(), "rm"));
    if (tif == nullptr || TIFFSetDirectory(tif.get(), static_cast<tdir_t>(index)) != 1)
        return {};
    std::vector<uint32_t> offsets;
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif.get()); ++s)
        offsets.push_back(static_cast<uint32_t>(TIFFGetStrileOffset(tif.get(), s)));
    return offsets;
}

std::vector<uint32_t> tiffDirectoryOffsets(const std::string& path) {
    std::vector<uint32_t> offsets;
    Handle tif(TIFFOpen(path.c_str(), "rm"));
    if (tif == nullptr)
        return offsets;
    do {
        offsets.push_back(static_cast<uint32_t>(TIFFCurrentDirOffset(tif.get())));
    } while (TIFFReadDirectory(tif.get()) == 1);
    return offsets;
}

ImageRecord tiffPageRecord(const std::string& path, int index) {
    ImageRecord page;
    clearRecord(page);
    Handle tif(TIFFOpen(path.c_str(), "rm"));
    if (tif == nullptr || TIFFSetDirectory(tif.get(), static_cast<tdir_t>(index)) != 1)
        return page;
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, compression = 1;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    page.fileKind = kFileKindTiff;
    page.width = static_cast<int32_t>(width);
    page.height = static_cast<int32_t>(height);
    page.bitsPerPixel = uint32_t{bits} * samples;
    page.compression = compression;
    page.directoryIndex = index;
    page.pageNumber = index;
    page.pageCount = static_cast<int32_t>(TIFFNumberOfDirectories(tif.get()));
    page.directoryOffset = TIFFCurrentDirOffset(tif.get());
    return page;
}

Rgb bitmapPixel(const ImageRecord& bitmap, int x, int y) {
    const uint8_t* row = bitmap.pixels + size_t(bitmap.height - 1 - y) * bitmap.bytesPerRow;
    auto fromPalette = [&](uint32_t index) {
        const uint8_t* entry = bitmap.palette + 4 * index;
        return Rgb{entry[2], entry[1], entry[0]};
    };
    switch (bitmap.bitsPerPixel) {
    case 1: {
        const bool set = (row[x / 8] >> (7 - x % 8)) & 1;
        if (bitmap.photometric == 3)
            return fromPalette(set ? 0 : 1);
        const bool white = bitmap.photometric == 0 ? !set : set;
        return white ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    }
    case 2:
        return fromPalette((row[x / 4] >> (6 - 2 * (x % 4))) & 3);
    case 4:
        return fromPalette((row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15);
    case 8:
        return fromPalette(row[x]);
    case 24:
        return Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    case 32: {
        const uint8_t* p = row + 4 * x;
        return Rgb{clampInk(255 - p[0] - p[3]), clampInk(255 - p[1] - p[3]),
                   clampInk(255 - p[2] - p[3])};
    }
    default:
        return Rgb{0, 0, 0};
    }
}

testing::AssertionResult looksLikeLibtiff(int width, int height, const std::vector<uint8_t>& rgb,
                                          const std::string& path, int index, int sampleTolerance,
                                          double meanTolerance) {
    int referenceWidth = 0, referenceHeight = 0;
    const std::vector<uint8_t> reference = tiffRgb(path, index, referenceWidth, referenceHeight);
    if (reference.empty() || width != referenceWidth || height != referenceHeight ||
        rgb.size() != reference.size())
        return testing::AssertionFailure() << width << " x " << height << ", libtiff renders "
                                           << referenceWidth << " x " << referenceHeight;
    for (size_t i = 0; i < rgb.size(); ++i) {
        if (std::abs(int(rgb[i]) - int(reference[i])) > sampleTolerance) {
            const size_t pixel = i / 3;
            return testing::AssertionFailure()
                   << "pixel (" << pixel % width << ", " << pixel / width << ") channel " << i % 3
                   << ": " << int(rgb[i]) << ", libtiff " << int(reference[i]);
        }
    }
    const std::array<double, 3> mean = meanAbsoluteError(rgb, reference, width, height);
    for (int c = 0; c < 3; ++c) {
        if (mean[c] > meanTolerance)
            return testing::AssertionFailure()
                   << "channel " << c << " is off by " << mean[c] << " on average";
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult looksLikeLibtiff(const ImageRecord& bitmap, const std::string& path,
                                          int index, int sampleTolerance) {
    if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.pixels == nullptr)
        return testing::AssertionFailure() << "no bitmap";
    std::vector<uint8_t> rgb;
    for (int y = 0; y < bitmap.height; ++y) {
        for (int x = 0; x < bitmap.width; ++x) {
            const Rgb pixel = bitmapPixel(bitmap, x, y);
            rgb.insert(rgb.end(), {pixel.red, pixel.green, pixel.blue});
        }
    }
    return looksLikeLibtiff(bitmap.width, bitmap.height, rgb, path, index, sampleTolerance,
                            sampleTolerance);
}

} // namespace testsupport
