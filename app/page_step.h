// One page's conversion, apart from the walk over files and pages and from the console:
// copies or decodes and writes the page, and says which message its failure takes.
#pragma once

#include <cstdint>

#include "app/messages.h"
#include "core/image_record.h"
#include "platform/output_file.h"
#include "readers/convert_engine.h"

/// What a page's conversion came to, before anything is printed about it.
struct PageOutcome {
    int32_t status = 0;               // 0, or the code of the step that failed
    const Message* failure = nullptr; // the page's failure message; null when written
};
/// The page step for `page` of `inputPath` into `output`, finished but not yet in place
/// when written. Prints nothing. An old-style
/// JPEG page is copied when its bytes are a JPEG of the page, else decoded as any other
/// page; one that can be neither copied nor decoded fails as a write. A page that would
/// need more memory than the process may use, besides what it takes itself, is refused
/// before it is decoded.
PageOutcome convertPageQuietly(const ImageRecord& page, const char* inputPath,
                               platform::OutputFile& output, readers::ConvertEngine& engine);

/// What decoding and writing `page` may take at its peak, from its size and depth: an upper
/// bound for every kind of page libtiff decodes, compressed or not, turned or not.
uint64_t pageMemoryCost(const ImageRecord& page);
