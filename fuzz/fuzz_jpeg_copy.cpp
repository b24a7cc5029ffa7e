// The copy of old-style JPEG pages, tried on every listed page whatever its compression,
// so the strip and interchange-format paths meet every shape of directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/file_list.h"
#include "core/image_record.h"
#include "fuzz/scratch_folder.h"
#include "readers/jpeg_copy.h"
#include "tiff/directory_chain.h"

namespace {

fuzz::ScratchFolder& scratch() {
    static fuzz::ScratchFolder folder;
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scratch().writeFile("in.tif", data, size);
    const std::string input = scratch().path("in.tif");
    const std::string output = scratch().path("out.jpg");

    FileList pages;
    if (tiff::listPages(input.c_str(), pages) != 0)
        return 0;
    pages.rewind();
    const int32_t count = pages.count();
    for (int32_t i = 0; i < count; ++i) {
        if (pages.next() != 0)
            break;
        ImageRecord page;
        std::memcpy(&page, pages.current, sizeof page);
        if (readers::copyJpegData(input.c_str(), output.c_str(), page.directoryOffset) > 0)
            std::abort(); // statuses are 0 or negative
    }
    scratch().removeAllBut("in.tif");
    return 0;
}
