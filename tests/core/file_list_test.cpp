#include "core/file_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/clear_record.h"
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
} // namespace

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
