// The one record that carries a page through the system: a page description filled by
// the TIFF structure reader, or a bitmap (header, palette, pixels) filled by the loader,
// the conversions and the writer. Records are plain values, cleared and copied whole.
#pragma once

#include <cstdint>
#include <type_traits>

#include "platform/device_context.h"
#include "platform/dib_section.h"

inline constexpr int32_t kFileKindTiff = 12;

// Values of `photometric` and `resolutionUnit` that the writer acts on (TIFF's numbers).
inline constexpr int32_t kPhotometricWhiteIsZero = 0;
inline constexpr int32_t kPhotometricPalette = 3;
inline constexpr int32_t kResolutionUnitInch = 2;
inline constexpr int32_t kResolutionUnitCentimetre = 3;

struct ImageRecord {
    char signature[4];           // "aRPL" once initialised as a bitmap
    DeviceContext deviceContext; // not owned
    int32_t fileKind;
    int32_t width;
    int32_t height;
    int32_t bytesPerRow;
    uint32_t bitsPerPixel; // 0 counts as 8 when storage is allocated
    int32_t compression;
    uint32_t imageSize;
    int32_t resolutionUnit; // 1 none, 2 inch, 3 centimetre, 0 anything else
    double xResolution;
    double yResolution;
    int32_t photometric;
    int32_t paletteEntries;
    uint8_t* pixels; // first byte of the bottom row; never owned by the record
    int32_t directoryIndex;
    int32_t pageCount;
    int32_t pageNumber;
    uint8_t* bitmapInfo;   // owned: 40-byte header, then the palette
    uint8_t* palette;      // bitmapInfo + 40
    DibSection dibSection; // owned: the memory `pixels` points to, when set
    // File offset of the page's directory, so a page is reached without walking the chain.
    uint64_t directoryOffset;
    // The page's ICC profile, when it suits the page: bytes the loader holds (not owned),
    // valid until the next page is loaded.
    const uint8_t* iccProfile;
    uint32_t iccProfileSize;
    // How the stored rows are to be viewed: TIFF's Orientation, 1..8; 0 or 1 as stored. The
    // writer turns the pixels by it.
    int32_t orientation;
    // Bytes the pixels' owner keeps free in front of `pixels`, where the writer's packed
    // bitmap can take its header instead of copying the rows (globalAllocAround).
    uint32_t roomBeforePixels;
};
static_assert(std::is_trivially_copyable_v<ImageRecord>);

/// Clears the record whole, writes the signature and `context`. -1 for null. Releases
/// nothing: callers initialise only records that hold nothing.
int32_t initImageRecord(DeviceContext context, ImageRecord* record);
/// Frees `bitmapInfo` and the DIB section and drops the signature. -1 for null; 1 for a
/// record without the signature (a page description, cleared or already released).
int32_t releaseImageRecord(ImageRecord* record);
/// Copies `source` whole over `destination` (which must hold nothing), then clears
/// `source`; ownership moves with the copy. `context` is unused.
int32_t moveImageRecord(DeviceContext context, ImageRecord* source, ImageRecord* destination);
/// Copies `resolutionUnit`, `xResolution` and `yResolution`.
int32_t copyResolution(const ImageRecord* source, ImageRecord* destination);
