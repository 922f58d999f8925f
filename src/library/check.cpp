#include "library/check.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "library/sqlite.h"
#include "platform/sha256.h"

namespace orvik::library {

namespace fs = std::filesystem;

Result<LibraryCheck> verifyLibrary(const std::string& libraryFolder, const FileProgress& progress) {
    LibraryCheck check;
    auto index = LibraryIndex::open(libraryFolder, LibraryIndex::Check::Thorough, &check.index);
    if (!index)
        return makeError(index.error(), index.errorNumber());
    std::vector<IndexedRecording> rows;
    try {
        rows = index->all();
    } catch (const sql::SqlError& e) {
        return makeError(std::string("cannot read the index: ") + e.what());
    }
    std::uint64_t total = 0, done = 0;
    for (const IndexedRecording& r : rows)
        total += r.size;
    std::set<std::string> indexed;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const IndexedRecording& r = rows[i];
        indexed.insert(r.path);
        if (progress)
            progress(i, rows.size(), done, total);
        const std::string abs = libraryFolder + "/" + r.path;
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(abs, ec))) {
            check.missing.push_back(r.path);
            done += r.size;
            continue;
        }
        auto hashed = platform::hashFile(abs, [&](std::span<const std::uint8_t> chunk) {
            done += chunk.size();
            return true;
        });
        if (hashed && platform::toHex(hashed->digest) == r.sha256)
            ++check.intact;
        else
            check.changed.push_back(r.path);
    }
    auto files = libraryRecordingFiles(libraryFolder);
    if (!files)
        return makeError(files.error(), files.errorNumber());
    for (const std::string& f : *files)
        if (!indexed.contains(f))
            check.unindexed.push_back(f);
    if (progress)
        progress(rows.size(), rows.size(), total, total);
    return check;
}

}  // namespace orvik::library
