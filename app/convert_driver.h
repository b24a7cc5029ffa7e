// Walks the input files and their pages: names each output, copies or decodes and writes
// each page, and reports every failed file or page on the console.
#pragma once

#include <cstdint>

#include "app/messages.h"
#include "core/file_list.h"
#include "core/image_record.h"
#include "platform/output_file.h"
#include "readers/convert_engine.h"

struct FileKindRow {
    int32_t category;
    int32_t kind;
    char extension[8];
    const char* description; // Shift-JIS
};

inline constexpr int32_t kFileKindRows = 23;
extern const FileKindRow FileKindTable[kFileKindRows];

/// The kind of the first row whose extension equals `path`'s, ignoring letter case; -1 when
/// `path` is null or nothing matches.
int32_t fileKindFromExtension(const char* path);
/// Converts every TIFF file of `inputList` (full paths) on `workers` threads, printing and
/// writing as one thread would. Always 0.
int32_t convertFiles(FileList& inputList, int workers);

/// What a page's conversion came to, before anything is printed about it.
struct PageOutcome {
    int32_t status = 0;               // 0, or the code of the step that failed
    const Message* failure = nullptr; // the page's failure message; null when written
};
/// The page step for `page` of `inputPath` into `output`, finished but not yet in place
/// when written. Prints nothing. An old-style
/// JPEG page is copied when its bytes are a JPEG of the page, else decoded as any other
/// page; one that can be neither copied nor decoded fails as a write. A page that would
/// need more memory than the process may use (pageMemoryCeiling) is refused before it is
/// decoded.
PageOutcome convertPageQuietly(const ImageRecord& page, const char* inputPath,
                               platform::OutputFile& output, readers::ConvertEngine& engine);
