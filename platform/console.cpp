#include "platform/console.h"

#include <initializer_list>

namespace platform {

// A failed write (closed pipe, full disk) loses the line but never stops the run.
void writeLineAsIs(std::FILE* stream, std::string_view userBytes, std::string_view text) {
    for (const std::string_view part : {userBytes, text})
        if (!part.empty())
            std::fwrite(part.data(), 1, part.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
    std::clearerr(stream);
}

} // namespace platform
