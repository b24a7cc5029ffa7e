// Writes pixel pages with libtiff's own writer, so tests decode files that a real
// producer made; and judges what pelc made of a page against libtiff's own rendering of it.
//
//   PageLayout page;                      // 8-bit grey, one strip
//   page.width = 16; page.height = 4;
//   page.pixels = patternPixels(page);
//   ASSERT_TRUE(writeTiffPages(path, {page, page}));
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/image_record.h"

namespace testsupport {

struct PageLayout {
    uint32_t width = 8;
    uint32_t height = 8;
    uint16_t bitsPerSample = 8;
    uint16_t samplesPerPixel = 1;
    uint16_t photometric = 1;  // BlackIsZero
    uint16_t compression = 1;  // none
    uint16_t planar = 1;       // samples together
    uint32_t rowsPerStrip = 0; // 0: the whole page in one strip
    uint32_t tileWidth = 0;    // both non-zero: stored in tiles (multiples of 16)
    uint32_t tileLength = 0;
    std::vector<uint16_t> extraSamples; // ExtraSamples values, when not empty
    std::vector<uint16_t> colorMap;     // red, then green, then blue: 2^bits entries each
    std::optional<uint16_t> inkSet;
    std::optional<float> xResolution;
    std::optional<float> yResolution;
    std::optional<uint16_t> resolutionUnit;
    std::optional<uint16_t> orientation;
    int jpegQuality = 95;
    std::vector<uint8_t> iccProfile; // ICCProfile (34675) bytes, when not empty
    // Top row first, samples interleaved, each row ceil(width * samples * bits / 8) bytes;
    // 16-bit samples as host-order words. For photometric 6 (YCbCr) with JPEG: RGB rows.
    std::vector<uint8_t> pixels;
};

/// Bytes of one row of `page.pixels`.
size_t pixelRowBytes(const PageLayout& page);
/// Pseudo-random bytes for every row (any value is a valid sample or index).
std::vector<uint8_t> patternPixels(const PageLayout& page, uint32_t seed = 1);
/// Smooth ramps (8-bit samples only), for lossy compression checked within a tolerance.
std::vector<uint8_t> gradientPixels(const PageLayout& page);

/// An 8-bit grey page of `width` x `height`, one strip, pattern pixels from `seed`.
PageLayout greyPage(uint32_t width, uint32_t height, uint32_t seed = 1, uint16_t compression = 1);
/// The same as 24-bit RGB.
PageLayout rgbPage(uint32_t width, uint32_t height, uint32_t seed = 1, uint16_t compression = 1);
/// `page` with gradientPixels in place of its own.
PageLayout smooth(PageLayout page);

/// Writes the pages in order with TIFFOpen(path, "w"), in big- or little-endian order, as
/// BigTIFF ("w8") when asked. False when libtiff refuses a page.
bool writeTiffPages(const std::string& path, const std::vector<PageLayout>& pages,
                    bool bigEndian = false, bool bigTiff = false);
/// One page that claims `width` x `height` but holds one tiny Deflate strip: its tags
/// promise a huge bitmap while the file costs nothing. False when libtiff refuses it.
bool writeClaimingPage(const std::string& path, uint32_t width, uint32_t height, uint16_t bits,
                       uint16_t samples, uint16_t photometric);
/// Directory offsets of the file's pages in chain order, as libtiff finds them.
std::vector<uint32_t> tiffDirectoryOffsets(const std::string& path);
/// A page description of directory `index`, as the page list holds it: geometry, depth
/// (bits per sample times samples), compression, file kind 12, directory index and offset.
ImageRecord tiffPageRecord(const std::string& path, int index);
/// File offsets of the strips of directory `index`, or empty.
std::vector<uint32_t> tiffStripOffsets(const std::string& path, int index);

struct Rgb {
    uint8_t red, green, blue;
    bool operator==(const Rgb&) const = default;
};
/// The colour a decoded bitmap shows at (x, y), y = 0 the top row: 1 bit by photometric
/// (0: set bits black; 3: palette, set bit entry 0; else set bits white), 2/4/8 bits
/// through the palette, 24 bits blue-green-red, 32 bits as CMYK (255 - ink - black, >= 0).
Rgb bitmapPixel(const ImageRecord& bitmap, int x, int y);

/// Compares a picture of `width` x `height`, RGB with the top row first (as
/// DecodedJpeg::rgb), with libtiff's own rendering of directory `index` of `path`: the same
/// size, no sample more than `sampleTolerance` off, no channel's mean error over `meanTolerance`.
testing::AssertionResult looksLikeLibtiff(int width, int height, const std::vector<uint8_t>& rgb,
                                          const std::string& path, int index, int sampleTolerance,
                                          double meanTolerance);
/// The same for a decoded bitmap, its pixels read as bitmapPixel shows them.
testing::AssertionResult looksLikeLibtiff(const ImageRecord& bitmap, const std::string& path,
                                          int index, int sampleTolerance = 0);

} // namespace testsupport
