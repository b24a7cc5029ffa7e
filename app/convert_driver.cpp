#include "app/convert_driver.h"

#include <cstring>
#include <new>

#include "app/messages.h"
#include "app/output_name.h"
#include "app/page_pipeline.h"
#include "core/clear_record.h"
#include "jpegout/jpeg_writer.h"
#include "platform/ascii_case.h"
#include "platform/device_context.h"
#include "platform/machine.h"
#include "platform/paths.h"
#include "readers/jpeg_copy.h"
#include "tiff/directory_chain.h"

const FileKindRow FileKindTable[kFileKindRows] = {
    {-1, -1, ".", ""},
    {3, 1, ".bmp", "OS/2 / Windows \xcb\xde\xaf\xc4\xcf\xaf\xcc\xdf"}, // ﾋﾞｯﾄﾏｯﾌﾟ
    {3, 2, ".dib", "OS/2 / Windows DIB"},
    {3, 3, ".dxf", "Autodesk Drawing Interchange"},
    {3, 18, ".eps", "eps"},
    {3, 4, ".gif", "CompuServe"},
    {3, 13, ".img", "GEM Paint / IBM IOCA"},
    {3, 11, ".jpg", "JPEG-JFIF \x8f\x80\x8b\x92"}, // 準拠
    {3, 14, ".nsk", "NSK/TIFF"},
    {3, 7, ".pbm", "Portable Bitmap"},
    {3, 5, ".pcx", "ZSoft Paintbrush"},
    {3, 8, ".pgm", "Portable Graymap"},
    {3, 10, ".ppm", "Potable Pixelmap"},
    {3, 6, ".png", "Portable Network Graphics"},
    {3, 9, ".pnm", "aNy Map"},
    {3, 12, ".tif", "Tagged Image File Format"},
    {3, 12, ".tiff", "Tagged Image File Format"},
    {3, 16, ".rle", "CompuServe / Windows \x88\xb3\x8f\x6b"}, // 圧縮
    {3, 15, ".wmf", "Windows \xd2\xc0\xcc\xa7\xb2\xd9"},      // ﾒﾀﾌｧｲﾙ
    {3, 17, ".pdf", "pdf"},
    {-1, -1, ".", ""},
    {-1, -1, ".", ""},
    {-1, -1, ".", ""},
};

int32_t fileKindFromExtension(const char* path) {
    if (path == nullptr)
        return -1;
    PathParts parts;
    parts.split(path);
    for (const FileKindRow& row : FileKindTable) {
        if (equalIgnoringAsciiCase(row.extension, parts.extension))
            return row.kind;
    }
    return -1;
}

PageOutcome convertPageQuietly(const ImageRecord& page, const char* inputPath,
                               platform::OutputFile& output, readers::ConvertEngine& engine) {
    const bool oldStyle = page.compression == tiffdir::kCompressionOldJpeg;
    int32_t result = 0;
    if (oldStyle) {
        // Memory that runs out where the standard library allocates fails the page.
        try {
            result = readers::copyPageJpeg(inputPath, output, page.directoryOffset);
        } catch (const std::bad_alloc&) {
            return {kFailed, &messages::kWriteFailed};
        }
    }
    // An old-style page whose bytes are not its JPEG is decoded as any other page.
    if (oldStyle && result != readers::kNotAJpegOfThePage)
        return {result, result != 0 ? &messages::kWriteFailed : nullptr};

    // A page that could not be held even alone is refused here rather than run into the
    // memory limit, which would end the whole run.
    static const uint64_t ceiling = pageMemoryCeiling(platform::usableMemoryBytes());
    if (pageMemoryCost(page) > ceiling)
        return {kFailed, oldStyle ? &messages::kWriteFailed : &messages::kLoadFailed};

    ImageRecord bitmap;
    clearRecord(bitmap);
    DeviceContext context = platform::screenDeviceContext();
    const int32_t loaded = engine.loadPage(context, inputPath, page, bitmap);
    platform::releaseDeviceContext(context);
    if (loaded != 0) {
        // An old-style page that libtiff cannot decode either is a JPEG that was not written.
        releaseImageRecord(&bitmap);
        return {loaded, oldStyle ? &messages::kWriteFailed : &messages::kLoadFailed};
    }
    try {
        result = writeJpeg(&bitmap, output);
    } catch (const std::bad_alloc&) {
        result = kFailed;
    }
    releaseImageRecord(&bitmap);
    return {result, result != 0 ? &messages::kWriteFailed : nullptr};
}

namespace {

void convertFile(const char* path, uint32_t fileTurn, FileList& pageList, PagePipeline& pipeline) {
    PathParts parts;
    parts.split(path);
    char outputFolder[platform::kMaxPath];
    std::memcpy(outputFolder, parts.folder, sizeof outputFolder);
    stripTrailingSeparator(outputFolder);

    pageList.clear();
    if (tiffdir::listPages(path, pageList) != 0) {
        pipeline.reportFile(path, messages::kFileFailed);
        return;
    }
    pageList.rewind();
    const int32_t pages = pageList.count();
    for (int32_t i = 0; i < pages; ++i) {
        if (pageList.next() != 0)
            break;
        const auto* page = reinterpret_cast<const ImageRecord*>(pageList.current);
        char outputName[platform::kMaxPath];
        if (makeOutputName(path, outputFolder, outputName, page->pageCount, page->pageNumber + 1) !=
            0) {
            // The name would not fit: show what it would have been and touch no file.
            char name[kReportNameCapacity];
            composeOutputName(path, outputFolder, page->pageCount, page->pageNumber + 1, name,
                              sizeof name);
            pipeline.reportPage(name, messages::kWriteFailed);
            continue;
        }
        pipeline.convert(path, fileTurn, *page, outputName);
    }
}

} // namespace

int32_t convertFiles(FileList& inputList, int workers) {
    FileList pageList;
    PagePipeline pipeline(workers, pageMemoryBudget());

    inputList.rewind();
    const int32_t files = inputList.count();
    for (int32_t i = 0; i < files; ++i) {
        if (inputList.next() != 0)
            break;
        // Entries are zero-terminated copies of the full paths.
        const char* path = reinterpret_cast<const char*>(inputList.current);
        if (fileKindFromExtension(path) != kFileKindTiff)
            continue;
        convertFile(path, static_cast<uint32_t>(i), pageList, pipeline);
    }
    pipeline.finish();
    return 0;
}
