// The console: one line per message, each ended with "\n" and flushed.
// The system's texts are Shift-JIS bytes, except on a terminal whose locale is UTF-8,
// where they are shown in UTF-8 for a person to read. A closed pipe or failed write
// never stops the run.
#pragma once

#include <string_view>

namespace platform {
/// Ignores SIGPIPE and decides once whether texts are shown in UTF-8.
void initConsole();
/// True when the system's texts should be written in their UTF-8 form.
bool consoleShowsUtf8();
void writeOutputLine(std::string_view bytes);
void writeErrorLine(std::string_view bytes);
} // namespace platform
