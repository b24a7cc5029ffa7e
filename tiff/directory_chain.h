// Walks the directory chain and lists a file's pages in page order.
#pragma once

#include <cstdint>

#include "core/file_list.h"
#include "tiff/tag_decode.h"
#include "tiff/tiff_reader.h"

namespace tiffdir {

/// readDirectory's report for a directory with no entries (count 0, or 0x8000 and more;
/// a BigTIFF count is held to the same bound).
inline constexpr int32_t kNoEntries = 1;
/// A chain ends after this many directories; the directories before stand as pages.
inline constexpr int kMaxDirectories = 65536;
/// A chain also ends, after the directory that passes it, once its directories hold more
/// entries than this plus a third of the file's size (one entry takes 12 bytes or more of
/// file, so a file whose directories do not overlap never comes near it).
inline constexpr uint64_t kMaxHeldEntries = 131072;
/// And whatever the file's size (a sparse file is large for nothing), once they hold more
/// than this: 4 Mi entries, 128 MiB in memory, room for 65536 pages of 64 entries.
inline constexpr uint64_t kMaxChainEntries = uint64_t{1} << 22;

/// In-memory copy of one directory, one block of `reader.directories`, in host form.
struct DirectoryBlock {
    uint16_t entryCount;
    uint64_t nextOffset;
    uint64_t offset;           // where the directory lies in the file
    DirectoryEntry entries[1]; // entryCount entries follow in the block
};

/// Reads the directory at `offset` into a new block. 0, kNoEntries, -301, -302, -304.
int32_t readDirectory(TiffReader& reader, uint64_t offset);
/// Reads the whole chain (ending at a repeated offset or after kMaxDirectories) and sets
/// directoryCount. 0 when at least one directory was read, -304 when memory ran out, else
/// -306.
int32_t readDirectoryChain(TiffReader& reader);
/// Makes the directory in `block` current: reset, decode every entry, derive. 0, or -304
/// when a value could not be stored for want of memory (the directory is then incomplete).
int32_t loadDirectory(TiffReader& reader, const DirectoryBlock& block);
/// Fills the empty `pageList` with one ImageRecord per directory of the file at `path`, in
/// page order. 0, a reader status (-300 ... -306) or a list status.
int32_t listPages(const char* path, FileList& pageList);
/// Puts the page list in page order and numbers it 0, 1, 2 ... 0 or a list status.
int32_t orderPages(FileList& pageList);

} // namespace tiffdir
