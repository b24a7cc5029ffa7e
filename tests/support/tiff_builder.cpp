#include "tests/support/tiff_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "core/clear_record.h"
#include "tiff/directory_chain.h"

namespace tiff_builder {

namespace {

uint32_t bytesPerValue(uint16_t type) {
    switch (type) {
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
        return 4;
    case 5:
    case 10:
    case 12:
    case 16:
    case 17:
    case 18:
        return 8;
    default:
        return 1;
    }
}

} // namespace

TiffBuilder::TiffBuilder(ByteOrder order, Format format)
    : big_(order == ByteOrder::Big), bigTiff_(format == Format::BigTiff) {}

TiffBuilder::Page& TiffBuilder::current() {
    if (pages_.empty())
        pages_.emplace_back();
    return pages_.back();
}

void TiffBuilder::put16(uint8_t* p, uint32_t v) const {
    if (big_) {
        p[0] = static_cast<uint8_t>(v >> 8);
        p[1] = static_cast<uint8_t>(v);
    } else {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
}

void TiffBuilder::put32(uint8_t* p, uint32_t v) const {
    if (big_) {
        put16(p, v >> 16);
        put16(p + 2, v & 0xFFFF);
    } else {
        put16(p, v & 0xFFFF);
        put16(p + 2, v >> 16);
    }
}

void TiffBuilder::put64(uint8_t* p, uint64_t v) const {
    put32(p + (big_ ? 4 : 0), static_cast<uint32_t>(v));
    put32(p + (big_ ? 0 : 4), static_cast<uint32_t>(v >> 32));
}

void TiffBuilder::putWord(uint8_t* p, uint64_t v) const {
    if (bigTiff_)
        put64(p, v);
    else
        put32(p, static_cast<uint32_t>(v));
}

TiffBuilder& TiffBuilder::page() {
    pages_.emplace_back();
    return *this;
}

TiffBuilder& TiffBuilder::tag(uint16_t tag, uint16_t type, std::vector<uint32_t> values) {
    if (type == kLong8 || type == kSLong8 || type == kIfd8)
        return tag64(tag, type, std::vector<uint64_t>(values.begin(), values.end()));
    const uint32_t size = bytesPerValue(type);
    // A RATIONAL is two LONGs: its values come in pairs.
    const uint32_t wordSize = size == 8 ? 4 : size;
    std::vector<uint8_t> bytes(values.size() * wordSize);
    for (size_t i = 0; i < values.size(); ++i) {
        uint8_t* p = bytes.data() + i * wordSize;
        if (wordSize == 1)
            p[0] = static_cast<uint8_t>(values[i]);
        else if (wordSize == 2)
            put16(p, values[i]);
        else
            put32(p, values[i]);
    }
    return addValues(tag, type, std::move(bytes));
}

TiffBuilder& TiffBuilder::tag64(uint16_t tag, uint16_t type, std::vector<uint64_t> values) {
    std::vector<uint8_t> bytes(values.size() * 8);
    for (size_t i = 0; i < values.size(); ++i)
        put64(bytes.data() + i * 8, values[i]);
    return addValues(tag, type, std::move(bytes));
}

TiffBuilder& TiffBuilder::addValues(uint16_t tag, uint16_t type, std::vector<uint8_t> bytes) {
    Entry entry{tag, type, bytes.size() / bytesPerValue(type), {}, {}};
    if (bytes.size() <= (bigTiff_ ? 8u : 4u))
        std::copy(bytes.begin(), bytes.end(), entry.field.begin());
    else
        entry.outOfLine = std::move(bytes);
    current().entries.push_back(std::move(entry));
    return *this;
}

TiffBuilder& TiffBuilder::tagAt(uint16_t tag, uint16_t type, uint64_t count, uint64_t offset) {
    Entry entry{tag, type, count, {}, {}};
    putWord(entry.field.data(), offset);
    current().entries.push_back(std::move(entry));
    return *this;
}

TiffBuilder& TiffBuilder::rawTag(uint16_t tag, uint16_t type, uint32_t count,
                                 std::array<uint8_t, 4> valueField) {
    Entry entry{tag, type, count, {}, {}};
    std::copy(valueField.begin(), valueField.end(), entry.field.begin());
    current().entries.push_back(std::move(entry));
    return *this;
}

TiffBuilder& TiffBuilder::entryCount(uint16_t count) {
    current().entryCount = count;
    return *this;
}

TiffBuilder& TiffBuilder::nextOffset(uint64_t offset) {
    current().nextOffset = offset;
    return *this;
}

TiffBuilder& TiffBuilder::nextOffsetToPage(size_t pageIndex) {
    current().nextPage = pageIndex;
    return *this;
}

TiffBuilder& TiffBuilder::firstOffset(uint64_t offset) {
    firstOffset_ = offset;
    return *this;
}

TiffBuilder& TiffBuilder::blob(uint32_t offset, std::vector<uint8_t> bytes) {
    blobs_.push_back(Blob{offset, std::move(bytes)});
    return *this;
}

std::vector<uint8_t> TiffBuilder::build() {
    const size_t headerSize = bigTiff_ ? 16 : 8;
    const size_t wordSize = bigTiff_ ? 8 : 4;  // offsets, counts and value fields
    const size_t countSize = bigTiff_ ? 8 : 2; // a directory's entry count
    const size_t entrySize = bigTiff_ ? 20 : 12;
    size_t end = headerSize;
    for (const Blob& b : blobs_)
        end = std::max(end, static_cast<size_t>(b.offset) + b.bytes.size());
    end += end & 1; // directories start on a word boundary

    // First pass: where each directory and each out-of-line value array goes.
    directoryOffsets_.clear();
    std::vector<std::vector<uint32_t>> valueOffsets(pages_.size());
    for (size_t i = 0; i < pages_.size(); ++i) {
        directoryOffsets_.push_back(static_cast<uint32_t>(end));
        end += countSize + entrySize * pages_[i].entries.size() + wordSize;
        for (const Entry& e : pages_[i].entries) {
            valueOffsets[i].push_back(static_cast<uint32_t>(end));
            end += e.outOfLine.size();
            end += end & 1;
        }
    }

    std::vector<uint8_t> file(end, 0);
    file[0] = file[1] = big_ ? 'M' : 'I';
    put16(&file[2], bigTiff_ ? 43 : 42);
    const uint64_t first = firstOffset_.value_or(pages_.empty() ? 0 : directoryOffsets_[0]);
    if (bigTiff_) {
        put16(&file[4], 8);
        put64(&file[8], first);
    } else {
        put32(&file[4], static_cast<uint32_t>(first));
    }
    for (const Blob& b : blobs_) {
        EXPECT_GE(b.offset, headerSize) << "a blob would overwrite the header";
        std::copy(b.bytes.begin(), b.bytes.end(), file.begin() + b.offset);
    }
    for (size_t i = 0; i < pages_.size(); ++i) {
        const Page& page = pages_[i];
        uint8_t* p = &file[directoryOffsets_[i]];
        const uint16_t count = page.entryCount.value_or(static_cast<uint16_t>(page.entries.size()));
        if (bigTiff_)
            put64(p, count);
        else
            put16(p, count);
        p += countSize;
        for (size_t k = 0; k < page.entries.size(); ++k, p += entrySize) {
            const Entry& e = page.entries[k];
            put16(p, e.tag);
            put16(p + 2, e.type);
            putWord(p + 4, e.count);
            uint8_t* field = p + 4 + wordSize;
            if (e.outOfLine.empty()) {
                std::copy(e.field.begin(), e.field.begin() + static_cast<long>(wordSize), field);
            } else {
                putWord(field, valueOffsets[i][k]);
                std::copy(e.outOfLine.begin(), e.outOfLine.end(),
                          file.begin() + valueOffsets[i][k]);
            }
        }
        uint64_t next = i + 1 < pages_.size() ? directoryOffsets_[i + 1] : 0;
        if (page.nextPage)
            next = directoryOffsets_.at(*page.nextPage);
        putWord(p, page.nextOffset.value_or(next));
    }
    return file;
}

TiffBuilder& TiffBuilder::plainPage(uint32_t width) {
    const uint16_t type = bigTiff_ ? kLong8 : kLong;
    return page()
        .tag(kTagImageWidth, kShort, {width})
        .tag(kTagImageLength, kShort, {10})
        .tag(kTagStripOffsets, type, {bigTiff_ ? 16u : 8u})
        .tag(kTagStripByteCounts, type, {1});
}

TiffBuilder& TiffBuilder::oldJpegPage(uint32_t width, uint32_t height,
                                      std::vector<uint32_t> offsets, std::vector<uint32_t> counts) {
    return page()
        .tag(kTagImageWidth, kShort, {width})
        .tag(kTagImageLength, kShort, {height})
        .tag(kTagCompression, kShort, {6})
        .tag(kTagStripOffsets, kLong, std::move(offsets))
        .tag(kTagStripByteCounts, kLong, std::move(counts));
}

std::vector<uint8_t> failingPagesFile(const std::vector<uint8_t>& jpeg) {
    const auto size = static_cast<uint32_t>(jpeg.size());
    TiffBuilder builder;
    builder.blob(8, jpeg).oldJpegPage(16, 16, {8}, {size});
    builder
        .page() // no width
        .tag(kTagImageLength, kShort, {16})
        .tag(kTagCompression, kShort, {1})
        .tag(kTagStripOffsets, kLong, {8})
        .tag(kTagStripByteCounts, kLong, {40});
    builder.oldJpegPage(16, 16, {900000}, {40}); // its only strip lies past the end
    builder.oldJpegPage(16, 16, {8}, {size});
    return builder.build();
}

std::vector<uint8_t> wholeJpegPageFile(const std::vector<uint8_t>& jpeg, uint32_t width,
                                       uint32_t height, uint16_t orientation) {
    const auto size = static_cast<uint32_t>(jpeg.size());
    TiffBuilder builder;
    builder.blob(8, jpeg)
        .page()
        .tag(kTagImageWidth, kShort, {width})
        .tag(kTagImageLength, kShort, {height})
        .tag(kTagBitsPerSample, kShort, {8, 8, 8})
        .tag(kTagCompression, kShort, {6})
        .tag(262, kShort, {6}) // PhotometricInterpretation: YCbCr
        .tag(kTagStripOffsets, kLong, {8})
        .tag(274, kShort, {orientation})
        .tag(kTagSamplesPerPixel, kShort, {3})
        .tag(kTagRowsPerStrip, kShort, {height})
        .tag(kTagStripByteCounts, kLong, {size})
        .tag(kTagJpegInterchangeFormat, kLong, {8})
        .tag(kTagJpegInterchangeFormatLength, kLong, {size})
        .tag(530, kShort, {2, 2}); // YCbCrSubSampling
    return builder.build();
}

std::vector<uint8_t> patternBytes(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((i + seed) % 251);
    return bytes;
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

ReadBack::ReadBack(const std::vector<uint8_t>& bytes) {
    clearRecord(reader);
    openStatus = tiffdir::open(reader, dir.write("read.tif", bytes).c_str());
    if (openStatus != 0)
        return;
    chainStatus = tiffdir::readDirectoryChain(reader);
    if (chainStatus == 0)
        tiffdir::loadDirectory(
            reader, *reinterpret_cast<const tiffdir::DirectoryBlock*>(reader.directories.data));
}

ReadBack::~ReadBack() {
    if (openStatus == 0)
        tiffdir::close(reader);
}

std::vector<uint64_t> ReadBack::stripOffsets() const {
    return {reader.stripOffsets, reader.stripOffsets + reader.stripOffsetsLength};
}

std::vector<uint64_t> ReadBack::stripByteCounts() const {
    return {reader.stripByteCounts, reader.stripByteCounts + reader.stripByteCountsLength};
}

} // namespace tiff_builder
