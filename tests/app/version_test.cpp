// "--version" first prints the version CMake's project() gives, on one line, and nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/messages.h"
#include "tests/support/run_program.h"
#include "tests/support/scratch_dir.h"

TEST(Version, FirstArgumentPrintsOnlyTheVersionAndExitsWithZero) {
    ScratchDir dir;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--version"}, {"--version", "missing.tif"}}) {
        SCOPED_TRACE(args.size());
        const RunResult run = runPelc(args, dir.path());
        EXPECT_EQ(run.out, consoleLine("pelc " PELC_VERSION));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitCode, 0);
    }
}

TEST(Version, OtherSpellingsAndLaterPlacesAreFileNames) {
    ScratchDir dir;
    dir.write("a.txt", "text");
    const struct {
        std::vector<std::string> args;
        std::string missing;
    } cases[] = {
        {{"a.txt", "--version"}, "--version"},
        {{"--Version"}, "--Version"},
        {{"--version=1"}, "--version=1"},
        {{"-version"}, "-version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.missing);
        const RunResult run = runPelc(c.args, dir.path());
        std::string expected = consoleLine(sjis(messages::kStartBanner));
        for (const std::string& argument : c.args)
            expected += consoleLine(argument);
        expected += pathLine(c.missing, messages::kNotFound) +
                    consoleLine(sjis(messages::kFormatError));
        EXPECT_EQ(run.out, expected);
        EXPECT_EQ(run.exitCode, 1);
    }
}
