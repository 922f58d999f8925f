#pragma once
// Per-file results of the trip finder, kept between runs in the user's cache folder so that a
// second look at a big card reads no telemetry. An entry holds only while the file keeps its
// path, size and modification time; the whole cache holds only for the impact thresholds it
// was computed with. A damaged cache file is ignored (and rewritten), never trusted.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/result.h"
#include "trips/recording_stats.h"

namespace orvik::trips {

// The file that caches the recordings under `cardRoot`: one per card folder, so cards do not
// crowd each other out.
std::filesystem::path summaryCacheFile(const std::filesystem::path& cacheFolder,
                                       const std::string& cardRoot);

struct FileIdentity {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
// Size and modification time of a regular file; nothing when it cannot be examined.
std::optional<FileIdentity> fileIdentity(const std::string& path);

class SummaryCache {
  public:
    explicit SummaryCache(ImpactThresholds thresholds = {}) : thresholds_(thresholds) {}

    // The stats stored for `path` when its identity still matches.
    const RecordingStats* find(const std::string& path, const FileIdentity& identity) const;
    void put(const std::string& path, const FileIdentity& identity, RecordingStats stats);
    // Keeps only the entries whose paths are listed (files that left the card drop out).
    void retain(std::span<const std::string> paths);
    std::size_t size() const { return entries_.size(); }
    const ImpactThresholds& thresholds() const { return thresholds_; }

    // The stored form, and back. parse() refuses anything not written by serialize() with the
    // same thresholds: wrong magic, truncated or overlong data, impossible counts.
    std::string serialize() const;
    static std::optional<SummaryCache> parse(std::string_view bytes,
                                             const ImpactThresholds& thresholds);

    // Loads the file; an absent, unreadable or damaged file gives an empty cache.
    static SummaryCache load(const std::filesystem::path& file, const ImpactThresholds& thresholds);
    // Writes the file atomically (its folder is created).
    Result<void> save(const std::filesystem::path& file) const;

  private:
    struct Entry {
        FileIdentity identity;
        RecordingStats stats;
    };
    ImpactThresholds thresholds_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace orvik::trips
