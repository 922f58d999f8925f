#include "library/import.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "device_config/device_config.h"
#include "device_config/drive_route.h"
#include "library/sqlite.h"
#include "platform/commit_writer.h"
#include "platform/run_program.h"
#include "platform/sha256.h"
#include "platform/system_error.h"
#include "platform/volumes.h"
#include "recordings/catalogue.h"
#include "recordings/partner.h"
#include "trips/recording_stats.h"
#include "trips/trips.h"

namespace orvik::library {

namespace fs = std::filesystem;
using recordings::RecordingKind;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One import or reindex at a time per library: the lock also makes the temporary files left by
// an interrupted one safe to remove.
class LibraryLock {
  public:
    static Result<LibraryLock> take(const std::string& library) {
        const std::string path = library + "/.orvik-library.lock";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            return makeError("cannot lock " + library + ": " + platform::systemErrorText(errno),
                             errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return makeError("another import is running on " + library, EBUSY);
        }
        LibraryLock lock;
        lock.fd_ = fd;
        return lock;
    }
    LibraryLock(LibraryLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    LibraryLock& operator=(LibraryLock&&) = delete;
    ~LibraryLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }

  private:
    LibraryLock() = default;
    int fd_ = -1;
};

// Temporary files of the commit writer (".NAME.XXXXXX.part") that an interrupted import left.
void removeLeftovers(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(".") && name.ends_with(".part") && it->is_regular_file(ec))
            fs::remove(it->path(), ec);
    }
}

// "name.mp4", then "name~2.mp4", "name~3.mp4", …
std::string candidateName(const std::string& name, int n) {
    if (n == 1)
        return name;
    const auto dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    return stem + "~" + std::to_string(n) + ext;
}

std::string safeFolderName(std::string text) {
    for (char& c : text)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    if (text.empty() || text.starts_with("."))
        text = "_" + text;
    return text;
}

// The label and file-system UUID of the removable volume the card folder is on, when it is one.
std::pair<std::string, std::string> cardIdentity(const std::string& card) {
    std::error_code ec;
    const std::string where = fs::weakly_canonical(card, ec).string();
    for (const platform::Volume& v : platform::removableVolumes()) {
        if (where != v.mountPoint && !where.starts_with(v.mountPoint + "/"))
            continue;
        std::string uuid;
        if (!v.device.empty()) {
            const fs::path device = fs::weakly_canonical(v.device, ec);
            for (fs::directory_iterator it("/dev/disk/by-uuid", ec), end; !ec && it != end;
                 it.increment(ec)) {
                std::error_code inner;
                if (fs::weakly_canonical(it->path(), inner) == device)
                    uuid = it->path().filename().string();
            }
        }
        return {v.label, uuid};
    }
    return {};
}

class Importer {
  public:
    Importer(const ImportOptions& options, LibraryIndex& index, ImportReport& report)
        : options_(options),
          index_(index),
          report_(report),
          thresholds_(trips::readImpactThresholds(options.card)),
          importedAt_(utcNow()) {}

    // `lanes` files are copied at once (each with its own flush and read-back in flight), so
    // several hashes run side by side on as many cores.
    void run(const std::vector<std::string>& recordingFiles,
             const std::vector<std::pair<std::string, std::string>>& cardFiles, int lanes) {
        const auto started = Clock::now();
        std::vector<Job> jobs;
        for (const std::string& f : recordingFiles) {
            const recordings::RecordingFile row =
                recordings::parseRecordingName(fs::path(f).filename().string(), f);
            jobs.push_back({f, row.dateText().substr(0, 4) + "/" + row.dateText(), true});
        }
        for (const auto& [f, folder] : cardFiles)
            jobs.push_back({f, folder, false});
        progress_.files = jobs.size();
        for (const Job& job : jobs) {
            std::error_code ec;
            progress_.bytes += fs::file_size(job.source, ec);
        }
        std::atomic<std::size_t> next = 0;
        const auto work = [&](Lane& lane) {
            while (!cancelled()) {
                const std::size_t i = next++;
                if (i >= jobs.size())
                    break;
                importFile(jobs[i], lane);
            }
            waitForFinishing(lane);
        };
        std::vector<Lane> laneStates(static_cast<std::size_t>(std::max(lanes, 1)));
        {
            std::vector<std::jthread> others;
            for (std::size_t l = 1; l < laneStates.size(); ++l)
                others.emplace_back([&work, &lane = laneStates[l]] {
                    // What goes wrong on another lane reaches the caller as on this one.
                    try {
                        work(lane);
                    } catch (...) {
                        lane.thrown = std::current_exception();
                    }
                });
            work(laneStates[0]);
        }
        for (const Lane& lane : laneStates)
            if (lane.thrown)
                std::rethrow_exception(lane.thrown);
        // The report lists the files in the order they were taken from the card.
        std::map<std::string, std::size_t> order;
        for (std::size_t i = 0; i < jobs.size(); ++i)
            order.emplace(jobs[i].source, i);
        std::stable_sort(report_.files.begin(), report_.files.end(),
                         [&order](const ImportedFile& a, const ImportedFile& b) {
                             return order[a.source] < order[b.source];
                         });
        report_.copySeconds = secondsSince(started);
    }

