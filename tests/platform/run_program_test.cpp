// Starting system programs: absolute paths only, whatever PATH says.
#include "platform/run_program.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace orvik::platform {
namespace {

TEST(RunProgram, ReportsStatusAndBothOutputs) {
    const ProgramRun r = runProgram({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.output, "out\nerr");
    EXPECT_EQ(runProgram({"/bin/sh", "-c", "exit 0"}).status, 0);
}

// A labelling tool that hangs (a card that stopped answering) must not hold its caller forever.
TEST(RunProgram, AProgramPastItsTimeIsEnded) {
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun hung = runProgram({"/bin/sh", "-c", "echo started; exec sleep 30"}, 300);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(hung.status, -1);
    EXPECT_NE(hung.output.find("timed out after 300 ms"), std::string::npos) << hung.output;
    EXPECT_LT(took, std::chrono::seconds(5));

    // Its output closed, still running: ended all the same.
    const ProgramRun quiet = runProgram({"/bin/sh", "-c", "exec >&- 2>&-; sleep 30"}, 300);
    EXPECT_EQ(quiet.status, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // Within its time, a program ends as usual.
    const ProgramRun quick = runProgram({"/bin/sh", "-c", "echo done; exit 4"}, 5000);
    EXPECT_EQ(quick.status, 4);
    EXPECT_EQ(quick.output, "done");
}

TEST(RunProgram, RefusesNamesThatWouldSearchPath) {
    for (const std::string& name : {std::string("sh"), std::string("./sh"), std::string()}) {
        const ProgramRun r = runProgram({name, "-c", "exit 0"});
        EXPECT_EQ(r.status, -1) << name;
        EXPECT_NE(r.output.find("not an absolute program path"), std::string::npos) << r.output;
    }
    EXPECT_EQ(runProgram({}).status, -1);
    const ProgramRun missing = runProgram({"/nonexistent/program"});
    EXPECT_EQ(missing.status, -1);
    EXPECT_NE(missing.output.find("/nonexistent/program"), std::string::npos);
}

// A program of the same name earlier on PATH (as a user could arrange for a tool run as root)
// is never the one found.
TEST(RunProgram, FindsSystemProgramsOnlyInTheSystemFolders) {
    test::TempDir dir;
    const auto fake = dir.touch("udisksctl", "#!/bin/sh\nexit 0\n");
    ::chmod(fake.c_str(), 0755);
    dir.touch("orvik-only-here", "#!/bin/sh\nexit 0\n");
    ::chmod((dir / "orvik-only-here").c_str(), 0755);
    const char* saved = std::getenv("PATH");
    const std::string oldPath = saved ? saved : "";
    ::setenv("PATH", (dir.str() + ":" + oldPath).c_str(), 1);
    EXPECT_EQ(findSystemProgram("orvik-only-here"), "");
    const std::string found = findSystemProgram("udisksctl");
    EXPECT_NE(found, fake.string());
    const std::string sh = findSystemProgram("sh");
    EXPECT_TRUE(sh == "/usr/bin/sh" || sh == "/bin/sh") << sh;
    EXPECT_EQ(findSystemProgram("../bin/sh"), "");
    ::setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
}  // namespace orvik::platform
