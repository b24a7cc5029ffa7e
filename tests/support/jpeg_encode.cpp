#include "tests/support/jpeg_encode.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "tests/support/tiff_pages.h"

namespace testsupport {

namespace {

// A compressor writing to memory, its fields to be set before jpeg_start_compress.
struct MemoryCompressor {
    MemoryCompressor(uint32_t width, uint32_t height, int components, J_COLOR_SPACE space) {
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &out, &size);
        info.image_width = width;
        info.image_height = height;
        info.input_components = components;
        info.in_color_space = space;
        jpeg_set_defaults(&info);
    }
    ~MemoryCompressor() {
        jpeg_destroy_compress(&info);
        std::free(out);
    }
    MemoryCompressor(const MemoryCompressor&) = delete;
    MemoryCompressor& operator=(const MemoryCompressor&) = delete;

    std::vector<uint8_t> finish() {
        jpeg_finish_compress(&info);
        return std::vector<uint8_t>(out, out + size);
    }

    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    unsigned char* out = nullptr;
    unsigned long size = 0;
};

} // namespace

std::vector<uint8_t> encodeJpeg(uint32_t width, uint32_t height, int components, int restartRows,
                                bool arithmetic) {
    PageLayout page;
    page.width = width;
    page.height = height;
    page.samplesPerPixel = static_cast<uint16_t>(components);
    const std::vector<uint8_t> pixels = gradientPixels(page);

    MemoryCompressor jpeg(width, height, components, components == 3 ? JCS_RGB : JCS_GRAYSCALE);
    jpeg_compress_struct& info = jpeg.info;
    jpeg_set_quality(&info, 90, TRUE);
    info.restart_in_rows = restartRows;
    info.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    const size_t rowBytes = pixelRowBytes(page);
    while (info.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    return jpeg.finish();
}

std::vector<uint8_t> encodeFractionalChromaJpeg(uint32_t width, uint32_t height) {
    MemoryCompressor jpeg(width, height, 3, JCS_YCbCr);
    jpeg_compress_struct& info = jpeg.info;
    // Raw planes skip the encoder's own downsampling, which refuses such factors.
    info.raw_data_in = TRUE;
    const int factors[3] = {3, 2, 1};
    for (int c = 0; c < 3; ++c) {
        info.comp_info[c].h_samp_factor = factors[c];
        info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> planes[3];
    std::vector<JSAMPROW> rows[3];
    JSAMPARRAY arrays[3];
    for (int c = 0; c < 3; ++c) {
        const size_t planeWidth = size_t{info.comp_info[c].width_in_blocks} * DCTSIZE;
        planes[c].assign(planeWidth * DCTSIZE, 128);
        for (int r = 0; r < DCTSIZE; ++r)
            rows[c].push_back(planes[c].data() + r * planeWidth);
        arrays[c] = rows[c].data();
    }
    while (info.next_scanline < height)
        jpeg_write_raw_data(&info, arrays, DCTSIZE);
    return jpeg.finish();
}

} // namespace testsupport
