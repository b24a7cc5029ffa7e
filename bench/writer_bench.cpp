// Times writeJpeg on full A4 pages: a 300-dpi colour page and a 200-dpi fax-like page.
// With --dump-pnm <folder> it also writes the same pixels as PPM/PGM files, so that
// `cjpeg -quality 75` can be timed on exactly what the writer encodes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap/bitmap_storage.h"
#include "core/image_record.h"
#include "jpegout/jpeg_writer.h"

namespace {

struct PageImage {
    int32_t width;
    int32_t height;
    uint32_t depth;
    int32_t photometric;
    std::vector<uint8_t> rows; // bottom row first, padded as a bitmap
    int32_t bytesPerRow;
};

// Smooth colour with fine texture, as a scanned photo or coloured form looks.
PageImage colourPage(int32_t width, int32_t height) {
    PageImage page{width, height, 24, 2, {}, int32_t((width * 24 + 31) / 32 * 4)};
    page.rows.assign(size_t(page.bytesPerRow) * height, 0);
    uint32_t noise = 12345;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = page.rows.data() + size_t(y) * page.bytesPerRow;
        for (int32_t x = 0; x < width; ++x) {
            noise = noise * 1103515245 + 12345;
            const int grain = int(noise >> 28) - 8;
            row[3 * x] = uint8_t(std::clamp(x * 255 / width + grain, 0, 255));
            row[3 * x + 1] = uint8_t(std::clamp(y * 255 / height + grain, 0, 255));
            row[3 * x + 2] = uint8_t(std::clamp((x + y) % 256 + grain, 0, 255));
        }
    }
    return page;
}

// Lines of text-sized strokes on white, as a fax page (white is zero: a set bit is black).
PageImage faxPage(int32_t width, int32_t height) {
    PageImage page{width, height, 1, 0, {}, int32_t((width + 31) / 32 * 4)};
    page.rows.assign(size_t(page.bytesPerRow) * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t line = y % 40;
        if (line < 8 || line > 30 || y < 150 || y > height - 150)
            continue; // margins and the space between lines
        uint8_t* row = page.rows.data() + size_t(height - 1 - y) * page.bytesPerRow;
        for (int32_t x = 100; x < width - 100; ++x) {
            const int32_t cell = (x / 14 + y / 40) % 9;
            if (cell != 0 && ((x % 14 < 2) || (line % 11 < 2 && x % 14 < 10)))
                row[x / 8] |= uint8_t(0x80 >> x % 8);
        }
    }
    return page;
}

// The 24-bit form of any page, top row first, for the PNM files and the grey/colour runs.
std::vector<uint8_t> rgbTopDown(const PageImage& page) {
    std::vector<uint8_t> rgb(size_t(page.width) * page.height * 3);
    for (int32_t y = 0; y < page.height; ++y) {
        const uint8_t* row = page.rows.data() + size_t(page.height - 1 - y) * page.bytesPerRow;
        uint8_t* out = rgb.data() + size_t(y) * page.width * 3;
        for (int32_t x = 0; x < page.width; ++x, out += 3) {
            if (page.depth == 24) {
                out[0] = row[3 * x + 2];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x];
            } else {
                const bool set = (row[x / 8] & (0x80 >> x % 8)) != 0;
                std::memset(out, set == (page.photometric == 0) ? 0 : 255, 3);
            }
        }
    }
    return rgb;
}

