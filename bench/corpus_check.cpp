// Converts every file of a TIFF corpus with pelc, one at a time as "page.tif", and holds each
// page pelc writes against libtiff's own rendering of the same directory (turned as its
// Orientation says, laid on white). A page matches when it is as close to that rendering
// as the rendering itself put through a quality-75 JPEG, less a small margin.
//
//   corpus_check PELC CORPUS_DIR [-v]
//
// Prints one line per file that has a page not decodable or not matching, a directory lost
// or a page written over errors (all files with -v), then the totals: directories libtiff
// walks, pages written, decodable, matching, lost (libtiff renders the directory without
// error, pelc writes nothing for it) and written over libtiff's errors (or for a directory
// libtiff does not know).
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "app/messages.h"
#include "core/file_list.h"
#include "core/image_record.h"
#include "tiff/directory_chain.h"

namespace fs = std::filesystem;

namespace {

constexpr double kMarginDb = 1.5;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // top row first
};

// ---- libtiff's rendering ------------------------------------------------------------

int errorsSeen = 0;

int countError(TIFF*, void*, const char*, const char*, va_list) {
    ++errorsSeen;
    return 1;
}
int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// libtiff's errors go to errorsSeen, its warnings nowhere.
TIFF* openCountingErrors(const std::string& path) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, countError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t{1} << 30);
    TIFF* tif = TIFFOpenExt(path.c_str(), "rm", options);
    TIFFOpenOptionsFree(options);
    return tif;
}

// Where stored pixel (row r, column c) of a w x h page goes for each orientation (1..8).
void place(int orientation, int w, int h, int r, int c, int& x, int& y) {
    switch (orientation) {
    case ORIENTATION_TOPRIGHT:
        x = w - 1 - c, y = r;
        break;
    case ORIENTATION_BOTRIGHT:
        x = w - 1 - c, y = h - 1 - r;
        break;
    case ORIENTATION_BOTLEFT:
        x = c, y = h - 1 - r;
        break;
    case ORIENTATION_LEFTTOP:
        x = r, y = c;
        break;
    case ORIENTATION_RIGHTTOP:
        x = h - 1 - r, y = c;
        break;
    case ORIENTATION_RIGHTBOT:
        x = h - 1 - r, y = w - 1 - c;
        break;
    case ORIENTATION_LEFTBOT:
        x = r, y = w - 1 - c;
        break;
    default:
        x = c, y = r;
        break;
    }
}

// Renders the directory at `offset`. False when libtiff cannot; `errors` counts what it
// reported while reading the pixels.
bool renderDirectory(const std::string& path, uint64_t offset, Image& out, int& errors) {
    TIFF* tif = openCountingErrors(path);
    if (tif == nullptr)
        return false;
    bool ok = TIFFSetSubDirectory(tif, offset) == 1;
    errorsSeen = 0;
    char message[1024] = "";
    TIFFRGBAImage img;
    ok = ok && TIFFRGBAImageOK(tif, message) && TIFFRGBAImageBegin(&img, tif, 0, message);
    if (ok) {
        const uint64_t w = img.width, h = img.height;
        if (w == 0 || h == 0 || w * h > (uint64_t{1} << 28)) {
            ok = false;
        } else {
            // Asked for the stored orientation, libtiff neither flips nor turns: the turn
            // is made here, for all eight values.
            img.req_orientation = img.orientation;
            std::vector<uint32_t> raster(w * h);
            ok = TIFFRGBAImageGet(&img, raster.data(), img.width, img.height) == 1;
            const int orientation = img.orientation;
            const bool turned = orientation >= ORIENTATION_LEFTTOP;
            out.width = int(turned ? h : w);
            out.height = int(turned ? w : h);
            out.rgb.assign(w * h * 3, 255);
            for (uint64_t r = 0; r < h; ++r)
                for (uint64_t c = 0; c < w; ++c) {
                    const uint32_t p = raster[r * w + c];
                    const uint32_t paper = 255 - TIFFGetA(p);
                    int x, y;
                    place(orientation, int(w), int(h), int(r), int(c), x, y);
                    uint8_t* o = &out.rgb[(size_t(y) * out.width + x) * 3];
                    o[0] = uint8_t(std::min<uint32_t>(TIFFGetR(p) + paper, 255));
                    o[1] = uint8_t(std::min<uint32_t>(TIFFGetG(p) + paper, 255));
                    o[2] = uint8_t(std::min<uint32_t>(TIFFGetB(p) + paper, 255));
                }
        }
        TIFFRGBAImageEnd(&img);
    }
    errors = errorsSeen;
    TIFFClose(tif);
    return ok;
}

// Directory offsets in chain order, as libtiff walks them.
std::vector<uint64_t> libtiffDirectories(const std::string& path) {
    std::vector<uint64_t> offsets;
    TIFF* tif = openCountingErrors(path);
    if (tif == nullptr)
        return offsets;
    do
        offsets.push_back(TIFFCurrentDirOffset(tif));
    while (offsets.size() < 1000 && TIFFReadDirectory(tif) == 1);
    TIFFClose(tif);
    return offsets;
}

// ---- JPEG in and out -----------------------------------------------------------------

struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};
void escape(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->escape, 1);
}
void quiet(j_common_ptr) {}

