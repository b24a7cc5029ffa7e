#include "app/convert_driver.h"

#include <cstring>

#include "app/messages.h"
#include "app/output_name.h"
#include "app/page_pipeline.h"
#include "platform/ascii_case.h"
#include "platform/paths.h"
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
