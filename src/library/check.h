#pragma once
// Verify: every indexed recording hashed again and compared with the index; files of the folder
// the index does not know are named too.
#include <string>
#include <vector>

#include "library/index.h"
#include "platform/result.h"

namespace orvik::library {

struct LibraryCheck {
    std::size_t intact = 0;
    std::vector<std::string> missing;    // indexed, not in the folder (relative paths)
    std::vector<std::string> changed;    // other bytes than when indexed, or unreadable
    std::vector<std::string> unindexed;  // recordings in the folder the index lacks
    OpenReport index;
    bool sound() const { return missing.empty() && changed.empty(); }
};

Result<LibraryCheck> verifyLibrary(const std::string& libraryFolder,
                                   const FileProgress& progress = {});

}  // namespace orvik::library
