#include "device_config/save_outcome.h"

#include <cerrno>

#include "platform/commit_writer.h"

namespace orvik::device_config {

SaveOutcome saveAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    SaveOutcome out;
    out.path = path;
    if (auto r = platform::writeFileAtomic(path, bytes); !r) {
        out.status = r.errorNumber() == EROFS ? SaveStatus::WriteProtected : SaveStatus::Failed;
        out.error = r.error();
        out.errorNumber = r.errorNumber();
        return out;
    }
    out.status = SaveStatus::Saved;
    return out;
}

SaveOutcome saveAtomically(const std::string& path, std::string_view text) {
    return saveAtomically(
        path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size()));
}

}  // namespace orvik::device_config
