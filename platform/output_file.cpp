#include "platform/output_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"

namespace platform {

namespace {

// Outputs in flight, as the interrupt handler finds them. A slot is published (path
// written, then state set) before its file exists and freed only once the file is gone
// or in place, so the handler never misses a file; it may try a name already gone,
// which does no harm. Fixed storage: the handler may not allocate or lock.
enum SlotState : int { kFree, kClaimed, kHidden, kInPlace };
constexpr int kSlots = 256;
struct InFlight {
    std::atomic<int> state;
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free);
InFlight inFlight[kSlots];

// Ctrl-\ (SIGQUIT) ends a run from the terminal as surely as Ctrl-C does.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

sigset_t interruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kInterrupts)
        sigaddset(&set, signalNumber);
    return set;
}

// An interrupt and the start of an output exclude each other, since other threads go on
// while the handler runs: a start under way when the handler begins is waited for, so the
// file it makes is found; one that begins later gives up. The interrupts are held off on
// the starting thread meanwhile, so the handler never runs inside a start and waits only for
// other threads, which never wait for it.
std::atomic<bool> ending{false};
std::atomic<int> creating{0};
static_assert(std::atomic<bool>::is_always_lock_free);

class Creation {
  public:
    Creation() {
        const sigset_t interrupts = interruptSignals();
        ::pthread_sigmask(SIG_BLOCK, &interrupts, &saved_);
        creating.fetch_add(1);
        allowed_ = !ending.load();
    }
    ~Creation() {
        creating.fetch_sub(1);
        ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    Creation(const Creation&) = delete;
    Creation& operator=(const Creation&) = delete;
    bool allowed() const { return allowed_; }

  private:
    sigset_t saved_;
    bool allowed_;
};

// Where the calling thread's commits go; null: in place at once.
thread_local HeldOutputs* heldCommits = nullptr;

int claimSlot() {
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (inFlight[i].state.compare_exchange_strong(expected, kClaimed))
            return i;
    }
    return -1;
}

bool publish(int slot, const std::string& path, SlotState state) {
    if (path.size() >= sizeof inFlight[slot].path)
        return false;
    inFlight[slot].state.store(kClaimed);
    std::memcpy(inFlight[slot].path, path.c_str(), path.size() + 1);
    inFlight[slot].state.store(state);
    return true;
}

void freeSlot(int slot) {
    if (slot >= 0)
        inFlight[slot].state.store(kFree);
}

// Empties the regular file at `path` without following a link or blocking on a FIFO put
// there meanwhile. System calls only: the interrupt handler uses it.
void emptyFile(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        (void)::ftruncate(fd, 0);
    ::close(fd);
}

void onInterrupt(int signalNumber) {
    const int savedErrno = errno;
    ending.store(true);
    while (creating.load() > 0) {
    }
    for (InFlight& slot : inFlight) {
        const int state = slot.state.load();
        if (state == kHidden)
            ::unlink(slot.path);
        else if (state == kInPlace)
            emptyFile(slot.path);
    }
    errno = savedErrno;
    // Blocked while this handler runs: delivered, with its default action, on return.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A folder that refuses new files, as opposed to one that failed for another reason (a
// full disk), where writing over the earlier file would only lose it.
bool refusesNewFiles(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// A fresh hidden name in `folder`, created exclusively and published in `slot` before it
// exists. `mode` < 0: 0666 less the umask; else exactly those permission bits, set before
// a byte is written (created 0600, so it is never wider meanwhile).
int createHidden(int slot, const std::string& folder, int mode, std::string& name) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char leaf[48];
        std::snprintf(leaf, sizeof leaf, "/.pelc-%ld-%u", static_cast<long>(::getpid()),
                      serial.fetch_add(1));
        name = folder + leaf;
        const Creation creation;
        if (!creation.allowed()) {
            errno = EINTR;
            return -1;
        }
        if (!publish(slot, name, kHidden))
            return -1;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              mode < 0 ? 0666 : 0600);
        if (fd >= 0) {
            if (mode < 0 || ::fchmod(fd, static_cast<mode_t>(mode)) == 0)
                return fd;
            ::unlink(name.c_str());
            ::close(fd);
            errno = EIO;
        }
        const int error = errno;
        inFlight[slot].state.store(kClaimed);
        errno = error;
        if (fd >= 0 || error != EEXIST)
            return -1;
    }
    return -1;
}

