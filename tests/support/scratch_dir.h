// The one place tests put files: a fresh folder per object, removed with everything in it
// when the object ends, so test binaries running side by side never share a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// A fresh, empty folder under ::testing::TempDir(), or under a base of the test's choice.
class ScratchDir {
  public:
    ScratchDir();
    /// A fresh, empty folder under `base` instead (another file system, such as tmpfs).
    explicit ScratchDir(const std::string& base);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    /// The folder's absolute path with every symlink resolved (on Windows its long form),
    /// without a trailing separator.
    const std::string& path() const { return path_; }
    /// `path()` + "/" (on Windows "\\") + `name`; nothing is created.
    std::string file(std::string_view name) const;
    /// Writes `bytes` to `name` inside the folder (created or truncated); returns its path.
    std::string write(std::string_view name, std::string_view bytes) const;
    std::string write(std::string_view name, const std::vector<uint8_t>& bytes) const;
    /// Creates every folder along `relative` inside the folder (as `mkdir -p`); returns the
    /// path of the last one.
    std::string makeFolders(std::string_view relative) const;

  private:
    std::string path_;
};

/// The whole content of a file; empty when it cannot be read.
std::string readFileBytes(const std::string& path);
/// True when something exists under `path`.
bool pathExists(const std::string& path);
