#include "platform/output_file.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>

#include <windows.h>

#include "platform/file_io.h"
#include "platform/paths.h"

namespace platform {

namespace {

// Outputs in flight, as the console handler finds them. The handler runs on a thread of its
// own: it takes each slot's lock and keeps it, so the slot's owner can neither start, write
// nor put in place a file once the handler has removed or emptied it, and the process ends
// with nothing half-written under an output's name.
enum SlotState : int { kFree, kClaimed, kHidden, kInPlace };
constexpr int kSlots = 256;
struct InFlight {
    std::atomic<int> state;
    SRWLOCK lock; // zero is SRWLOCK_INIT
    char path[MAX_PATH];
};
InFlight inFlight[kSlots];

// Where the calling thread's commits go; null: in place at once.
thread_local HeldOutputs* heldCommits = nullptr;

class SlotLock {
  public:
    explicit SlotLock(int slot) : lock_(slot >= 0 ? &inFlight[slot].lock : nullptr) {
        if (lock_ != nullptr)
            AcquireSRWLockExclusive(lock_);
    }
    ~SlotLock() {
        if (lock_ != nullptr)
            ReleaseSRWLockExclusive(lock_);
    }
    SlotLock(const SlotLock&) = delete;
    SlotLock& operator=(const SlotLock&) = delete;

  private:
    SRWLOCK* lock_;
};

int claimSlot() {
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (inFlight[i].state.compare_exchange_strong(expected, kClaimed))
            return i;
    }
    return -1;
}

// Called with the slot's lock held.
bool publish(int slot, const std::string& path, SlotState state) {
    if (path.size() >= sizeof inFlight[slot].path)
        return false;
    std::memcpy(inFlight[slot].path, path.c_str(), path.size() + 1);
    inFlight[slot].state.store(state);
    return true;
}

void freeSlot(int slot) {
    if (slot >= 0)
        inFlight[slot].state.store(kFree);
}

bool equalsIgnoringCase(std::string_view a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char c = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 'a' + 'A') : a[i];
        if (c != b[i])
            return false;
    }
    return true;
}

// Names Windows gives to devices in every folder, whatever their extension ("NUL.jpg" is
// the null device), and paths in the device namespace other than files on a drive or a
// share ("\\.\pipe\x", "\\.\COM1", "\\.\PhysicalDrive0"): none of them is ever an output.
bool isDeviceName(const std::string& path) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 4 && separator(path[0]) && separator(path[1]) &&
        (path[2] == '.' || path[2] == '?') && separator(path[3])) {
        // After "\\?\" or "\\.\" only "X:\<name>" and "UNC\<server>\<share>\<name>" are
        // files. A "." or ".." there could climb from the drive to another device.
        std::string_view first;
        size_t components = 0;
        size_t start = 4;
        for (size_t i = 4; i <= path.size(); ++i) {
            if (i < path.size() && IsDBCSLeadByte(static_cast<BYTE>(path[i])) &&
                i + 1 < path.size()) {
                ++i; // a double-byte character: its second byte may be "\" or "."
                continue;
            }
            if (i < path.size() && !separator(path[i]))
                continue;
            const std::string_view part(path.data() + start, i - start);
            if (part.empty() || part == "." || part == "..")
                return true;
            if (components++ == 0)
                first = part;
            start = i + 1;
        }
        const bool onDrive =
            first.size() == 2 && first[1] == ':' &&
            ((first[0] >= 'A' && first[0] <= 'Z') || (first[0] >= 'a' && first[0] <= 'z'));
        if (!(onDrive && components >= 2) && !(equalsIgnoringCase(first, "UNC") && components >= 4))
            return true;
    }
    const PathSplit parts = splitPath(path);
    std::string_view stem = parts.baseName.substr(0, parts.baseName.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalsIgnoringCase(stem, device))
            return true;
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9')
        return equalsIgnoringCase(stem.substr(0, 3), "COM") ||
               equalsIgnoringCase(stem.substr(0, 3), "LPT");
    return false;
}

// A plain file on a disk: no folder, no link or other reparse point, no device or pipe.
bool isPlainDiskFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool truncateToEmpty(HANDLE handle) {
    LARGE_INTEGER start{};
    return SetFilePointerEx(handle, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

// The existing plain file at `path`, opened for writing without following a link: the
// attempt on a link opens the link itself, which is then refused.
HANDLE openExistingPlainFile(const char* path) {
    const HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE && !isPlainDiskFile(handle)) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

void emptyFile(const char* path) {
    const HANDLE handle = openExistingPlainFile(path);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    truncateToEmpty(handle);
    CloseHandle(handle);
}

BOOL WINAPI removeOutputsInFlight(DWORD) {
    for (InFlight& slot : inFlight) {
        AcquireSRWLockExclusive(&slot.lock); // kept until the process ends
        const int state = slot.state.load();
        if (state == kHidden)
            DeleteFileA(slot.path);
        else if (state == kInPlace)
            emptyFile(slot.path);
        slot.state.store(kClaimed);
    }
    // Not handled: the system's own handler ends the process as the event would have.
    return FALSE;
}

// A descriptor of the runtime library for a handle; the handle is closed when that fails.
int descriptorFor(HANDLE handle) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

// A folder that refuses new files, as opposed to one that failed for another reason (a
// full disk), where writing over the earlier file would only lose it.
bool refusesNewFiles(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
}

// A fresh hidden file in `folder` (ending in a separator, or empty for the current one),
// created exclusively and published in `slot` before it exists. Read and removed by others
// while it is written, so that the console handler can take it away at any moment.
int createHidden(int slot, const std::string& folder, std::string& name) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char leaf[48];
        std::snprintf(leaf, sizeof leaf, ".pelc-%lu-%u", GetCurrentProcessId(),
                      serial.fetch_add(1));
        name = folder + leaf;
        if (!publish(slot, name, kHidden)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE); // not a folder that refuses files
            return -1;
        }
        // Not following a reparse point: a link of that name counts as existing.
        const HANDLE handle =
            CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            const int fd = descriptorFor(handle);
            if (fd < 0) {
                DeleteFileA(name.c_str());
                SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            }
            return fd;
        }
        const DWORD error = GetLastError();
        inFlight[slot].state.store(kClaimed);
        SetLastError(error);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return -1;
    }
    return -1;
}

