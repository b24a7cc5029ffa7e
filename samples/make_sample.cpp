// Builds samples/sample.tif: a fax page (bilevel, CCITT G4), a colour page (RGB, LZW) and an
// old-style JPEG page (Compression 6), as scanners and fax servers produce them.
// Build and run: g++ -std=c++20 make_sample.cpp -ltiff -ljpeg -o make_sample && ./make_sample
// out.tif
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

namespace {

void writeFaxPage(TIFF* tif) {
    const uint32_t width = 1728, height = 1100;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 200.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 200.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, 0, 3);
    std::vector<uint8_t> row(width / 8);
    for (uint32_t y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        // Lines of "text": short black runs on every other band of 24 rows, and a frame.
        const bool textBand = (y / 24) % 2 == 1 && y % 24 < 16 && y > 100 && y < 1000;
        for (uint32_t x = 0; x < width; ++x) {
            const bool frame = x < 40 || x >= width - 40 || y < 40 || y >= height - 40;
            const bool glyph = textBand && x > 120 && x < 1600 && ((x * 7 + y / 24 * 13) % 37) < 11;
            if ((frame && (x % 40 < 4 || y % 40 < 4)) || glyph)
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFWriteDirectory(tif);
}

void writeColourPage(TIFF* tif) {
    const uint32_t width = 480, height = 360;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 150.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 150.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, 1, 3);
    std::vector<uint8_t> row(width * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const bool disc = (x - 240) * (x - 240) + (y - 180) * (y - 180) < 100 * 100;
            row[3 * x] = static_cast<uint8_t>(disc ? 230 : x * 255 / width);
            row[3 * x + 1] = static_cast<uint8_t>(disc ? 40 : y * 255 / height);
            row[3 * x + 2] = static_cast<uint8_t>(disc ? 40 : 128);
        }
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFWriteDirectory(tif);
}

std::vector<uint8_t> encodeJpeg(uint32_t width, uint32_t height) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 80, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(width * 3);
    while (cinfo.next_scanline < height) {
        const uint32_t y = cinfo.next_scanline;
        for (uint32_t x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(40 + (x ^ y) % 64);
            row[3 * x + 1] = static_cast<uint8_t>(90 + y * 120 / height);
            row[3 * x + 2] = static_cast<uint8_t>(200 - x * 150 / width);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> stream(out, out + size);
    free(out);
    return stream;
}

void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t get16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// Appends an old-style JPEG directory whose interchange block is the whole single strip.
void appendOldStyleJpegPage(const char* path) {
    FILE* f = std::fopen(path, "rb");
    std::vector<uint8_t> file;
    for (int c; (c = std::fgetc(f)) != EOF;)
        file.push_back(static_cast<uint8_t>(c));
    std::fclose(f);

    size_t nextField = 4;
    for (uint32_t ifd = get32(file, 4); ifd != 0; ifd = get32(file, nextField))
        nextField = ifd + 2 + 12 * size_t{get16(file, ifd)};

    const uint32_t width = 320, height = 240;
    const std::vector<uint8_t> jpeg = encodeJpeg(width, height);
    while (file.size() % 2)
        file.push_back(0);
    const auto jpegOffset = static_cast<uint32_t>(file.size());
    file.insert(file.end(), jpeg.begin(), jpeg.end());
    while (file.size() % 2)
        file.push_back(0);
    const auto ifdOffset = static_cast<uint32_t>(file.size());
    const auto length = static_cast<uint32_t>(jpeg.size());
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const Entry entries[] = {
        {254, 4, 1, 2},          {256, 3, 1, width},  {257, 3, 1, height},      {258, 3, 1, 8},
        {259, 3, 1, 6},          {262, 3, 1, 6},      {273, 4, 1, jpegOffset},  {277, 3, 1, 3},
        {278, 3, 1, height},     {279, 4, 1, length}, {297, 3, 2, 2 | 3 << 16}, {512, 3, 1, 1},
        {513, 4, 1, jpegOffset}, {514, 4, 1, length},
    };
    put16(file, static_cast<uint16_t>(std::size(entries)));
    for (const Entry& e : entries) {
        put16(file, e.tag);
        put16(file, e.type);
        put32(file, e.count);
        if (e.type == 3 && e.count == 1) {
            put16(file, static_cast<uint16_t>(e.value));
            put16(file, 0);
        } else {
            put32(file, e.value);
        }
    }
    put32(file, 0);
    for (int i = 0; i < 4; ++i)
        file[nextField + i] = static_cast<uint8_t>(ifdOffset >> (8 * i));

    f = std::fopen(path, "wb");
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
}

} // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "sample.tif";
    TIFF* tif = TIFFOpen(path, "w");
    if (tif == nullptr)
        return 1;
    writeFaxPage(tif);
    writeColourPage(tif);
    TIFFClose(tif);
    appendOldStyleJpegPage(path);
    return 0;
}
