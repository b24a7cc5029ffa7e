// Stands in for GetFullPathNameA and FindFirstFileA on Linux paths.
#pragma once

#include <cstddef>

namespace platform {
inline constexpr size_t kMaxPath = 260;

/// Joins a relative `path` with the current folder and normalises it lexically ("." and
/// ".." resolved, repeated "/" collapsed; symlinks untouched). Writes it into `out`
/// (`capacity` bytes). Returns false when no full path can be formed or it would need
/// `capacity` bytes or more.
bool fullPath(const char* path, char* out, size_t capacity);
/// True when a file or folder exists under `path`; when its last component holds "*" or
/// "?", true when at least one entry of its folder matches it.
bool fileExists(const char* path);
} // namespace platform
