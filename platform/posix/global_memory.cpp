#include "platform/global_memory.h"

#include <cstdlib>
#include <new>

struct GlobalBlock {
    uint8_t* bytes;
    size_t size;
};

namespace platform {

GlobalBlockHandle globalAlloc(size_t size, GlobalFill fill) {
    const size_t bytesToTake = size == 0 ? 1 : size;
    auto* bytes = static_cast<uint8_t*>(fill == GlobalFill::Zero ? std::calloc(bytesToTake, 1)
                                                                 : std::malloc(bytesToTake));
    if (bytes == nullptr)
        return nullptr;
    auto* block = new (std::nothrow) GlobalBlock{bytes, size};
    if (block == nullptr)
        std::free(bytes);
    return block;
}

uint8_t* globalLock(GlobalBlockHandle handle) {
    return handle == nullptr ? nullptr : handle->bytes;
}

void globalUnlock(GlobalBlockHandle) {}

size_t globalSize(GlobalBlockHandle handle) { return handle == nullptr ? 0 : handle->size; }

void globalFree(GlobalBlockHandle handle) {
    if (handle == nullptr)
        return;
    std::free(handle->bytes);
    delete handle;
}

} // namespace platform
