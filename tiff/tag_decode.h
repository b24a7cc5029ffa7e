// Turns a directory's entries into the reader's directory values.
#pragma once

#include <cstdint>

#include "core/status.h"
#include "tiff/tiff_reader.h"

namespace tiffdir {

inline constexpr int32_t kTooManyValues = -3; // an array of more than kMaxArrayValues
inline constexpr uint32_t kMaxArrayValues = 16384;

/// Compression value of a page whose data is JPEG in the old TIFF form: copied, not decoded.
inline constexpr uint16_t kCompressionOldJpeg = 6;
/// PageNumber's first value when the directory has none; any value above kMaxPageNumber
/// (0x8000 and up: negative as a signed 16-bit number) counts as none too.
inline constexpr uint16_t kNoPageNumber = 0xFFFF;
inline constexpr uint16_t kMaxPageNumber = 0x7FFF;
/// Orientation of a page viewed as stored: row 0 at the top, column 0 at the left.
inline constexpr uint16_t kOrientationAsStored = 1;
/// Whether `orientation` shows the page otherwise than stored (2 to 8; any other value
/// means nothing, and the page stands as stored).
inline bool viewedTurned(uint16_t orientation) {
    return orientation > kOrientationAsStored && orientation <= 8;
}

/// One directory entry in host form (12 bytes in a classic file, 20 in a BigTIFF one): the
/// value field holds the raw bytes as stored in the file, four or eight, the rest zero
/// (values held there are read at their own positions in the file's byte order);
/// `valueOffset` is the field read as one 32-bit (BigTIFF: 64-bit) number in that order.
struct DirectoryEntry {
    uint16_t tag;
    uint16_t type;
    uint64_t count;
    uint8_t valueField[8];
    uint64_t valueOffset;
};

/// Gives every directory value its default and frees the arrays of the directory before.
void resetDirectoryValues(TiffReader& reader);
/// Decodes one entry. 0, kFailed (a type, or PageNumber count, not accepted), -3, -309, -301 or
/// -302; a refused entry changes nothing.
int32_t decodeEntry(TiffReader& reader, const DirectoryEntry& entry);
/// Computes bitsPerPixel, bytesPerRow and, when missing, one strip byte count for the
/// whole image. Returns 0.
int32_t deriveDirectoryValues(TiffReader& reader);

} // namespace tiffdir
