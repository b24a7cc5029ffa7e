#include "platform/console.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <langinfo.h>

#include "platform/ascii_case.h"

namespace {
bool showsUtf8 = false;

bool localeIsUtf8() {
    if (std::setlocale(LC_CTYPE, "") == nullptr)
        return false;
    const char* codeset = nl_langinfo(CODESET);
    const bool utf8 = codeset != nullptr && (equalIgnoringAsciiCase(codeset, "UTF-8") ||
                                             equalIgnoringAsciiCase(codeset, "UTF8"));
    // Only the decision is needed: the program's own byte handling stays in the "C" locale.
    std::setlocale(LC_CTYPE, "C");
    return utf8;
}
} // namespace

namespace platform {
const std::string_view kProgramName = "pelc";

void initConsole() {
    // A reader that goes away (pelc | head) must not kill the conversion half-way.
    std::signal(SIGPIPE, SIG_IGN);
    // Logs, pipes and cron mail are read in the locale too, not only terminals.
    showsUtf8 = localeIsUtf8();
}

bool consoleShowsUtf8() { return showsUtf8; }

void writeOutputLine(std::string_view userBytes, std::string_view text) {
    // A UTF-8 reader shows UTF-8 arguments and UTF-8 texts alike, so both go out as they are.
    writeLineAsIs(stdout, userBytes, text);
}

void writeErrorLine(std::string_view text) { writeLineAsIs(stderr, {}, text); }
} // namespace platform
