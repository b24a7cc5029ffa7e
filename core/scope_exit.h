// Runs a cleanup when the scope ends, on every return path, unless released.
#pragma once

#include <utility>

template <class F> class ScopeExit {
  public:
    explicit ScopeExit(F cleanup) : cleanup_(std::move(cleanup)) {}
    ~ScopeExit() {
        if (armed_)
            cleanup_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void release() { armed_ = false; }

  private:
    F cleanup_;
    bool armed_ = true;
};
