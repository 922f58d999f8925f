#pragma once
// What the library knows of one recording file without its index: the kind, channel and start
// its name gives, the facts its header and telemetry give, and which files of the folder count.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "recordings/recording_file.h"
#include "trips/recording_stats.h"

namespace orvik::library {

// The card's own files (configuration, driving-route records) are kept under this folder.
inline constexpr std::string_view kCardsFolder = "cards";

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

// The recordings of the library folder: every ".mp4" file with a valid date and time in its
// name, outside hidden folders and the cards folder; paths relative to the library.
Result<std::vector<std::string>> libraryRecordingFiles(const std::string& libraryFolder);

}  // namespace orvik::library
