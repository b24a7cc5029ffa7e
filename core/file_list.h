// A list of byte strings (or records stored by value) on one block store, with a cursor.
#pragma once

#include <cstdint>

#include "core/kbf_buffer.h"

class FileList {
  public:
    FileList();
    virtual ~FileList();
    // The store's head node points into the object itself: never copied or moved.
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;

    /// Frees every entry; the list is empty and usable again.
    void clear();
    /// Stores a copy of `size` bytes (and a zero byte behind them) as the newest entry and
    /// makes it current. 0 or a block-store code (-1002 for size 0; `current` is then null).
    int32_t add(const void* bytes, int32_t size);
    int32_t rewind();
    /// Entry count, or a block-store code (treated as an empty list by callers).
    int32_t count() const;
    /// Makes the next entry current. 0, or -1004 past the last entry (current unchanged).
    int32_t next();
    /// Replaces `target`'s entries with copies of this list's, each of `size` bytes (or its
    /// own size when `size` <= 0). 0 when at least one entry was copied, -1 for an empty list,
    /// or the first block-store code met.
    int32_t copyTo(FileList& target, int32_t size);

    int32_t currentLength = 0; // bytes of the current entry up to its first zero byte
    uint8_t* current = nullptr;
    int32_t currentSize = 0;

  private:
    KbfBuffer buffer;
};