  private:
    struct Job {
        std::string source;
        std::string folder;
        bool recording = false;
    };
    // One file copied at a time per lane, and its flush, rename and read-back in flight.
    struct Lane {
        std::future<void> finishing;
        std::exception_ptr thrown;
    };

    bool cancelled() {
        if (!cancelled_ && options_.cancelled) {
            const std::lock_guard lock(askMutex_);
            if (!cancelled_ && options_.cancelled()) {
                cancelled_ = true;
                const std::lock_guard reportLock(mutex_);
                report_.cancelled = true;
            }
        }
        return cancelled_;
    }

    // Tells the caller how far the import is; never from two threads at once.
    void tell(std::uint64_t bytesDone, bool fileDone, const std::string& current) {
        const std::lock_guard lock(progressMutex_);
        progress_.bytesDone += bytesDone;
        progress_.filesDone += fileDone ? 1 : 0;
        if (!current.empty())
            progress_.current = current;
        if (options_.progress)
            options_.progress(progress_);
    }

    // The digest of the library file at `rel`: from the index while the file is as indexed,
    // else read from the disk.
    std::optional<platform::Sha256Digest> digestOfLibraryFile(const std::string& rel) {
        const std::string abs = options_.library + "/" + rel;
        auto stamp = platform::stampOf(abs);
        if (!stamp)
            return std::nullopt;
        if (auto row = findIndexed(rel);
            row && row->size == stamp->size && row->modifiedNs == stamp->modifiedNs)
            return platform::digestFromHex(row->sha256);
        auto hashed = platform::hashFile(abs);
        return hashed ? std::optional(hashed->digest) : std::nullopt;
    }

    void importFile(const Job& job, Lane& lane) {
        ImportedFile result;
        result.source = job.source;
        tell(0, false, job.source);
        std::error_code ec;
        const std::uint64_t size = fs::file_size(job.source, ec);
        bool handedOn = false;
        std::uint64_t told = 0;  // of this file's bytes
        const std::string error =
            ec ? std::string("cannot read: ") + ec.message()
               : place(job.source, size, job.folder, job.recording, result, lane, handedOn, told);
        if (!handedOn)
            finish(result, error, lane);
        tell((ec ? 0 : size) - told, true, {});
    }

    // The outcome of a file done on this lane's thread; the report is sorted at the end.
    void finish(ImportedFile& result, const std::string& error, Lane& lane) {
        waitForFinishing(lane);
        record(result, error);
    }

    void record(ImportedFile& result, const std::string& error) {
        const std::lock_guard lock(mutex_);
        // A file cut short by the user is no failure: nothing of it is left, and a rerun takes it.
        if (report_.cancelled && !error.empty())
            return;
        if (!error.empty()) {
            result.outcome = FileOutcome::Failed;
            result.error = error;
        }
        report_.files.push_back(std::move(result));
    }

    static void waitForFinishing(Lane& lane) {
        if (lane.finishing.valid())
            lane.finishing.get();
    }

