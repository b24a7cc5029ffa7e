// Paths as the system forms and splits them (GetFullPathNameA, FindFirstFileA, _splitpath):
// on Linux "/" is the only separator and there are no drives; on Windows drive letters,
// "\" (and "/" where Windows takes it) and the ANSI code page's double-byte names.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {
/// The longest full path the system takes, terminating zero included: every path buffer of
/// the program holds this many bytes, and a path that would need more is refused, never cut.
#ifdef _WIN32
inline constexpr size_t kMaxPath = 260; // MAX_PATH
#else
inline constexpr size_t kMaxPath = 4096; // PATH_MAX on Linux
#endif

/// The full form of `path` as the system gives it: on Linux the current folder joined with a
/// relative `path`, normalised lexically ("." and ".." resolved, repeated "/" collapsed;
/// symlinks untouched); on Windows GetFullPathNameA. Written into `out` (`capacity` bytes).
/// False when no full path can be formed or it would need `capacity` bytes or more.
bool fullPath(const char* path, char* out, size_t capacity);
/// True when a file or folder exists under `path`; when its last component holds "*" or
/// "?", true when at least one entry of its folder matches it (FindFirstFileA's rule).
bool fileExists(const char* path);

/// The parts of a path as the runtime's path splitting finds them: drive ("C:", or empty),
/// directory up to and including its last separator, base name, and extension from the
/// last dot of the last component. Views into the path.
struct PathSplit {
    std::string_view drive;
    std::string_view directory;
    std::string_view baseName;
    std::string_view extension;
};
PathSplit splitPath(std::string_view path);
/// The separator put between a folder and a name in the paths this system forms.
char pathSeparator();
} // namespace platform
