#pragma once
// The programs' heavy halves. Work that needs the media libraries (FFmpeg and the libraries
// they pull in, some 170 in all) lives in helper programs in libexec/orvik/, so that a command
// that does not need them (orvik-cli list, format, telemetry; every --help) starts without
// loading them: the front end parses its arguments and then replaces itself with the helper,
// which runs with the same arguments and exit status.
#include <string>

namespace orvik::platform {

// Where the helper `name` is: libexec/orvik/ beside the installed program's bin/, or (in a build
// tree) the running program's own folder. Empty when neither holds it.
std::string helperProgramPath(const std::string& name);

// Replaces the process with the helper, passing argv unchanged. Returns only on failure, with
// the reason ("PROGRAM is missing (…); reinstall the package" or the system's error).
std::string execHelperProgram(const std::string& name, char** argv);

}  // namespace orvik::platform
