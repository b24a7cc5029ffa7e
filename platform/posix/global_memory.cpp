#include "platform/global_memory.h"

#include <cstdlib>
#include <new>

struct GlobalBlock {
    uint8_t* bytes;
    size_t size;
    bool owned; // false: the bytes are a section's, freed with it
};

namespace platform {

GlobalBlockHandle globalAlloc(size_t size, GlobalFill fill) {
    const size_t bytesToTake = size == 0 ? 1 : size;
    auto* bytes = static_cast<uint8_t*>(fill == GlobalFill::Zero ? std::calloc(bytesToTake, 1)
                                                                 : std::malloc(bytesToTake));
    if (bytes == nullptr)
        return nullptr;
    auto* block = new (std::nothrow) GlobalBlock{bytes, size, true};
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
    if (handle->owned)
        std::free(handle->bytes);
    delete handle;
}

const uint32_t kBlockRoomBeforePixels = 40;

GlobalBlockHandle globalAllocAround(uint8_t* pixels, size_t roomBefore, size_t headerSize,
                                    size_t imageSize) {
    if (pixels == nullptr || roomBefore < headerSize)
        return globalAlloc(headerSize + imageSize, GlobalFill::None);
    return new (std::nothrow) GlobalBlock{pixels - headerSize, headerSize + imageSize, false};
}

} // namespace platform
