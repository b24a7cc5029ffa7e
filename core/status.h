// The one status value every module shares: a step failed for a reason its caller does not
// need to tell apart (no memory, a refused size, a file that cannot be read or written).
// Modules name only the codes that mean one thing; where a caller must know why a step
// failed, the step hands the reason on beside the status.
#pragma once

#include <cstdint>

inline constexpr int32_t kFailed = -1;