    // A library name is held from the moment a lane chooses it until its copy is renamed there
    // (or given up), so no two lanes take the same free name.
    void release(const std::string& abs) {
        {
            const std::lock_guard lock(mutex_);
            held_.erase(abs);
        }
        released_.notify_all();
    }
    // Waits while another copy holds the name: it exists (or is gone) once that one is done.
    void waitUntilFree(const std::string& abs, Lane& lane) {
        std::unique_lock lock(mutex_);
        if (!held_.contains(abs))
            return;
        lock.unlock();
        waitForFinishing(lane);  // perhaps this lane's own copy in flight
        lock.lock();
        released_.wait(lock, [&] { return !held_.contains(abs); });
    }

    // Temporary files an interrupted import left, once per folder before anything is copied
    // there (under the lock: never a temporary file of a copy in flight).
    void cleanOnce(const fs::path& folder) {
        const std::lock_guard lock(mutex_);
        if (cleaned_.insert(folder.string()).second)
            removeLeftovers(folder);
    }

    // Chooses the file's name in the library and copies it there; "" or why it failed.
    std::string place(const std::string& source, std::uint64_t size, const std::string& folder,
                      bool recording, ImportedFile& result, Lane& lane, bool& handedOn,
                      std::uint64_t& told) {
        const fs::path targetFolder = fs::path(options_.library) / folder;
        std::error_code ec;
        fs::create_directories(targetFolder, ec);
        if (ec)
            return "cannot make " + targetFolder.string() + ": " + ec.message();
        cleanOnce(targetFolder);

        const std::string name = fs::path(source).filename().string();
        std::optional<platform::Sha256Digest> sourceDigest;
        for (int n = 1;; ++n) {
            const std::string rel = folder + "/" + candidateName(name, n);
            const fs::path abs = fs::path(options_.library) / rel;
            bool free = false;
            for (;;) {
                waitUntilFree(abs.string(), lane);
                const std::lock_guard lock(mutex_);
                if (held_.contains(abs.string()))
                    continue;  // taken again meanwhile
                free = !fs::exists(fs::symlink_status(abs, ec));
                if (free)
                    held_.insert(abs.string());
                break;
            }
            if (free) {
                result.target = rel;
                result.outcome = n == 1 ? FileOutcome::Imported : FileOutcome::KeptBeside;
                return copy(source, abs.string(), rel, recording, result, lane, handedOn, told);
            }
            if (!fs::is_regular_file(fs::symlink_status(abs, ec)) || fs::file_size(abs, ec) != size)
                continue;
            if (!sourceDigest) {
                // Only a file of the same name and size needs the card's bytes hashed first.
                auto hashed = platform::hashFile(
                    source, [this](std::span<const std::uint8_t>) { return !cancelled(); });
                if (!hashed)
                    return hashed.error();
                sourceDigest = hashed->digest;
            }
            if (digestOfLibraryFile(rel) == sourceDigest) {
                result.target = rel;
                result.outcome = FileOutcome::Skipped;
                if (recording && !findIndexed(rel))
                    return indexFile(abs.string(), rel, *sourceDigest);
                return {};
            }
        }
    }

    std::string copy(const std::string& source, const std::string& target, const std::string& rel,
                     bool recording, ImportedFile& result, Lane& lane, bool& handedOn,
                     std::uint64_t& told) {
        std::string error = startCopy(source, target, rel, recording, result, lane, handedOn, told);
        if (!handedOn)
            release(target);
        return error;
    }

    std::string startCopy(const std::string& source, const std::string& target,
                          const std::string& rel, bool recording, ImportedFile& result, Lane& lane,
                          bool& handedOn, std::uint64_t& told) {
        auto writer = platform::CommitWriter::create(
            target, {platform::IfExists::Refuse, platform::Durability::Always, /*direct=*/true});
        if (!writer)
            return writer.error();
        auto lastTold = Clock::now();
        std::uint64_t copied = 0;
        auto hashed = platform::hashFile(source, [&](std::span<const std::uint8_t> chunk) {
            if (cancelled() || !writer->write(chunk))
                return false;
            copied += chunk.size();
            if (Clock::now() - lastTold > std::chrono::milliseconds(200)) {
                lastTold = Clock::now();
                tell(copied - told, false, {});
                told = copied;
            }
            return true;
        });
        if (!hashed)
            return writer->failed() ? writer->error() : hashed.error();
        {
            const std::lock_guard lock(mutex_);
            report_.bytesCopied += hashed->stamp.size;
        }
        // The flush, rename, read-back and indexing of this file run while the lane reads the
        // next, so the disk writes one file while the next is hashed.
        waitForFinishing(lane);
        handedOn = true;
        lane.finishing = std::async(
            std::launch::async, [this, writer = std::move(*writer), hashed = *hashed, target, rel,
                                 recording, result = std::move(result)]() mutable {
                const std::string error = settle(writer, hashed, target, rel, recording);
                release(target);
                record(result, error);
            });
        return {};
    }