// The existing regular file itself, emptied, for a folder that takes no new files.
int openInPlace(int slot, const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    // Published before it is emptied, or not touched once an interrupt has begun.
    const Creation creation;
    if (!creation.allowed() || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        !publish(slot, path, kInPlace) || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

void removeOutputsOnInterrupt() {
    for (const int signalNumber : kInterrupts) {
        struct sigaction current;
        if (::sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        // Every one of them is held off while one is handled: one cleanup, one ending.
        action.sa_mask = interruptSignals();
        ::sigaction(signalNumber, &action, nullptr);
    }
}

OutputFile::OutputFile(const char* path) : finalPath_(path != nullptr ? path : "") {
    if (finalPath_.empty())
        return;
    struct stat info;
    const bool exists = ::lstat(finalPath_.c_str(), &info) == 0;
    const bool regular = exists && S_ISREG(info.st_mode);
    if (exists && !regular && !S_ISLNK(info.st_mode))
        return; // a folder, FIFO, socket or device: never opened
    slot_ = claimSlot();
    if (slot_ < 0)
        return;
    std::string name;
    fd_ = createHidden(slot_, folderOf(finalPath_), regular ? int(info.st_mode & 0777) : -1, name);
    if (fd_ >= 0) {
        tempPath_ = std::move(name); // no copy: nothing may throw once the file exists
        return;
    }
    if (regular && refusesNewFiles(errno)) {
        if (heldCommits != nullptr)
            heldCommits->wantsInPlace_ = true;
        else
            fd_ = openInPlace(slot_, finalPath_);
    }
    if (fd_ < 0) {
        freeSlot(slot_);
        slot_ = -1;
    }
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::write(const void* bytes, size_t count) {
    return fd_ >= 0 && writeFully(fd_, bytes, count);
}

void OutputFile::discard() {
    if (slot_ < 0)
        return;
    const bool inPlace = tempPath_.empty();
    // Emptied through its descriptor while there is one: the name may name another file by
    // now.
    if (fd_ >= 0 && inPlace)
        (void)::ftruncate(fd_, 0);
    else if (inPlace)
        emptyFile(finalPath_.c_str());
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!inPlace)
        ::unlink(tempPath_.c_str());
    freeSlot(slot_);
    slot_ = -1;
}

bool OutputFile::commit() {
    if (slot_ < 0 || fd_ < 0)
        return false;
    // Data still in flight can be lost at close: that is a failed write too.
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (closed && heldCommits != nullptr && !tempPath_.empty()) {
        heldCommits->files_.push_back({tempPath_, finalPath_, slot_});
        slot_ = -1;
        return true;
    }
    if (!closed || (!tempPath_.empty() && ::rename(tempPath_.c_str(), finalPath_.c_str()) != 0)) {
        discard();
        return false;
    }
    freeSlot(slot_);
    slot_ = -1;
    return true;
}

bool HeldOutputs::putInPlace() {
    bool allPlaced = true;
    for (const Held& held : files_) {
        if (::rename(held.hiddenPath.c_str(), held.finalPath.c_str()) != 0) {
            ::unlink(held.hiddenPath.c_str());
            allPlaced = false;
        }
        freeSlot(held.slot);
    }
    files_.clear();
    return allPlaced;
}

void HeldOutputs::clear() {
    for (const Held& held : files_) {
        ::unlink(held.hiddenPath.c_str());
        freeSlot(held.slot);
    }
    files_.clear();
    wantsInPlace_ = false;
}

CommitHold::CommitHold(HeldOutputs& outputs) { heldCommits = &outputs; }

CommitHold::~CommitHold() { heldCommits = nullptr; }

} // namespace platform
