// One output, from its first byte until it takes its name. A page that fails part-way (a
// full disk, a lost write, an interrupt, a kill, a power cut) never destroys an earlier file
// of that name and never leaves a cut-off file that looks written: a name holds its earlier
// bytes or the whole new file. Outputs never follow links, never block on special files and
// never widen the permissions of a file they replace.
#pragma once

#include <cstddef>

#include "platform/output_registry.h"

namespace platform {

/// From now on interrupts (SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGXCPU; on Windows Ctrl-C,
/// Ctrl-Break and the closing of the console) are handled on a thread of their own: it
/// waits for the outputs being created, named or written in place (a second at most),
/// removes the hidden files in flight and ends the process as the event would have. A
/// signal the process was started ignoring stays ignored. SIGXFSZ is ignored, so a write
/// past the file-size limit fails its page like a full disk. Call once, on the main
/// thread, before any other thread starts.
void handleInterrupts();

/// Puts everything named so far on stable storage (on Linux one syncfs per file system
/// written to; on Windows each file was flushed before it took its name). False when a
/// flush failed.
bool makeOutputsDurable();

class OutputFile {
  public:
    /// Nothing is opened yet. `path` must outlive the object.
    explicit OutputFile(const char* path);
    /// Whatever has not taken its name goes; an earlier file of the name is untouched.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Opens for writing what will become `path`:
    /// - nothing there, a regular file or a symbolic link (any reparse point): a new file in
    ///   its folder, unnamed until it is put in place (on Linux an O_TMPFILE file where the
    ///   file system allows, else a hidden ".pelc-..." file; on Windows a hidden file);
    ///   the permission bits of a replaced regular file, else 0666 less the umask;
    /// - a regular file in a folder that refuses new files, when it may be written (on
    ///   Windows a read-only one too): the bytes are kept in memory and written over it
    ///   when it is put in place;
    /// - anything else (a folder, FIFO, socket or device, and on Windows a device name such
    ///   as NUL or COM1.jpg): nothing is opened.
    /// False when nothing could be opened; true at once when it is open already, so that
    /// whoever writes may open it and whoever hands it over may have opened it before.
    bool open();
    /// Writes all `count` bytes; false on any failure.
    bool write(const void* bytes, size_t count);
    /// Ends the writing: the file is whole and waits for its name. False when a write was
    /// lost; the file is gone then.
    bool finish();
    /// Gives the finished file its name, replacing what was there (a link is replaced,
    /// never written through). In place, the new size is reserved on the earlier file
    /// before a byte of it changes and the whole file is written while an interrupt
    /// waits, so a full disk leaves the earlier file whole. False when it cannot be done;
    /// nothing is left behind then.
    bool putInPlace();
    bool finished() const { return finished_; }
    const char* path() const { return path_; }

  private:
    enum class Kind { None, Unnamed, Hidden, InPlace };
    void discard();
    bool placeHidden();
    bool writeInPlace();

    const char* path_;
    Kind kind_ = Kind::None;
    int fd_ = -1;     // the new file, or in place the earlier file itself
    int entry_ = -1;  // in the output registry, while a hidden name exists
    bool finished_ = false;
    outputs::ByteBlock inPlaceBytes_;
};

} // namespace platform
