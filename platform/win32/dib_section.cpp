#include "platform/dib_section.h"

#include <windows.h>

// DibSection is the section's HBITMAP under the opaque name the callers know.
namespace platform {

DibSection createDibSection(DeviceContext context, uint32_t imageSize, uint8_t** pixels) {
    // The callers lay out and address the memory themselves: a section of 32-bit pixels one
    // row high holds `imageSize` bytes (their rows are padded to 4 bytes, so exactly that).
    if (context == nullptr || imageSize == 0 || pixels == nullptr)
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(imageSize / 4 + (imageSize % 4 != 0));
    info.bmiHeader.biHeight = 1;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    const HBITMAP section = CreateDIBSection(reinterpret_cast<HDC>(context), &info, DIB_RGB_COLORS,
                                             &memory, nullptr, 0);
    if (section == nullptr || memory == nullptr) {
        if (section != nullptr)
            DeleteObject(section);
        return nullptr;
    }
    *pixels = static_cast<uint8_t*>(memory);
    return reinterpret_cast<DibSection>(section);
}

void deleteDibSection(DibSection section) {
    if (section != nullptr)
        DeleteObject(reinterpret_cast<HBITMAP>(section));
}

} // namespace platform
