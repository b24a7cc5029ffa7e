// Owner of an array taken from std::malloc or std::calloc: out of memory shows as a null
// owner to test, never as a throw.
#pragma once

#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

/// Frees its array with std::free; empty when the allocation failed.
template <class T> using HeapArray = std::unique_ptr<T[], FreeDeleter>;
