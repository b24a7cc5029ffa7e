// The system's own reader of TIFF structure: header, byte order, directory chain and the
// tag values that describe a page. It decodes no pixels. Nothing here prints.
#pragma once

#include <cstdint>

#include "core/kbf_buffer.h"

namespace tiffdir {

inline constexpr int32_t kOpenError = -300; // path missing/empty, or not openable
inline constexpr int32_t kReadError = -301; // a read returned fewer bytes than asked
inline constexpr int32_t kSeekError = -302; // a seek did not arrive at its offset
inline constexpr int32_t kNotTiff = -303;   // byte-order mark neither "II" nor "MM"
inline constexpr int32_t kDirectoryStoreError = -304;
inline constexpr int32_t kTagStoreError = -305;
inline constexpr int32_t kNoDirectory = -306;     // not one directory could be read
inline constexpr int32_t kDataBufferError = -309; // a value array cannot be created

// Field types of directory entries (TIFF 6.0; 16 to 18 are BigTIFF's 8-byte types, in a
// classic file unknown codes).
enum FieldType : uint16_t {
    kTypeByte = 1,
    kTypeAscii,
    kTypeShort,
    kTypeLong,
    kTypeRational,
    kTypeSByte,
    kTypeUndefined,
    kTypeSShort,
    kTypeSLong,
    kTypeSRational,
    kTypeFloat,
    kTypeDouble,
    kTypeLong8 = 16,
    kTypeSLong8,
    kTypeIfd8
};

/// One opened TIFF file. Its owner clears it whole before `open` and calls `close`.
struct TiffReader {
    int fileHandle; // -1 after close
    bool bigEndian; // header "MM"; "II" is little-endian
    // Version 43, offset size 8, a zero pad and a first offset inside the file: 8-byte
    // counts and offsets, 20-byte entries. Any other header is read as a classic one.
    bool bigTiff;
    uint16_t version;
    uint64_t firstDirectoryOffset;
    int directoryCount;
    KbfBuffer directories; // one DirectoryBlock per directory read, in chain order
    KbfBuffer tagData;     // value arrays created while decoding entries

    // Values of the directory decoded last (see tag_decode.h).
    uint32_t imageWidth;
    uint32_t imageLength;
    uint16_t bitsPerSample;
    uint16_t samplesPerPixel;
    uint16_t compression;
    int stripCount;
    uint64_t* stripOffsets;         // in tagData, or null
    uint64_t* stripByteCounts;      // in tagData, or null
    uint32_t stripOffsetsLength;    // values in stripOffsets
    uint32_t stripByteCountsLength; // values in stripByteCounts
    uint32_t stripOffsetsRoom;      // values stripOffsets can hold
    uint32_t stripByteCountsRoom;   // values stripByteCounts can hold
    uint16_t pageNumber;
    uint16_t pageTotal;
    uint64_t jpegInterchangeFormat;
    uint64_t jpegInterchangeFormatLength;
    uint16_t orientation; // as the page is viewed; kOrientationAsStored when absent
    uint16_t bitsPerPixel;
    uint32_t bytesPerRow;

    uint64_t fileSize; // bytes in the file, taken at open
};

/// Opens `path` (regular files only) and reads the header. 0, -300, -301, -303, -304, -305.
/// A failed open leaves nothing open.
int32_t open(TiffReader& reader, const char* path);
/// Closes the file and frees both stores. Returns the sum of the two release results.
int32_t close(TiffReader& reader);
/// Reads `count` 16-bit values at `offset` into host order. 0, -302 or -301.
int32_t readShorts(TiffReader& reader, uint64_t offset, uint32_t count, uint16_t* destination);
/// Reads `count` 32-bit values at `offset` into host order. 0, -302 or -301.
int32_t readLongs(TiffReader& reader, uint64_t offset, uint32_t count, uint32_t* destination);
/// Reads `count` raw bytes at `offset`. 0, -302 or -301.
int32_t readBytes(TiffReader& reader, uint64_t offset, uint32_t count, void* destination);

uint16_t swap16(uint16_t value);
uint32_t swap32(uint32_t value);
/// Bytes per value of a TIFF field type (1 for unknown codes). The 8-byte types count as
/// such only in a BigTIFF file.
uint32_t typeSize(uint16_t type, bool bigTiff = false);

} // namespace tiffdir
