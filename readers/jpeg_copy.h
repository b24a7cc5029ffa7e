// Copies an old-style JPEG page's bytes out of its TIFF file, unchanged.
#pragma once

#include <cstdint>

#include "core/status.h"
#include "platform/output_file.h"
#include "tiff/tiff_reader.h"

namespace readers {

/// The page's bytes are not copied as its JPEG: they are no complete JPEG stream of the
/// page, or the copy is refused (nothing to copy, overlapping strips, more than twice the
/// input). Such a page is to be decoded instead.
inline constexpr int32_t kNotAJpegOfThePage = -2;

/// Writes the JPEG data of the directory at `directoryOffset` (as the page list found it)
/// to `outputPath`, replacing any file of that name. Only that directory is read, not the
/// chain. 0, an open status (-300, -301, -303 ... -305), kFailed or -302 (a seek missed its
/// offset). kFailed before the output is touched: the directory cannot be read, the page has no
/// bytes inside the file, its strips overlap one another, the copy would exceed twice the
/// input's size, or no memory; kFailed after: the output cannot be opened, or a write or read
/// fails (an earlier file of that name is kept, and nothing cut off takes its place).
/// Strips that run past the end of the file give the bytes that exist (kFailed when a file that
/// shrank after it was opened leaves none). Prints nothing.
int32_t copyJpegData(const char* tiffPath, const char* outputPath, uint64_t directoryOffset);
/// As copyJpegData, but only bytes that form one complete JPEG stream of the page
/// (isJpegOfSize with the page's ImageWidth and ImageLength) are copied; refusals of the
/// plan and bytes that fail the check give kNotAJpegOfThePage, before the output is touched.
/// So does a page whose Orientation (2 to 8) shows it otherwise than stored.
/// The output is opened, written and finished; putting it in place is the caller's.
int32_t copyPageJpeg(const char* tiffPath, platform::OutputFile& output, uint64_t directoryOffset);
/// Writes every strip of the current directory, in order (strip i only where both strip
/// arrays have an entry i). 0, kFailed or -302, refusing as copyJpegData does.
int32_t copyStrips(tiffdir::TiffReader& reader, const char* outputPath);
/// Writes the JPEGInterchangeFormat block, then every strip. 0, kFailed or -302.
int32_t copyInterchangeData(tiffdir::TiffReader& reader, const char* outputPath);

} // namespace readers
