// The whole conversion of one input file, as pelc runs it: page list, then for each page
// the copy or the libtiff decode, the pixel conversions and the JPEG encoder.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/convert_driver.h"
#include "core/file_list.h"
#include "fuzz/scratch_folder.h"

using fuzz::scratch;

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
        convertFiles(inputs);
    // Only the input and page outputs x_<n>.jpg may remain: a temporary file left by a
    // failed page would pile up beside the user's scans.
    scratch().forEachEntry([](const char* name) {
        const size_t length = std::strlen(name);
        const bool output = length > 6 && std::strncmp(name, "x_", 2) == 0 &&
                            std::strcmp(name + length - 4, ".jpg") == 0 &&
                            std::strspn(name + 2, "0123456789") == length - 6;
        if (!output && std::strcmp(name, "x.tif") != 0)
            std::abort();
    });
    // Outputs of one input must not turn into read-only or stale files for the next.
    scratch().removeAllBut(nullptr);
    return 0;
}
