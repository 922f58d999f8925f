#pragma once
// Trips: the card's recordings grouped into drives. A trip is a run of Always, Event and User
// recordings (Park recordings belong to none) in which each recording starts at most `gap`
// seconds after the recordings before it end. Front and rear files of one moment count once:
// the front file, or the single channel there is.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "recordings/recording_file.h"
#include "trips/recording_stats.h"

namespace orvik::trips {

// Wall-clock time of the camera, as the file names carry it (no time zone).
using LocalTime = std::chrono::sys_time<std::chrono::milliseconds>;

inline constexpr double kDefaultGapSeconds = 120;

// Seconds from `from` to `to`; `t` moved by `seconds`, to the millisecond.
double secondsBetween(LocalTime from, LocalTime to);
LocalTime plusSeconds(LocalTime t, double seconds);

// "YYYY-MM-DDThh:mm:ss" (fractions of a second rounded to the nearest second).
std::string isoLocalTime(LocalTime t);
// The moment a file name gives, or nothing when its date or time is not valid.
std::optional<LocalTime> startOf(const recordings::RecordingTimestamp& timestamp);

// One moment of the trip: the front (or single) file and the other channel's file, if any.
struct TripRecording {
    recordings::RecordingKind kind = recordings::RecordingKind::Unknown;
    std::string path;         // front or single file
    std::string partnerPath;  // the other channel's file, "" when there is none
    LocalTime start;
    RecordingStats stats;
    LocalTime end() const;
};

enum class EventKind { Event, Impact };
std::string_view eventKindName(EventKind kind);  // "event", "impact"

struct TripEvent {
    EventKind kind = EventKind::Event;
    std::size_t recording = 0;  // index into Trip::recordings
    double offsetSeconds = 0;   // from that recording's start
};

struct Trip {
    std::vector<TripRecording> recordings;  // in time order
    std::vector<TripEvent> events;          // in time order
    LocalTime start;
    LocalTime end;  // the latest end of its recordings
    double distanceKm = 0;
    double maxSpeedKmh = 0;
    std::uint8_t speedUnits = 0;  // kUnitKmh / kUnitMph seen in its records

    double durationSeconds() const;
    // The unit the trip was recorded in: mph when every record with a speed says so, km/h
    // otherwise.
    recordings::SpeedUnit recordedUnit() const;
    double maxSpeedIn(recordings::SpeedUnit unit) const;
};

// Groups the moments (any order) into trips. Moments of other kinds than Always, Event and
// User are left out.
std::vector<Trip> groupTrips(std::vector<TripRecording> moments, double gapSeconds);

// The moments of a sorted recording list: one per kind and timestamp, the front file first
// choice; rows of other kinds (but Park ones when asked) or without a valid date and time are
// left out. Stats are empty.
std::vector<TripRecording> momentsOf(const std::vector<recordings::RecordingFile>& rows,
                                     bool withPark = false);

struct TripOptions {
    double gapSeconds = kDefaultGapSeconds;
    // Where the summary cache lives; empty: no cache (every file is read).
    std::filesystem::path cacheFolder;
    // Called with (files done, files to read) while recordings are read.
    std::function<void(std::size_t, std::size_t)> progress;
    // Asked between recordings: true ends the scan with the error "cancelled" (what was read
    // so far is still kept in the cache).
    std::function<bool()> cancelled;
};

struct TripScanReport {
    std::size_t moments = 0;
    std::size_t read = 0;    // recordings whose telemetry was read
    std::size_t cached = 0;  // recordings answered by the cache
    std::string cacheError;  // set when the cache could not be written
};

// Catalogues `cardRoot` and groups its recordings into trips, with the impact thresholds of
// the card's configuration file.
Result<std::vector<Trip>> findTrips(const std::string& cardRoot, const TripOptions& options,
                                    TripScanReport* report = nullptr);

}  // namespace orvik::trips
