#include "library/index.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>

#include "library/sqlite.h"
#include "platform/sha256.h"
#include "platform/system_error.h"
#include "trips/trips.h"

namespace orvik::library {

namespace fs = std::filesystem;
using recordings::RecordingKind;

namespace {

// Each entry brings the schema from its position's version to the next one.
const char* const kMigrations[] = {
    // 0 → 1
    R"sql(
CREATE TABLE trips(
  id INTEGER PRIMARY KEY,
  start TEXT NOT NULL,
  end TEXT NOT NULL,
  duration_seconds REAL NOT NULL,
  distance_km REAL NOT NULL,
  max_speed_kmh REAL NOT NULL);
CREATE TABLE recordings(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  kind TEXT NOT NULL,
  channel TEXT NOT NULL,
  start TEXT NOT NULL,
  start_seconds INTEGER NOT NULL,
  duration_seconds REAL NOT NULL,
  size INTEGER NOT NULL,
  modified_ns INTEGER NOT NULL,
  sha256 TEXT NOT NULL,
  card_label TEXT NOT NULL,
  card_uuid TEXT NOT NULL,
  imported_at TEXT NOT NULL,
  distance_km REAL NOT NULL,
  max_speed_kmh REAL NOT NULL,
  speed_units INTEGER NOT NULL,
  trip INTEGER REFERENCES trips(id) ON DELETE SET NULL);
CREATE INDEX recordings_by_start ON recordings(start_seconds);
CREATE INDEX recordings_by_kind ON recordings(kind, start_seconds);
CREATE INDEX recordings_by_speed ON recordings(max_speed_kmh);
CREATE TABLE impacts(
  recording INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE,
  offset_seconds REAL NOT NULL);
CREATE INDEX impacts_by_recording ON impacts(recording);
CREATE TABLE events(
  trip INTEGER NOT NULL REFERENCES trips(id) ON DELETE CASCADE,
  recording INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE,
  kind TEXT NOT NULL,
  offset_seconds REAL NOT NULL);
CREATE INDEX events_by_trip ON events(trip);
CREATE TABLE positions(
  id INTEGER PRIMARY KEY,
  recording INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE,
  offset_seconds REAL NOT NULL,
  latitude REAL NOT NULL,
  longitude REAL NOT NULL,
  speed_kmh REAL);
CREATE INDEX positions_by_recording ON positions(recording, offset_seconds);
-- The R*Tree keeps its corners as 32-bit floats, rounded outwards: searches take its boxes as
-- candidates and decide on the exact coordinates kept beside them.
CREATE VIRTUAL TABLE position_boxes USING rtree(
  id, min_lat, max_lat, min_lon, max_lon,
  +recording INTEGER, +offset_seconds REAL, +latitude REAL, +longitude REAL, +speed_kmh REAL);
)sql",
};
constexpr int kMigrationCount = static_cast<int>(std::size(kMigrations));
static_assert(kMigrationCount == kSchemaVersion);

const char* const kTables[] = {"trips",  "recordings", "impacts",
                               "events", "positions",  "position_boxes"};

void configure(sql::Database& db) {
    // A library's file may come from anywhere: its schema gets no say in what runs, and damaged
    // pages are caught where they are read.
    db.exec("PRAGMA trusted_schema=OFF; PRAGMA cell_size_check=ON; PRAGMA foreign_keys=ON");
    db.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
}

// Runs the migrations the database has not had yet. Throws SqlError; a version newer than this
// program's is refused by the caller before.
void migrate(sql::Database& db) {
    int version = static_cast<int>(db.queryInteger("PRAGMA user_version"));
    for (; version < kMigrationCount; ++version) {
        sql::Transaction t(db);
        db.exec(kMigrations[version]);
        db.exec("PRAGMA user_version=" + std::to_string(version + 1));
        t.commit();
    }
}

std::string missingTable(sql::Database& db) {
    auto s = db.prepare("SELECT count(*) FROM sqlite_schema WHERE name = ?");
    for (const char* table : kTables) {
        s.reset();
        s.bind(1, std::string_view(table));
        if (!s.step() || s.integer(0) != 1)
            return table;
    }
    return {};
}

void removeSideFiles(const std::string& database) {
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        ::unlink((database + suffix).c_str());
}

Result<void> syncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return makeError("cannot open " + path + ": " + platform::systemErrorText(errno), errno);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        return makeError("cannot flush " + path + ": " + platform::systemErrorText(err), err);
    return {};
}

