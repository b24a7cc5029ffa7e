#include "core/kbf_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/clear_record.h"
#include "core/file_list.h"
#include "core/image_record.h"

namespace {
// Every entry of a list, walked the way the program walks it.
std::vector<std::string> walk(FileList& list) {
    std::vector<std::string> entries;
    list.rewind();
    const int32_t count = list.count();
    for (int32_t i = 0; i < count; ++i) {
        if (list.next() != 0)
            break;
        entries.emplace_back(reinterpret_cast<const char*>(list.current),
                             static_cast<size_t>(list.currentSize));
    }
    return entries;
}

void addText(FileList& list, const std::string& text) {
    ASSERT_EQ(list.add(text.data(), static_cast<int32_t>(text.size())), 0) << text;
}

struct Store {
    KbfBuffer buffer;
    Store() { KbfInit(&buffer); }
    ~Store() { KbfFree(&buffer); }
};
} // namespace

TEST(KbfBuffer, RefusesMissingUninitialisedAndFreedHeaders) {
    KbfBuffer cleared;
    clearRecord(cleared);
    KbfBuffer noAnchor;
    KbfInit(&noAnchor);
    noAnchor.anchor = nullptr;
    KbfBuffer freed;
    KbfInit(&freed);
    KbfFree(&freed);

    const struct {
        const char* name;
        KbfBuffer* buffer;
        int32_t code;
    } cases[] = {
        {"absent", nullptr, kKbfNoHeader},
        {"never initialised", &cleared, kKbfBadSignature},
        {"signature without anchor", &noAnchor, kKbfNoHeader},
        {"freed", &freed, kKbfBadSignature},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KbfCheck(c.buffer), c.code);
        EXPECT_EQ(KbfCount(c.buffer), c.code);
        EXPECT_EQ(KbfRewind(c.buffer), c.code);
        EXPECT_EQ(KbfNext(c.buffer), c.code);
        EXPECT_EQ(KbfPut(c.buffer, 4, "abcd"), c.code);
        void* block = nullptr;
        EXPECT_EQ(KbfCreate(c.buffer, 4, &block), c.code);
        EXPECT_EQ(block, nullptr);
        EXPECT_EQ(KbfFree(c.buffer), c.code);
    }
    EXPECT_EQ(KbfInit(nullptr), kKbfNoHeader);
    // Alloc does no signature check of its own, yet never links into a chain that is not there.
    EXPECT_EQ(KbfAlloc(nullptr, 4), kKbfNoHeader);
    EXPECT_EQ(KbfAlloc(&cleared, 4), kKbfNoHeader);
    EXPECT_EQ(KbfAlloc(&freed, 4), kKbfNoHeader);
}

TEST(KbfBuffer, RefusesSizesOutOfRangeAndKeepsTheChain) {
    Store store;
    ASSERT_EQ(KbfPut(&store.buffer, 1, "x"), 0);
    const struct {
        int32_t size;
        int32_t putCode;
        int32_t allocCode;
    } cases[] = {
        {0, kKbfBadSize, 0},            // an empty block is fine for alloc, not for put
        {-1, kKbfBadSize, 0},           // size + 4 still positive
        {-4, kKbfBadSize, kKbfBadSize}, // size + 4 is zero
        {-5, kKbfBadSize, kKbfBadSize},
        {INT32_MIN, kKbfBadSize, kKbfBadSize},
        {INT32_MAX, 0, kKbfBadSize}, // size + 4 does not fit; checked before any allocation
    };
    int32_t expectedCount = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        if (c.size <= 0) {
            EXPECT_EQ(KbfPut(&store.buffer, c.size, nullptr), c.putCode);
        }
        EXPECT_EQ(KbfAlloc(&store.buffer, c.size), c.allocCode);
        if (c.allocCode == 0)
            ++expectedCount;
        EXPECT_EQ(KbfCount(&store.buffer), expectedCount);
    }
}

