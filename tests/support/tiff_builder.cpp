#include "tests/support/tiff_builder.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

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
        return 8;
    default:
        return 1;
    }
}

} // namespace

TiffBuilder::TiffBuilder(ByteOrder order) : big_(order == ByteOrder::Big) {}

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

TiffBuilder& TiffBuilder::page() {
    pages_.emplace_back();
    return *this;
}

TiffBuilder& TiffBuilder::tag(uint16_t tag, uint16_t type, std::vector<uint32_t> values) {
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
    Entry entry{tag, type, static_cast<uint32_t>(bytes.size() / size), {0, 0, 0, 0}, {}};
    if (bytes.size() <= 4)
        std::copy(bytes.begin(), bytes.end(), entry.field.begin());
    else
        entry.outOfLine = std::move(bytes);
    current().entries.push_back(std::move(entry));
    return *this;
}

TiffBuilder& TiffBuilder::tagAt(uint16_t tag, uint16_t type, uint32_t count, uint32_t offset) {
    Entry entry{tag, type, count, {0, 0, 0, 0}, {}};
    put32(entry.field.data(), offset);
    current().entries.push_back(std::move(entry));
    return *this;
}

TiffBuilder& TiffBuilder::rawTag(uint16_t tag, uint16_t type, uint32_t count,
                                 std::array<uint8_t, 4> valueField) {
    current().entries.push_back(Entry{tag, type, count, valueField, {}});
    return *this;
}

TiffBuilder& TiffBuilder::entryCount(uint16_t count) {
    current().entryCount = count;
    return *this;
}

TiffBuilder& TiffBuilder::nextOffset(uint32_t offset) {
    current().nextOffset = offset;
    return *this;
}

TiffBuilder& TiffBuilder::nextOffsetToPage(size_t pageIndex) {
    current().nextPage = pageIndex;
    return *this;
}

TiffBuilder& TiffBuilder::firstOffset(uint32_t offset) {
    firstOffset_ = offset;
    return *this;
}

TiffBuilder& TiffBuilder::blob(uint32_t offset, std::vector<uint8_t> bytes) {
    blobs_.push_back(Blob{offset, std::move(bytes)});
    return *this;
}

std::vector<uint8_t> TiffBuilder::build() {
    size_t end = 8;
    for (const Blob& b : blobs_)
        end = std::max(end, static_cast<size_t>(b.offset) + b.bytes.size());
    end += end & 1; // directories start on a word boundary

    // First pass: where each directory and each out-of-line value array goes.
    directoryOffsets_.clear();
    std::vector<std::vector<uint32_t>> valueOffsets(pages_.size());
    for (size_t i = 0; i < pages_.size(); ++i) {
        directoryOffsets_.push_back(static_cast<uint32_t>(end));
        end += 2 + 12 * pages_[i].entries.size() + 4;
        for (const Entry& e : pages_[i].entries) {
            valueOffsets[i].push_back(static_cast<uint32_t>(end));
            end += e.outOfLine.size();
            end += end & 1;
        }
    }

    std::vector<uint8_t> file(end, 0);
    file[0] = file[1] = big_ ? 'M' : 'I';
    put16(&file[2], 42);
    put32(&file[4], firstOffset_.value_or(pages_.empty() ? 0 : directoryOffsets_[0]));
    for (const Blob& b : blobs_) {
        EXPECT_GE(b.offset, 8u) << "a blob would overwrite the header";
        std::copy(b.bytes.begin(), b.bytes.end(), file.begin() + b.offset);
    }
    for (size_t i = 0; i < pages_.size(); ++i) {
        const Page& page = pages_[i];
        uint8_t* p = &file[directoryOffsets_[i]];
        put16(p, page.entryCount.value_or(static_cast<uint16_t>(page.entries.size())));
        p += 2;
        for (size_t k = 0; k < page.entries.size(); ++k, p += 12) {
            const Entry& e = page.entries[k];
            put16(p, e.tag);
            put16(p + 2, e.type);
            put32(p + 4, e.count);
            if (e.outOfLine.empty()) {
                std::copy(e.field.begin(), e.field.end(), p + 8);
            } else {
                put32(p + 8, valueOffsets[i][k]);
                std::copy(e.outOfLine.begin(), e.outOfLine.end(),
                          file.begin() + valueOffsets[i][k]);
            }
        }
        uint32_t next = i + 1 < pages_.size() ? directoryOffsets_[i + 1] : 0;
        if (page.nextPage)
            next = directoryOffsets_.at(*page.nextPage);
        put32(p, page.nextOffset.value_or(next));
    }
    return file;
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

} // namespace tiff_builder