void distanceMetres(sqlite3_context* context, int, sqlite3_value** argv) {
    const recordings::GeoPosition a{recordings::DecimalDegrees(sqlite3_value_double(argv[0])),
                                    recordings::DecimalDegrees(sqlite3_value_double(argv[1]))};
    const recordings::GeoPosition b{recordings::DecimalDegrees(sqlite3_value_double(argv[2])),
                                    recordings::DecimalDegrees(sqlite3_value_double(argv[3]))};
    sqlite3_result_double(context, trips::greatCircleKm(a, b) * 1000.0);
}

IndexedRecording rowOf(sql::Statement& s) {
    IndexedRecording r;
    r.path = s.textOf(0);
    r.name = s.textOf(1);
    r.kind = kindFromWord(s.textOf(2)).value_or(RecordingKind::Unknown);
    r.channel = s.textOf(3);
    r.startSeconds = s.integer(4);
    r.durationSeconds = s.real(5);
    r.size = static_cast<std::uint64_t>(s.integer(6));
    r.modifiedNs = s.integer(7);
    r.sha256 = s.textOf(8);
    r.cardLabel = s.textOf(9);
    r.cardUuid = s.textOf(10);
    r.importedAt = s.textOf(11);
    r.distanceKm = s.real(12);
    r.maxSpeedKmh = s.real(13);
    r.speedUnits = static_cast<std::uint8_t>(s.integer(14));
    return r;
}

constexpr std::string_view kRowColumns =
    "path, name, kind, channel, start_seconds, duration_seconds, size, modified_ns, sha256, "
    "card_label, card_uuid, imported_at, distance_km, max_speed_kmh, speed_units";

