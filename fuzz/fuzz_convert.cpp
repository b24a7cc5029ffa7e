// The whole conversion of one input file, as pelc runs it: page list, then for each page
// the copy or the libtiff decode, the pixel conversions and the JPEG encoder. Every JPEG
// written must decode.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "app/convert_driver.h"
#include "core/file_list.h"
#include "fuzz/scratch_folder.h"

using fuzz::scratch;

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};

[[noreturn]] void escape(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}

void stayQuiet(j_common_ptr) {}

// Decodes the whole file row by row; any error or corrupt-data warning fails it. Holds only
// plain data across the longjmp.
bool decodesWhole(FILE* file, JSAMPROW row, size_t rowBytes) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = escape;
    errors.base.output_message = stayQuiet;
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (size_t{info.output_width} * 3 > rowBytes)
        escape(reinterpret_cast<j_common_ptr>(&info));
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, &row, 1);
    jpeg_finish_decompress(&info);
    const bool clean = errors.base.num_warnings == 0;
    jpeg_destroy_decompress(&info);
    return clean;
}

bool decodes(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    std::vector<JSAMPLE> row(size_t{JPEG_MAX_DIMENSION} * 3);
    const bool whole = decodesWhole(file, row.data(), row.size());
    std::fclose(file);
    return whole;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every output name is printed; at thousands of inputs a second that costs real time.
    fuzz::silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scratch().writeFile("x.tif", data, size);
    const std::string path = scratch().path("x.tif");

    FileList inputs;
    if (inputs.add(path.c_str(), static_cast<int32_t>(path.size())) == 0)
        convertFiles(inputs, 2); // two workers, so pages also overlap under the fuzzer
    // Only the input and page outputs x_<n>.jpg may remain: a temporary file left by a
    // failed page would pile up beside the user's scans.
    scratch().forEachEntry([](const char* name) {
        const size_t length = std::strlen(name);
        const bool output = length > 6 && std::strncmp(name, "x_", 2) == 0 &&
                            std::strcmp(name + length - 4, ".jpg") == 0 &&
                            std::strspn(name + 2, "0123456789") == length - 6;
        if (!output && std::strcmp(name, "x.tif") != 0)
            std::abort();
        // A page that failed leaves no file: every output is a page reported written.
        if (output && !decodes(scratch().path(name)))
            std::abort();
    });
    // Outputs of one input must not turn into read-only or stale files for the next.
    scratch().removeAllBut(nullptr);
    return 0;
}
