// Builds TIFF files byte by byte, well-formed or broken on purpose, so that each
// structural case of a test is readable where the test is written.
//
//   const std::vector<uint8_t> file = TiffBuilder(ByteOrder::Big)
//       .page().tag(kTagImageWidth, kShort, {8}).tag(kTagPageNumber, kShort, {2, 5})
//       .page().entryCount(0)                        // ends the chain here
//       .build();
//
// Layout: the 8-byte header (BigTIFF: 16 bytes), then every blob at the offset it was given, then
// each page's directory followed by its values that do not fit in a value field. Blobs therefore
// take small offsets (from 8 up; BigTIFF 16) and the structure never collides with them. A BigTIFF
// build has 8-byte counts and offsets, 20-byte entries and 8-byte value fields.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tiff/tiff_reader.h"

namespace tiff_builder {

enum class ByteOrder { Little, Big };
enum class Format { Classic, BigTiff };

inline constexpr ByteOrder kBothOrders[] = {ByteOrder::Little, ByteOrder::Big};
inline const char* nameOf(ByteOrder order) {
    return order == ByteOrder::Big ? "big-endian" : "little-endian";
}

// Field types.
inline constexpr uint16_t kByte = 1;
inline constexpr uint16_t kAscii = 2;
inline constexpr uint16_t kShort = 3;
inline constexpr uint16_t kLong = 4;
inline constexpr uint16_t kRational = 5;
inline constexpr uint16_t kLong8 = 16; // BigTIFF only, as are the two below
inline constexpr uint16_t kSLong8 = 17;
inline constexpr uint16_t kIfd8 = 18;

// Tags the reader knows.
inline constexpr uint16_t kTagImageWidth = 256;
inline constexpr uint16_t kTagImageLength = 257;
inline constexpr uint16_t kTagBitsPerSample = 258;
inline constexpr uint16_t kTagCompression = 259;
inline constexpr uint16_t kTagStripOffsets = 273;
inline constexpr uint16_t kTagSamplesPerPixel = 277;
inline constexpr uint16_t kTagRowsPerStrip = 278;
inline constexpr uint16_t kTagStripByteCounts = 279;
inline constexpr uint16_t kTagPageNumber = 297;
inline constexpr uint16_t kTagJpegInterchangeFormat = 513;
inline constexpr uint16_t kTagJpegInterchangeFormatLength = 514;

class TiffBuilder {
  public:
    explicit TiffBuilder(ByteOrder order = ByteOrder::Little, Format format = Format::Classic);

    /// Starts a new page (directory); entries added after it belong to it.
    TiffBuilder& page();
    /// Starts an old-style JPEG page (Compression 6) of `width` x `height` whose strips lie at
    /// `offsets`, `counts` bytes each.
    TiffBuilder& oldJpegPage(uint32_t width, uint32_t height, std::vector<uint32_t> offsets,
                             std::vector<uint32_t> counts);
    /// Starts a page `width` x 10 whose one strip, of 1 byte, lies where the first blob would.
    TiffBuilder& plainPage(uint32_t width);
    /// An entry whose values are encoded by type (1, 2, 4 bytes each; RATIONAL takes
    /// numerator, denominator pairs). Values that fit in 4 bytes go in the value field,
    /// left-justified; others are placed after the directory and the field holds their offset.
    TiffBuilder& tag(uint16_t tag, uint16_t type, std::vector<uint32_t> values);
    /// The same for values of 8 bytes each (LONG8, SLONG8, IFD8).
    TiffBuilder& tag64(uint16_t tag, uint16_t type, std::vector<uint64_t> values);
    /// An entry with a given count whose value field holds `offset` (e.g. past the end).
    TiffBuilder& tagAt(uint16_t tag, uint16_t type, uint64_t count, uint64_t offset);
    /// An entry whose 4 value-field bytes are written exactly as given.
    TiffBuilder& rawTag(uint16_t tag, uint16_t type, uint32_t count,
                        std::array<uint8_t, 4> valueField);
    /// Writes `count` in the current directory's entry-count field instead of the number of
    /// entries (the entries themselves are still written).
    TiffBuilder& entryCount(uint16_t count);
    /// Writes `offset` as the current directory's next offset.
    TiffBuilder& nextOffset(uint64_t offset);
    /// Points the current directory's next offset at page `pageIndex`'s directory.
    TiffBuilder& nextOffsetToPage(size_t pageIndex);
    /// Writes `offset` in the header as the first directory offset.
    TiffBuilder& firstOffset(uint64_t offset);
    /// Places `bytes` at file offset `offset` (8 or more).
    TiffBuilder& blob(uint32_t offset, std::vector<uint8_t> bytes);

    /// The file's bytes.
    std::vector<uint8_t> build();
    /// Directory offsets of the last build, one per page.
    const std::vector<uint32_t>& directoryOffsets() const { return directoryOffsets_; }

  private:
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint64_t count;
        std::array<uint8_t, 8> field;
        std::vector<uint8_t> outOfLine; // placed after the directory when not empty
    };
    struct Page {
        std::vector<Entry> entries;
        std::optional<uint16_t> entryCount;
        std::optional<uint64_t> nextOffset;
        std::optional<size_t> nextPage;
    };
    struct Blob {
        uint32_t offset;
        std::vector<uint8_t> bytes;
    };

    Page& current();
    TiffBuilder& addValues(uint16_t tag, uint16_t type, std::vector<uint8_t> bytes);
    void put16(uint8_t* p, uint32_t v) const;
    void put32(uint8_t* p, uint32_t v) const;
    void put64(uint8_t* p, uint64_t v) const;
    // An offset or count field: 4 bytes, or 8 in BigTIFF.
    void putWord(uint8_t* p, uint64_t v) const;

    bool big_;
    bool bigTiff_;
    std::optional<uint64_t> firstOffset_;
    std::vector<Page> pages_;
    std::vector<Blob> blobs_;
    std::vector<uint32_t> directoryOffsets_;
};

/// Four pages of 16 x 16 over `jpeg`, a JPEG of such a page: a copied old-style page, a page
/// that cannot be loaded, an old-style page with nothing to copy or decode, a copied page.
std::vector<uint8_t> failingPagesFile(const std::vector<uint8_t>& jpeg);

/// One old-style JPEG page, YCbCr 4:2:0 of `width` x `height` viewed at `orientation`, whose
/// one strip and interchange block are both the whole of `jpeg`, a JPEG of the page as stored.
std::vector<uint8_t> wholeJpegPageFile(const std::vector<uint8_t>& jpeg, uint32_t width,
                                       uint32_t height, uint16_t orientation);

/// Bytes 0, 1, 2 ... (mod 251), so that misplaced or repeated bytes show in a comparison.
std::vector<uint8_t> patternBytes(size_t count, uint8_t seed = 0);
/// The whole content of a file; empty when it cannot be read.
std::vector<uint8_t> readWholeFile(const std::string& path);

/// The structure reader on a file of `bytes`: opened, its chain read, its first directory
/// loaded, each step only when the one before succeeded; closed when done.
struct ReadBack {
    explicit ReadBack(const std::vector<uint8_t>& bytes);
    ~ReadBack();
    ReadBack(const ReadBack&) = delete;
    ReadBack& operator=(const ReadBack&) = delete;
    std::vector<uint64_t> stripOffsets() const;
    std::vector<uint64_t> stripByteCounts() const;

    ScratchDir dir;
    tiffdir::TiffReader reader;
    int32_t openStatus = -1;
    int32_t chainStatus = -1; // 0: the first directory is loaded
};

} // namespace tiff_builder
