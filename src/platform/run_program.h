#pragma once
// Running a system program without a shell, the one way the core starts other programs.
#include <string>
#include <vector>

namespace orvik::platform {

struct ProgramRun {
    int status = -1;     // exit status; -1 when it could not start or did not end normally
    std::string output;  // standard output and error together (at most 64 KiB), trailing
                         // spaces and line ends removed; the reason when it could not start
};

// Runs argv[0], which must be an absolute path: PATH is never searched, so a program run with
// root rights cannot be replaced by one earlier on the caller's PATH. A program still running
// after `timeoutMs` (when positive) is killed and counts as failed ("timed out after N ms").
ProgramRun runProgram(const std::vector<std::string>& argv, int timeoutMs = 0);

// The absolute path of a program in the system folders (/usr/sbin, /usr/bin, /sbin, /bin), "" when
// none of them holds an executable of that name.
std::string findSystemProgram(const std::string& name);

}  // namespace orvik::platform
