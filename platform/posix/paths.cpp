#include "platform/paths.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/heap_array.h"

namespace platform {
static_assert(kMaxPath == PATH_MAX);

namespace {
using HeapText = HeapArray<char>;

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// Resolves "." and "..", collapses repeated "/" in the absolute path `text`, in place; the
// result never grows, so the caller's buffer always holds it. A trailing "/" stays, as the
// full form of "folder\" keeps its backslash.
void normalise(char* text) {
    const size_t length = std::strlen(text);
    const bool trailing = length > 1 && text[length - 1] == '/';
    size_t out = 0; // bytes of the result so far; it starts with the root "/"
    size_t in = 0;
    text[out++] = '/';
    while (in < length) {
        while (in < length && text[in] == '/')
            ++in;
        const size_t start = in;
        while (in < length && text[in] != '/')
            ++in;
        const size_t componentLength = in - start;
        if (componentLength == 0 || (componentLength == 1 && text[start] == '.'))
            continue;
        if (componentLength == 2 && text[start] == '.' && text[start + 1] == '.') {
            // Up one level; the root is its own parent.
            while (out > 1 && text[out - 1] != '/')
                --out;
            if (out > 1)
                --out;
            continue;
        }
        if (out > 1)
            text[out++] = '/';
        std::memmove(text + out, text + start, componentLength);
        out += componentLength;
    }
    if (trailing && out > 1)
        text[out++] = '/';
    text[out] = '\0';
}

bool hasWildcard(const char* text) { return std::strpbrk(text, "*?") != nullptr; }

// Windows wildcards know only "*" and "?": every other character of the name, "[" and "\"
// included, stands for itself.
bool matchesWildcard(const char* pattern, const char* name) {
    const size_t length = std::strlen(pattern);
    HeapText escaped(static_cast<char*>(std::malloc(2 * length + 1)));
    if (!escaped)
        return false;
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        if (pattern[i] == '[' || pattern[i] == ']' || pattern[i] == '\\')
            escaped[out++] = '\\';
        escaped[out++] = pattern[i];
    }
    escaped[out] = '\0';
    return fnmatch(escaped.get(), name, 0) == 0;
}
} // namespace

bool fullPath(const char* path, char* out, size_t capacity) {
    if (path == nullptr || path[0] == '\0' || out == nullptr || capacity == 0)
        return false;
    const size_t pathLength = std::strlen(path);
    HeapText cwd;
    size_t cwdLength = 0;
    if (path[0] != '/') {
        cwd.reset(getcwd(nullptr, 0));
        if (!cwd || cwd[0] != '/')
            return false;
        cwdLength = std::strlen(cwd.get());
    }
    // cwd + "/" + path + terminator; both lengths are bounded by memory, so no overflow.
    HeapText joined(static_cast<char*>(std::malloc(cwdLength + pathLength + 2)));
    if (!joined)
        return false;
    size_t used = 0;
    if (cwd) {
        std::memcpy(joined.get(), cwd.get(), cwdLength);
        used = cwdLength;
        joined[used++] = '/';
    }
    std::memcpy(joined.get() + used, path, pathLength);
    joined[used + pathLength] = '\0';
    normalise(joined.get());
    const size_t resultLength = std::strlen(joined.get());
    if (resultLength >= capacity)
        return false;
    std::memcpy(out, joined.get(), resultLength + 1);
    return true;
}

bool fileExists(const char* path) {
    if (path == nullptr || path[0] == '\0')
        return false;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    if (!hasWildcard(name)) {
        struct stat info;
        return stat(path, &info) == 0;
    }
    // The folder part is taken literally; only the last component is a pattern.
    HeapText folder;
    if (slash == nullptr) {
        folder.reset(static_cast<char*>(std::malloc(2)));
        if (folder)
            std::memcpy(folder.get(), ".", 2);
    } else {
        const size_t folderLength = slash == path ? 1 : static_cast<size_t>(slash - path);
        folder.reset(static_cast<char*>(std::malloc(folderLength + 1)));
        if (folder) {
            std::memcpy(folder.get(), path, folderLength);
            folder[folderLength] = '\0';
        }
    }
    if (!folder)
        return false;
    DirHandle dir(opendir(folder.get()));
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir.get())) {
        if (matchesWildcard(name, entry->d_name))
            return true;
    }
    return false;
}

PathSplit splitPath(std::string_view path) {
    PathSplit parts;
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    parts.directory = path.substr(0, nameStart);
    const std::string_view name = path.substr(nameStart);
    const size_t dot = name.rfind('.');
    parts.baseName = dot == std::string_view::npos ? name : name.substr(0, dot);
    parts.extension = dot == std::string_view::npos ? std::string_view() : name.substr(dot);
    return parts;
}

char pathSeparator() { return '/'; }
} // namespace platform
