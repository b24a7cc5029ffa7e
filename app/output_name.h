// Where a page's JPEG file goes and what it is called: "<folder>/<base>_<page>.jpg".
#pragma once

#include <cstdint>
#include <string>

class PathParts {
  public:
    PathParts();
    virtual ~PathParts();

    /// Splits `path` into drive (always empty here), directory (with its leading and
    /// trailing "/"), base name and extension (from the last dot of the last component),
    /// and composes `folder`. Parts that would not fit their field come back empty and
    /// the result is -1; otherwise 0.
    int32_t split(const char* path);

    // Every field holds any accepted path (under 260 bytes) whole.
    char drive[3];
    char directory[260];
    char baseName[260];
    char extension[260];
    char folder[260];
};

/// Removes one trailing "/" from `folder` when it is its last character.
void stripTrailingSeparator(char* folder);
/// Writes "<outputFolder>/<base>_<number>.jpg" into `outputName` (260 bytes), the number
/// zero-padded to the width of `pageCount` (2 to 7 digits; none below 10 or from 8 digits).
/// 0, or -1 when the name would not fit: `outputName` is then left empty.
int32_t makeOutputName(const char* inputPath, const char* outputFolder, char* outputName,
                       int32_t pageCount, int32_t pageNumber);
/// The name makeOutputName composes, whatever its length (shown when it does not fit).
std::string composeOutputName(const char* inputPath, const char* outputFolder, int32_t pageCount,
                              int32_t pageNumber);
