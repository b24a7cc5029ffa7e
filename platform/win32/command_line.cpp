#include "platform/command_line.h"

#include <cstring>

namespace platform {
FirstArgument judgeFirstArgument(const char* argument) {
    if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0)
        return FirstArgument::Usage;
    if (argument[0] != '/')
        return FirstArgument::Path;
    // Only the first two characters count, so "/?x" asks for the usage too.
    return argument[1] == '?' ? FirstArgument::Usage : FirstArgument::BadOption;
}
} // namespace platform
