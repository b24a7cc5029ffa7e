// The buffer a decoded page's rows go into. Kept apart from libtiff's header: its
// `struct tiff` and the structure reader's `namespace tiffdir` cannot meet in one file.
#pragma once

#include <cstdint>

namespace readers {

/// Gives a buffer of at least `bytes` bytes for the rows of the page, or null. The page
/// reader asks for the layout it actually writes before writing any row.
class PageBufferSource {
  public:
    virtual ~PageBufferSource() = default;
    virtual uint8_t* pageBufferOf(uint64_t bytes) = 0;
};

} // namespace readers
