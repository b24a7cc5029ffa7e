// Checks one command-line argument and turns it into the full path of the input list.
#pragma once

#include <cstddef>
#include <cstdint>

/// Copies `source` into `destination` (`capacity` bytes). -1 when absent; -2 when empty or
/// `capacity` bytes or longer; 0 otherwise. `destination[0]` is zeroed first.
int32_t copyArgument(const char* source, char* destination, size_t capacity);
/// Forms the full path of `argument` into `fullPath` (platform::kMaxPath bytes) and, when
/// `mustExist` > 0, checks that something exists under it. Writes its own message on failure.
/// Returns 0, -1 (no full path) or -2 (nothing found).
int32_t resolveInputPath(const char* argument, char* fullPath, int32_t mustExist);