    // Flushes and names the copy, reads it back and indexes it; "" or why it failed.
    std::string settle(platform::CommitWriter& writer, const platform::HashedFile& hashed,
                       const std::string& target, const std::string& rel, bool recording) {
        if (auto committed = writer.commit(); !committed)
            return committed.error();
        // The copy keeps the card's modification time, as a file manager's copy does.
        const struct timespec times[2] = {
            {0, UTIME_OMIT},
            {static_cast<time_t>(hashed.stamp.modifiedNs / 1'000'000'000),
             static_cast<long>(hashed.stamp.modifiedNs % 1'000'000'000)}};
        ::utimensat(AT_FDCWD, target.c_str(), times, 0);
        const auto readBackStarted = Clock::now();
        std::string differs = readBack(target, hashed.crc32c);
        {
            const std::lock_guard lock(mutex_);
            report_.readBackSeconds += secondsSince(readBackStarted);
        }
        if (!differs.empty()) {
            ::unlink(target.c_str());
            return differs;
        }
        return recording ? indexFile(target, rel, hashed.digest) : std::string();
    }

    // Reads the copy from the disk, not from the page cache the copy left behind.
    // The CRC-32C taken from the very bytes that were hashed and written says whether the disk
    // gave them back: a fault of the disk or the reader, not an adversary, is what is looked
    // for, and a second SHA-256 would double the processor's share of an import.
    static std::string readBack(const std::string& target, std::uint32_t crc) {
        auto again = platform::crc32cOfFile(target);
        if (!again)
            return "the copy cannot be read back: " + again.error();
        if (*again != crc)
            return "the copy read back differs from what was read from the card (removed; the "
                   "disk or the card reader is at fault)";
        return {};
    }

    std::string indexFile(const std::string& abs, const std::string& rel,
                          const platform::Sha256Digest& digest) {
        auto facts = readRecordingFacts(abs, thresholds_);
        auto stamp = platform::stampOf(abs);
        if (!facts || !stamp)
            return "copied, but cannot be indexed";
        facts->path = rel;
        facts->sha256 = platform::toHex(digest);
        facts->size = stamp->size;
        facts->modifiedNs = stamp->modifiedNs;
        facts->cardLabel = report_.cardLabel;
        facts->cardUuid = report_.cardUuid;
        facts->importedAt = importedAt_;
        try {
            const std::lock_guard lock(mutex_);
            index_.put(*facts);
        } catch (const sql::SqlError& e) {
            return std::string("copied, but the index cannot take it: ") + e.what();
        }
        return {};
    }

    std::optional<IndexedRecording> findIndexed(const std::string& rel) {
        const std::lock_guard lock(mutex_);
        return index_.find(rel);
    }

    const ImportOptions& options_;
    LibraryIndex& index_;
    ImportReport& report_;
    trips::ImpactThresholds thresholds_;
    std::string importedAt_;
    std::mutex progressMutex_;
    ImportProgress progress_;
    std::mutex askMutex_;  // the caller's cancel question, asked by one lane at a time
    std::atomic<bool> cancelled_ = false;
    std::mutex mutex_;  // what follows, the report and the index, shared by the lanes
    std::condition_variable released_;
    std::set<std::string> cleaned_;
    std::set<std::string> held_;
};

// The card's recordings to import, in time order, front before rear.
Result<std::vector<std::string>> recordingsToImport(const ImportOptions& options) {
    auto rows = recordings::catalogueFolder(options.card);
    if (!rows)
        return makeError(rows.error(), rows.errorNumber());
    const trips::ImpactThresholds thresholds = trips::readImpactThresholds(options.card);
    std::vector<std::string> chosen;
    std::set<std::string> taken;
    auto take = [&](const std::string& path) {
        if (taken.insert(path).second)
            chosen.push_back(path);
    };
    for (const recordings::RecordingFile& row : *rows) {
        if (row.kind == RecordingKind::Unknown || !trips::startOf(row.timestamp) ||
            row.name.starts_with("."))
            continue;
        if (!options.onlyEvents || row.kind == RecordingKind::Event ||
            row.kind == RecordingKind::User) {
            take(row.fullPath);
            continue;
        }
        // Always and Park recordings go with an impact in either channel's telemetry.
        if (taken.contains(row.fullPath))
            continue;
        if (!trips::readRecordingStats(row.fullPath, thresholds).impacts.empty()) {
            const recordings::RecordingPair pair = recordings::pairRecording(row.fullPath);
            take(pair.front);
            if (pair.paired())
                take(pair.rear);
        }
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const std::string& a, const std::string& b) {
        const auto ra = recordings::parseRecordingName(fs::path(a).filename().string());
        const auto rb = recordings::parseRecordingName(fs::path(b).filename().string());
        return recordings::recordingListLess(ra, rb);
    });
    return chosen;
}

}  // namespace

std::size_t ImportReport::count(FileOutcome outcome) const {
    return static_cast<std::size_t>(
        std::count_if(files.begin(), files.end(),
                      [outcome](const ImportedFile& f) { return f.outcome == outcome; }));
}

std::string defaultLibraryFolder() {
    if (const char* env = std::getenv("ORVIK_LIBRARY"); env && *env)
        return env;
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv && *homeEnv ? homeEnv : ".";
    std::string videos;
    if (const std::string program = platform::findSystemProgram("xdg-user-dir"); !program.empty()) {
        const platform::ProgramRun run = platform::runProgram({program, "VIDEOS"}, 5000);
        // xdg-user-dir answers the home folder itself when no videos folder is set.
        if (run.status == 0 && run.output.starts_with("/") && run.output != home &&
            run.output.find('\n') == std::string::npos)
            videos = run.output;
    }
    if (videos.empty())
        videos = home + "/Videos";
    return videos + "/Orvik";
}

Result<ImportReport> importCard(const ImportOptions& options) {
    std::error_code ec;
    if (!fs::is_directory(options.card, ec))
        return makeError("no card folder at " + options.card, ENOENT);
    fs::create_directories(options.library, ec);
    if (ec)
        return makeError("cannot make the library folder " + options.library + ": " + ec.message(),
                         ec.value());
    if (fs::equivalent(options.card, options.library, ec))
        return makeError("the card and the library are the same folder");
    auto lock = LibraryLock::take(options.library);
    if (!lock)
        return makeError(lock.error(), lock.errorNumber());
    auto files = recordingsToImport(options);
    if (!files)
        return makeError(files.error(), files.errorNumber());

    ImportReport report;
    report.library = options.library;
    auto index = LibraryIndex::open(options.library, LibraryIndex::Check::Thorough, &report.index);
    if (!index)
        return makeError(index.error(), index.errorNumber());
    std::tie(report.cardLabel, report.cardUuid) = cardIdentity(options.card);

    const std::string cardFolder = std::string(kCardsFolder) + "/" +
                                   safeFolderName(!report.cardUuid.empty()    ? report.cardUuid
                                                  : !report.cardLabel.empty() ? report.cardLabel
                                                                              : "card") +
                                   "/" + localToday();
    std::vector<std::pair<std::string, std::string>> cardFiles;
    for (const fs::path& f :
         {fs::path(options.card) / device_config::kConfigFileName,
          fs::path(options.card) / device_config::kDrvFolder / device_config::kDrvFileName}) {
        if (fs::is_regular_file(f, ec))
            cardFiles.emplace_back(f.string(), cardFolder);
    }

    // Two files at once where the card is a folder on a fixed disk: the hashing, not the
    // medium, is then what takes the time. A card in a reader gives one file at a time its best.
    const int lanes =
        platform::onRemovableMedia(options.card)
            ? 1
            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
    Importer importer(options, *index, report);
    importer.run(*files, cardFiles, lanes);
    try {
        if (report.count(FileOutcome::Imported) + report.count(FileOutcome::KeptBeside) > 0)
            index->rebuildTrips();
    } catch (const sql::SqlError& e) {
        return makeError(std::string("the recordings are in the library, but its trips could "
                                     "not be updated: ") +
                         e.what());
    }
    return report;
}

}  // namespace orvik::library
