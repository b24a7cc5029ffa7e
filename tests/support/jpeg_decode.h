// Test helper: reads a JPEG file back through libjpeg, so tests judge the writer by what a
// viewer would show (size, density, approximate colours, colour profile), never by its bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct DecodedJpeg {
    int width = 0;
    int height = 0;
    int components = 0;  // as stored in the file: 1 grey, 3 colour
    int densityUnit = 0; // JFIF: 0 aspect ratio only, 1 dots per inch, 2 dots per cm
    int xDensity = 0;
    int yDensity = 0;
    std::vector<uint8_t> rgb;        // top row first, red, green, blue, width * 3 bytes per row
    std::vector<uint8_t> iccProfile; // the APP2 ICC_PROFILE markers' profile; empty: none

    const uint8_t* pixel(int x, int y) const { return rgb.data() + (size_t(y) * width + x) * 3; }
};

/// Decodes `path` into `out` with colours expanded to RGB. False (with `error` set) when
/// the file cannot be opened or is not a complete JPEG; never exits or prints.
bool decodeJpegFile(const std::string& path, DecodedJpeg& out, std::string* error = nullptr);

/// Mean absolute difference per channel (red, green, blue) between two RGB images of
/// `width` x `height` pixels laid out as DecodedJpeg::rgb.
std::array<double, 3> meanAbsoluteError(const std::vector<uint8_t>& a,
                                        const std::vector<uint8_t>& b, int width, int height);

/// Names of the ".jpg" files in `folder`, in any order.
std::vector<std::string> jpegFilesIn(const std::string& folder);

} // namespace testsupport
