#include "platform/global_memory.h"

#include <new>

#include <windows.h>

// GlobalSize may round the block up: the size asked for is kept beside the handle, since
// the encoder takes the block's size as the bitmap's.
struct GlobalBlock {
    HGLOBAL memory;
    size_t size;
};

namespace platform {

GlobalBlockHandle globalAlloc(size_t size, GlobalFill fill) {
    const UINT flags = GMEM_MOVEABLE | (fill == GlobalFill::Zero ? GMEM_ZEROINIT : 0);
    // A moveable block of 0 bytes has no address to lock; one byte does.
    const HGLOBAL memory = GlobalAlloc(flags, size == 0 ? 1 : size);
    if (memory == nullptr)
        return nullptr;
    auto* block = new (std::nothrow) GlobalBlock{memory, size};
    if (block == nullptr)
        GlobalFree(memory);
    return block;
}

uint8_t* globalLock(GlobalBlockHandle handle) {
    return handle == nullptr ? nullptr : static_cast<uint8_t*>(GlobalLock(handle->memory));
}

void globalUnlock(GlobalBlockHandle handle) {
    if (handle != nullptr)
        GlobalUnlock(handle->memory);
}

size_t globalSize(GlobalBlockHandle handle) { return handle == nullptr ? 0 : handle->size; }

void globalFree(GlobalBlockHandle handle) {
    if (handle == nullptr)
        return;
    GlobalFree(handle->memory);
    delete handle;
}

// A section's pixels cannot lie inside a global memory block here: they are copied.
const uint32_t kBlockRoomBeforePixels = 0;

GlobalBlockHandle globalAllocAround(uint8_t*, size_t, size_t headerSize, size_t imageSize) {
    return globalAlloc(headerSize + imageSize, GlobalFill::None);
}

} // namespace platform
