#include "tiff/directory_chain.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "core/byte_order.h"
#include "core/checked_math.h"
#include "core/clear_record.h"
#include "core/image_record.h"
#include "core/scope_exit.h"
#include "platform/heap_array.h"

namespace tiffdir {

namespace {

// The sizes of a directory's parts in the file: entry count, one entry, next offset.
struct DirectoryLayout {
    uint64_t countSize;
    uint64_t entrySize;
    uint64_t offsetSize;
};
constexpr DirectoryLayout kClassicLayout{2, 12, 4};
constexpr DirectoryLayout kBigTiffLayout{8, 20, 8};
// The most entries a directory may have: a classic count read as signed 16 bits.
constexpr uint64_t kMaxEntries = 0x7FFF;

// Offsets of the directories met so far, so that a chain pointing back into itself ends.
// Open addressing over a table that doubles when half full; offset 0 never enters (it
// ends the chain), so 0 marks an empty slot. Out of memory is a result, not a throw.
class OffsetSet {
  public:
    enum class Insert { Added, Repeat, NoMemory };
    Insert insert(uint64_t offset) {
        if ((used_ + 1) * 2 > capacity_ && !grow())
            return Insert::NoMemory;
        size_t slot = indexOf(offset);
        while (slots_[slot] != 0) {
            if (slots_[slot] == offset)
                return Insert::Repeat;
            slot = (slot + 1) & (capacity_ - 1);
        }
        slots_[slot] = offset;
        ++used_;
        return Insert::Added;
    }

  private:
    size_t indexOf(uint64_t offset) const {
        return static_cast<size_t>((offset ^ offset >> 32) * uint64_t{0x9E3779B97F4A7C15u} >> 7) &
               (capacity_ - 1);
    }
    bool grow() {
        const size_t oldCapacity = capacity_;
        const size_t newCapacity = oldCapacity == 0 ? 64 : oldCapacity * 2;
        HeapArray<uint64_t> old(static_cast<uint64_t*>(std::calloc(newCapacity, sizeof(uint64_t))));
        if (!old)
            return false;
        std::swap(slots_, old);
        capacity_ = newCapacity;
        used_ = 0;
        for (size_t i = 0; i < oldCapacity; ++i)
            if (old[i] != 0)
                insert(old[i]);
        return true;
    }

    HeapArray<uint64_t> slots_;
    size_t capacity_ = 0;
    size_t used_ = 0;
};

const ImageRecord& recordAt(const FileList& list) {
    return *reinterpret_cast<const ImageRecord*>(list.current);
}

} // namespace

int32_t readDirectory(TiffReader& reader, uint64_t offset) {
    const DirectoryLayout layout = reader.bigTiff ? kBigTiffLayout : kClassicLayout;
    // Checked first: a BigTIFF offset near 2^64 would wrap the sums below.
    if (!rangeInside(offset, layout.countSize, reader.fileSize))
        return kReadError;
    uint8_t countBytes[8];
    if (int32_t status =
            readBytes(reader, offset, static_cast<uint32_t>(layout.countSize), countBytes);
        status != 0)
        return status;
    const uint64_t count = reader.bigTiff ? load64(countBytes, reader.bigEndian)
                                          : load16(countBytes, reader.bigEndian);
    if (count == 0 || count > kMaxEntries)
        return kNoEntries;

    // Entries and next offset, read at once. A directory whose entries cannot be whole
    // inside the file is refused before any memory is spent on it; one whose file ends
    // within its next offset is the last, as libtiff reads it.
    const uint64_t entriesAt = offset + layout.countSize;
    const uint64_t entriesSize = count * layout.entrySize;
    if (!rangeInside(entriesAt, entriesSize, reader.fileSize))
        return kReadError;
    const bool nextInside =
        rangeInside(entriesAt + entriesSize, layout.offsetSize, reader.fileSize);
    const uint64_t rawSize = entriesSize + (nextInside ? layout.offsetSize : 0);
    void* blockData = nullptr;
    const size_t blockSize = offsetof(DirectoryBlock, entries) + count * sizeof(DirectoryEntry);
    if (KbfCreate(&reader.directories, static_cast<int32_t>(blockSize), &blockData) != 0)
        return kDirectoryStoreError;
    auto* block = static_cast<DirectoryBlock*>(blockData);
    block->offset = offset;

    HeapArray<uint8_t> raw(static_cast<uint8_t*>(std::malloc(rawSize)));
    if (!raw)
        return kDirectoryStoreError;
    // At most 32767 entries: the size fits 32 bits.
    if (int32_t status = readBytes(reader, entriesAt, static_cast<uint32_t>(rawSize), raw.get());
        status != 0)
        return status;

    const bool big = reader.bigEndian;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = raw.get() + i * layout.entrySize;
        DirectoryEntry& entry = block->entries[i];
        entry.tag = load16(p, big);
        entry.type = load16(p + 2, big);
        if (reader.bigTiff) {
            entry.count = load64(p + 4, big);
            std::memcpy(entry.valueField, p + 12, 8);
            entry.valueOffset = load64(p + 12, big);
        } else {
            entry.count = load32(p + 4, big);
            std::memcpy(entry.valueField, p + 8, 4);
            entry.valueOffset = load32(p + 8, big);
        }
    }
    block->entryCount = static_cast<uint16_t>(count);
    const uint8_t* next = raw.get() + entriesSize;
    block->nextOffset = !nextInside ? 0 : reader.bigTiff ? load64(next, big) : load32(next, big);
    return 0;
}

