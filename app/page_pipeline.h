// Converts pages on worker threads while everything a user sees happens as in a run on one
// thread: console lines in list order, each printed once its page is done, and each output
// put in place when its line is printed, so an interrupt never leaves a page in place
// beyond the last line shown.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "app/messages.h"
#include "core/image_record.h"
#include "platform/paths.h"

/// One page to convert, named in advance. Fixed-size, so that giving a page to the
/// pipeline takes no memory that could run out.
struct PageTask {
    char inputPath[platform::kMaxPath]; // full path of the TIFF file
    uint32_t fileTurn; // which file of the list: a file named twice is opened afresh
    ImageRecord page;  // as the page list gives it
    char outputName[platform::kMaxPath];
};

/// The most workers a run uses.
inline constexpr int kMaxWorkers = 64;
/// Room for any name a report shows: an output name that did not fit a path buffer is
/// made of a folder and a base name that each did.
inline constexpr size_t kReportNameCapacity = 2 * platform::kMaxPath + 64;

class PagePipeline {
  public:
    /// Up to `workers` converting threads (at least 1): this one, which converts pages while
    /// it waits for room, and the others, each started only when a page waits and no worker
    /// is free. Pages are admitted while the decoded pages in work would together
    /// stay within `memoryBudget` bytes (pageMemoryCost); a page above it runs alone.
    PagePipeline(int workers, uint64_t memoryBudget);
    /// Finishes the pages given, then ends the workers.
    ~PagePipeline();
    PagePipeline(const PagePipeline&) = delete;
    PagePipeline& operator=(const PagePipeline&) = delete;

    /// Converts the page on a worker; its line, its failure message and its output come in
    /// turn. Opens the output here. Waits while the window of pages in work is full. The
    /// names are copied.
    void convert(const char* inputPath, uint32_t fileTurn, const ImageRecord& page,
                 const char* outputName);
    /// Prints, in turn, `path` and `message` on one line: a file that failed as a whole.
    void reportFile(const char* path, const Message& message);
    /// Prints, in turn, `name` and then `message` on a line of its own: a page that failed
    /// before it could be converted.
    void reportPage(const char* name, const Message& message);
    /// Prints and puts in place everything given so far.
    void finish();

  private:
    struct Slot;
    struct Worker;

    Slot& slotAt(uint64_t turn);
    /// Queues a report of `name` and `message`, printed in turn.
    void report(const char* name, const Message& message, bool oneLine);
    /// Waits for room in the window (and in the memory budget, for `cost`), printing the
    /// pages that finish and converting those that wait for a worker meanwhile.
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
    /// The same on this thread, which gives the pages out.
    void convertHere(std::unique_lock<std::mutex>& lock);

    // Pages done ahead of the oldest wait here, their files not yet named; twice the workers
    // keeps every worker busy behind one slow page.
    static constexpr int kWindowPerWorker = 2;

    int maxWorkers_;
    const uint64_t memoryBudget_;
    // Fixed arrays: only the slots and workers themselves are allocated, each without
    // throwing. A window smaller than asked for (memory ran out) takes fewer workers; with
    // none at all, each page is converted and printed as it is given.
    std::unique_ptr<Slot> window_[kMaxWorkers * kWindowPerWorker];
    size_t windowSize_ = 0;
    std::unique_ptr<Worker> workers_[kMaxWorkers];
    int workerCount_ = 0;
    std::unique_ptr<Worker> fallback_; // this thread's, its file kept open between pages
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
/// The memory the decoded pages in work may take together: half what the process may use.
uint64_t pageMemoryBudget();
