// An output written under a temporary name beside its final one and put in place only when
// complete: a page that fails part-way (a full disk, a lost write) never destroys an earlier
// file of that name, and never leaves a cut-off file that looks written.
#pragma once

#include <string>

namespace platform {

class OutputFile {
  public:
    /// Reserves a hidden temporary file in the folder of `path` when `path` is a regular
    /// file or does not exist yet. Anything else that exists under the name (a device, a
    /// link, a folder) is written in place, as a plain open would.
    explicit OutputFile(const char* path);
    /// Removes the temporary file unless it was committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// The name to open for writing (created or truncated); null when no temporary file
    /// could be made (a folder that refuses new files), so the write fails as it would.
    const char* writePath() const;
    /// Puts the written file in place under its final name (created with mode 0666 less the
    /// umask, as a plain open would). False when that fails; nothing is left behind then.
    bool commit();

  private:
    std::string finalPath_;
    std::string tempPath_; // empty: written in place
    bool inPlace_ = false;
    bool committed_ = false;
};

} // namespace platform
