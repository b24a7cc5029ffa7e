// Walks the input files and their pages: names each output, copies or decodes and writes
// each page, and reports every failed file or page on the console.
#pragma once

#include <cstdint>

#include "core/file_list.h"

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
