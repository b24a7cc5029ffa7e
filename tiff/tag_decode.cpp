#include "tiff/tag_decode.h"

#include <algorithm>
#include <cstddef>

#include "core/byte_order.h"
#include "platform/dib_section.h"

namespace tiffdir {

namespace {

constexpr uint16_t kImageWidth = 256;
constexpr uint16_t kImageLength = 257;
constexpr uint16_t kBitsPerSample = 258;
constexpr uint16_t kCompression = 259;
constexpr uint16_t kStripOffsets = 273;
constexpr uint16_t kOrientation = 274;
constexpr uint16_t kSamplesPerPixel = 277;
constexpr uint16_t kStripByteCounts = 279;
constexpr uint16_t kPageNumber = 297;
constexpr uint16_t kJpegInterchangeFormat = 513;
constexpr uint16_t kJpegInterchangeFormatLength = 514;

uint16_t shortAt(const TiffReader& reader, const DirectoryEntry& entry, int index) {
    return load16(entry.valueField + 2 * index, reader.bigEndian);
}

uint32_t sizeOf(const TiffReader& reader, const DirectoryEntry& entry) {
    return typeSize(entry.type, reader.bigTiff);
}

// True when the entry's values are held in its value field (4 bytes, BigTIFF 8).
bool valuesInField(const TiffReader& reader, const DirectoryEntry& entry) {
    const uint32_t fieldBytes = reader.bigTiff ? 8 : 4;
    return entry.count <= fieldBytes / sizeOf(reader, entry);
}

// Value `index` of `size` bytes (1, 2, 4 or 8) from `bytes`, in the file's byte order.
uint64_t valueAt(const TiffReader& reader, const uint8_t* bytes, uint32_t size, uint32_t index) {
    const uint8_t* at = bytes + size_t{size} * index;
    switch (size) {
    case 1:
        return *at;
    case 2:
        return load16(at, reader.bigEndian);
    case 4:
        return load32(at, reader.bigEndian);
    default:
        return load64(at, reader.bigEndian);
    }
}

// The single value of an entry, read at its own position in the value field. A classic
// field holds 4 bytes, so an 8-byte type gives what they hold: the values' offset.
uint64_t singleValue(const TiffReader& reader, const DirectoryEntry& entry) {
    const uint32_t size = sizeOf(reader, entry);
    return valueAt(reader, entry.valueField, reader.bigTiff ? size : std::min(size, 4u), 0);
}

bool isShortOrLong(const DirectoryEntry& entry) {
    return entry.type == kTypeShort || entry.type == kTypeLong;
}

// BigTIFF's 8-byte integer types, which it allows wherever a LONG offset or count goes.
bool isBigTiffInteger(const TiffReader& reader, const DirectoryEntry& entry) {
    return reader.bigTiff &&
           (entry.type == kTypeLong8 || entry.type == kTypeSLong8 || entry.type == kTypeIfd8);
}

// Creates a zero-filled array of `count` values in tagData; none for a count of 0.
template <class T> int32_t createArray(TiffReader& reader, uint64_t count, T** array) {
    if (count == 0)
        return kDataBufferError;
    void* block = nullptr;
    // count is at most kMaxArrayValues here, so the size fits easily. No memory is told
    // apart (kKbfNoMemory): it fails the page instead of leaving a value out.
    if (int32_t status =
            KbfCreate(&reader.tagData, static_cast<int32_t>(count * sizeof(T)), &block);
        status != 0)
        return status == kKbfNoMemory ? status : kDataBufferError;
    *array = static_cast<T*>(block);
    return 0;
}

// Fills a 64-bit array from SHORT, LONG or 8-byte values, from the value field when they
// fit there. `entry.count` is at most kMaxArrayValues.
int32_t fillStripArray(TiffReader& reader, const DirectoryEntry& entry, uint64_t* array) {
    const uint32_t size = sizeOf(reader, entry);
    const auto count = static_cast<uint32_t>(entry.count);
    if (valuesInField(reader, entry)) {
        for (uint32_t i = 0; i < count; ++i)
            array[i] = valueAt(reader, entry.valueField, size, i);
        return 0;
    }
    // The values are read into the front of the array and widened from the last one down:
    // value i lands on bytes 8i..8i+7, which hold only values i and above, all already
    // widened by then. A short read leaves zeros behind the bytes that arrived.
    auto* bytes = reinterpret_cast<uint8_t*>(array);
    const int32_t status = readBytes(reader, entry.valueOffset, count * size, bytes);
    for (uint32_t i = count; i-- > 0;) {
        const uint64_t value = valueAt(reader, bytes, size, i);
        array[i] = value;
    }
    return status;
}

int32_t decodeStripArray(TiffReader& reader, const DirectoryEntry& entry) {
    // A negative SLONG8 reads as an offset past any file: its strip has no bytes.
    if (!isShortOrLong(entry) && !isBigTiffInteger(reader, entry))
        return kFailed;
    if (entry.count > kMaxArrayValues)
        return kTooManyValues;
    if (entry.count == 0)
        return kDataBufferError; // no array: the entry changes nothing
    const bool offsets = entry.tag == kStripOffsets;
    uint64_t*& array = offsets ? reader.stripOffsets : reader.stripByteCounts;
    uint32_t& room = offsets ? reader.stripOffsetsRoom : reader.stripByteCountsRoom;
    // A later entry of the tag wins. A repeat that needs more room than the array has takes
    // the largest at once, so a directory of thousands of repeats costs at most two arrays.
    if (array == nullptr || room < entry.count) {
        const uint64_t values = array == nullptr ? entry.count : kMaxArrayValues;
        if (int32_t status = createArray(reader, values, &array); status != 0)
            return status;
        room = static_cast<uint32_t>(values);
    } else {
        std::fill_n(array, room, uint64_t{0});
    }
    // The array is installed before it is filled, with its real length: a read that fails
    // half-way leaves zeros, never values from beyond the array.
    if (offsets) {
        reader.stripOffsetsLength = static_cast<uint32_t>(entry.count);
        reader.stripCount = static_cast<int>(entry.count);
    } else {
        reader.stripByteCountsLength = static_cast<uint32_t>(entry.count);
    }
    return fillStripArray(reader, entry, array);
}

int32_t decodeBitsPerSample(TiffReader& reader, const DirectoryEntry& entry) {
    if (entry.type != kTypeShort)
        return kFailed;
    if (entry.count == 1) {
        reader.bitsPerSample = shortAt(reader, entry, 0);
        return 0;
    }
    if (entry.count > kMaxArrayValues)
        return kTooManyValues;
    uint16_t* array = nullptr;
    if (int32_t status = createArray(reader, entry.count, &array); status != 0)
        return status;
    if (valuesInField(reader, entry)) {
        for (int i = 0; i < static_cast<int>(entry.count); ++i)
            array[i] = shortAt(reader, entry, i);
    } else if (int32_t status =
                   readShorts(reader, entry.valueOffset, static_cast<uint32_t>(entry.count), array);
               status != 0) {
        return status;
    }
    // Pages with several samples are decoded through libtiff, which reads the sizes
    // itself; here they count as 8 bits each.
    reader.bitsPerSample = 8;
    return 0;
}

} // namespace

void resetDirectoryValues(TiffReader& reader) {
    // The arrays of the directory before go: a chain of many directories would otherwise
    // pile up every one of them until the file is closed.
    if (KbfCheck(&reader.tagData) == 0) {
        KbfFree(&reader.tagData);
        KbfInit(&reader.tagData);
    }
    reader.imageWidth = 0;
    reader.imageLength = 0;
    reader.bitsPerSample = 1;
    reader.samplesPerPixel = 0;
    reader.compression = 0;
    reader.stripCount = 1;
    reader.stripOffsets = nullptr;
    reader.stripByteCounts = nullptr;
    reader.stripOffsetsLength = 0;
    reader.stripByteCountsLength = 0;
    reader.stripOffsetsRoom = 0;
    reader.stripByteCountsRoom = 0;
    reader.pageNumber = kNoPageNumber;
    reader.pageTotal = 0;
    reader.jpegInterchangeFormat = 0;
    reader.jpegInterchangeFormatLength = 0;
    reader.orientation = kOrientationAsStored;
    reader.bitsPerPixel = 1;
    reader.bytesPerRow = 0;
}

int32_t decodeEntry(TiffReader& reader, const DirectoryEntry& entry) {
    switch (entry.tag) {
    case kImageWidth:
    case kImageLength: {
        const uint64_t value = singleValue(reader, entry);
        if (!isShortOrLong(entry) && !(isBigTiffInteger(reader, entry) && value <= UINT32_MAX))
            return kFailed;
        (entry.tag == kImageWidth ? reader.imageWidth : reader.imageLength) =
            static_cast<uint32_t>(value);
        return 0;
    }
    case kBitsPerSample:
        return decodeBitsPerSample(reader, entry);
    case kCompression:
    case kSamplesPerPixel:
        if (entry.type != kTypeShort)
            return kFailed;
        (entry.tag == kCompression ? reader.compression : reader.samplesPerPixel) =
            shortAt(reader, entry, 0);
        return 0;
    case kStripOffsets:
    case kStripByteCounts:
        return decodeStripArray(reader, entry);
    case kPageNumber:
        if (entry.type != kTypeShort || entry.count != 2)
            return kFailed;
        reader.pageNumber = shortAt(reader, entry, 0);
        reader.pageTotal = shortAt(reader, entry, 1);
        return 0;
    case kOrientation:
        // Only told to the copy, which leaves turned pages to the decoder: a value of any
        // other form is as good as none.
        if (entry.type == kTypeShort && entry.count == 1)
            reader.orientation = shortAt(reader, entry, 0);
        return 0;
    case kJpegInterchangeFormat:
        reader.jpegInterchangeFormat = singleValue(reader, entry);
        return 0;
    case kJpegInterchangeFormatLength:
        if (entry.type != kTypeLong && !isBigTiffInteger(reader, entry))
            return kFailed;
        reader.jpegInterchangeFormatLength = singleValue(reader, entry);
        return 0;
    default:
        return 0;
    }
}

int32_t deriveDirectoryValues(TiffReader& reader) {
    const uint32_t samples = reader.samplesPerPixel == 0 ? 1 : reader.samplesPerPixel;
    reader.bitsPerPixel = static_cast<uint16_t>(reader.bitsPerSample * samples);
    // Only a description of the page: the sizes used for memory are computed again, checked,
    // by the page reader. Unsigned 32-bit arithmetic keeps a wrap defined.
    reader.bytesPerRow = paddedRowBytes<uint32_t>(reader.imageWidth, reader.bitsPerPixel);
    if (reader.stripByteCounts == nullptr) {
        // The whole image as one strip, decoded like a StripByteCounts entry of the file.
        DirectoryEntry entry{};
        entry.tag = kStripByteCounts;
        entry.type = kTypeLong;
        entry.count = 1;
        entry.valueOffset = reader.imageLength * reader.bytesPerRow;
        const uint32_t v = entry.valueOffset;
        const bool big = reader.bigEndian;
        for (int i = 0; i < 4; ++i)
            entry.valueField[i] = static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i));
        return decodeEntry(reader, entry) == kKbfNoMemory ? kKbfNoMemory : 0;
    }
    return 0;
}

} // namespace tiffdir
