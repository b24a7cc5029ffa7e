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

// The writer's packed bitmap shares a section's memory only when the pixels it names are
// exactly that section's; any other request gets a block of its own of the size asked.
TEST(GlobalMemory, ABlockIsMadeAroundASectionsPixelsOnlyWhenTheyAreAllOfIt) {
    struct Case {
        const char* what;
        bool ownSection;
        size_t pixelOffset;
        size_t headerSize;
        size_t imageSize;
        bool around;
    };
    const Case cases[] = {
        {"the section's pixels", true, 0, 40, 24, true},
        {"pixels further in", true, 4, 40, 20, false},
        {"fewer bytes than the section", true, 0, 40, 20, false},
        {"a header of another size", true, 0, 36, 24, false},
        {"no section", false, 0, 40, 24, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Section section;
        ASSERT_NE(section.handle, nullptr);
        std::memset(section.pixels, 0x5A, 24);
        const uint8_t* pixels = section.pixels + c.pixelOffset;
        GlobalBlockHandle block = platform::globalAllocAround(
            c.ownSection ? section.handle : nullptr, pixels, c.headerSize, c.imageSize);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(platform::globalSize(block), c.headerSize + c.imageSize);
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
