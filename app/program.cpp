#include "app/program.h"

#include <cstring>

#include "app/convert_driver.h"
#include "app/input_list.h"
#include "app/messages.h"
#include "app/page_pipeline.h"
#include "core/file_list.h"
#include "platform/command_line.h"
#include "platform/console.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/process_memory.h"

namespace {
// Only as the first argument, like the usage; elsewhere it is a file name.
bool asksForVersion(int argc, char** argv) {
    return argc >= 2 && argv[1] != nullptr && std::strcmp(argv[1], "--version") == 0;
}

int formatError() {
    printMessage(messages::kFormatError);
    return 1;
}
} // namespace

int printUsage() {
    printMessage(messages::kUsageTitle);
    printNamedMessage(messages::kUsageSyntax, platform::kProgramName, messages::kUsageArguments);
    printMessage(messages::kUsageInputs);
    return 0;
}

int pelcMain(int argc, char** argv) {
    platform::initConsole();
    platform::keepFreedMemoryForReuse();
    platform::handleInterrupts();
    // Scripts read the version as one line, without the banner around it.
    if (asksForVersion(argc, argv)) {
        printRaw("pelc " PELC_VERSION);
        return 0;
    }
    printMessage(messages::kStartBanner);
    // Start-up needs nothing more on this system: the framework step cannot fail here.

    FileList inputList;
    if (argc < 2) {
        printUsage();
        return 2;
    }
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index] != nullptr ? argv[index] : "";
        printRaw(argument);
        if (index == 1) {
            const platform::FirstArgument kind = platform::judgeFirstArgument(argument);
            if (kind == platform::FirstArgument::Usage) {
                printUsage();
                return 0;
            }
            if (kind == platform::FirstArgument::BadOption)
                return formatError();
        }
        char argumentBuffer[platform::kMaxPath];
        if (copyArgument(argument, argumentBuffer, sizeof argumentBuffer) != 0)
            return formatError();
        char fullPath[platform::kMaxPath];
        if (resolveInputPath(argumentBuffer, fullPath, 1) != 0)
            return formatError();
        // A file that cannot be listed would be skipped while the run reports success;
        // the run stops before converting anything instead.
        if (inputList.add(fullPath, static_cast<int32_t>(std::strlen(fullPath))) != 0)
            return formatError();
    }

    const int result = convertFiles(inputList, pageWorkerCount());
    // Scripts delete the inputs once the run ends: the pages must outlast a power cut.
    platform::makeOutputsDurable();
    printMessage(messages::kEndBanner);
    printRaw("");
    return result;
}