PageImage asColourBitmap(const PageImage& page, bool nudgeOneChannel) {
    const std::vector<uint8_t> rgb = rgbTopDown(page);
    PageImage colour{page.width, page.height, 24, 2, {}, int32_t((page.width * 24 + 31) / 32 * 4)};
    colour.rows.assign(size_t(colour.bytesPerRow) * page.height, 0);
    for (int32_t y = 0; y < page.height; ++y) {
        uint8_t* row = colour.rows.data() + size_t(page.height - 1 - y) * colour.bytesPerRow;
        const uint8_t* in = rgb.data() + size_t(y) * page.width * 3;
        for (int32_t x = 0; x < page.width; ++x) {
            row[3 * x] = in[3 * x + 2];
            row[3 * x + 1] = in[3 * x + 1];
            row[3 * x + 2] = in[3 * x];
        }
    }
    if (nudgeOneChannel) // one pixel just off grey, at the top, where the grey scan ends
        colour.rows[size_t(page.height - 1) * colour.bytesPerRow + 1] ^= 1;
    return colour;
}

std::string outputPath() {
    return (std::filesystem::temp_directory_path() / "pelc_writer_bench.jpg").string();
}

void writePage(benchmark::State& state, const PageImage& page) {
    const std::string path = outputPath();
    for (auto _ : state) {
        ImageRecord record;
        initImageRecord(nullptr, &record);
        record.width = page.width;
        record.height = page.height;
        record.bitsPerPixel = page.depth;
        record.photometric = page.photometric;
        record.resolutionUnit = 2;
        record.xResolution = record.yResolution = 300;
        if (allocateBitmap(&record, BitmapMode::HeaderOnly) != 0) {
            state.SkipWithError("no header");
            break;
        }
        // The loader's page buffer: pixels are lent, never owned by the record.
        record.pixels = const_cast<uint8_t*>(page.rows.data());
        if (writeJpeg(&record, path.c_str()) != 0) {
            state.SkipWithError("writeJpeg failed");
            break;
        }
        releaseImageRecord(&record);
    }
    const double pixels = double(page.width) * page.height;
    state.counters["MPix/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    std::FILE* out = std::fopen(path.c_str(), "rb");
    if (out != nullptr) {
        std::fseek(out, 0, SEEK_END);
        state.counters["KiB"] = double(std::ftell(out)) / 1024;
        std::fclose(out);
    }
}

const PageImage& colourA4() {
    static const PageImage page = colourPage(2480, 3508);
    return page;
}
const PageImage& faxA4() {
    static const PageImage page = faxPage(1728, 2200);
    return page;
}

void BM_ColourA4At300Dpi(benchmark::State& state) { writePage(state, colourA4()); }
void BM_FaxA4At200DpiOneBit(benchmark::State& state) { writePage(state, faxA4()); }
// The fax page handed over already at 24 bits: grey pixels, then one pixel off grey so
// the whole page goes through three components. Shows what the grey path saves.
void BM_FaxA4As24BitGrey(benchmark::State& state) {
    static const PageImage page = asColourBitmap(faxA4(), false);
    writePage(state, page);
}
void BM_FaxA4As24BitColour(benchmark::State& state) {
    static const PageImage page = asColourBitmap(faxA4(), true);
    writePage(state, page);
}

BENCHMARK(BM_ColourA4At300Dpi)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FaxA4At200DpiOneBit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FaxA4As24BitGrey)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FaxA4As24BitColour)->Unit(benchmark::kMillisecond);

bool dumpPnm(const std::string& folder) {
    const struct {
        const char* name;
        const PageImage& page;
        bool grey;
    } files[] = {{"colour_a4.ppm", colourA4(), false}, {"fax_a4.pgm", faxA4(), true}};
    for (const auto& f : files) {
        const std::vector<uint8_t> rgb = rgbTopDown(f.page);
        const std::string path = folder + "/" + f.name;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr)
            return false;
        std::fprintf(out, "P%d\n%d %d\n255\n", f.grey ? 5 : 6, f.page.width, f.page.height);
        for (size_t i = 0; i < rgb.size(); i += f.grey ? 3 : 1)
            std::fputc(rgb[i], out);
        if (std::fclose(out) != 0)
            return false;
        std::printf("%s\n", path.c_str());
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--dump-pnm") == 0)
        return dumpPnm(argv[2]) ? 0 : 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
