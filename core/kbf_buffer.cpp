#include "core/kbf_buffer.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "core/clear_record.h"

namespace {
constexpr char kSignature[4] = {'B', 'U', 'F', 'C'};
// Records stored by value (doubles, pointers) need their natural alignment.
constexpr size_t kDataOffset = (sizeof(KbfNode) + alignof(std::max_align_t) - 1) /
                               alignof(std::max_align_t) * alignof(std::max_align_t);
constexpr int32_t kSpareBytes = 4;
// Data area of a node.
uint8_t* kbfNodeData(KbfNode* node) { return reinterpret_cast<uint8_t*>(node) + kDataOffset; }

} // namespace

int32_t KbfInit(KbfBuffer* buffer) {
    if (buffer == nullptr)
        return kKbfNoHeader;
    clearRecord(*buffer);
    std::memcpy(buffer->signature, kSignature, sizeof kSignature);
    buffer->mode = 0;
    buffer->count = 0;
    buffer->head.older = &buffer->head;
    buffer->head.newer = nullptr;
    buffer->anchor = &buffer->head;
    buffer->cursor = &buffer->head;
    return 0;
}

int32_t KbfCheck(const KbfBuffer* buffer) {
    if (buffer == nullptr)
        return kKbfNoHeader;
    if (std::memcmp(buffer->signature, kSignature, sizeof kSignature) != 0)
        return kKbfBadSignature;
    if (buffer->anchor == nullptr)
        return kKbfNoHeader;
    return 0;
}

int32_t KbfAlloc(KbfBuffer* buffer, int32_t size) {
    if (buffer == nullptr)
        return kKbfNoHeader;
    const int64_t dataBytes = int64_t{size} + kSpareBytes;
    if (dataBytes <= 0 || dataBytes > INT32_MAX)
        return kKbfBadSize;
    // A header that was never initialised has no chain to link into.
    if (buffer->head.older == nullptr)
        return kKbfNoHeader;
    auto* node = static_cast<KbfNode*>(std::malloc(kDataOffset + static_cast<size_t>(dataBytes)));
    if (node == nullptr)
        return kKbfNoMemory;
    KbfNode* previousNewest = buffer->head.older;
    node->older = previousNewest;
    node->newer = nullptr;
    node->size = size;
    // While the chain is empty the previous newest is the head, whose `newer` is the oldest.
    previousNewest->newer = node;
    buffer->head.older = node;
    buffer->data = kbfNodeData(node);
    buffer->anchor = &buffer->head;
    buffer->count += 1;
    return 0;
}

int32_t KbfPut(KbfBuffer* buffer, int32_t size, const void* source) {
    if (size < 1)
        return kKbfBadSize;
    if (int32_t status = KbfCheck(buffer); status != 0)
        return status;
    if (int32_t status = KbfAlloc(buffer, size); status != 0)
        return status;
    if (source != nullptr) {
        std::memcpy(buffer->data, source, static_cast<size_t>(size));
        buffer->data[size] = 0;
    } else {
        std::memset(buffer->data, 0, static_cast<size_t>(size) + kSpareBytes);
    }
    return 0;
}

int32_t KbfCreate(KbfBuffer* buffer, int32_t size, void** out) {
    int32_t status = KbfPut(buffer, size, nullptr);
    if (status == 0 && out != nullptr)
        *out = buffer->data;
    return status;
}

int32_t KbfCount(const KbfBuffer* buffer) {
    if (int32_t status = KbfCheck(buffer); status != 0)
        return status;
    return buffer->count;
}

int32_t KbfRewind(KbfBuffer* buffer) {
    if (int32_t status = KbfCheck(buffer); status != 0)
        return status;
    buffer->cursor = &buffer->head;
    return 0;
}

int32_t KbfNext(KbfBuffer* buffer) {
    if (int32_t status = KbfCheck(buffer); status != 0)
        return status;
    if (buffer->cursor == nullptr || buffer->cursor->newer == nullptr)
        return kKbfNoMoreBlocks;
    buffer->cursor = buffer->cursor->newer;
    buffer->data = kbfNodeData(buffer->cursor);
    buffer->size = buffer->cursor->size;
    return 0;
}

int32_t KbfFree(KbfBuffer* buffer) {
    if (int32_t status = KbfCheck(buffer); status != 0)
        return status;
    KbfNode* node = buffer->head.newer;
    for (int32_t i = 0; i < buffer->count && node != nullptr; ++i) {
        KbfNode* newer = node->newer;
        std::free(node);
        node = newer;
    }
    clearRecord(*buffer);
    return 0;
}
