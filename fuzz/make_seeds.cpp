// Writes small TIFF files of every page kind pelc handles into a folder, as seeds for the
// fuzz targets: pages are tiny, so the fuzzer spends its time on structure, not on pixels.
// Usage: make_seeds FOLDER
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

namespace {

struct PageKind {
    const char* name;
    uint32_t width;
    uint32_t height;
    uint16_t bitsPerSample;
    uint16_t samplesPerPixel;
    uint16_t compression;
    uint16_t photometric;
    bool palette;
    bool tiled;
    bool separatePlanes;
    bool resolution;
};

// Pixel values follow a simple pattern so every codec has runs and changes to encode.
uint8_t patternByte(uint32_t x, uint32_t y, uint32_t sample) {
    return static_cast<uint8_t>((x * 37 + y * 11 + sample * 85) ^ (x * y));
}

bool writePixels(TIFF* tif, const PageKind& kind) {
    if (kind.tiled) {
        const tmsize_t tileBytes = TIFFTileSize(tif);
        std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
        for (size_t i = 0; i < tile.size(); ++i)
            tile[i] = patternByte(static_cast<uint32_t>(i), static_cast<uint32_t>(i / 7), 0);
        const uint32_t tiles = TIFFNumberOfTiles(tif);
        for (uint32_t t = 0; t < tiles; ++t) {
            if (TIFFWriteEncodedTile(tif, t, tile.data(), tileBytes) < 0)
                return false;
        }
        return true;
    }
    const tmsize_t rowBytes = TIFFScanlineSize(tif);
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    const uint16_t planes = kind.separatePlanes ? kind.samplesPerPixel : 1;
    for (uint16_t plane = 0; plane < planes; ++plane) {
        for (uint32_t y = 0; y < kind.height; ++y) {
            for (size_t x = 0; x < row.size(); ++x)
                row[x] = patternByte(static_cast<uint32_t>(x), y, plane);
            if (TIFFWriteScanline(tif, row.data(), y, plane) < 0)
                return false;
        }
    }
    return true;
}

bool writePage(TIFF* tif, const PageKind& kind, uint16_t pageNumber, uint16_t pageTotal) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kind.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kind.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, kind.bitsPerSample);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, kind.samplesPerPixel);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, kind.compression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, kind.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 kind.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    if (pageTotal > 0)
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, pageNumber, pageTotal);
    if (kind.resolution) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 200.0f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 100.0f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    if (kind.samplesPerPixel == 4 && kind.photometric == PHOTOMETRIC_RGB) {
        const uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (kind.compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 50);
        if (kind.photometric == PHOTOMETRIC_YCBCR)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    if (kind.compression == COMPRESSION_LZW || kind.compression == COMPRESSION_ADOBE_DEFLATE)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, kind.bitsPerSample == 8 ? 2 : 1);
    if (kind.palette) {
        const size_t entries = size_t{1} << kind.bitsPerSample;
        std::vector<uint16_t> red(entries), green(entries), blue(entries);
        for (size_t i = 0; i < entries; ++i) {
            red[i] = static_cast<uint16_t>(i * 65535 / (entries - 1));
            green[i] = static_cast<uint16_t>(65535 - red[i]);
            blue[i] = static_cast<uint16_t>((i * 4099) & 0xffff);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    if (kind.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
    } else {
        // JPEG strips hold whole MCU rows; the others get several strips to walk.
        const uint32_t rows = kind.compression == COMPRESSION_JPEG ? kind.height
                              : kind.height > 8                    ? kind.height / 3
                                                                   : 1;
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
    }
    return writePixels(tif, kind) && TIFFWriteDirectory(tif) != 0;
}

const PageKind kKinds[] = {
    {"fax_g4", 64, 40, 1, 1, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, false, false, false,
     true},
    {"fax_g3", 64, 40, 1, 1, COMPRESSION_CCITTFAX3, PHOTOMETRIC_MINISWHITE, false, false, false,
     true},
    {"fax_rle", 33, 17, 1, 1, COMPRESSION_CCITTRLE, PHOTOMETRIC_MINISWHITE, false, false, false,
     false},
    {"bilevel_black", 37, 9, 1, 1, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, false, false, false,
     false},
    {"bilevel_packbits", 40, 12, 1, 1, COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, false, false,
     false, true},
    {"gray2", 13, 7, 2, 1, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, false, false, false, false},
    {"gray4", 15, 9, 4, 1, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, false, false, false, false},
    {"palette4", 17, 11, 4, 1, COMPRESSION_PACKBITS, PHOTOMETRIC_PALETTE, true, false, false,
     false},
    {"gray8_lzw", 31, 13, 8, 1, COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, false, false, false, true},
    {"palette8", 19, 10, 8, 1, COMPRESSION_NONE, PHOTOMETRIC_PALETTE, true, false, false, false},
    {"gray16", 11, 6, 16, 1, COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, false, false, false, false},
    {"rgb_none", 21, 14, 8, 3, COMPRESSION_NONE, PHOTOMETRIC_RGB, false, false, false, true},
    {"rgb_lzw", 25, 16, 8, 3, COMPRESSION_LZW, PHOTOMETRIC_RGB, false, false, false, false},
    {"rgb_deflate", 23, 12, 8, 3, COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, false, false, false,
     false},
    {"rgb_planar", 9, 8, 8, 3, COMPRESSION_NONE, PHOTOMETRIC_RGB, false, false, true, false},
    {"rgb_tiled", 40, 24, 8, 3, COMPRESSION_NONE, PHOTOMETRIC_RGB, false, true, false, false},
    {"rgb16", 7, 5, 16, 3, COMPRESSION_NONE, PHOTOMETRIC_RGB, false, false, false, false},
    {"rgba", 12, 9, 8, 4, COMPRESSION_NONE, PHOTOMETRIC_RGB, false, false, false, false},
    {"cmyk", 10, 6, 8, 4, COMPRESSION_NONE, PHOTOMETRIC_SEPARATED, false, false, false, false},
    {"ycbcr_jpeg", 32, 16, 8, 3, COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, false, false, false, true},
    {"gray_jpeg", 24, 16, 8, 1, COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, false, false, false,
     false},
};

// Writes `kinds` as the pages of one file; "b" or "l" in `mode` picks the byte order.
bool writeFile(const std::string& path, const char* mode, const std::vector<PageKind>& kinds,
               bool numbered, bool reversed) {
    TIFF* tif = TIFFOpen(path.c_str(), mode);
    if (tif == nullptr)
        return false;
    bool ok = true;
    const auto total = static_cast<uint16_t>(kinds.size());
    for (uint16_t i = 0; i < total && ok; ++i) {
        const uint16_t number = reversed ? static_cast<uint16_t>(total - 1 - i) : i;
        ok = writePage(tif, kinds[i], number, numbered ? total : 0);
    }
    TIFFClose(tif);
    return ok;
}

std::vector<uint8_t> encodeJpeg(uint32_t width, uint32_t height, int components) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 30, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(width * static_cast<uint32_t>(components));
    while (cinfo.next_scanline < height) {
        for (size_t x = 0; x < row.size(); ++x)
            row[x] = patternByte(static_cast<uint32_t>(x), cinfo.next_scanline, 0);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> stream(out, out + size);
    std::free(out);
    return stream;
}

// Old-style JPEG pages are written by hand: libtiff no longer writes them.
class OldJpegFile {
  public:
    explicit OldJpegFile(bool bigEndian) : big(bigEndian) {
        if (big) {
            bytes = {'M', 'M', 0, 42};
        } else {
            bytes = {'I', 'I', 42, 0};
        }
        put32(0); // first directory, patched by addPage
        nextField = 4;
    }

    enum class Layout { InterchangeOnly, StripsOnly, Both, TwoStrips };

    void addPage(Layout layout, uint16_t pageNumber, uint16_t pageTotal) {
        const uint32_t width = 24, height = 16;
        const std::vector<uint8_t> jpeg = encodeJpeg(width, height, 3);
        align();
        const auto jpegOffset = static_cast<uint32_t>(bytes.size());
        bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
        const auto length = static_cast<uint32_t>(jpeg.size());
        const uint32_t half = length / 2;

        std::vector<Entry> entries = {
            {254, kLong, 1, 2},  {256, kShort, 1, width},  {257, kShort, 1, height},
            {258, kShort, 1, 8}, {259, kShort, 1, 6},      {262, kShort, 1, 6},
            {277, kShort, 1, 3}, {278, kShort, 1, height},
        };
        uint32_t stripValues = 0, countValues = 0;
        if (layout == Layout::TwoStrips) {
            // Two strips: offsets and counts live outside the entries.
            align();
            stripValues = static_cast<uint32_t>(bytes.size());
            put32(jpegOffset);
            put32(jpegOffset + half);
            countValues = static_cast<uint32_t>(bytes.size());
            put32(half);
            put32(length - half);
        }
        switch (layout) {
        case Layout::InterchangeOnly:
            break;
        case Layout::StripsOnly:
        case Layout::Both:
            entries.push_back({273, kLong, 1, jpegOffset});
            entries.push_back({279, kLong, 1, length});
            break;
        case Layout::TwoStrips:
            entries.push_back({273, kLong, 2, stripValues});
            entries.push_back({279, kLong, 2, countValues});
            break;
        }
        entries.push_back({297, kShort, 2, pageNumber | static_cast<uint32_t>(pageTotal) << 16});
        entries.push_back({512, kShort, 1, 1});
        if (layout == Layout::InterchangeOnly || layout == Layout::Both) {
            entries.push_back({513, kLong, 1, jpegOffset});
            entries.push_back({514, kLong, 1, length});
        }

        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        align();
        const auto directory = static_cast<uint32_t>(bytes.size());
        patch32(nextField, directory);
        put16(static_cast<uint16_t>(entries.size()));
        for (const Entry& e : entries) {
            put16(e.tag);
            put16(e.type);
            put32(e.count);
            if (e.type == kShort && e.count == 2) {
                put16(static_cast<uint16_t>(e.value));
                put16(static_cast<uint16_t>(e.value >> 16));
            } else if (e.type == kShort) {
                put16(static_cast<uint16_t>(e.value));
                put16(0);
            } else {
                put32(e.value);
            }
        }
        nextField = bytes.size();
        put32(0);
    }

    bool save(const std::string& path) const {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr)
            return false;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return std::fclose(f) == 0 && ok;
    }

  private:
    static constexpr uint16_t kShort = 3;
    static constexpr uint16_t kLong = 4;
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        uint32_t value;
    };

    void align() {
        while (bytes.size() % 2 != 0)
            bytes.push_back(0);
    }
    void put16(uint16_t v) {
        const uint8_t hi = static_cast<uint8_t>(v >> 8), lo = static_cast<uint8_t>(v);
        bytes.push_back(big ? hi : lo);
        bytes.push_back(big ? lo : hi);
    }
    void put32(uint32_t v) {
        put16(static_cast<uint16_t>(big ? v >> 16 : v));
        put16(static_cast<uint16_t>(big ? v : v >> 16));
    }
    void patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            const int shift = big ? 24 - 8 * i : 8 * i;
            bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> shift);
        }
    }

    bool big;
    std::vector<uint8_t> bytes;
    size_t nextField;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    TIFFSetWarningHandler(nullptr);
    const std::string folder = argv[1];
    int failures = 0;
    auto check = [&](bool ok, const std::string& name) {
        if (!ok) {
            std::fprintf(stderr, "make_seeds: could not write %s\n", name.c_str());
            ++failures;
        }
    };

    for (const PageKind& kind : kKinds) {
        const std::string name = folder + "/seed_" + kind.name + ".tif";
        check(writeFile(name, "wl", {kind}, false, false), name);
    }
    // Both byte orders of the common scanner and fax pages.
    for (const char* name : {"fax_g4", "rgb_lzw", "palette8", "gray16"}) {
        for (const PageKind& kind : kKinds) {
            if (std::string(kind.name) == name) {
                const std::string path = folder + "/seed_" + name + "_be.tif";
                check(writeFile(path, "wb", {kind}, true, false), path);
            }
        }
    }
    // Multi-page files whose PageNumber runs backwards, so page order matters.
    const std::string mixed = folder + "/seed_mixed_reversed.tif";
    check(writeFile(mixed, "wl", {kKinds[0], kKinds[11], kKinds[9]}, true, true), mixed);
    const std::string mixedBig = folder + "/seed_mixed_reversed_be.tif";
    check(writeFile(mixedBig, "wb", {kKinds[8], kKinds[17], kKinds[4]}, true, true), mixedBig);
    // The same pages as BigTIFF: 8-byte offsets, 20-byte entries, LONG8 strip arrays.
    const std::string bigTiff = folder + "/seed_bigtiff_reversed.tif";
    check(writeFile(bigTiff, "wl8", {kKinds[0], kKinds[11], kKinds[9]}, true, true), bigTiff);
    const std::string bigTiffBig = folder + "/seed_bigtiff_reversed_be.tif";
    check(writeFile(bigTiffBig, "wb8", {kKinds[8], kKinds[17], kKinds[4]}, true, true), bigTiffBig);

    for (bool big : {false, true}) {
        const std::string suffix = big ? "_be.tif" : ".tif";
        using Layout = OldJpegFile::Layout;
        const struct {
            const char* name;
            std::vector<Layout> layouts;
        } oldJpegFiles[] = {
            {"ojpeg_interchange", {Layout::InterchangeOnly}},
            {"ojpeg_strips", {Layout::StripsOnly}},
            {"ojpeg_two_strips", {Layout::TwoStrips}},
            {"ojpeg_three_pages", {Layout::Both, Layout::InterchangeOnly, Layout::TwoStrips}},
        };
        for (const auto& f : oldJpegFiles) {
            OldJpegFile file(big);
            const auto total = static_cast<uint16_t>(f.layouts.size());
            for (uint16_t i = 0; i < total; ++i)
                file.addPage(f.layouts[i], static_cast<uint16_t>(total - 1 - i), total);
            const std::string path = folder + "/seed_" + f.name + suffix;
            check(file.save(path), path);
        }
    }
    return failures == 0 ? 0 : 1;
}
