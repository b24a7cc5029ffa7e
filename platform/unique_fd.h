// Owns a file descriptor and closes it unless it is -1.
#pragma once

#include <utility>

namespace platform {
/// Closes `fd` (close, or the runtime's _close); false when that reported an error.
bool closeDescriptor(int fd);
} // namespace platform

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    /// Closes the descriptor; false when close reported an error (a lost write).
    bool reset(int fd = -1) {
        bool ok = true;
        if (fd_ >= 0)
            ok = platform::closeDescriptor(fd_);
        fd_ = fd;
        return ok;
    }

  private:
    int fd_ = -1;
};
