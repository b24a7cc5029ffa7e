#include "tests/support/scratch_dir.h"

#include <atomic>
#include <cstdio>

#include <gtest/gtest.h>
#include <windows.h>

namespace {
// Removes `path` and everything in it; read-only marks do not stop it.
void removeTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string entry = path + "\\" + name;
            SetFileAttributesA(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
            const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            if (folder)
                removeTree(entry);
            else if (!DeleteFileA(entry.c_str()))
                RemoveDirectoryA(entry.c_str()); // a link to a folder
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}
} // namespace

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> serial{0};
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        ADD_FAILURE() << "no folder for temporary files";
        return;
    }
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "pelc-%lu-%u", GetCurrentProcessId(), serial++);
        const std::string candidate = std::string(temp) + name;
        if (CreateDirectoryA(candidate.c_str(), nullptr))
            path_ = candidate;
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (path_.empty()) {
        ADD_FAILURE() << "cannot create a scratch folder under " << temp;
        return;
    }
    // The program sees its folder in its long, full form.
    char full[MAX_PATH];
    const DWORD fullLength = GetLongPathNameA(path_.c_str(), full, sizeof full);
    if (fullLength != 0 && fullLength < sizeof full)
        path_ = full;
}

ScratchDir::~ScratchDir() {
    if (!path_.empty())
        removeTree(path_);
}

std::string ScratchDir::file(std::string_view name) const {
    return path_ + "\\" + std::string(name);
}

std::string ScratchDir::write(std::string_view name, const std::vector<uint8_t>& bytes) const {
    return write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string ScratchDir::write(std::string_view name, std::string_view bytes) const {
    const std::string target = file(name);
    const HANDLE handle = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot create " << target;
        return target;
    }
    DWORD written = 0;
    if (bytes.size() > MAXDWORD ||
        !WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        ADD_FAILURE() << "cannot write " << target;
    CloseHandle(handle);
    return target;
}

std::string ScratchDir::makeFolders(std::string_view relative) const {
    for (size_t end = 0; end <= relative.size(); ++end) {
        if (end < relative.size() && relative[end] != '\\')
            continue;
        const std::string folder = file(relative.substr(0, end));
        if (end > 0 && relative[end - 1] != '\\' && !CreateDirectoryA(folder.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            ADD_FAILURE() << "cannot create " << folder;
    }
    return file(relative);
}

std::string readFileBytes(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

bool pathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
