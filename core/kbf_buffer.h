// The signed block store: a chain of separately allocated blocks that only grows,
// walked by a cursor in the order the blocks were added, freed all at once.
// Block addresses never move, so pointers into blocks stay valid until KbfFree.
#pragma once

#include <cstdint>

inline constexpr int32_t kKbfNoHeader = -1000;     // header absent or not initialised
inline constexpr int32_t kKbfBadSignature = -1001; // never initialised, or already freed
inline constexpr int32_t kKbfBadSize = -1002;
inline constexpr int32_t kKbfNoMemory = -1003;
inline constexpr int32_t kKbfNoMoreBlocks = -1004;

/// One block: links, stored size, then the data area (size + 4 bytes, so a terminating
/// zero always fits), aligned for any record type stored in it.
/// The header's head node is a KbfNode too: its `older` is the newest block (the head
/// itself while empty) and its `newer` the oldest (null while empty), so a walk from the
/// head along `newer` visits blocks in the order they were added.
struct KbfNode {
    KbfNode* older;
    KbfNode* newer;
    int32_t size;
};

struct KbfBuffer {
    char signature[4]; // "BUFC" once initialised
    int32_t mode;      // always 0: plain bytes
    int32_t count;     // blocks in the chain
    uint8_t* data;     // newest block's data, or the cursor's after KbfNext
    int32_t size;      // size of the block under the cursor (set by KbfNext)
    KbfNode* anchor;   // &head once initialised; null means not initialised
    KbfNode head;
    KbfNode* cursor; // &head: before the first block
};

/// Clears the header and makes it an empty, initialised store. -1000 for null.
int32_t KbfInit(KbfBuffer* buffer);
/// 0, or -1000 (null / no anchor) or -1001 (signature missing).
int32_t KbfCheck(const KbfBuffer* buffer);
/// Adds a block of `size` bytes (+4 spare) as the newest; `data` points at it. The data
/// area is not filled. 0, -1002 (size + 4 not positive), -1003 (no memory).
int32_t KbfAlloc(KbfBuffer* buffer, int32_t size);
/// Adds a block holding a copy of `source` and a zero byte behind it, or all zero when
/// `source` is null. 0, -1002 (size < 1), or an alloc/check code.
int32_t KbfPut(KbfBuffer* buffer, int32_t size, const void* source);
/// KbfPut of a zeroed block; on success stores its address in `out`.
int32_t KbfCreate(KbfBuffer* buffer, int32_t size, void** out);
/// Block count, or the check's code.
int32_t KbfCount(const KbfBuffer* buffer);
/// Puts the cursor before the first block.
int32_t KbfRewind(KbfBuffer* buffer);
/// Steps the cursor to the next newer block and loads `data` and `size`. -1004 at the end.
int32_t KbfNext(KbfBuffer* buffer);
/// Frees every block and clears the header (signature gone). A second call gives -1001.
int32_t KbfFree(KbfBuffer* buffer);
