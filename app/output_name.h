// Where a page's JPEG file goes and what it is called: "<folder>/<base>_<page>.jpg", with
// the system's separator ("\" on Windows) in place of "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/status.h"
#include "platform/paths.h"

class PathParts {
  public:
    PathParts();
    virtual ~PathParts();

    /// Splits `path` as platform::splitPath does into drive (empty on Linux), directory
    /// (with its leading and trailing separator), base name and extension (from the last
    /// dot of the last component), and composes `folder` (drive and directory). 0; kFailed
    /// for a null path or when a part would not fit its field (such parts come back empty).
    int32_t split(const char* path);

    // Every field holds any accepted path (under platform::kMaxPath bytes) whole.
    char drive[3];
    char directory[platform::kMaxPath];
    char baseName[platform::kMaxPath];
    char extension[platform::kMaxPath];
    char folder[platform::kMaxPath];
};

/// Removes one trailing separator ("/"; on Windows "\") from `folder` when it is its last
/// character.
void stripTrailingSeparator(char* folder);
/// Composes "<outputFolder>/<base>_<number>.jpg" (the system's separator for "/"), the number
/// zero-padded to the width of `pageCount` (2 to 7 digits; none below 10 or from 8 digits), into
/// `out` as far as `capacity` bytes allow, zero-terminated unless `capacity` is 0. Returns the
/// length of the whole name, so a result of `capacity` or more means it was cut. Null paths count
/// as "".
size_t composeOutputName(const char* inputPath, const char* outputFolder, int32_t pageCount,
                         int32_t pageNumber, char* out, size_t capacity);
/// The whole name, whatever its length (shown when it does not fit a path buffer).
std::string composeOutputName(const char* inputPath, const char* outputFolder, int32_t pageCount,
                              int32_t pageNumber);
/// The name into `outputName` (platform::kMaxPath bytes). 0, or kFailed for a null
/// path or when the name would not fit: `outputName` is then left empty.
int32_t makeOutputName(const char* inputPath, const char* outputFolder, char* outputName,
                       int32_t pageCount, int32_t pageNumber);