// The existing plain file itself, its read-only mark cleared and emptied, for a folder
// that takes no new files.
int openInPlace(int slot, const std::string& path, DWORD attributes) {
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly)
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const HANDLE handle = openExistingPlainFile(path.c_str());
    if (handle == INVALID_HANDLE_VALUE) {
        if (readOnly)
            SetFileAttributesA(path.c_str(), attributes);
        return -1;
    }
    if (!publish(slot, path, kInPlace) || !truncateToEmpty(handle)) {
        CloseHandle(handle);
        return -1;
    }
    return descriptorFor(handle);
}

// An output is never hidden once it has its name.
bool unhide(int fd) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    FILE_BASIC_INFO info{}; // zero times: left as they are
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return handle != INVALID_HANDLE_VALUE &&
           SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info);
}

// Replaces `target` by `source`. A read-only target is replaced all the same, its
// attributes first set to normal (SetFileAttributesA, FILE_ATTRIBUTE_NORMAL); they come back
// if the move fails.
bool moveIntoPlace(const std::string& source, const std::string& target) {
    const DWORD attributes = GetFileAttributesA(target.c_str());
    const bool clearReadOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                               (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (clearReadOnly)
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (clearReadOnly)
        SetFileAttributesA(target.c_str(), attributes);
    return false;
}

} // namespace

void removeOutputsOnInterrupt() { SetConsoleCtrlHandler(removeOutputsInFlight, TRUE); }

OutputFile::OutputFile(const char* path) : finalPath_(path != nullptr ? path : "") {
    if (finalPath_.empty() || isDeviceName(finalPath_))
        return;
    // Attributes of the name itself: a link is seen as a reparse point, not followed.
    const DWORD attributes = GetFileAttributesA(finalPath_.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    const bool link = exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (exists && !link && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return; // a folder or device: never opened
    const bool plain = exists && !link;
    slot_ = claimSlot();
    if (slot_ < 0)
        return;
    SlotLock lock(slot_);
    const PathSplit parts = splitPath(finalPath_);
    std::string name;
    fd_ = createHidden(slot_, finalPath_.substr(0, parts.drive.size() + parts.directory.size()),
                       name);
    if (fd_ >= 0) {
        tempPath_ = name;
        return;
    }
    if (plain && refusesNewFiles(GetLastError())) {
        if (heldCommits != nullptr)
            heldCommits->wantsInPlace_ = true;
        else
            fd_ = openInPlace(slot_, finalPath_, attributes);
    }
    if (fd_ < 0) {
        freeSlot(slot_);
        slot_ = -1;
    }
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::write(const void* bytes, size_t count) {
    SlotLock lock(slot_);
    return fd_ >= 0 && writeFully(fd_, bytes, count);
}

void OutputFile::discard() {
    if (slot_ < 0)
        return;
    SlotLock lock(slot_);
    const bool inPlace = tempPath_.empty();
    // Emptied through its descriptor while there is one: the name may name another file by
    // now.
    if (fd_ >= 0 && inPlace)
        (void)_chsize_s(fd_, 0);
    else if (inPlace)
        emptyFile(finalPath_.c_str());
    if (fd_ >= 0)
        _close(fd_);
    fd_ = -1;
    if (!inPlace)
        DeleteFileA(tempPath_.c_str());
    freeSlot(slot_);
    slot_ = -1;
}

bool OutputFile::commit() {
    if (slot_ < 0 || fd_ < 0)
        return false;
    bool done;
    {
        SlotLock lock(slot_);
        const bool inPlace = tempPath_.empty();
        // Data still in flight can be lost at close: that is a failed write too.
        const bool shown = inPlace || unhide(fd_);
        const bool closed = _close(fd_) == 0;
        fd_ = -1;
        if (shown && closed && heldCommits != nullptr && !inPlace) {
            // Still hidden and in the registry: the holder's thread puts it in place.
            heldCommits->files_.push_back({tempPath_, finalPath_, slot_});
            slot_ = -1;
            return true;
        }
        done = shown && closed && (inPlace || moveIntoPlace(tempPath_, finalPath_));
        if (done)
            freeSlot(slot_);
    }
    if (!done) {
        discard();
        return false;
    }
    slot_ = -1;
    return true;
}

bool HeldOutputs::putInPlace() {
    bool allPlaced = true;
    for (const Held& held : files_) {
        SlotLock lock(held.slot);
        if (!moveIntoPlace(held.hiddenPath, held.finalPath)) {
            DeleteFileA(held.hiddenPath.c_str());
            allPlaced = false;
        }
        freeSlot(held.slot);
    }
    files_.clear();
    return allPlaced;
}

void HeldOutputs::clear() {
    for (const Held& held : files_) {
        SlotLock lock(held.slot);
        DeleteFileA(held.hiddenPath.c_str());
        freeSlot(held.slot);
    }
    files_.clear();
    wantsInPlace_ = false;
}

CommitHold::CommitHold(HeldOutputs& outputs) { heldCommits = &outputs; }

CommitHold::~CommitHold() { heldCommits = nullptr; }

} // namespace platform
