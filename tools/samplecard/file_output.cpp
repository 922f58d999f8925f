#include "samplecard/file_output.h"

#include <filesystem>

#include "platform/commit_writer.h"

namespace orvik::tools {

Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    if (target.has_parent_path()) {
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            return makeError("cannot create folder " + target.parent_path().string() + ": " +
                             ec.message());
    }
    return platform::writeFileAtomic(path, bytes);
}

}  // namespace orvik::tools
