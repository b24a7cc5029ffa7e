// Stands in for CreateDIBSection / DeleteObject: pixel memory of a bitmap, owned through
// its handle and freed when the handle is deleted.
#pragma once

#include <cstdint>

#include "platform/device_context.h"

struct DibSectionBlock;
using DibSection = DibSectionBlock*;

namespace platform {
/// Allocates `imageSize` bytes of pixel memory (contents unspecified) and stores their
/// address in `*pixels`. Null when `context` is null, `imageSize` is 0 or memory runs out.
DibSection createDibSection(DeviceContext context, uint32_t imageSize, uint8_t** pixels);
/// Frees the section and its memory; null is ignored.
void deleteDibSection(DibSection section);
} // namespace platform
