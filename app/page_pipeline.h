// Converts pages on worker threads while everything a user sees happens as in a run on one
// thread: console lines in list order, each printed once its page is done, and each output
// put in place when its line is printed, so an interrupt never leaves a page in place
// beyond the last line shown.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/image_record.h"

/// One page to convert, named in advance.
struct PageTask {
    std::string inputPath; // full path of the TIFF file
    uint32_t fileTurn;     // which file of the list: a file named twice is opened afresh
    ImageRecord page;      // as the page list gives it
    std::string outputName;
};

class PagePipeline {
  public:
    /// Up to `workers` threads (at least 1), each started only when a page waits and no
    /// worker is free. Pages are admitted while the decoded pages in work would together
    /// stay within `memoryBudget` bytes (pageMemoryCost); a page above it runs alone.
    PagePipeline(int workers, uint64_t memoryBudget);
    /// Finishes the pages given, then ends the workers.
    ~PagePipeline();
    PagePipeline(const PagePipeline&) = delete;
    PagePipeline& operator=(const PagePipeline&) = delete;

    /// Converts `task` on a worker; its line, its failure message and its output come in
    /// turn. Waits while the window of pages in work is full.
    void convert(PageTask task);
    /// Runs `printLines` on this thread in turn: a report that needs no worker.
    void report(std::function<void()> printLines);
    /// Prints and puts in place everything given so far.
    void finish();

  private:
    struct Slot;
    struct Worker;

    Slot& slotAt(uint64_t turn);
    /// Waits for room in the window (and in the memory budget, for `cost`), printing the
    /// pages that finish meanwhile.
    void waitForRoom(uint64_t cost);
    /// Prints the oldest entry and puts its output in place; it must be done.
    void finishOldest();
    /// True while the oldest entry is done (the lock must be held).
    bool oldestDone() const;
    void startWorkerIfNeeded();
    void work(Worker& worker);
    /// Converts the next page waiting for a worker on `worker`; `lock` holds the mutex on
    /// entry and on return, not in between.
    void convertNext(std::unique_lock<std::mutex>& lock, Worker& worker);

    const int maxWorkers_;
    const uint64_t memoryBudget_;
    std::vector<std::unique_ptr<Slot>> window_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::unique_ptr<Worker> fallback_; // this thread's, when no thread can be started
    std::mutex mutex_;
    std::condition_variable pageWaiting_;
    std::condition_variable pageDone_;
    // Turns count every entry ever given: [oldest_, next_) are in the window, of which
    // [claimed_, next_) wait for a worker.
    uint64_t oldest_ = 0;
    uint64_t claimed_ = 0;
    uint64_t next_ = 0;
    uint64_t costInWork_ = 0;
    int idleWorkers_ = 0;
    bool stopping_ = false;
};

/// The workers a run uses: the CPUs it may use, at most kMaxWorkers.
int pageWorkerCount();
inline constexpr int kMaxWorkers = 64;
/// The memory the decoded pages in work may take together: half what the process may use.
uint64_t pageMemoryBudget();
/// Whether a page costing `cost` may start beside pages in work costing `inWork` together:
/// when they stay within `budget`, or when nothing is in work (a page above it runs alone).
bool pageFitsBudget(uint64_t inWork, uint64_t cost, uint64_t budget);
/// What the process itself takes besides the page in work: code, libraries, the page list.
inline constexpr uint64_t kProcessBaselineBytes = uint64_t{16} << 20;
/// The largest page cost a process that may use `usableMemory` bytes (0: unknown, no
/// limit) can afford on its own; a page above it is refused before it is decoded.
uint64_t pageMemoryCeiling(uint64_t usableMemory);
/// What decoding and writing `page` may take at its peak, from its size and depth: an upper
/// bound for every kind of page libtiff decodes, compressed or not, turned or not.
uint64_t pageMemoryCost(const ImageRecord& page);
