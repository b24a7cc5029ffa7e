// The outputs in flight, as the ending of an interrupted run finds them, shared by both
// systems (each system's output_file.cpp makes the system calls). An output holds an entry
// while it has a hidden name that must not outlive the run, and locks it for each step an
// ending must not cut in two (creating or naming a file, writing over an earlier one). The
// ending waits for those steps (a bounded time), removes the hidden names and keeps every
// entry locked, so that nothing is created or named after it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::outputs {

/// Room for the longest path either system forms, with a hidden name's suffix.
inline constexpr size_t kEntryPathBytes = 4096 + 64;

/// A free entry, or -1 when all are taken. Once the run is ending it never returns, so
/// nothing is named after the last line an interrupted run printed.
int claimEntry();
void releaseEntry(int entry);

/// Locks `entry` for its lifetime (nothing when `entry` < 0). Once the run is ending it
/// never returns: the process ends around it.
class EntryLock {
  public:
    explicit EntryLock(int entry);
    ~EntryLock();
    EntryLock(const EntryLock&) = delete;
    EntryLock& operator=(const EntryLock&) = delete;

  private:
    int entry_;
};

/// The hidden name the entry's output has, to be removed should the run end; null or
/// empty: none. False when it does not fit. Call with the entry locked.
bool setHiddenName(int entry, const char* path);
/// The hidden name set, or "" (the entry locked).
const char* hiddenName(int entry);

/// The run is ending: waits up to a second for the steps under way, removes every hidden
/// name, and keeps all entries locked. Call once, from the thread that handles the ending.
void endOutputs();

/// The steps each system takes its own way; OutputFile puts them together.
/// Removes the file of that name, if any.
void removeName(const char* path);
/// Gives the file `from` the name `to`, replacing what is there (never written through).
bool renameOver(const char* from, const char* to);
/// Gives the unnamed file open as `fd` the name `path`, replacing what is there.
bool nameUnnamed(int fd, const char* path);
/// Notes that `path` now holds an output, so that makeOutputsDurable reaches it.
void noteNamed(const char* path);
/// The last step of a hidden file before it is closed (on Windows: on the disk, unhidden).
bool readyHidden(int fd);
/// Room for `size` bytes on the open file without changing its length or a byte of it, so
/// that a full disk fails here; true where the file system cannot reserve room.
bool reserveRoom(int fd, uint64_t size);
/// Ends the open file after `size` bytes (on Windows: and puts it on the disk).
bool endFileAt(int fd, uint64_t size);

/// A growable block of bytes that reports a failed allocation instead of throwing: the
/// whole of a file kept in memory until its turn to be written.
class ByteBlock {
  public:
    ByteBlock() = default;
    ~ByteBlock();
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;

    bool append(const void* bytes, size_t count);
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

} // namespace platform::outputs
