#include "core/file_list.h"

#include <cstring>

FileList::FileList() { KbfInit(&buffer); }

FileList::~FileList() { KbfFree(&buffer); }

void FileList::clear() {
    KbfFree(&buffer);
    KbfInit(&buffer);
}

int32_t FileList::add(const void* bytes, int32_t size) {
    const int32_t status = KbfPut(&buffer, size, bytes);
    if (status != 0) {
        current = nullptr;
        currentLength = 0;
        return status;
    }
    currentSize = size;
    currentLength = size;
    current = buffer.data;
    return 0;
}

int32_t FileList::rewind() { return KbfRewind(&buffer); }

int32_t FileList::count() const { return KbfCount(&buffer); }

int32_t FileList::next() {
    if (int32_t status = KbfNext(&buffer); status != 0)
        return status;
    currentSize = buffer.size;
    current = buffer.data;
    // The block's spare bytes guarantee a zero within size + 1 bytes.
    currentLength = static_cast<int32_t>(
        strnlen(reinterpret_cast<const char*>(current), static_cast<size_t>(currentSize) + 1));
    return 0;
}

int32_t FileList::copyTo(FileList& target, int32_t size) {
    target.clear();
    rewind();
    const int32_t entries = count();
    int32_t copied = 0;
    for (int32_t i = 0; i < entries; ++i) {
        if (int32_t status = next(); status != 0)
            return status;
        if (int32_t status =
                target.add(current, size > 0 && size < currentSize ? size : currentSize);
            status != 0)
            return status;
        ++copied;
    }
    return copied > 0 ? 0 : -1;
}
