#include "core/image_record.h"

#include <cstdlib>
#include <cstring>

#include "core/clear_record.h"

namespace {
constexpr char kSignature[4] = {'a', 'R', 'P', 'L'};

bool hasSignature(const ImageRecord& record) {
    return std::memcmp(record.signature, kSignature, sizeof kSignature) == 0;
}
} // namespace

int32_t initImageRecord(DeviceContext context, ImageRecord* record) {
    if (record == nullptr)
        return -1;
    clearRecord(*record);
    std::memcpy(record->signature, kSignature, sizeof kSignature);
    record->deviceContext = context;
    return 0;
}

int32_t releaseImageRecord(ImageRecord* record) {
    if (record == nullptr)
        return -1;
    if (!hasSignature(*record))
        return 1;
    std::free(record->bitmapInfo);
    platform::deleteDibSection(record->dibSection);
    std::memset(record->signature, 0, sizeof record->signature);
    record->bitmapInfo = nullptr;
    record->dibSection = nullptr;
    return 0;
}

int32_t moveImageRecord(DeviceContext, ImageRecord* source, ImageRecord* destination) {
    std::memcpy(static_cast<void*>(destination), source, sizeof(ImageRecord));
    clearRecord(*source);
    return 0;
}

int32_t copyResolution(const ImageRecord* source, ImageRecord* destination) {
    destination->resolutionUnit = source->resolutionUnit;
    destination->xResolution = source->xResolution;
    destination->yResolution = source->yResolution;
    return 0;
}
