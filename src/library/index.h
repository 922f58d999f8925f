#pragma once
// The library's index: LIBRARY/library.sqlite, derived from the folder of recordings and
// rebuilt from it whenever it is missing or damaged. It holds one row per recording file (both
// channels), its impacts, its positions (at most one a second, with speed) in a plain table and
// in an R*Tree for place searches, and the trips and events of src/trips over the whole library.
//
// The schema carries its version in PRAGMA user_version; opening a database of an older
// version runs the migrations after it in order, each in its own transaction.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/recording_facts.h"
#include "platform/result.h"

namespace orvik::library {

namespace sql {
class Database;
}

inline constexpr std::string_view kIndexFileName = "library.sqlite";
inline constexpr int kSchemaVersion = 1;

struct OpenReport {
    bool created = false;    // there was no index
    bool rebuilt = false;    // the index was damaged or of an unknown kind and was rebuilt
    std::string whyRebuilt;  // what was wrong with it
    std::string keptAside;   // where the damaged file was moved
};

// Progress of work over many files: (files done, files in all, bytes done, bytes in all).
using FileProgress = std::function<void(std::size_t, std::size_t, std::uint64_t, std::uint64_t)>;

// Its operations throw sql::SqlError (library/sqlite.h) when the database fails under them.
class LibraryIndex {
  public:
    enum class Check {
        Quick,     // trust a database that opens and has the right tables (searches)
        Thorough,  // also run SQLite's quick check over every page (import, verify)
    };

    // Opens LIBRARY/library.sqlite, creating it when there is none and migrating an older
    // schema. A file that is not a database, fails the check or lacks the tables is moved aside
    // (library.sqlite.damaged) and the index is rebuilt from the folder; a database of a newer
    // schema than this program knows is refused (reindex replaces it). The folder must exist.
    static Result<LibraryIndex> open(const std::string& libraryFolder, Check check,
                                     OpenReport* report = nullptr,
                                     const FileProgress& rebuildProgress = {});

    // Opens the index of a library that cannot be written (a read-only medium or folder) for
    // searching only: nothing is created, migrated or rebuilt; an index that is missing,
    // damaged or of another schema is refused with the reason.
    static Result<LibraryIndex> openForReading(const std::string& libraryFolder);

    LibraryIndex(LibraryIndex&&) noexcept;
    LibraryIndex& operator=(LibraryIndex&&) noexcept;
    ~LibraryIndex();

    const std::string& folder() const { return folder_; }
    std::string indexPath() const;
    sql::Database& database() { return *db_; }

    // Adds the recording, replacing a row of the same path; its positions and impacts with it.
    void put(const IndexedRecording& recording);
    // Many in one transaction (a rebuild, a generated library).
    void put(const std::vector<IndexedRecording>& recordings);
    std::optional<IndexedRecording> find(std::string_view path);  // without positions
    std::vector<IndexedRecording> all();                          // without positions, by path
    std::size_t count();
    // Groups the library's recordings into trips again (after an import).
    void rebuildTrips();

  private:
    LibraryIndex(std::string folder, std::unique_ptr<sql::Database> db);
    std::string folder_;
    std::unique_ptr<sql::Database> db_;
};

struct ReindexReport {
    std::size_t recordings = 0;
    std::size_t unreadable = 0;  // files that could not be hashed (named in `problems`)
    std::vector<std::string> problems;
};

// Builds a new index from the library folder (every recording is hashed and read again; card
// labels and import times are kept from the old index where it can still be read) and puts it
// in place of library.sqlite in one rename.
Result<ReindexReport> reindexLibrary(const std::string& libraryFolder,
                                     const FileProgress& progress = {});

}  // namespace orvik::library
