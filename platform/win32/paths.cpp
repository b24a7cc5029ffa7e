#include "platform/paths.h"

#include <windows.h>

namespace platform {
static_assert(kMaxPath == MAX_PATH);

namespace {
// In the ANSI code page's double-byte names (Shift-JIS on Japanese Windows) the second byte
// of a character may be "\" (0x5C) or any other ASCII byte: only a byte that starts a
// character can separate or begin an extension.
bool leadsTwoBytes(char byte) { return IsDBCSLeadByte(static_cast<BYTE>(byte)) != 0; }

bool isSeparator(char byte) { return byte == '\\' || byte == '/'; }
} // namespace

bool fullPath(const char* path, char* out, size_t capacity) {
    if (path == nullptr || path[0] == '\0' || out == nullptr || capacity == 0 ||
        capacity > MAXDWORD)
        return false;
    // The length without the terminator when it fits; the size it would need otherwise.
    const DWORD length = GetFullPathNameA(path, static_cast<DWORD>(capacity), out, nullptr);
    return length != 0 && length < capacity;
}

bool fileExists(const char* path) {
    if (path == nullptr || path[0] == '\0')
        return false;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

PathSplit splitPath(std::string_view path) {
    PathSplit parts;
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':' && !leadsTwoBytes(path[0])) {
        parts.drive = path.substr(0, 2);
        start = 2;
    }
    size_t nameStart = start;
    size_t lastDot = std::string_view::npos;
    for (size_t i = start; i < path.size(); ++i) {
        if (leadsTwoBytes(path[i]) && i + 1 < path.size()) {
            ++i;
        } else if (isSeparator(path[i])) {
            nameStart = i + 1;
            lastDot = std::string_view::npos;
        } else if (path[i] == '.') {
            lastDot = i;
        }
    }
    parts.directory = path.substr(start, nameStart - start);
    const size_t nameEnd = lastDot == std::string_view::npos ? path.size() : lastDot;
    parts.baseName = path.substr(nameStart, nameEnd - nameStart);
    parts.extension = path.substr(nameEnd);
    return parts;
}

char pathSeparator() { return '\\'; }
} // namespace platform
