#include "platform/dib_section.h"

#include <cstdlib>
#include <new>

struct DibSectionBlock {
    uint8_t* memory;
};

namespace platform {

DibSection createDibSection(DeviceContext context, uint32_t imageSize, uint8_t** pixels) {
    if (context == nullptr || imageSize == 0 || pixels == nullptr)
        return nullptr;
    auto* memory = static_cast<uint8_t*>(std::malloc(imageSize));
    if (memory == nullptr)
        return nullptr;
    auto* section = new (std::nothrow) DibSectionBlock{memory};
    if (section == nullptr) {
        std::free(memory);
        return nullptr;
    }
    *pixels = memory;
    return section;
}

void deleteDibSection(DibSection section) {
    if (section == nullptr)
        return;
    std::free(section->memory);
    delete section;
}

} // namespace platform
