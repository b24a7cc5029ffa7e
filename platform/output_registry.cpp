#include "platform/output_registry.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform::outputs {

namespace {

// The window of pages waiting for their turn, the pages being written and the one being
// put in place stay well below this.
constexpr int kEntries = 256;
constexpr auto kLongestWait = std::chrono::seconds(1);

struct Entry {
    std::timed_mutex lock;
    std::atomic<bool> taken{false};
    // Set to the path's length once the path is written, so that an ending that gave up
    // waiting for the lock still reads a whole name.
    std::atomic<size_t> hiddenLength{0};
};

// The names lie apart from the entries, which are built at start-up: a run touches only the
// pages of the names it uses.
char hiddenNames[kEntries][kEntryPathBytes];
Entry entries[kEntries];
std::atomic<bool> ending{false};
// Held by the ending for good: whoever comes for an entry afterwards waits for the end.
std::mutex endingLock;

} // namespace

int claimEntry() {
    if (ending.load()) {
        endingLock.lock(); // never returns: the process ends meanwhile
        return -1;
    }
    for (int i = 0; i < kEntries; ++i) {
        bool expected = false;
        if (entries[i].taken.compare_exchange_strong(expected, true))
            return i;
    }
    return -1;
}

void releaseEntry(int entry) {
    if (entry < 0)
        return;
    entries[entry].hiddenLength.store(0);
    entries[entry].taken.store(false);
}

EntryLock::EntryLock(int entry) : entry_(entry) {
    if (entry_ >= 0)
        entries[entry_].lock.lock();
}

EntryLock::~EntryLock() {
    if (entry_ >= 0)
        entries[entry_].lock.unlock();
}

bool setHiddenName(int entry, const char* path) {
    Entry& e = entries[entry];
    e.hiddenLength.store(0);
    const size_t length = path != nullptr ? std::strlen(path) : 0;
    if (length >= kEntryPathBytes)
        return false;
    std::memcpy(hiddenNames[entry], path != nullptr ? path : "", length + 1);
    e.hiddenLength.store(length);
    return true;
}

const char* hiddenName(int entry) {
    return entries[entry].hiddenLength.load() != 0 ? hiddenNames[entry] : "";
}

void endOutputs() {
    endingLock.lock();
    ending.store(true);
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    for (int i = 0; i < kEntries; ++i) {
        // A step stuck in a system call (a stalled network folder) is abandoned: its
        // hidden name is removed all the same.
        Entry& e = entries[i];
        (void)e.lock.try_lock_until(deadline);
        if (e.taken.load() && e.hiddenLength.load() != 0)
            removeName(hiddenNames[i]);
    }
}

ByteBlock::~ByteBlock() { std::free(data_); }

bool ByteBlock::append(const void* bytes, size_t count) {
    if (count > capacity_ - size_) {
        if (count > SIZE_MAX / 2 - size_)
            return false;
        const size_t wanted = std::max(capacity_ * 2, size_ + count);
        auto* grown = static_cast<uint8_t*>(std::realloc(data_, wanted));
        if (grown == nullptr)
            return false;
        data_ = grown;
        capacity_ = wanted;
    }
    std::memcpy(data_ + size_, bytes, count);
    size_ += count;
    return true;
}

} // namespace platform::outputs
