#include "core/file_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
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

// What the list adds to its block store (KbfBuffer has its own tests): after the entries
// are added and `nexts` steps taken, the current entry, its stored size and its length up
// to the first zero byte. A failed step leaves the current entry as it was.
TEST(FileList, KeepsTheCurrentEntry) {
    using namespace std::string_view_literals;
    const struct {
        const char* what;
        std::vector<std::string_view> adds;
        bool rewind;
        int nexts;
        std::vector<std::string> walked; // the current entry after each step
        int32_t status;                  // of the last add or step
        const char* current;             // null: none
        int32_t size, length;
    } cases[] = {
        {"a walk in order, then no more",
         {"a", "b", "c"},
         true,
         4,
         {"a", "b", "c", "c"},
         kKbfNoMoreBlocks,
         "c",
         1,
         1},
        {"next on a fresh list", {"one", "two"}, false, 1, {"one"}, 0, "one", 3, 3},
        {"an empty entry is refused", {"kept", ""}, false, 0, {}, kKbfBadSize, nullptr, 4, 0},
        {"a zero is put behind the bytes",
         {"abcdef"sv.substr(0, 4)},
         false,
         0,
         {},
         0,
         "abcd",
         4,
         4},
        {"the length stops at the first zero byte", {"ab\0cd"sv}, true, 1, {"ab"}, 0, "ab", 5, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileList list;
        int32_t status = 0;
        for (std::string_view bytes : c.adds)
            status = list.add(bytes.data(), static_cast<int32_t>(bytes.size()));
        if (c.rewind)
            list.rewind();
        std::vector<std::string> walked;
        for (int i = 0; i < c.nexts; ++i) {
            status = list.next();
            walked.emplace_back(reinterpret_cast<const char*>(list.current));
        }
        EXPECT_EQ(walked, c.walked);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(list.count(), static_cast<int32_t>(c.adds.size()) - (c.status == kKbfBadSize));
        if (c.current == nullptr) {
            EXPECT_EQ(list.current, nullptr);
        } else {
            EXPECT_STREQ(reinterpret_cast<const char*>(list.current), c.current);
            EXPECT_EQ(list.currentSize, c.size);
        }
        EXPECT_EQ(list.currentLength, c.length);
    }
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

TEST(FileList, CopyToReplacesTheTargetsEntries) {
    FileList source;
    for (const char* text : {"alpha", "be", "gamma"})
        addText(source, text);
    FileList empty;
    const struct {
        const char* what;
        FileList* from;
        int32_t size; // 0: each entry's own size; else that many bytes of each
        int32_t status;
        std::vector<std::string> entries;
    } cases[] = {
        {"an empty list", &empty, 0, -1, {}},
        {"every entry, in order", &source, 0, 0, {"alpha", "be", "gamma"}},
        {"a fixed size shorter than an entry", &source, 2, 0, {"al", "be", "ga"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileList target;
        addText(target, "stale");
        EXPECT_EQ(c.from->copyTo(target, c.size), c.status);
        EXPECT_EQ(walk(target), c.entries);
    }
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
