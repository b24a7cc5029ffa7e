// Copies an old-style JPEG page's bytes out of its TIFF file, unchanged.
#pragma once

#include <cstdint>

#include "tiff/tiff_reader.h"

namespace readers {

inline constexpr int32_t kCopyFailed = -1;
inline constexpr uint32_t kTransferBufferSize = 32760;

/// Writes the JPEG data of the directory at `directoryOffset` (as the page list found it)
/// to `outputPath`. 0, a reader status (-300 ... -306), -1 (nothing to copy, no buffer, no
/// output, a failed write) or -302 (a seek missed its offset). Prints nothing.
int32_t copyJpegData(const char* tiffPath, const char* outputPath, uint32_t directoryOffset);
/// Writes every strip of the current directory, in order. 0, -1 or -302.
int32_t copyStrips(tiff::TiffReader& reader, const char* outputPath);
/// Writes the JPEGInterchangeFormat block, then every strip. 0, -1 or -302.
int32_t copyInterchangeData(tiff::TiffReader& reader, const char* outputPath);

} // namespace readers
