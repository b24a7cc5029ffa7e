#include "tests/support/jpeg_decode.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <jpeglib.h>

namespace testsupport {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
};

void escapeOnError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->escape, 1);
}

void stayQuiet(j_common_ptr) {}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// Holds no C++ objects: the longjmp out of libjpeg skips nothing that needs a destructor.
// `rows` is malloc'd here and handed to the caller, or freed on failure.
bool decodeInto(FILE* file, DecodedJpeg& out, uint8_t** rows, char* message) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    errors.message[0] = '\0';
    *rows = nullptr;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = escapeOnError;
    errors.base.output_message = stayQuiet;
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&info);
        std::free(*rows);
        *rows = nullptr;
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    JOCTET* profile = nullptr;
    unsigned int profileSize = 0;
    if (jpeg_read_icc_profile(&info, &profile, &profileSize)) {
        out.iccProfile.assign(profile, profile + profileSize);
        std::free(profile);
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.components = info.num_components;
    out.densityUnit = info.saw_JFIF_marker ? info.density_unit : -1;
    out.xDensity = info.X_density;
    out.yDensity = info.Y_density;
    const size_t stride = size_t(info.output_width) * 3;
    *rows = static_cast<uint8_t*>(std::malloc(stride * info.output_height + 1));
    if (*rows == nullptr) {
        jpeg_destroy_decompress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "out of memory");
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = *rows + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // A truncated file decodes with a warning and grey filler; a test must not accept it.
    const bool complete = errors.base.num_warnings == 0;
    if (!complete)
        std::snprintf(message, JMSG_LENGTH_MAX, "decoder warnings: %ld", errors.base.num_warnings);
    jpeg_destroy_decompress(&info);
    return complete;
}

} // namespace

bool decodeJpegFile(const std::string& path, DecodedJpeg& out, std::string* error) {
    out = DecodedJpeg{};
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    uint8_t* rows = nullptr;
    char message[JMSG_LENGTH_MAX] = {};
    const bool decoded = decodeInto(file.get(), out, &rows, message);
    if (decoded)
        out.rgb.assign(rows, rows + size_t(out.width) * out.height * 3);
    std::free(rows);
    if (!decoded) {
        out = DecodedJpeg{};
        if (error)
            *error = message;
    }
    return decoded;
}

std::array<double, 3> meanAbsoluteError(const std::vector<uint8_t>& a,
                                        const std::vector<uint8_t>& b, int width, int height) {
    std::array<double, 3> sums{};
    const size_t pixels = size_t(width) * height;
    if (pixels == 0 || a.size() < pixels * 3 || b.size() < pixels * 3)
        return {255.0, 255.0, 255.0};
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c)
            sums[c] += std::abs(int(a[i * 3 + c]) - int(b[i * 3 + c]));
    for (double& s : sums)
        s /= double(pixels);
    return sums;
}

std::vector<std::string> jpegFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".jpg")
            names.push_back(entry.path().filename().string());
    return names;
}

} // namespace testsupport