TEST(KbfBuffer, PutStoresTheBytesAndAZeroOrZeroesTheWholeArea) {
    Store store;
    ASSERT_EQ(KbfPut(&store.buffer, 5, "hello world"), 0);
    EXPECT_EQ(std::memcmp(store.buffer.data, "hello", 5), 0);
    EXPECT_EQ(store.buffer.data[5], 0);

    // Without a source the data area and its 4 spare bytes are all zero, even where the
    // allocator handed back memory that was used before.
    for (int round = 0; round < 4; ++round) {
        ASSERT_EQ(KbfPut(&store.buffer, 5, nullptr), 0);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(store.buffer.data[i], 0) << "byte " << i;
    }
    void* block = nullptr;
    ASSERT_EQ(KbfCreate(&store.buffer, 16, &block), 0);
    EXPECT_EQ(block, store.buffer.data);
    EXPECT_EQ(KbfCount(&store.buffer), 6);
}

TEST(KbfBuffer, WalksBlocksInTheOrderTheyWereAdded) {
    Store store;
    EXPECT_EQ(KbfNext(&store.buffer), kKbfNoMoreBlocks); // empty chain
    const char* texts[] = {"first", "second", "third"};
    for (const char* text : texts)
        ASSERT_EQ(KbfPut(&store.buffer, static_cast<int32_t>(std::strlen(text)), text), 0);

    ASSERT_EQ(KbfRewind(&store.buffer), 0);
    for (const char* text : texts) {
        ASSERT_EQ(KbfNext(&store.buffer), 0);
        EXPECT_EQ(store.buffer.size, static_cast<int32_t>(std::strlen(text)));
        EXPECT_STREQ(reinterpret_cast<const char*>(store.buffer.data), text);
    }
    EXPECT_EQ(KbfNext(&store.buffer), kKbfNoMoreBlocks);

    // A walk that reached the newest block goes on with blocks added afterwards.
    ASSERT_EQ(KbfPut(&store.buffer, 6, "fourth"), 0);
    ASSERT_EQ(KbfNext(&store.buffer), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(store.buffer.data), "fourth");
}

TEST(KbfBuffer, SecondFreeIsRefusedAndInitAfterFreeGivesAnEmptyStore) {
    KbfBuffer buffer;
    ASSERT_EQ(KbfInit(&buffer), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(KbfPut(&buffer, 3, "abc"), 0);
    EXPECT_EQ(KbfFree(&buffer), 0);
    EXPECT_EQ(KbfFree(&buffer), kKbfBadSignature);
    EXPECT_EQ(KbfCount(&buffer), kKbfBadSignature);

    ASSERT_EQ(KbfInit(&buffer), 0);
    EXPECT_EQ(KbfCount(&buffer), 0);
    ASSERT_EQ(KbfPut(&buffer, 1, "z"), 0);
    EXPECT_EQ(KbfFree(&buffer), 0);
}

TEST(KbfBuffer, BlocksAreAlignedForRecordsStoredByValue) {
    Store store;
    for (int32_t size : {1, 3, 7, 13, 40, static_cast<int32_t>(sizeof(ImageRecord))}) {
        SCOPED_TRACE(size);
        ASSERT_EQ(KbfPut(&store.buffer, size, nullptr), 0);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(store.buffer.data) % alignof(std::max_align_t), 0u);
    }
}

