// Stands in for GlobalAlloc / GlobalLock / GlobalUnlock / GlobalFree: a zero-filled heap
// block handed over by handle, with the lock/unlock contract of its callers.
#pragma once

#include <cstddef>
#include <cstdint>

struct GlobalBlock;
using GlobalHandle = GlobalBlock*;

namespace platform {
/// A zero-filled block of `size` bytes; null when memory runs out.
GlobalHandle globalAlloc(size_t size);
/// Address of the block's bytes, or null for a null handle.
uint8_t* globalLock(GlobalHandle handle);
void globalUnlock(GlobalHandle handle);
size_t globalSize(GlobalHandle handle);
void globalFree(GlobalHandle handle);
} // namespace platform
