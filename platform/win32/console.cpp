#include "platform/console.h"

#include <climits>
#include <cstdio>
#include <string>

#include <windows.h>

namespace {
constexpr UINT kShiftJis = 932;

// True once a console that does not read code page 932 is known to be behind stdout: the
// texts then go to it as UTF-16 through WriteConsoleW, for a person to read.
bool showsReadable = false;

bool isConsole(HANDLE handle) {
    DWORD mode;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

std::wstring widen(std::string_view bytes, UINT codePage) {
    if (bytes.empty() || bytes.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length);
    return wide;
}

// Arguments and paths come in the ANSI code page, the texts in their UTF-8 form.
void writeReadable(HANDLE console, std::string_view userBytes, std::string_view text) {
    const std::wstring line = widen(userBytes, CP_ACP) + widen(text, CP_UTF8) + L"\r\n";
    DWORD written;
    WriteConsoleW(console, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void writeLine(DWORD standardHandle, std::FILE* stream, std::string_view userBytes,
               std::string_view text) {
    const HANDLE handle = GetStdHandle(standardHandle);
    if (showsReadable && isConsole(handle))
        writeReadable(handle, userBytes, text);
    else
        platform::writeLineAsIs(stream, userBytes, text); // a text stream ends it with CR LF
}
} // namespace

namespace platform {
const std::string_view kProgramName = "pelc.exe";

void initConsole() {
    showsReadable = isConsole(GetStdHandle(STD_OUTPUT_HANDLE)) && GetConsoleOutputCP() != kShiftJis;
}

bool consoleShowsUtf8() { return showsReadable; }

void writeOutputLine(std::string_view userBytes, std::string_view text) {
    writeLine(STD_OUTPUT_HANDLE, stdout, userBytes, text);
}

void writeErrorLine(std::string_view text) { writeLine(STD_ERROR_HANDLE, stderr, {}, text); }
} // namespace platform
