// What the first argument asks for, by the system's own option rule.
#pragma once

namespace platform {
enum class FirstArgument {
    Path,      // an input like any other argument
    Usage,     // print the usage and end the run successfully
    BadOption, // an option the program does not know: the format error
};

/// Judges the first argument. Both systems take "-h" and "--help" as the usage, and "/?"
/// by its first two characters (so "/?x" too). On Windows every other argument that begins
/// with "/" is an option, and unknown; on Linux it is an absolute path.
FirstArgument judgeFirstArgument(const char* argument);
} // namespace platform
