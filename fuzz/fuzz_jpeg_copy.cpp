// The copy of old-style JPEG pages, tried on every listed page whatever its compression,
// so the strip and interchange-format paths meet every shape of directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file_list.h"
#include "core/image_record.h"
#include "fuzz/scratch_folder.h"
#include "readers/jpeg_copy.h"
#include "tiff/directory_chain.h"

using fuzz::scratch;

namespace {

void expectBounded(int32_t status, const std::string& output, size_t size) {
    if (status > 0)
        std::abort(); // statuses are 0 or negative
    // The copy is bounded by its input: a few bytes must never become a huge output.
    struct stat written;
    if (stat(output.c_str(), &written) == 0 && static_cast<uint64_t>(written.st_size) > 2 * size)
        std::abort();
    unlink(output.c_str());
    // A copy that fails part-way must not leave its temporary file behind.
    scratch().forEachEntry([](const char* name) {
        if (std::strcmp(name, "in.tif") != 0)
            std::abort();
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scratch().writeFile("in.tif", data, size);
    const std::string input = scratch().path("in.tif");
    const std::string output = scratch().path("out.jpg");

    FileList pages;
    if (tiffdir::listPages(input.c_str(), pages) != 0)
        return 0;
    pages.rewind();
    const int32_t count = pages.count();
    for (int32_t i = 0; i < count; ++i) {
        if (pages.next() != 0)
            break;
        ImageRecord page;
        std::memcpy(&page, pages.current, sizeof page);
        // The plain copy, then the one that first checks the bytes are a JPEG of the page.
        expectBounded(readers::copyJpegData(input.c_str(), output.c_str(), page.directoryOffset),
                      output, size);
        platform::OutputFile file(output.c_str());
        const int32_t status = readers::copyPageJpeg(input.c_str(), file, page.directoryOffset);
        expectBounded(file.finished() && file.putInPlace() ? status : -1, output, size);
    }
    return 0;
}