TEST(FileList, WalkYieldsEntriesInOrderThenNoMore) {
    FileList list;
    for (const char* text : {"a", "b", "c"})
        addText(list, text);
    EXPECT_EQ(walk(list), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(list.next(), kKbfNoMoreBlocks);
    // A failed step leaves the current entry as it was.
    EXPECT_STREQ(reinterpret_cast<const char*>(list.current), "c");
    EXPECT_EQ(list.currentLength, 1);
}

TEST(FileList, NextOnAFreshListStartsAtTheFirstEntry) {
    FileList list;
    addText(list, "one");
    addText(list, "two");
    ASSERT_EQ(list.next(), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(list.current), "one");
}

TEST(FileList, AddOfAnEmptyEntryFailsAndLeavesNoCurrent) {
    FileList list;
    addText(list, "kept");
    EXPECT_EQ(list.add("", 0), kKbfBadSize);
    EXPECT_EQ(list.current, nullptr);
    EXPECT_EQ(list.currentLength, 0);
    EXPECT_EQ(list.count(), 1);
}

TEST(FileList, AddMakesTheNewEntryCurrentWithAZeroBehindIt) {
    FileList list;
    const char bytes[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    ASSERT_EQ(list.add(bytes, 4), 0);
    EXPECT_EQ(list.currentSize, 4);
    EXPECT_EQ(list.currentLength, 4);
    EXPECT_STREQ(reinterpret_cast<const char*>(list.current), "abcd");
}

TEST(FileList, CurrentLengthStopsAtTheFirstZeroByte) {
    FileList list;
    ASSERT_EQ(list.add("ab\0cd", 5), 0);
    list.rewind();
    ASSERT_EQ(list.next(), 0);
    EXPECT_EQ(list.currentSize, 5);
    EXPECT_EQ(list.currentLength, 2);
}

TEST(FileList, EntriesKeepTheirAddressWhileTheListGrows) {
    FileList list;
    addText(list, "anchor");
    const uint8_t* first = list.current;
    for (int i = 0; i < 1000; ++i)
        addText(list, "entry " + std::to_string(i));
    list.rewind();
    ASSERT_EQ(list.next(), 0);
    EXPECT_EQ(list.current, first);
    EXPECT_STREQ(reinterpret_cast<const char*>(first), "anchor");
    EXPECT_EQ(list.count(), 1001);
}

TEST(FileList, ClearEmptiesTheListAndKeepsItUsable) {
    FileList list;
    addText(list, "old");
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.next(), kKbfNoMoreBlocks);
    addText(list, "new");
    EXPECT_EQ(walk(list), std::vector<std::string>{"new"});
}

TEST(FileList, CopyToOfAnEmptyListFailsAndEmptiesTheTarget) {
    FileList empty;
    FileList target;
    addText(target, "stale");
    EXPECT_EQ(empty.copyTo(target, 0), -1);
    EXPECT_EQ(target.count(), 0);
}

TEST(FileList, CopyToCopiesEveryEntryInOrder) {
    FileList source;
    for (const char* text : {"alpha", "be", "gamma"})
        addText(source, text);
    FileList target;
    addText(target, "stale");
    ASSERT_EQ(source.copyTo(target, 0), 0);
    EXPECT_EQ(walk(target), (std::vector<std::string>{"alpha", "be", "gamma"}));

    // A fixed size shorter than an entry copies that many bytes of each.
    ASSERT_EQ(source.copyTo(target, 2), 0);
    EXPECT_EQ(walk(target), (std::vector<std::string>{"al", "be", "ga"}));
}

TEST(FileList, StoresRecordsByValue) {
    FileList pages;
    for (int32_t i = 0; i < 3; ++i) {
        ImageRecord page;
        clearRecord(page);
        page.pageNumber = i;
        page.xResolution = 200.5 + i;
        page.compression = i == 1 ? 6 : 4;
        ASSERT_EQ(pages.add(&page, static_cast<int32_t>(sizeof page)), 0);
    }
    pages.rewind();
    for (int32_t i = 0; i < pages.count(); ++i) {
        ASSERT_EQ(pages.next(), 0);
        ASSERT_EQ(pages.currentSize, static_cast<int32_t>(sizeof(ImageRecord)));
        const auto* page = reinterpret_cast<const ImageRecord*>(pages.current);
        EXPECT_EQ(page->pageNumber, i);
        EXPECT_EQ(page->xResolution, 200.5 + i);
        EXPECT_EQ(page->compression, i == 1 ? 6 : 4);
    }
}
