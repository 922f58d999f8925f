#include "platform/helper_program.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/system_error.h"

namespace orvik::platform {

std::string helperProgramPath(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    const fs::path bin = self.parent_path();
    for (const fs::path& candidate : {bin / ORVIK_LIBEXEC_FROM_BIN / name, bin / name}) {
        if (::access(candidate.c_str(), X_OK) == 0 && fs::is_regular_file(candidate, ec))
            return candidate.lexically_normal().string();
    }
    return {};
}

std::string execHelperProgram(const std::string& name, char** argv) {
    const std::string path = helperProgramPath(name);
    if (path.empty())
        return name + " is missing (looked in " + ORVIK_LIBEXEC_FROM_BIN +
               " beside the program); reinstall the package";
    ::execv(path.c_str(), argv);
    return "cannot run " + path + ": " + systemErrorText(errno);
}

}  // namespace orvik::platform
