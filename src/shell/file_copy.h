#pragma once
// Copying recordings into a folder the user chose: whole files, with progress and cancel, never
// leaving a half-written file behind and never replacing a file unless asked to. No Qt here.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace orvik::shell {

struct CopyOutcome {
    enum Status { Copied, Cancelled, Failed, Exists } status = Failed;
    std::string error;  // set for Failed
};

// Copies `source` to `target` through a temporary file next to the target, renamed into place at
// the end. With replaceExisting false an existing target is left alone (Exists). `progress` gets
// the bytes copied so far and returns false to cancel; a cancelled or failed copy removes the
// temporary file and leaves any existing target untouched.
CopyOutcome copyFileSafely(const std::filesystem::path& source, const std::filesystem::path& target,
                           bool replaceExisting,
                           const std::function<bool(std::uint64_t bytesDone)>& progress = {});

}  // namespace orvik::shell