void putRecording(sql::Database& db, const IndexedRecording& r) {
    // Positions of a replaced row leave the R*Tree too (it has no foreign keys).
    db.prepare(
          "DELETE FROM position_boxes WHERE id IN (SELECT p.id FROM positions p JOIN recordings r "
          "ON p.recording = r.id WHERE r.path = ?)")
        .bindAll(r.path)
        .run();
    db.prepare("DELETE FROM recordings WHERE path = ?").bindAll(r.path).run();
    db.prepare(
          "INSERT INTO recordings(path, name, kind, channel, start, start_seconds, "
          "duration_seconds, size, modified_ns, sha256, card_label, card_uuid, imported_at, "
          "distance_km, max_speed_kmh, speed_units) "
          "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
        .bindAll(r.path, r.name, std::string(kindWord(r.kind)), r.channel,
                 localTimeText(r.startSeconds), r.startSeconds, r.durationSeconds, r.size,
                 r.modifiedNs, r.sha256, r.cardLabel, r.cardUuid, r.importedAt, r.distanceKm,
                 r.maxSpeedKmh, static_cast<int>(r.speedUnits))
        .run();
    const std::int64_t id = db.lastInsertId();
    auto impact = db.prepare("INSERT INTO impacts(recording, offset_seconds) VALUES(?, ?)");
    for (double t : r.impacts) {
        impact.reset();
        impact.bindAll(id, t).run();
    }
    auto position = db.prepare(
        "INSERT INTO positions(recording, offset_seconds, latitude, longitude, speed_kmh) "
        "VALUES(?, ?, ?, ?, ?)");
    auto box = db.prepare(
        "INSERT INTO position_boxes(id, min_lat, max_lat, min_lon, max_lon, recording, "
        "offset_seconds, latitude, longitude, speed_kmh) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const IndexedPosition& p : r.positions) {
        position.reset();
        position.bindAll(id, p.offsetSeconds, p.latitude, p.longitude);
        if (p.speedKmh)
            position.bind(5, *p.speedKmh);
        else
            position.bindNull(5);
        position.run();
        const std::int64_t pid = db.lastInsertId();
        box.reset();
        box.bindAll(pid, p.latitude, p.latitude, p.longitude, p.longitude, id, p.offsetSeconds,
                    p.latitude, p.longitude);
        if (p.speedKmh)
            box.bind(10, *p.speedKmh);
        else
            box.bindNull(10);
        box.run();
    }
}

// Trips over the whole library: the front (or single) file of each moment, as src/trips groups
// a card's recordings.
void groupTripsOf(sql::Database& db) {
    db.exec("DELETE FROM events; UPDATE recordings SET trip = NULL; DELETE FROM trips");
    std::vector<trips::TripRecording> moments;
    std::map<std::string, std::int64_t> idOf;
    auto s = db.prepare(
        "SELECT r.id, r.path, r.kind, r.start_seconds, r.duration_seconds, r.distance_km, "
        "r.max_speed_kmh, r.speed_units FROM recordings r WHERE r.kind <> 'park' AND "
        "(r.channel = 'F' OR NOT EXISTS (SELECT 1 FROM recordings f WHERE f.channel = 'F' AND "
        "f.start_seconds = r.start_seconds AND f.kind = r.kind))");
    auto impacts = db.prepare(
        "SELECT offset_seconds FROM impacts WHERE recording = ? ORDER BY offset_seconds");
    while (s.step()) {
        trips::TripRecording m;
        m.kind = kindFromWord(s.textOf(2)).value_or(RecordingKind::Unknown);
        m.path = s.textOf(1);
        m.start = trips::LocalTime(std::chrono::seconds(s.integer(3)));
        m.stats.readable = true;
        m.stats.durationSeconds = s.real(4);
        m.stats.distanceKm = s.real(5);
        m.stats.maxSpeedKmh = s.real(6);
        m.stats.speedUnits = static_cast<std::uint8_t>(s.integer(7));
        impacts.reset();
        impacts.bind(1, s.integer(0));
        while (impacts.step())
            m.stats.impacts.push_back(impacts.real(0));
        idOf[m.path] = s.integer(0);
        moments.push_back(std::move(m));
    }
    auto trip = db.prepare(
        "INSERT INTO trips(start, end, duration_seconds, distance_km, max_speed_kmh) "
        "VALUES(?, ?, ?, ?, ?)");
    auto member = db.prepare("UPDATE recordings SET trip = ? WHERE id = ?");
    auto event =
        db.prepare("INSERT INTO events(trip, recording, kind, offset_seconds) VALUES(?, ?, ?, ?)");
    for (const trips::Trip& t : trips::groupTrips(std::move(moments), trips::kDefaultGapSeconds)) {
        trip.reset();
        trip.bindAll(trips::isoLocalTime(t.start), trips::isoLocalTime(t.end), t.durationSeconds(),
                     t.distanceKm, t.maxSpeedKmh)
            .run();
        const std::int64_t tripId = db.lastInsertId();
        for (const trips::TripRecording& m : t.recordings) {
            member.reset();
            member.bindAll(tripId, idOf[m.path]).run();
        }
        for (const trips::TripEvent& e : t.events) {
            event.reset();
            event
                .bindAll(tripId, idOf[t.recordings[e.recording].path],
                         std::string(trips::eventKindName(e.kind)), e.offsetSeconds)
                .run();
        }
    }
}

// The facts kept from an old index through a rebuild: what cannot be read from the files.
struct ImportFacts {
    std::string sha256, cardLabel, cardUuid, importedAt;
};

std::map<std::string, ImportFacts> readableImportFacts(const std::string& database) {
    std::map<std::string, ImportFacts> facts;
    std::error_code ec;
    if (!fs::exists(database, ec))
        return facts;
    try {
        sql::Database old(database, sql::Database::Mode::ReadOnly);
        auto s =
            old.prepare("SELECT path, sha256, card_label, card_uuid, imported_at FROM recordings");
        while (s.step())
            facts[s.textOf(0)] = {s.textOf(1), s.textOf(2), s.textOf(3), s.textOf(4)};
    } catch (const sql::SqlError&) {
        // A damaged index gives what it can before the damage; the files are the truth.
    }
    return facts;
}

// Builds a complete index of the folder into `target`, a file that does not exist yet.
ReindexReport buildIndex(const std::string& folder, const std::string& target,
                         const std::map<std::string, ImportFacts>& kept,
                         const FileProgress& progress) {
    auto files = libraryRecordingFiles(folder);
    if (!files)
        throw sql::SqlError(SQLITE_CANTOPEN, files.error());
    std::uint64_t totalBytes = 0;
    for (const std::string& f : *files) {
        std::error_code ec;
        const auto size = fs::file_size(fs::path(folder) / f, ec);
        totalBytes += ec ? 0 : size;
    }
    const trips::ImpactThresholds thresholds = libraryThresholds(folder);
    const std::string now = utcNow();

    ReindexReport report;
    sql::Database db(target);
    db.exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; PRAGMA foreign_keys=ON");
    migrate(db);
    sql::Transaction t(db);
    std::uint64_t bytesDone = 0;
    for (std::size_t i = 0; i < files->size(); ++i) {
        const std::string& rel = (*files)[i];
        const std::string abs = (fs::path(folder) / rel).string();
        if (progress)
            progress(i, files->size(), bytesDone, totalBytes);
        auto hashed = platform::hashFile(abs, [&](std::span<const std::uint8_t> chunk) {
            bytesDone += chunk.size();
            return true;
        });
        auto facts = hashed ? readRecordingFacts(abs, thresholds) : std::nullopt;
        if (!hashed || !facts) {
            ++report.unreadable;
            report.problems.push_back(rel + ": " + (hashed ? "not a recording" : hashed.error()));
            continue;
        }
        facts->path = rel;
        facts->sha256 = platform::toHex(hashed->digest);
        facts->size = hashed->stamp.size;
        facts->modifiedNs = hashed->stamp.modifiedNs;
        facts->importedAt = now;
        if (auto k = kept.find(rel); k != kept.end() && k->second.sha256 == facts->sha256) {
            facts->cardLabel = k->second.cardLabel;
            facts->cardUuid = k->second.cardUuid;
            facts->importedAt = k->second.importedAt;
        }
        putRecording(db, *facts);
        ++report.recordings;
    }
    groupTripsOf(db);
    t.commit();
    if (progress)
        progress(files->size(), files->size(), bytesDone, totalBytes);
    return report;
}

// Builds the index anew beside the old one and renames it into place: readers see the old
// index or the new one, never a half-built one.
Result<ReindexReport> replaceIndex(const std::string& folder, const FileProgress& progress,
                                   const std::string& keepAsideAs) {
    const std::string target = folder + "/" + std::string(kIndexFileName);
    std::string temp = folder + "/." + std::string(kIndexFileName) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return makeError("cannot write in " + folder + ": " + platform::systemErrorText(errno),
                         errno);
    ::close(fd);
    ::unlink(temp.c_str());  // SQLite creates it; only the unique name was wanted
    struct Cleanup {
        std::string path;
        ~Cleanup() {
            if (!path.empty()) {
                ::unlink(path.c_str());
                removeSideFiles(path);
            }
        }
    } cleanup{temp};

    ReindexReport report;
    try {
        report = buildIndex(folder, temp, readableImportFacts(target), progress);
    } catch (const sql::SqlError& e) {
        return makeError(std::string("cannot build the index: ") + e.what());
    }
    if (auto r = syncPath(temp, O_RDONLY); !r)
        return makeError(r.error(), r.errorNumber());
    if (!keepAsideAs.empty()) {
        removeSideFiles(keepAsideAs);
        if (::rename(target.c_str(), keepAsideAs.c_str()) != 0 && errno != ENOENT)
            return makeError(
                "cannot move " + target + " aside: " + platform::systemErrorText(errno), errno);
    }
    // Journal files of the old database must not meet the new one.
    removeSideFiles(target);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return makeError("cannot put the new index in place of " + target + ": " +
                             platform::systemErrorText(errno),
                         errno);
    cleanup.path.clear();
    (void)syncPath(folder, O_RDONLY | O_DIRECTORY);
    return report;
}

// Why the database cannot serve as it is ("" when it can), after migrating an older schema.
std::string problemWith(sql::Database& db, LibraryIndex::Check check) {
    const std::int64_t version = db.queryInteger("PRAGMA user_version");
    if (version < 0 || version > kSchemaVersion)
        return {};  // refused by the caller with its own message
    if (check == LibraryIndex::Check::Thorough) {
        auto s = db.prepare("PRAGMA quick_check(1)");
        if (s.step() && s.textOf(0) != "ok")
            return "damaged: " + s.textOf(0);
    }
    migrate(db);
    const std::string missing = missingTable(db);
    return missing.empty() ? std::string() : "the table " + missing + " is missing";
}
}  // namespace

