// The console: one line per message through the standard streams, each ended and flushed
// (Windows' text streams end it with CR LF). The system's texts are Shift-JIS bytes, except
// where the reader would not show them: on Linux, when the locale's character set is UTF-8,
// they are written in UTF-8 to a terminal, a pipe or a file alike; on a Windows console whose
// output code page is not 932, through WriteConsoleW. A closed pipe or failed write never
// stops the run.
#pragma once

#include <cstdio>
#include <string_view>

namespace platform {
/// Decides once whether texts are shown in their readable form (and on Linux ignores
/// SIGPIPE).
void initConsole();
/// True when the system's texts should be written in their UTF-8 form.
bool consoleShowsUtf8();
/// Writes one line: `userBytes` (an argument or a path, as the system gave it: on Windows
/// in the ANSI code page) followed by `text` (one of the system's texts, in the form
/// consoleShowsUtf8 chose). Both are written as they are unless the console is shown
/// readable, where each is converted from its own encoding.
void writeOutputLine(std::string_view userBytes, std::string_view text = {});
/// Writes one of the system's texts on its own line of the error stream.
void writeErrorLine(std::string_view text);

/// The program's name as users of this system type it, for the usage.
extern const std::string_view kProgramName;

/// Writes `userBytes` and `text` to `stream` as they are, as one line, and flushes it: the
/// way each system's console writes a line that needs no conversion.
void writeLineAsIs(std::FILE* stream, std::string_view userBytes, std::string_view text);
} // namespace platform
