#pragma once
// Import from a card into the library: every recording with a valid date and time lands in
// LIBRARY/YYYY/YYYY-MM-DD/ under its own name, the card's configuration and driving-route files
// under LIBRARY/cards/CARD/YYYY-MM-DD/.
//
// Each file is read once: copied to a hidden temporary name in its target folder while its
// SHA-256 is computed, flushed, renamed, then read back from the disk and compared (card readers
// and disks both lie now and then). A file already there with the same name and bytes is
// skipped; the same name with other bytes is kept beside it as NAME~2.mp4 (~3, …). An
// interrupted import leaves no file under a real name that is not whole, and running it again
// completes it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "library/index.h"
#include "platform/result.h"

namespace orvik::library {

// --library, else $ORVIK_LIBRARY, else the user's videos folder (xdg-user-dir VIDEOS, falling
// back to ~/Videos) + "/Orvik".
std::string defaultLibraryFolder();

struct ImportProgress {
    std::size_t filesDone = 0;
    std::size_t files = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytes = 0;
    std::string current;  // the card file being read
};

struct ImportOptions {
    std::string card;
    std::string library;
    // Event and User recordings and the recordings with an impact (both channels) only.
    bool onlyEvents = false;
    // Now and then, from the thread of the file being copied but never two calls at once; may
    // be empty.
    std::function<void(const ImportProgress&)> progress;
    std::function<bool()> cancelled;  // asked between chunks, likewise; may be empty
};

enum class FileOutcome { Imported, Skipped, KeptBeside, Failed };

struct ImportedFile {
    std::string source;  // on the card
    std::string target;  // relative to the library ("" when it failed before one was chosen)
    FileOutcome outcome = FileOutcome::Failed;
    std::string error;
};

struct ImportReport {
    std::vector<ImportedFile> files;  // recordings and card files, in the order done
    std::string library;
    std::string cardLabel;
    std::string cardUuid;
    std::uint64_t bytesCopied = 0;
    double copySeconds = 0;      // the copy from start to end: read, hashed, written, flushed
    double readBackSeconds = 0;  // reading the copies back, summed (it overlaps the copy)
    bool cancelled = false;
    OpenReport index;
    std::size_t count(FileOutcome outcome) const;
};

// Fails only when the import cannot start (no card, no library folder, another import running,
// no index); a file that fails is in the report and the others go on.
Result<ImportReport> importCard(const ImportOptions& options);

}  // namespace orvik::library