Result<LibraryIndex> LibraryIndex::open(const std::string& libraryFolder, Check check,
                                        OpenReport* report, const FileProgress& rebuildProgress) {
    std::error_code ec;
    if (!fs::is_directory(libraryFolder, ec))
        return makeError("no library folder at " + libraryFolder, ENOENT);
    OpenReport local;
    OpenReport& rep = report ? *report : local;
    const std::string path = libraryFolder + "/" + std::string(kIndexFileName);
    if (!fs::exists(fs::symlink_status(path, ec))) {
        // A library without its index (deleted, or never made): built from the folder.
        rep.created = true;
        auto built = replaceIndex(libraryFolder, rebuildProgress, {});
        if (!built)
            return makeError(built.error(), built.errorNumber());
    }
    for (int attempt = 0;; ++attempt) {
        std::string problem;
        try {
            auto db = std::make_unique<sql::Database>(path);
            configure(*db);
            const std::int64_t version = db->queryInteger("PRAGMA user_version");
            if (version > kSchemaVersion)
                return makeError(path +
                                 " was written by a newer version of this program "
                                 "(schema " +
                                 std::to_string(version) +
                                 "); `orvik-cli library reindex` builds one for this version");
            problem = problemWith(*db, check);
            if (problem.empty())
                return LibraryIndex(libraryFolder, std::move(db));
        } catch (const sql::SqlError& e) {
            if (!e.damaged())
                return makeError(e.what());
            problem = e.what();
        }
        if (attempt > 0)
            return makeError("the rebuilt index cannot be used either: " + problem);
        rep.rebuilt = true;
        rep.whyRebuilt = problem;
        rep.keptAside = path + ".damaged";
        auto built = replaceIndex(libraryFolder, rebuildProgress, rep.keptAside);
        if (!built)
            return makeError(built.error(), built.errorNumber());
    }
}

