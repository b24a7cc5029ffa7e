#include "platform/dib_section.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/global_memory.h"
#include "platform/process_memory.h"

// One heap block: room for a packed bitmap's header, then the pixels.
struct DibSectionBlock {
    uint8_t* memory;
};

namespace platform {

DibSection createDibSection(DeviceContext context, uint32_t imageSize, uint8_t** pixels) {
    if (context == nullptr || imageSize == 0 || pixels == nullptr)
        return nullptr;
    // The room in front never makes the size wrap: it is added in 64 bits.
    auto* memory = static_cast<uint8_t*>(
        allocatePageMemory(static_cast<size_t>(uint64_t{kBlockRoomBeforePixels} + imageSize)));
    if (memory == nullptr)
        return nullptr;
    auto* section = new (std::nothrow) DibSectionBlock{memory};
    if (section == nullptr) {
        std::free(memory);
        return nullptr;
    }
    *pixels = memory + kBlockRoomBeforePixels;
    return section;
}

void deleteDibSection(DibSection section) {
    if (section == nullptr)
        return;
    std::free(section->memory);
    delete section;
}

} // namespace platform
