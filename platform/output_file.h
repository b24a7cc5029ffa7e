// An output written under a temporary name beside its final one and put in place only when
// complete: a page that fails part-way (a full disk, a lost write) never destroys an earlier
// file of that name, and never leaves a cut-off file that looks written.
#pragma once

#include <string>

namespace platform {

class OutputFile {
  public:
    /// Opens a new hidden file in the folder of `path` when `path` is a regular file or does
    /// not exist yet; anything else that exists under the name (a device, a link, a folder)
    /// is opened in place, created or truncated, as a plain open would. Files are created
    /// with mode 0666 less the umask.
    explicit OutputFile(const char* path);
    /// Closes a descriptor still held and removes the temporary file unless committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// The open descriptor, or -1 when nothing could be opened (a folder that refuses new
    /// files, a name taken by a folder).
    int descriptor() const { return fd_; }
    /// Hands the descriptor to the caller, who closes it (for example through fclose).
    int releaseDescriptor();
    /// Puts the written file in place under its final name; the descriptor must be closed.
    /// False when that fails; nothing is left behind then.
    bool commit();

  private:
    std::string finalPath_;
    std::string tempPath_; // empty: written in place
    int fd_ = -1;
    bool committed_ = false;
};

} // namespace platform
