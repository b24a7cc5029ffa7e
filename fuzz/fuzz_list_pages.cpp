// The TIFF structure reader alone: header, directory chain, tag values and page order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/file_list.h"
#include "core/image_record.h"
#include "fuzz/scratch_folder.h"
#include "tiff/directory_chain.h"

using fuzz::scratch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scratch().writeFile("in.tif", data, size);
    const std::string path = scratch().path("in.tif");

    FileList pages;
    const int32_t status = tiffdir::listPages(path.c_str(), pages);
    if (status > 0)
        std::abort(); // statuses are 0 or negative
    if (status != 0)
        return 0;
    // Output names come from the page numbers: a repeated or missing number would make one
    // page overwrite another, so the list must number its pages 0 ... count-1, once each.
    const int32_t count = pages.count();
    if (count <= 0 || count > tiffdir::kMaxDirectories)
        std::abort();
    std::vector<bool> seen(static_cast<size_t>(count), false);
    pages.rewind();
    for (int32_t i = 0; i < count; ++i) {
        if (pages.next() != 0 || pages.currentSize < static_cast<int32_t>(sizeof(ImageRecord)))
            std::abort();
        ImageRecord page;
        std::memcpy(&page, pages.current, sizeof page);
        if (page.pageNumber < 0 || page.pageNumber >= count || seen[page.pageNumber] ||
            page.pageCount != count)
            std::abort();
        seen[page.pageNumber] = true;
    }
    return 0;
}
