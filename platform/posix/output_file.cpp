#include "platform/output_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"

namespace platform {

namespace {

// Ctrl-\ (SIGQUIT) ends a run from the terminal as surely as Ctrl-C does; SIGXCPU ends a
// run that reached its CPU limit.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU};

sigset_t handledSignals;

void* endOnInterrupt(void*) {
    int signalNumber = 0;
    while (::sigwait(&handledSignals, &signalNumber) != 0) {
    }
    outputs::endOutputs();
    // Blocked on every thread: unblocked here, with its default action, it ends the
    // process as it would have.
    ::signal(signalNumber, SIG_DFL);
    sigset_t just;
    sigemptyset(&just);
    sigaddset(&just, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &just, nullptr);
    ::raise(signalNumber);
    ::_exit(128 + signalNumber);
}

// The folder part of `path` ("." for a bare name) into `folder`; false when too long.
bool folderOf(const char* path, char* folder, size_t capacity) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr)
        return std::snprintf(folder, capacity, ".") > 0;
    const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length >= capacity)
        return false;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
    return true;
}

// A fresh hidden name in `folder`.
bool hiddenNameIn(const char* folder, char* name, size_t capacity) {
    static std::atomic<unsigned> serial{0};
    const int length = std::snprintf(name, capacity, "%s/.pelc-%ld-%u", folder,
                                     static_cast<long>(::getpid()), serial.fetch_add(1));
    return length > 0 && static_cast<size_t>(length) < capacity;
}

// A folder that refuses new files, as opposed to one that failed for another reason (a
// full disk), where writing over the earlier file would only lose it.
bool refusesNewFiles(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// File systems without unnamed files, and kernels older than them.
bool lacksUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT;
}

// An unnamed file gets its name through /proc, which a chroot may lack.
bool canNameUnnamedFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

// Mode bits of a new file: exactly `mode` when it replaces one, else 0666 less the umask.
// Created 0600, so it is never wider meanwhile.
bool setMode(int fd, int mode) { return mode < 0 || ::fchmod(fd, static_cast<mode_t>(mode)) == 0; }

// A hidden file in `folder`, created exclusively; its name is in `entry` before it exists.
int createHidden(int entry, const char* folder, int mode) {
    char name[outputs::kEntryPathBytes];
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!hiddenNameIn(folder, name, sizeof name))
            return -1;
        const outputs::EntryLock lock(entry);
        if (!outputs::setHiddenName(entry, name))
            return -1;
        const int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              mode < 0 ? 0666 : 0600);
        if (fd >= 0 && setMode(fd, mode))
            return fd;
        const int error = fd >= 0 ? EIO : errno;
        if (fd >= 0) {
            ::unlink(name);
            ::close(fd);
        }
        outputs::setHiddenName(entry, nullptr);
        errno = error;
        if (error != EEXIST)
            return -1;
    }
    return -1;
}

// The file systems written to, each by a folder of it, for the sync at the end.
constexpr int kFileSystems = 64;
struct WrittenFileSystems {
    std::mutex lock;
    dev_t devices[kFileSystems];
    int folders[kFileSystems];
    int count = 0;
    bool overflow = false; // more than can be held, or a folder that cannot be opened
};
WrittenFileSystems written;

} // namespace

