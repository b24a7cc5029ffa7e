// Stands in for GlobalAlloc / GlobalLock / GlobalUnlock / GlobalFree: a heap block handed
// over by handle, with the lock/unlock contract of its callers.
#pragma once

#include <cstddef>
#include <cstdint>

struct GlobalBlock;
using GlobalHandle = GlobalBlock*;

namespace platform {
enum class GlobalFill { Zero, None };

/// A block of `size` bytes, zero-filled unless the caller writes every byte itself
/// (GlobalFill::None spares a pass over a page-sized block); null when memory runs out.
GlobalHandle globalAlloc(size_t size, GlobalFill fill = GlobalFill::Zero);
/// Address of the block's bytes, or null for a null handle.
uint8_t* globalLock(GlobalHandle handle);
void globalUnlock(GlobalHandle handle);
size_t globalSize(GlobalHandle handle);
void globalFree(GlobalHandle handle);
} // namespace platform
