#include "tiff/tiff_reader.h"

#include <cstdint>
#include <cstring>

#include "core/byte_order.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace tiffdir {

namespace {

// BigTIFF header fields: version and the size of an offset.
constexpr uint16_t kVersionBigTiff = 43;
constexpr uint16_t kBigTiffOffsetSize = 8;

// Seeks to `offset` and reads exactly `bytes` bytes; the bytes that did arrive stay in
// `destination` either way.
int32_t readAt(TiffReader& reader, uint64_t offset, uint64_t bytes, void* destination) {
    // A BigTIFF offset may not even be a file position; no seek could answer it truly.
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return kSeekError;
    if (platform::seekTo(reader.fileHandle, offset) != static_cast<int64_t>(offset))
        return kSeekError;
    const ssize_t got = platform::readFully(reader.fileHandle, destination, bytes);
    if (got < 0 || static_cast<uint64_t>(got) != bytes)
        return kReadError;
    return 0;
}

// The first directory's offset of a BigTIFF header (16 bytes), or none when the header is
// not one: then the file is read as a classic one, as any other version is.
bool bigTiffFirstOffset(int file, const uint8_t* header, bool bigEndian, uint64_t fileSize,
                        uint64_t& offset) {
    if (load16(header + 2, bigEndian) != kVersionBigTiff ||
        load16(header + 4, bigEndian) != kBigTiffOffsetSize || load16(header + 6, bigEndian) != 0)
        return false;
    uint8_t field[8];
    if (platform::readFully(file, field, sizeof field) != sizeof field)
        return false;
    offset = load64(field, bigEndian);
    return offset < fileSize;
}

} // namespace

int32_t open(TiffReader& reader, const char* path) {
    if (path == nullptr || path[0] == '\0')
        return kOpenError;
    UniqueFd file = platform::openInputFile(path);
    if (!file.valid())
        return kOpenError;
    const int64_t size = platform::fileSize(file.get());
    if (size < 0)
        return kOpenError;

    uint8_t header[8];
    if (platform::readFully(file.get(), header, sizeof header) != sizeof header)
        return kReadError;
    bool bigEndian;
    if (header[0] == 'I' && header[1] == 'I')
        bigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M')
        bigEndian = true;
    else
        return kNotTiff;

    if (KbfInit(&reader.directories) != 0)
        return kDirectoryStoreError;
    if (KbfInit(&reader.tagData) != 0) {
        KbfFree(&reader.directories);
        return kTagStoreError;
    }
    reader.bigEndian = bigEndian;
    reader.version = load16(header + 2, bigEndian);
    reader.fileSize = static_cast<uint64_t>(size);
    uint64_t bigOffset = 0;
    reader.bigTiff = bigTiffFirstOffset(file.get(), header, bigEndian, reader.fileSize, bigOffset);
    reader.firstDirectoryOffset = reader.bigTiff ? bigOffset : load32(header + 4, bigEndian);
    reader.fileHandle = file.release();
    return 0;
}

int32_t close(TiffReader& reader) {
    UniqueFd(reader.fileHandle).reset(); // closes it unless it is -1
    reader.fileHandle = -1;
    // Arrays and blocks die with their stores: forget every pointer into them.
    reader.stripOffsets = nullptr;
    reader.stripByteCounts = nullptr;
    reader.stripOffsetsLength = 0;
    reader.stripByteCountsLength = 0;
    return KbfFree(&reader.directories) + KbfFree(&reader.tagData);
}

namespace {
// Values are rebuilt from their bytes in place, in host order; a short read leaves zeros
// behind the bytes that arrived, as the caller's buffer held them.
template <class T>
int32_t readValues(TiffReader& reader, uint64_t offset, uint32_t count, T* destination) {
    const int32_t status = readAt(reader, offset, uint64_t{count} * sizeof(T), destination);
    auto* bytes = reinterpret_cast<uint8_t*>(destination);
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t* at = bytes + sizeof(T) * i;
        const T value = sizeof(T) == 2 ? static_cast<T>(load16(at, reader.bigEndian))
                                       : static_cast<T>(load32(at, reader.bigEndian));
        std::memcpy(at, &value, sizeof(T));
    }
    return status;
}
} // namespace

int32_t readShorts(TiffReader& reader, uint64_t offset, uint32_t count, uint16_t* destination) {
    return readValues(reader, offset, count, destination);
}

int32_t readLongs(TiffReader& reader, uint64_t offset, uint32_t count, uint32_t* destination) {
    return readValues(reader, offset, count, destination);
}

int32_t readBytes(TiffReader& reader, uint64_t offset, uint32_t count, void* destination) {
    return readAt(reader, offset, count, destination);
}

uint16_t swap16(uint16_t value) { return static_cast<uint16_t>(value >> 8 | value << 8); }

uint32_t swap32(uint32_t value) {
    return value >> 24 | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | value << 24;
}

uint32_t typeSize(uint16_t type, bool bigTiff) {
    switch (type) {
    case kTypeLong8:
    case kTypeSLong8:
    case kTypeIfd8:
        return bigTiff ? 8 : 1;
    case kTypeShort:
    case kTypeSShort:
        return 2;
    case kTypeLong:
    case kTypeSLong:
    case kTypeFloat:
        return 4;
    case kTypeRational:
    case kTypeSRational:
    case kTypeDouble:
        return 8;
    default: // kTypeByte, kTypeAscii, kTypeSByte, kTypeUndefined and unknown codes
        return 1;
    }
}

} // namespace tiffdir