Result<LibraryIndex> LibraryIndex::openForReading(const std::string& libraryFolder) {
    const std::string path = libraryFolder + "/" + std::string(kIndexFileName);
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec)))
        return makeError("the library at " + libraryFolder +
                         " cannot be written and has no index to search");
    try {
        auto db = std::make_unique<sql::Database>(path, sql::Database::Mode::Immutable);
        db->exec("PRAGMA trusted_schema=OFF; PRAGMA cell_size_check=ON");
        if (db->queryInteger("PRAGMA user_version") != kSchemaVersion)
            return makeError(path +
                             " is of another version of this program and the library "
                             "cannot be written to bring it up to date");
        if (const std::string missing = missingTable(*db); !missing.empty())
            return makeError(path + " lacks the table " + missing +
                             " and the library cannot be written to rebuild it");
        return LibraryIndex(libraryFolder, std::move(db));
    } catch (const sql::SqlError& e) {
        return makeError(e.what());
    }
}

LibraryIndex::LibraryIndex(std::string folder, std::unique_ptr<sql::Database> db)
    : folder_(std::move(folder)), db_(std::move(db)) {
    // Searches near a point measure with it.
    db_->defineFunction("distance_m", 4, distanceMetres);
}

LibraryIndex::LibraryIndex(LibraryIndex&&) noexcept = default;
LibraryIndex& LibraryIndex::operator=(LibraryIndex&&) noexcept = default;
LibraryIndex::~LibraryIndex() = default;

std::string LibraryIndex::indexPath() const {
    return folder_ + "/" + std::string(kIndexFileName);
}

void LibraryIndex::put(const IndexedRecording& recording) {
    sql::Transaction t(*db_);
    putRecording(*db_, recording);
    t.commit();
}

void LibraryIndex::put(const std::vector<IndexedRecording>& recordings) {
    sql::Transaction t(*db_);
    for (const IndexedRecording& r : recordings)
        putRecording(*db_, r);
    t.commit();
}

std::optional<IndexedRecording> LibraryIndex::find(std::string_view path) {
    auto s = db_->prepare("SELECT " + std::string(kRowColumns) + " FROM recordings WHERE path = ?");
    s.bind(1, path);
    if (!s.step())
        return std::nullopt;
    return rowOf(s);
}

std::vector<IndexedRecording> LibraryIndex::all() {
    std::vector<IndexedRecording> rows;
    auto s = db_->prepare("SELECT " + std::string(kRowColumns) + " FROM recordings ORDER BY path");
    while (s.step())
        rows.push_back(rowOf(s));
    return rows;
}

std::size_t LibraryIndex::count() {
    return static_cast<std::size_t>(db_->queryInteger("SELECT count(*) FROM recordings"));
}

void LibraryIndex::rebuildTrips() {
    sql::Transaction t(*db_);
    groupTripsOf(*db_);
    t.commit();
}

Result<ReindexReport> reindexLibrary(const std::string& libraryFolder,
                                     const FileProgress& progress) {
    std::error_code ec;
    if (!fs::is_directory(libraryFolder, ec))
        return makeError("no library folder at " + libraryFolder, ENOENT);
    return replaceIndex(libraryFolder, progress, {});
}

}  // namespace orvik::library
