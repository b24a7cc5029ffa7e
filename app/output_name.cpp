#include "app/output_name.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/paths.h"

namespace {
// Copies `text` into a field of `N` bytes; a text that does not fit leaves it empty.
template <size_t N> bool setField(char (&field)[N], std::string_view text) {
    field[0] = '\0';
    if (text.size() >= N)
        return false;
    if (!text.empty())
        std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
    return true;
}

// The page number, zero-padded to the width of `pageCount` when that has 2 to 7 digits.
// Both fit: an int32 has at most 11 characters.
void formatPageNumber(int32_t pageCount, int32_t pageNumber, char (&text)[16]) {
    char countText[16];
    const int digits = std::snprintf(countText, sizeof countText, "%d", pageCount);
    const int width = digits >= 2 && digits <= 7 ? digits : 0;
    std::snprintf(text, sizeof text, "%0*d", width, pageNumber);
}
} // namespace

PathParts::PathParts() { drive[0] = directory[0] = baseName[0] = extension[0] = folder[0] = '\0'; }

PathParts::~PathParts() = default;

int32_t PathParts::split(const char* path) {
    drive[0] = directory[0] = baseName[0] = extension[0] = folder[0] = '\0';
    if (path == nullptr)
        return kFailed;
    const platform::PathSplit parts = platform::splitPath(path);
    bool fits = setField(drive, parts.drive);
    fits = setField(directory, parts.directory) && fits;
    fits = setField(baseName, parts.baseName) && fits;
    fits = setField(extension, parts.extension) && fits;
    // The folder is drive and directory together, as _makepath composes it: in the path
    // they stand side by side.
    fits = setField(folder, std::string_view(path, parts.drive.size() + parts.directory.size())) &&
           fits;
    return fits ? 0 : kFailed;
}

void stripTrailingSeparator(char* folder) {
    if (folder == nullptr)
        return;
    const size_t length = std::strlen(folder);
    if (length > 0 && folder[length - 1] == platform::pathSeparator())
        folder[length - 1] = '\0';
}

size_t composeOutputName(const char* inputPath, const char* outputFolder, int32_t pageCount,
                         int32_t pageNumber, char* out, size_t capacity) {
    char number[16];
    formatPageNumber(pageCount, pageNumber, number);
    const char separator = platform::pathSeparator();
    const std::string_view parts[] = {
        outputFolder != nullptr ? outputFolder : "",
        std::string_view(&separator, 1),
        platform::splitPath(inputPath != nullptr ? inputPath : "").baseName,
        "_",
        number,
        ".jpg"};
    // Each length is below the memory size, so the sum cannot wrap.
    size_t length = 0;
    for (const std::string_view part : parts) {
        if (length < capacity && !part.empty())
            std::memcpy(out + length, part.data(), std::min(part.size(), capacity - length));
        length += part.size();
    }
    if (capacity > 0)
        out[std::min(length, capacity - 1)] = '\0';
    return length;
}

std::string composeOutputName(const char* inputPath, const char* outputFolder, int32_t pageCount,
                              int32_t pageNumber) {
    std::string name(composeOutputName(inputPath, outputFolder, pageCount, pageNumber, nullptr, 0),
                     '\0');
    composeOutputName(inputPath, outputFolder, pageCount, pageNumber, name.data(), name.size() + 1);
    return name;
}

int32_t makeOutputName(const char* inputPath, const char* outputFolder, char* outputName,
                       int32_t pageCount, int32_t pageNumber) {
    if (outputName == nullptr)
        return kFailed;
    outputName[0] = '\0';
    if (inputPath == nullptr || outputFolder == nullptr)
        return kFailed;
    if (composeOutputName(inputPath, outputFolder, pageCount, pageNumber, outputName,
                          platform::kMaxPath) >= platform::kMaxPath) {
        outputName[0] = '\0';
        return kFailed;
    }
    return 0;
}
