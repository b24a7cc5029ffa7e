#include "core/checked_math.h"

#include <gtest/gtest.h>

#include <limits>

// Offsets and sizes from files, and the pages' memory beside the budget: a length near the
// top of the range must never wrap round into room.
TEST(CheckedMath, ARangeIsInsideOnlyWhenItsEndIs) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    const struct {
        uint64_t offset, length;
        bool inside;
    } cases[] = {
        {12, 988, true},   // up to the end
        {12, 989, false},  // one byte over
        {12, kMax, false}, // a length that would wrap round to 11
        {kMax, 1, false},  // an offset past the end
        {1000, 0, true},   // nothing at the end
        {1001, 0, false},  // nothing, past the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(rangeInside(c.offset, c.length, 1000), c.inside) << c.offset << " + " << c.length;
    EXPECT_EQ(checkedMul<uint32_t>(65536, 65535), uint32_t{0xFFFF0000});
    EXPECT_FALSE(checkedMul<uint32_t>(65536, 65536));
}
