#include "core/kbf_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/clear_record.h"
#include "core/image_record.h"

namespace {
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
