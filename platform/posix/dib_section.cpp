#include "platform/dib_section.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/posix/dib_section_block.h"

namespace platform {

// The room in front of a section's pixels never makes its size wrap.
static_assert(SIZE_MAX - kSectionHeaderRoom >= UINT32_MAX);

DibSection createDibSection(DeviceContext context, uint32_t imageSize, uint8_t** pixels) {
    if (context == nullptr || imageSize == 0 || pixels == nullptr)
        return nullptr;
    auto* memory = static_cast<uint8_t*>(std::malloc(kSectionHeaderRoom + imageSize));
    if (memory == nullptr)
        return nullptr;
    auto* section = new (std::nothrow) DibSectionBlock{memory, imageSize};
    if (section == nullptr) {
        std::free(memory);
        return nullptr;
    }
    *pixels = memory + kSectionHeaderRoom;
    return section;
}

void deleteDibSection(DibSection section) {
    if (section == nullptr)
        return;
    std::free(section->memory);
    delete section;
}

} // namespace platform
