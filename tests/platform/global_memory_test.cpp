#include "platform/global_memory.h"

#include <cstring>

#include <gtest/gtest.h>

#include "platform/device_context.h"
#include "platform/dib_section.h"

namespace {

struct Section {
    DeviceContext context = platform::screenDeviceContext();
    uint8_t* pixels = nullptr;
    DibSection handle = platform::createDibSection(context, 24, &pixels);
    ~Section() {
        platform::deleteDibSection(handle);
        platform::releaseDeviceContext(context);
    }
};

} // namespace

// The writer's packed bitmap shares the pixels' memory only where their owner keeps room
// for the whole header in front of them (as every section does); any other request gets a
// block of its own of the size asked.
TEST(GlobalMemory, ABlockIsMadeAroundPixelsOnlyWhereTheHeaderHasRoom) {
    struct Case {
        const char* what;
        size_t roomBefore;
        size_t headerSize;
        bool around;
    };
    const Case cases[] = {
        {"a section's pixels", platform::kBlockRoomBeforePixels, 40, true},
        {"a header larger than the room", 40, 44, false},
        {"no room said", 0, 40, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Section section;
        ASSERT_NE(section.handle, nullptr);
        std::memset(section.pixels, 0x5A, 24);
        uint8_t* pixels = section.pixels;
        const size_t imageSize = 24;
        GlobalBlockHandle block =
            platform::globalAllocAround(pixels, c.roomBefore, c.headerSize, imageSize);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(platform::globalSize(block), c.headerSize + imageSize);
        uint8_t* bytes = platform::globalLock(block);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(bytes + c.headerSize == pixels, c.around);
        // The header goes in front of the pixels without touching them.
        std::memset(bytes, 0xC3, c.headerSize);
        platform::globalUnlock(block);
        platform::globalFree(block);
        for (size_t i = 0; i < 24; ++i)
            ASSERT_EQ(section.pixels[i], 0x5A) << i;
    }
}