namespace outputs {

void removeName(const char* path) { ::unlink(path); }

bool renameOver(const char* from, const char* to) { return ::rename(from, to) == 0; }

void noteNamed(const char* path) {
    struct stat info;
    if (::lstat(path, &info) != 0)
        return;
    const std::lock_guard lock(written.lock);
    for (int i = 0; i < written.count; ++i)
        if (written.devices[i] == info.st_dev)
            return;
    char folder[outputs::kEntryPathBytes];
    const int folderFd = written.count < kFileSystems && folderOf(path, folder, sizeof folder)
                             ? ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : -1;
    if (folderFd < 0) {
        written.overflow = true;
        return;
    }
    written.devices[written.count] = info.st_dev;
    written.folders[written.count++] = folderFd;
}

// An unnamed file takes its name through its descriptor's entry in /proc.
bool nameUnnamed(int fd, const char* path) {
    char self[48];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const int entry = outputs::claimEntry();
    if (entry < 0)
        return false;
    bool placed;
    {
        const outputs::EntryLock lock(entry);
        placed = ::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
        // Something is there already: linked under a hidden name, which then replaces it
        // at once.
        char folder[outputs::kEntryPathBytes];
        char hidden[outputs::kEntryPathBytes];
        for (int attempt = 0; !placed && errno == EEXIST && attempt < 100; ++attempt) {
            if (!folderOf(path, folder, sizeof folder) ||
                !hiddenNameIn(folder, hidden, sizeof hidden) ||
                !outputs::setHiddenName(entry, hidden))
                break;
            if (::linkat(AT_FDCWD, self, AT_FDCWD, hidden, AT_SYMLINK_FOLLOW) != 0)
                continue; // errno EEXIST: another hidden name
            placed = renameOver(hidden, path);
            if (!placed)
                removeName(hidden);
            break;
        }
    }
    outputs::releaseEntry(entry);
    return placed;
}

bool readyHidden(int) { return true; }

bool reserveRoom(int fd, uint64_t size) {
    // fallocate does not see the file-size limit.
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size > limit.rlim_cur)
        return false;
    if (size > static_cast<uint64_t>(INT64_MAX))
        return false;
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0 ||
           errno == EOPNOTSUPP || errno == ENOSYS;
}

bool endFileAt(int fd, uint64_t size) {
    return size <= static_cast<uint64_t>(INT64_MAX) &&
           ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

} // namespace outputs

void handleInterrupts() {
    ::signal(SIGXFSZ, SIG_IGN);
    sigemptyset(&handledSignals);
    for (const int signalNumber : kInterrupts) {
        struct sigaction current;
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&handledSignals, signalNumber);
    }
    // Every thread started from here on inherits the mask: only the handling thread takes
    // the signals, and never in the middle of another thread's step.
    ::pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);
    pthread_attr_t attributes;
    pthread_t thread;
    const bool started = ::pthread_attr_init(&attributes) == 0 &&
                         ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
                         ::pthread_create(&thread, &attributes, endOnInterrupt, nullptr) == 0;
    ::pthread_attr_destroy(&attributes);
    if (!started) // the signals keep their default actions
        ::pthread_sigmask(SIG_UNBLOCK, &handledSignals, nullptr);
}

bool makeOutputsDurable() {
    const std::lock_guard lock(written.lock);
    bool durable = true;
    for (int i = 0; i < written.count; ++i)
        durable = ::syncfs(written.folders[i]) == 0 && durable;
    if (written.overflow)
        ::sync();
    return durable;
}

bool OutputFile::open() {
    if (kind_ != Kind::None)
        return true;
    if (path_[0] == '\0')
        return false;
    struct stat info;
    const bool exists = ::lstat(path_, &info) == 0;
    const bool regular = exists && S_ISREG(info.st_mode);
    if (exists && !regular && !S_ISLNK(info.st_mode))
        return false; // a folder, FIFO, socket or device: never opened
    char folder[outputs::kEntryPathBytes];
    if (!folderOf(path_, folder, sizeof folder))
        return false;
    const int mode = regular ? static_cast<int>(info.st_mode & 07777) : -1;

    int error = EOPNOTSUPP;
    if (canNameUnnamedFiles()) {
        fd_ = ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode < 0 ? 0666 : 0600);
        if (fd_ >= 0 && setMode(fd_, mode)) {
            kind_ = Kind::Unnamed;
            return true;
        }
        error = fd_ >= 0 ? EIO : errno;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    if (lacksUnnamedFiles(error)) {
        entry_ = outputs::claimEntry();
        fd_ = entry_ >= 0 ? createHidden(entry_, folder, mode) : -1;
        if (fd_ >= 0) {
            kind_ = Kind::Hidden;
            return true;
        }
        error = errno;
        outputs::releaseEntry(entry_);
        entry_ = -1;
    }
    if (!regular || !refusesNewFiles(error))
        return false;
    // Only the earlier file itself can be written: kept open, so its turn writes this very
    // file whatever happens to the name meanwhile.
    fd_ = ::open(path_, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    kind_ = Kind::InPlace;
    return true;
}

} // namespace platform
