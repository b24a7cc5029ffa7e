// A per-process scratch folder for the fuzz targets: each input goes to disk under a fixed
// name there, because every reader under test takes a path, and whatever a run writes is
// removed before the next input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fuzz {

class ScratchFolder {
  public:
    /// Makes a fresh folder under $PELC_FUZZ_SCRATCH, else /dev/shm, else $TMPDIR or /tmp;
    /// aborts when none can be made, since no input could be tried.
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    /// Full path of `name` inside the folder.
    std::string path(const char* name) const;
    /// Writes `data` to `name` in the folder, replacing it; aborts on a failed write, which
    /// would otherwise test a stale input.
    void writeFile(const char* name, const uint8_t* data, size_t size) const;
    /// Calls `visit` with the name of every entry of the folder but "." and "..".
    void forEachEntry(const std::function<void(const char*)>& visit) const;
    /// Removes every entry of the folder except `keep` (may be null).
    void removeAllBut(const char* keep) const;

  private:
    std::string folder;
};

/// Sends standard output to /dev/null once: the program under test prints every output name.
void silenceStandardOutput();

/// The process's one scratch folder, made on first use.
ScratchFolder& scratch();

} // namespace fuzz
