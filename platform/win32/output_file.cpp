#include "platform/output_file.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>

#include <windows.h>

#include "platform/ascii_case.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace platform {

namespace {

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
        if (!(onDrive && components >= 2) &&
            !(equalIgnoringAsciiCase(first, "UNC") && components >= 4))
            return true;
    }
    const PathSplit parts = splitPath(path);
    std::string_view stem = parts.baseName.substr(0, parts.baseName.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalIgnoringAsciiCase(stem, device))
            return true;
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9')
        return equalIgnoringAsciiCase(stem.substr(0, 3), "COM") ||
               equalIgnoringAsciiCase(stem.substr(0, 3), "LPT");
    return false;
}

// A plain file on a disk: no folder, no link or other reparse point, no device or pipe.
bool isPlainDiskFile(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
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

BOOL WINAPI endOnConsoleEvent(DWORD) {
    outputs::endOutputs();
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

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A folder that refuses new files, as opposed to one that failed for another reason (a
// full disk), where writing over the earlier file would only lose it.
bool refusesNewFiles(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
}

// A fresh hidden file in `folder` (ending in a separator, or empty for the current one),
// created exclusively; its name is in `entry` before it exists. Others may remove it while
// it is written, so that an interrupt can take it away at any moment.
int createHidden(int entry, const std::string& folder) {
    static std::atomic<unsigned> serial{0};
    char name[outputs::kEntryPathBytes];
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int length = std::snprintf(name, sizeof name, "%s.pelc-%lu-%u", folder.c_str(),
                                         GetCurrentProcessId(), serial.fetch_add(1));
        const outputs::EntryLock lock(entry);
        if (length <= 0 || static_cast<size_t>(length) >= sizeof name ||
            !outputs::setHiddenName(entry, name)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE); // not a folder that refuses files
            return -1;
        }
        // Not following a reparse point: a link of that name counts as existing.
        const HANDLE handle =
            CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            const int fd = descriptorFor(handle);
            if (fd < 0) {
                DeleteFileA(name);
                outputs::setHiddenName(entry, nullptr);
                SetLastError(ERROR_TOO_MANY_OPEN_FILES);
            }
            return fd;
        }
        const DWORD error = GetLastError();
        outputs::setHiddenName(entry, nullptr);
        SetLastError(error);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return -1;
    }
    return -1;
}

// The existing plain file itself, its read-only mark cleared, for a folder that takes no
// new files; the mark comes back when it cannot be opened.
int openInPlace(const char* path, DWORD attributes) {
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    const HANDLE handle = openExistingPlainFile(path);
    if (handle == INVALID_HANDLE_VALUE) {
        if (readOnly)
            SetFileAttributesA(path, attributes);
        return -1;
    }
    return descriptorFor(handle);
}

// An output is never hidden once it has its name.
bool unhide(int fd) {
    FILE_BASIC_INFO info{}; // zero times: left as they are
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    const HANDLE handle = handleOf(fd);
    return handle != INVALID_HANDLE_VALUE &&
           SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info);
}

} // namespace

namespace outputs {

void removeName(const char* path) { DeleteFileA(path); }

// Replaces `target` by `source`, through to the disk. A read-only target is replaced all
// the same, its attributes first set to normal (SetFileAttributesA,
// FILE_ATTRIBUTE_NORMAL); they come back if the move fails.
bool renameOver(const char* source, const char* target) {
    const DWORD attributes = GetFileAttributesA(target);
    const bool clearReadOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                               (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (clearReadOnly)
        SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (clearReadOnly)
        SetFileAttributesA(target, attributes);
    return false;
}

// Windows has no unnamed files, and flushes each file before it takes its name.
bool nameUnnamed(int, const char*) { return false; }
void noteNamed(const char*) {}

bool readyHidden(int fd) { return FlushFileBuffers(handleOf(fd)) && unhide(fd); }

bool reserveRoom(int fd, uint64_t size) {
    const HANDLE handle = handleOf(fd);
    LARGE_INTEGER current;
    if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &current))
        return false;
    FILE_ALLOCATION_INFO room{};
    // Less than the present length would cut the file.
    room.AllocationSize.QuadPart =
        static_cast<LONGLONG>(std::max<uint64_t>(size, static_cast<uint64_t>(current.QuadPart)));
    if (SetFileInformationByHandle(handle, FileAllocationInfo, &room, sizeof room))
        return true;
    const DWORD error = GetLastError();
    return error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL;
}

bool endFileAt(int fd, uint64_t size) {
    const HANDLE handle = handleOf(fd);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return handle != INVALID_HANDLE_VALUE && SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handle) && FlushFileBuffers(handle);
}

} // namespace outputs

void handleInterrupts() { SetConsoleCtrlHandler(endOnConsoleEvent, TRUE); }

bool makeOutputsDurable() { return true; } // each file was flushed before it took its name

bool OutputFile::open() {
    if (kind_ != Kind::None)
        return true;
    if (path_[0] == '\0' || isDeviceName(path_))
        return false;
    // Attributes of the name itself: a link is seen as a reparse point, not followed.
    const DWORD attributes = GetFileAttributesA(path_);
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    const bool link = exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (exists && !link && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false; // a folder or device: never opened
    const bool plain = exists && !link;
    entry_ = outputs::claimEntry();
    if (entry_ < 0)
        return false;
    const PathSplit parts = splitPath(path_);
    fd_ = createHidden(entry_, std::string(path_, parts.drive.size() + parts.directory.size()));
    if (fd_ >= 0) {
        kind_ = Kind::Hidden;
        return true;
    }
    const DWORD error = GetLastError();
    outputs::releaseEntry(entry_);
    entry_ = -1;
    if (!plain || !refusesNewFiles(error))
        return false;
    fd_ = openInPlace(path_, attributes);
    if (fd_ < 0)
        return false;
    kind_ = Kind::InPlace;
    return true;
}

} // namespace platform
