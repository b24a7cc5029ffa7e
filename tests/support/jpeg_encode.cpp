#include "tests/support/jpeg_encode.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "tests/support/tiff_pages.h"

namespace testsupport {

std::vector<uint8_t> encodeJpeg(uint32_t width, uint32_t height, int components, int restartRows,
                                bool arithmetic) {
    PageSpec page;
    page.width = width;
    page.height = height;
    page.samplesPerPixel = static_cast<uint16_t>(components);
    const std::vector<uint8_t> pixels = gradientPixels(page);

    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    info.restart_in_rows = restartRows;
    info.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    const size_t rowBytes = pixelRowBytes(page);
    while (info.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> stream(out, out + size);
    std::free(out);
    return stream;
}

} // namespace testsupport