bool decodeJpeg(const std::vector<uint8_t>& bytes, Image& out) {
    jpeg_decompress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = escape;
    errors.base.output_message = quiet;
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = int(info.output_width);
    out.height = int(info.output_height);
    out.rgb.assign(size_t(out.width) * out.height * 3, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &out.rgb[size_t(info.output_scanline) * out.width * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    // A stream cut short or damaged decodes with warnings: that is not a whole JPEG.
    const bool whole = errors.base.num_warnings == 0;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return whole;
}

std::vector<uint8_t> encodeQuality75(const Image& image) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width);
    info.image_height = JDIMENSION(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 75, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(&image.rgb[size_t(info.next_scanline) * image.width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

double psnr(const Image& a, const Image& b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const double d = double(a.rgb[i]) - double(b.rgb[i]);
        sum += d * d;
    }
    const double mse = sum / double(a.rgb.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// ---- running pelc --------------------------------------------------------------------

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct PageRun {
    std::string output; // the name pelc printed
    bool written = false;
};

// The pages pelc reports for `dir`/page.tif, in console order.
std::vector<PageRun> runPelc(const std::string& pelc, const fs::path& dir) {
    const std::string command = "cd '" + dir.string() + "' && '" + pelc + "' page.tif";
    std::vector<PageRun> pages;
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr)
        return pages;
    std::string text;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, out)) > 0;)
        text.append(chunk, n);
    pclose(out);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 4 && line.compare(line.size() - 4, 4, ".jpg") == 0) {
            pages.push_back({line, true});
        } else if (!pages.empty() &&
                   (line == messages::kLoadFailed.sjis || line == messages::kWriteFailed.sjis)) {
            pages.back().written = false;
        }
    }
    return pages;
}

struct Totals {
    int pages = 0, written = 0, decodable = 0, matching = 0, lost = 0, overErrors = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: corpus_check PELC CORPUS_DIR [-v]\n");
        return 2;
    }
    const std::string pelc = fs::absolute(argv[1]).string();
    const fs::path corpus = argv[2];
    const bool verbose = argc > 3 && std::strcmp(argv[3], "-v") == 0;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(corpus))
        if (entry.is_regular_file() && entry.path().extension() != ".md" &&
            entry.path().extension() != ".tsv")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    char pattern[] = "/tmp/pelc-corpus-check.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const fs::path scratch = pattern;
    Totals total;
    for (const fs::path& file : files) {
        for (const auto& entry : fs::directory_iterator(scratch))
            fs::remove(entry.path());
        const fs::path input = scratch / "page.tif";
        fs::copy_file(file, input);
        const std::vector<PageRun> pages = runPelc(pelc, scratch);

        // The directory behind each page, as pelc lists them, and every directory libtiff
        // reaches in the chain.
        std::vector<uint64_t> listed;
        FileList list;
        if (tiffdir::listPages(input.c_str(), list) == 0) {
            list.rewind();
            for (int i = list.count(); i > 0 && list.next() == 0; --i)
                listed.push_back(
                    reinterpret_cast<const ImageRecord*>(list.current)->directoryOffset);
        }
        const std::vector<uint64_t> chain = libtiffDirectories(input.string());
        std::string notes;
        Totals here;
        auto note = [&](size_t page, const std::string& what) {
            notes += " p" + std::to_string(page + 1) + ":" + what;
        };
        std::vector<uint64_t> seen;
        for (size_t i = 0; i < pages.size() && i < listed.size(); ++i) {
            if (!pages[i].written)
                continue;
            ++here.written;
            seen.push_back(listed[i]);
            Image reference;
            int errors = 0;
            const bool known = std::find(chain.begin(), chain.end(), listed[i]) != chain.end();
            const bool rendered =
                known && renderDirectory(input.string(), listed[i], reference, errors);
            if (!rendered || errors > 0) {
                ++here.overErrors;
                note(i, "over-errors");
            }
            Image got;
            if (!decodeJpeg(readAll(pages[i].output), got)) {
                note(i, "undecodable");
                continue;
            }
            ++here.decodable;
            if (!rendered)
                continue;
            if (got.width != reference.width || got.height != reference.height) {
                note(i, "size " + std::to_string(got.width) + "x" + std::to_string(got.height) +
                            " not " + std::to_string(reference.width) + "x" +
                            std::to_string(reference.height));
                continue;
            }
            Image envelope;
            decodeJpeg(encodeQuality75(reference), envelope);
            const double mine = psnr(reference, got);
            const double bound = psnr(reference, envelope) - kMarginDb;
            char figures[64];
            std::snprintf(figures, sizeof figures, "%.1f/%.1fdB", mine, bound);
            if (mine >= bound || mine >= 45.0) {
                ++here.matching;
                if (verbose)
                    note(i, figures);
            } else {
                note(i, std::string(figures) + " differs");
            }
        }
        for (size_t d = 0; d < chain.size(); ++d) {
            ++here.pages;
            if (std::find(seen.begin(), seen.end(), chain[d]) != seen.end())
                continue;
            Image reference;
            int errors = 0;
            if (renderDirectory(input.string(), chain[d], reference, errors) && errors == 0) {
                ++here.lost;
                notes += " dir" + std::to_string(d) + ":lost";
            }
        }
        const std::string name = fs::relative(file, corpus).string();
        if (verbose || !notes.empty())
            std::printf("%-64s pages %3d written %3d matching %3d%s\n", name.c_str(), here.pages,
                        here.written, here.matching, notes.c_str());
        total.pages += here.pages;
        total.written += here.written;
        total.decodable += here.decodable;
        total.matching += here.matching;
        total.lost += here.lost;
        total.overErrors += here.overErrors;
    }
    fs::remove_all(scratch);
    std::printf(
        "corpus: %zu files, %d directories, %d pages written, %d decodable, %d matching, "
        "%d lost, %d written over libtiff's errors\n",
        files.size(), total.pages, total.written, total.decodable, total.matching, total.lost,
        total.overErrors);
    return 0;
}
