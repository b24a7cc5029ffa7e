// An output written beside its final name and put in place only when complete: a page that
// fails part-way (a full disk, a lost write, an interrupt) never destroys an earlier file of
// that name and never leaves a cut-off file that looks written. Outputs never follow links,
// never block on special files and never widen the permissions of a file they replace.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

/// From now on, SIGINT, SIGTERM, SIGHUP and SIGQUIT (on Windows Ctrl-C, Ctrl-Break and the
/// closing of the console) remove the outputs in flight (hidden files, or files being
/// rewritten in place, which are emptied) and then end the process as the event would have.
/// A signal the process was started ignoring stays ignored. Call once, before the first
/// output.
void removeOutputsOnInterrupt();

class OutputFile {
  public:
    /// Opens for writing what will become `path`:
    /// - nothing there: a new hidden file in its folder (".pelc-..."; on Windows also with
    ///   the hidden attribute, cleared before it takes its name), mode 0666 less the umask;
    /// - a regular file or a symbolic link (any reparse point): a new hidden file that
    ///   replaces it when committed (a link is replaced, never written through; a replaced
    ///   file's permission bits are kept, while on Windows its read-only mark is cleared
    ///   as SetFileAttributesA(FILE_ATTRIBUTE_NORMAL) does; owner and hard links are not
    ///   kept, since the file is a new one);
    /// - a regular file in a folder that refuses new files: the file itself, emptied and
    ///   written in place, when it may be written (on Windows a read-only one too);
    /// - anything else (a folder, FIFO, socket or device, and on Windows a device name such
    ///   as NUL or COM1.jpg or a path in the device namespace): nothing is opened.
    /// While the calling thread holds commits (CommitHold), a file that could only be
    /// written in place is not opened: its turn has not come (HeldOutputs::wantsInPlace).
    explicit OutputFile(const char* path);
    /// Without a commit: the hidden file is removed, a file written in place is emptied.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// The open descriptor, or -1 when nothing could be opened.
    int descriptor() const { return fd_; }
    /// Writes all `count` bytes; false on any failure.
    bool write(const void* bytes, size_t count);
    /// Closes the file and puts it in place under its final name. False when the close or
    /// the rename fails (a write lost late); nothing is left behind then. While the calling
    /// thread holds commits, the complete file stays hidden and goes to the holder instead.
    bool commit();

  private:
    void discard();

    std::string finalPath_;
    std::string tempPath_; // empty: written in place
    int fd_ = -1;
    int slot_ = -1; // in the interrupt registry, while the file is in flight
};

/// Outputs completed on a worker thread, waiting for their turn to be put in place (by any
/// thread), so that files appear in the order a one-thread run would give them. Held files
/// stay hidden and are removed on an interrupt like any output in flight.
class HeldOutputs {
  public:
    HeldOutputs() = default;
    /// Removes every file not put in place.
    ~HeldOutputs() { clear(); }
    HeldOutputs(const HeldOutputs&) = delete;
    HeldOutputs& operator=(const HeldOutputs&) = delete;

    /// Puts the held files in place, in the order they were committed. False when a rename
    /// fails; that file is removed, the others still go in place.
    bool putInPlace();
    /// An output found only writable in place was refused while held: the page is to be
    /// done again, without holding, once the outputs before it are in place.
    bool wantsInPlace() const { return wantsInPlace_; }
    /// Removes the held files and forgets the refusal, ready for another page.
    void clear();

  private:
    friend class OutputFile;
    struct Held {
        std::string hiddenPath;
        std::string finalPath;
        int slot;
    };
    std::vector<Held> files_;
    bool wantsInPlace_ = false;
};

/// For its lifetime, the commits of the thread that made it go to `outputs`. One per thread
/// at a time.
class CommitHold {
  public:
    explicit CommitHold(HeldOutputs& outputs);
    ~CommitHold();
    CommitHold(const CommitHold&) = delete;
    CommitHold& operator=(const CommitHold&) = delete;
};

} // namespace platform
