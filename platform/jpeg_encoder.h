// Stands in for the closed encoder library's save call: a packed 24-bit bitmap (40-byte
// header, then bottom-up rows of blue, green, red padded to 4 bytes) becomes a JPEG file;
// so does a packed 8-bit one whose bytes are grey levels (no palette), as one component.
#pragma once

#include "platform/global_memory.h"
#include "platform/icc_profile.h"
#include "platform/output_file.h"

namespace platform {
/// What the caller knows of the page's colours. A page known to be grey is written as a
/// one-component JPEG without looking at its pixels; otherwise the pixels decide.
enum class PageColours { Unknown, Grey };

/// Converts between the bitmap header's pixels per metre and JFIF's dots per inch.
inline constexpr double kInchesPerMetre = 39.370078740157474;

/// What saveJpegFile gives back once the whole file was written; 0 means it was not (the
/// encoder it stands in for reports success so).
inline constexpr int kJpegFileSaved = 1;

/// Encodes the packed bitmap in `block` at quality 75 into `fileName` (created or
/// truncated), writing its resolution as the JFIF density in dots per inch when both
/// values fit 1..65535. Returns kJpegFileSaved only when the whole file was written; 0 on
/// any failure (bad header, open, encode, write, close). Prints nothing. A page whose pixels
/// are all grey (blue = green = red) is written with one component: same look, smaller.
/// `profile`, the page's ICC profile, goes in APP2 ICC_PROFILE markers byte for byte when
/// the JPEG has its colour space: an RGB profile keeps the JPEG three-component even when
/// every pixel is grey; a grey one goes only with a one-component JPEG. A profile that
/// iccProfileColours finds unusable is left out and changes nothing.
int saveJpegFile(const char* fileName, GlobalBlockHandle block,
                 PageColours colours = PageColours::Unknown, IccProfile profile = {});
/// As above, into `file`, which is opened, written and finished; putting it in place is
/// the caller's. True when the whole JPEG was written.
bool saveJpegFile(OutputFile& file, GlobalBlockHandle block,
                  PageColours colours = PageColours::Unknown, IccProfile profile = {});
} // namespace platform
