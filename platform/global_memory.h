// Stands in for GlobalAlloc / GlobalLock / GlobalUnlock / GlobalFree: a heap block handed
// over by handle, with the lock/unlock contract of its callers.
#pragma once

#include <cstddef>
#include <cstdint>

struct GlobalBlock;
using GlobalBlockHandle = GlobalBlock*; // not "GlobalHandle": Windows has a function of that name

namespace platform {
enum class GlobalFill { Zero, None };

/// A block of `size` bytes, zero-filled unless the caller writes every byte itself
/// (GlobalFill::None spares a pass over a page-sized block); null when memory runs out.
GlobalBlockHandle globalAlloc(size_t size, GlobalFill fill = GlobalFill::Zero);
/// Address of the block's bytes, or null for a null handle.
uint8_t* globalLock(GlobalBlockHandle handle);
void globalUnlock(GlobalBlockHandle handle);
size_t globalSize(GlobalBlockHandle handle);
void globalFree(GlobalBlockHandle handle);
/// Room to keep in front of pixels so that globalAllocAround can make a block around them:
/// a packed bitmap's 40-byte header on Linux; none on Windows, whose blocks are its own.
extern const uint32_t kBlockRoomBeforePixels;
/// A block of `headerSize` + `imageSize` bytes for a header followed by the `imageSize`
/// bytes of pixels at `pixels`. Where the pixels' owner keeps `roomBefore` >= `headerSize`
/// bytes free in front of them and the system allows, the block is made around them: its
/// bytes from `headerSize` on are the pixels themselves (they need no copy) and it must be
/// freed before their memory. Otherwise a fresh block, as globalAlloc gives without
/// zero-filling.
GlobalBlockHandle globalAllocAround(uint8_t* pixels, size_t roomBefore, size_t headerSize,
                                    size_t imageSize);
} // namespace platform
