#include "platform/command_line.h"

#include <cstring>

namespace platform {
FirstArgument judgeFirstArgument(const char* argument) {
    if ((argument[0] == '/' && argument[1] == '?') || std::strcmp(argument, "-h") == 0 ||
        std::strcmp(argument, "--help") == 0)
        return FirstArgument::Usage;
    // Every absolute path begins with "/": the name decides, as for any other argument.
    return FirstArgument::Path;
}
} // namespace platform
