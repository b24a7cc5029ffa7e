#include "app/page_pipeline.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <system_error>

#include "app/messages.h"
#include "app/page_step.h"
#include "core/checked_math.h"
#include "platform/machine.h"
#include "platform/output_file.h"
#include "readers/convert_engine.h"
#include "readers/tiff_page_reader.h"

namespace {
// Copies `text` whole into `out`; false, leaving it empty, when it does not fit.
template <size_t N> bool copyName(char (&out)[N], const char* text) {
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    out[0] = '\0';
    if (length >= N)
        return false;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return true;
}
} // namespace

struct PagePipeline::Slot {
    PageTask task{};
    const Message* report = nullptr; // set: a report, no page
    bool reportOnOneLine = false;
    char reportName[kReportNameCapacity] = {};
    uint64_t cost = 0;
    bool done = false;
    PageOutcome outcome{};
    std::optional<platform::OutputFile> output; // finished when the page was written
};

struct PagePipeline::Worker {
    readers::ConvertEngine engine;
    uint32_t fileTurn = std::numeric_limits<uint32_t>::max();
    std::thread thread;
};

PagePipeline::PagePipeline(int workers, uint64_t memoryBudget)
    : maxWorkers_(std::clamp(workers, 1, kMaxWorkers)), memoryBudget_(memoryBudget) {
    const auto wanted = static_cast<size_t>(maxWorkers_ * kWindowPerWorker);
    while (windowSize_ < wanted) {
        window_[windowSize_].reset(new (std::nothrow) Slot);
        if (window_[windowSize_] == nullptr)
            break;
        ++windowSize_;
    }
    maxWorkers_ = std::max<int>(1, static_cast<int>(windowSize_) / kWindowPerWorker);
    // libtiff's process-wide handlers are set before any worker could read them.
    readers::quietLibtiff();
}

PagePipeline::~PagePipeline() {
    finish();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    pageWaiting_.notify_all();
    for (int i = 0; i < workerCount_; ++i)
        workers_[i]->thread.join();
}

PagePipeline::Slot& PagePipeline::slotAt(uint64_t turn) { return *window_[turn % windowSize_]; }

bool PagePipeline::oldestDone() const {
    return oldest_ < next_ && window_[oldest_ % windowSize_]->done;
}

void PagePipeline::convert(const char* inputPath, uint32_t fileTurn, const ImageRecord& page,
                           const char* outputName) {
    if (windowSize_ == 0) {
        // Not one slot to be had: the page is converted and shown here, as it comes.
        Worker here;
        printRaw(outputName != nullptr ? outputName : "");
        platform::OutputFile output(outputName != nullptr ? outputName : "");
        PageOutcome outcome = convertPageQuietly(page, inputPath, output, here.engine);
        if (outcome.failure == nullptr && !output.putInPlace())
            outcome = {-1, &messages::kWriteFailed};
        if (outcome.failure != nullptr)
            printMessage(*outcome.failure);
        return;
    }
    const uint64_t cost = pageMemoryCost(page);
    waitForRoom(cost);
    Slot& slot = slotAt(next_);
    if (!copyName(slot.task.inputPath, inputPath) || !copyName(slot.task.outputName, outputName)) {
        // Names longer than any accepted path never come here; still, none is cut short.
        report(outputName != nullptr ? outputName : "", messages::kWriteFailed, false);
        return;
    }
    slot.task.fileTurn = fileTurn;
    slot.task.page = page;
    slot.cost = cost;
    // Every output is created here, on one thread: two CPUs allocating files in one folder
    // at once slow each other down in the file system more than the pages gain.
    slot.output.emplace(slot.task.outputName);
    slot.output->open(); // the worker tries again, and reports a failure, after the page
    {
        std::lock_guard lock(mutex_);
        costInWork_ += cost;
        ++next_;
    }
    pageWaiting_.notify_one();
    startWorkerIfNeeded();
    if (workerCount_ == 0) {
        // One CPU, or not one thread to be had: this one converts the page.
        std::unique_lock lock(mutex_);
        convertHere(lock);
    }
}

void PagePipeline::reportFile(const char* path, const Message& message) {
    report(path, message, true);
}

void PagePipeline::reportPage(const char* name, const Message& message) {
    report(name, message, false);
}

