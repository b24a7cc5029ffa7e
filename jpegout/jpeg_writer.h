// Writes a decoded page as a JPEG file: brought to 24 bits (or, when every colour it can
// show is grey, to one grey level a pixel), packed with its resolution as a bitmap block,
// and handed to the encoder.
#pragma once

#include <cstdint>

#include "core/image_record.h"
#include "core/status.h"
#include "platform/output_file.h"

inline constexpr int32_t kWriteLockFailed = -2;
inline constexpr int32_t kWriteEncoderFailed = -77;

/// 0 when the file was written; kFailed (no bitmap, none that becomes 24 bits, or no
/// memory for the packed block), kWriteLockFailed or kWriteEncoderFailed. A 24-bit `bitmap` is
/// taken over and left cleared; any other keeps its storage. Prints nothing.
int32_t writeJpeg(ImageRecord* bitmap, const char* fileName);
/// As above, into `output`, which is opened, written and finished; putting it in place is
/// the caller's.
int32_t writeJpeg(ImageRecord* bitmap, platform::OutputFile& output);
/// Expands a 1-bit bitmap into a new 24-bit one by `source->photometric`: with 3 a set bit
/// takes palette entry 0 and a clear bit entry 1; with 0 a set bit is black; otherwise a
/// set bit is white. 0 or an allocation code.
int32_t expandBilevelForJpeg(DeviceContext context, const ImageRecord* source, ImageRecord* target);
