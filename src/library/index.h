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

#include "platform/result.h"
#include "recordings/recording_file.h"
#include "trips/recording_stats.h"

namespace orvik::library {

namespace sql {
class Database;
}

inline constexpr std::string_view kIndexFileName = "library.sqlite";
// The card's own files (configuration, driving-route records) are kept under this folder.
inline constexpr std::string_view kCardsFolder = "cards";
inline constexpr int kSchemaVersion = 1;

// "always", "event", "user", "park"; "" for Unknown.
std::string_view kindWord(recordings::RecordingKind kind);
std::optional<recordings::RecordingKind> kindFromWord(std::string_view word);

// Seconds since 1970-01-01 of a camera local time taken as if it were UTC: the order and the
// differences of local times, which is all a search by date needs.
std::int64_t localSeconds(const recordings::RecordingTimestamp& t);
std::string localTimeText(std::int64_t seconds);  // "YYYY-MM-DDThh:mm:ss"

struct IndexedPosition {
    double offsetSeconds = 0;
    double latitude = 0;
    double longitude = 0;
    std::optional<double> speedKmh;
};

// One recording file of the library as the index keeps it.
struct IndexedRecording {
    std::string path;  // relative to the library folder, '/' separated
    std::string name;
    recordings::RecordingKind kind = recordings::RecordingKind::Unknown;
    std::string channel;  // "F", "R" or ""
    std::int64_t startSeconds = 0;
    double durationSeconds = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::string sha256;
    std::string cardLabel;
    std::string cardUuid;
    std::string importedAt;  // UTC, "YYYY-MM-DDThh:mm:ssZ"
    double distanceKm = 0;
    double maxSpeedKmh = 0;
    std::uint8_t speedUnits = 0;
    std::vector<double> impacts;  // seconds from the start
    std::vector<IndexedPosition> positions;
};

// The facts of a recording that are read from the file itself: kind, channel and start from its
// name (nothing when the name carries no valid date and time), duration, distance, top speed and
// impacts from its media header and telemetry, and its positions, at most one a second.
std::optional<IndexedRecording> readRecordingFacts(const std::string& file,
                                                   const trips::ImpactThresholds& thresholds);

// The impact thresholds of the newest camera configuration kept under LIBRARY/cards; the
// defaults when there is none.
trips::ImpactThresholds libraryThresholds(const std::string& libraryFolder);

// "YYYY-MM-DDThh:mm:ssZ" of now.
std::string utcNow();
// "YYYY-MM-DD" of today on this computer's clock.
std::string localToday();

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
    LibraryIndex() = default;
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

// The recordings of the library folder: every ".mp4" file with a valid date and time in its
// name, outside hidden folders and the cards folder; paths relative to the library.
Result<std::vector<std::string>> libraryRecordingFiles(const std::string& libraryFolder);

}  // namespace orvik::library