void PagePipeline::report(const char* name, const Message& message, bool oneLine) {
    char shown[kReportNameCapacity];
    // A longer name is shown cut: its message still comes.
    std::strncpy(shown, name != nullptr ? name : "", sizeof shown - 1);
    shown[sizeof shown - 1] = '\0';
    if (windowSize_ == 0) {
        if (oneLine) {
            printPathMessage(shown, message);
        } else {
            printRaw(shown);
            printMessage(message);
        }
        return;
    }
    waitForRoom(0);
    Slot& slot = slotAt(next_);
    std::memcpy(slot.reportName, shown, sizeof shown);
    slot.reportOnOneLine = oneLine;
    slot.report = &message;
    std::lock_guard lock(mutex_);
    slot.done = true;
    // Nothing for a worker: a page given after it is the next to claim, unless one waits.
    if (claimed_ == next_)
        ++claimed_;
    ++next_;
}

void PagePipeline::waitForRoom(uint64_t cost) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const bool windowFree = next_ - oldest_ < windowSize_;
        // A page above the budget runs alone; a cost near the top of the range must not
        // wrap round into room.
        const bool memoryFree = costInWork_ == 0 || rangeInside(costInWork_, cost, memoryBudget_);
        if (windowFree && memoryFree && !oldestDone())
            return;
        if (oldestDone()) {
            lock.unlock();
            finishOldest();
            lock.lock();
            continue;
        }
        if (claimed_ < next_) {
            convertHere(lock); // rather than wait idle
            continue;
        }
        pageDone_.wait(lock);
    }
}

void PagePipeline::convertHere(std::unique_lock<std::mutex>& lock) {
    if (!fallback_)
        fallback_.reset(new (std::nothrow) Worker);
    Worker here;
    convertNext(lock, fallback_ ? *fallback_ : here);
}

void PagePipeline::finish() {
    std::unique_lock lock(mutex_);
    while (oldest_ < next_) {
        if (!oldestDone() && claimed_ < next_) {
            convertHere(lock);
            continue;
        }
        pageDone_.wait(lock, [this] { return oldestDone(); });
        lock.unlock();
        finishOldest();
        lock.lock();
    }
}

void PagePipeline::finishOldest() {
    Slot& slot = slotAt(oldest_);
    if (slot.report != nullptr) {
        if (slot.reportOnOneLine) {
            printPathMessage(slot.reportName, *slot.report);
        } else {
            printRaw(slot.reportName);
            printMessage(*slot.report);
        }
    } else {
        printRaw(slot.task.outputName);
        PageOutcome outcome = slot.outcome;
        if (outcome.failure == nullptr && !slot.output->putInPlace())
            outcome = {-1, &messages::kWriteFailed};
        if (outcome.failure != nullptr)
            printMessage(*outcome.failure);
    }
    slot.output.reset();
    slot.report = nullptr;
    std::lock_guard lock(mutex_);
    slot.done = false;
    ++oldest_;
}

void PagePipeline::startWorkerIfNeeded() {
    {
        std::lock_guard lock(mutex_);
        if (idleWorkers_ > 0 || claimed_ == next_)
            return;
    }
    // This thread converts pages too while it waits for room, so it counts as one worker;
    // with one CPU it converts them all.
    if (workerCount_ >= maxWorkers_ - 1)
        return;
    std::unique_ptr<Worker> worker(new (std::nothrow) Worker);
    if (worker == nullptr)
        return; // the pages wait for the workers there are
    try {
        worker->thread = std::thread(&PagePipeline::work, this, std::ref(*worker));
    } catch (const std::system_error&) {
        return;
    } catch (const std::bad_alloc&) {
        return; // std::thread allocates its start-up state on the heap
    }
    workers_[workerCount_++] = std::move(worker);
}

void PagePipeline::work(Worker& worker) {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idleWorkers_;
        pageWaiting_.wait(lock, [this] { return stopping_ || claimed_ < next_; });
        --idleWorkers_;
        if (claimed_ == next_)
            return; // stopping, nothing left
        convertNext(lock, worker);
    }
}

void PagePipeline::convertNext(std::unique_lock<std::mutex>& lock, Worker& worker) {
    {
        Slot& slot = slotAt(claimed_++);
        // Reports in between need no worker.
        while (claimed_ < next_ && slotAt(claimed_).report != nullptr)
            ++claimed_;
        lock.unlock();

        if (slot.task.fileTurn != worker.fileTurn) {
            worker.engine.finishFile();
            worker.fileTurn = slot.task.fileTurn;
        }
        slot.outcome =
            convertPageQuietly(slot.task.page, slot.task.inputPath, *slot.output, worker.engine);

        lock.lock();
        slot.done = true;
        costInWork_ -= slot.cost;
    }
    pageDone_.notify_all();
}

int pageWorkerCount() { return std::min(platform::usableCpuCount(), kMaxWorkers); }

uint64_t pageMemoryBudget() {
    const uint64_t memory = platform::usableMemoryBytes();
    return memory == 0 ? std::numeric_limits<uint64_t>::max() : memory / 2;
}
