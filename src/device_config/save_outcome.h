#pragma once
// What became of a save to the card, so that a dialog can keep itself open and say why.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvik::device_config {

enum class SaveStatus {
    Saved,           // written completely; `path` is where
    Cancelled,       // no target chosen (the user cancelled the save dialog): nothing written
    WriteProtected,  // the medium is read-only: string 300
    Failed,          // any other failure; `error` holds "cannot write PATH: reason"
};

struct SaveOutcome {
    SaveStatus status = SaveStatus::Failed;
    std::string path;
    std::string error;
    int errorNumber = 0;
    bool saved() const { return status == SaveStatus::Saved; }
};

// Writes the file atomically (platform::writeFileAtomic) and says what became of it: Saved,
// WriteProtected on a read-only medium, or Failed with the message and errno.
SaveOutcome saveAtomically(const std::string& path, std::span<const std::uint8_t> bytes);
SaveOutcome saveAtomically(const std::string& path, std::string_view text);

}  // namespace orvik::device_config