int32_t readDirectoryChain(TiffReader& reader) {
    OffsetSet visited;
    uint64_t offset = reader.firstDirectoryOffset;
    int count = 0;
    // A loop ends at its first repeated offset; a chain of distinct offsets ends after
    // kMaxDirectories. Either way the directories read so far stand as pages.
    // Memory that runs out fails the file instead: the pages after it would go unsaid.
    uint64_t entries = 0;
    while (offset != 0 && count < kMaxDirectories) {
        const OffsetSet::Insert met = visited.insert(offset);
        if (met == OffsetSet::Insert::NoMemory)
            return kDirectoryStoreError;
        if (met == OffsetSet::Insert::Repeat)
            break;
        if (int32_t status = readDirectory(reader, offset); status != 0) {
            if (status == kDirectoryStoreError)
                return status;
            break;
        }
        ++count;
        // Directories may overlap, so the file's size alone does not bound what they hold:
        // a chain ends once it holds far more entries than the file has room for.
        entries += reinterpret_cast<const DirectoryBlock*>(reader.directories.data)->entryCount;
        if (entries > std::min(kMaxHeldEntries + reader.fileSize / 3, kMaxChainEntries))
            break;
        offset = reinterpret_cast<const DirectoryBlock*>(reader.directories.data)->nextOffset;
    }
    reader.directoryCount = count;
    return count > 0 ? 0 : kNoDirectory;
}

int32_t loadDirectory(TiffReader& reader, const DirectoryBlock& block) {
    resetDirectoryValues(reader);
    int32_t result = 0;
    for (uint16_t i = 0; i < block.entryCount; ++i)
        if (decodeEntry(reader, block.entries[i]) == kKbfNoMemory)
            result = kDirectoryStoreError;
    if (deriveDirectoryValues(reader) == kKbfNoMemory)
        result = kDirectoryStoreError;
    return result;
}

int32_t listPages(const char* path, FileList& pageList) {
    TiffReader reader;
    clearRecord(reader);
    if (int32_t status = open(reader, path); status != 0)
        return status;
    ScopeExit closeReader([&] { close(reader); });
    if (int32_t status = readDirectoryChain(reader); status != 0)
        return status;

    KbfRewind(&reader.directories);
    for (int i = 0; i < reader.directoryCount; ++i) {
        if (int32_t status = KbfNext(&reader.directories); status != 0)
            return status;
        const auto& block = *reinterpret_cast<const DirectoryBlock*>(reader.directories.data);
        if (int32_t status = loadDirectory(reader, block); status != 0)
            return status;

        ImageRecord page;
        clearRecord(page);
        page.fileKind = kFileKindTiff;
        page.width = static_cast<int32_t>(reader.imageWidth);
        page.height = static_cast<int32_t>(reader.imageLength);
        page.bitsPerPixel = reader.bitsPerPixel;
        page.compression = reader.compression;
        page.directoryIndex = i;
        page.pageCount = reader.directoryCount;
        page.directoryOffset = block.offset;
        page.pageNumber = i;
        if (reader.pageNumber <= kMaxPageNumber) {
            const uint16_t number = reader.pageNumber;
            const uint16_t total = reader.pageTotal;
            page.pageNumber = number > total && total != 0 ? total : number;
        }
        // A page that cannot be stored fails the file: a silently shorter list would
        // lose the page without a word.
        if (int32_t status = pageList.add(&page, sizeof page); status != 0)
            return status;
    }
    closeReader.release();
    close(reader);
    return orderPages(pageList);
}

int32_t orderPages(FileList& pageList) {
    const int32_t n = pageList.count();
    if (n <= 0)
        return 0;

    HeapArray<uint32_t> tally(static_cast<uint32_t*>(std::calloc(static_cast<size_t>(n), 4)));
    if (!tally)
        return kKbfNoMemory;
    bool inOrder = true;
    pageList.rewind();
    for (int32_t i = 0; i < n; ++i) {
        if (int32_t status = pageList.next(); status != 0)
            return status;
        const int32_t number = recordAt(pageList).pageNumber;
        inOrder = inOrder && number == i;
        if (number >= 0 && number < n)
            ++tally[static_cast<size_t>(number)];
    }
    if (inOrder)
        return 0;
    bool permutation = true;
    for (int32_t v = 0; v < n; ++v)
        permutation = permutation && tally[static_cast<size_t>(v)] == 1;

    if (!permutation) {
        // File order, numbered by position.
        pageList.rewind();
        for (int32_t i = 0; i < n && pageList.next() == 0; ++i)
            reinterpret_cast<ImageRecord*>(pageList.current)->pageNumber = i;
        return 0;
    }

    // A permutation: each record goes to the position its page number names. The copy
    // is taken first, so a lack of memory leaves the list as it was.
    FileList copy;
    if (int32_t status = pageList.copyTo(copy, sizeof(ImageRecord)); status != 0)
        return status;
    HeapArray<const ImageRecord*> byNumber(
        static_cast<const ImageRecord**>(std::calloc(static_cast<size_t>(n), sizeof(void*))));
    if (!byNumber)
        return kKbfNoMemory;
    copy.rewind();
    for (int32_t i = 0; i < n && copy.next() == 0; ++i) {
        const auto* record = reinterpret_cast<const ImageRecord*>(copy.current);
        byNumber[static_cast<size_t>(record->pageNumber)] = record;
    }
    pageList.clear();
    for (int32_t i = 0; i < n; ++i) {
        ImageRecord record = *byNumber[static_cast<size_t>(i)];
        record.pageNumber = i;
        // Pages already added stay; the failure still fails the file, so none goes unsaid.
        if (int32_t status = pageList.add(&record, sizeof record); status != 0)
            return status;
    }
    return 0;
}

} // namespace tiffdir
