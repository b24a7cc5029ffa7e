#include "app/input_list.h"

#include <cstring>

#include "app/messages.h"
#include "platform/paths.h"

int32_t copyArgument(const char* source, char* destination, size_t capacity) {
    if (destination != nullptr && capacity > 0)
        destination[0] = '\0';
    if (source == nullptr || destination == nullptr)
        return -1;
    const size_t length = strnlen(source, capacity);
    if (length == 0 || length >= capacity)
        return -2;
    std::memcpy(destination, source, length + 1);
    return 0;
}

int32_t resolveInputPath(const char* argument, char* fullPath, int32_t mustExist) {
    const char* shown = argument != nullptr ? argument : "";
    char work[platform::kMaxPath];
    if (argument == nullptr || fullPath == nullptr ||
        !platform::fullPath(argument, work, sizeof work)) {
        printPathMessage(shown, messages::kPathFailed);
        return -1;
    }
    std::memcpy(fullPath, work, std::strlen(work) + 1);
    if (mustExist <= 0)
        return 0;
    if (!platform::fileExists(work)) {
        printPathMessage(shown, messages::kNotFound);
        return -2;
    }
    return 0;
}
