#pragma once
// What a trip needs to know about one recording: how long it plays, how far and how fast the
// car went, and where the G-sensor saw an impact. Computed from the telemetry and the media
// header once, then kept in the summary cache.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recordings/gps_fix.h"
#include "recordings/telemetry.h"

namespace orvik::device_config {
class DeviceConfig;
}

namespace orvik::trips {

inline constexpr double kEarthRadiusKm = 6371.0088;  // mean Earth radius
inline constexpr double kKmPerMile = 1.609344;
// Peaks of one impact: records at most this far apart belong to the same impact.
inline constexpr double kImpactMergeSeconds = 2.0;
// The camera closes a fragment, and with it a block of telemetry, every second.
inline constexpr double kSecondsPerFragment = 1.0;
// No recording is longer than a day (the camera cuts them into minutes): a movie header that
// claims more is damaged and is not used, and no duration is ever taken above this.
inline constexpr double kLongestRecordingSeconds = 86400;

// Driving-mode impact thresholds in g, per axis.
struct ImpactThresholds {
    double x = 0.5;
    double y = 0.5;
    double z = 0.5;
    friend bool operator==(const ImpactThresholds&, const ImpactThresholds&) = default;
};

// The configuration's driving-mode thresholds (stored in hundredths of g). Values outside the
// range the camera accepts (0.03..1.50 g) are clamped into it, so a zero word cannot turn every
// record into an impact.
ImpactThresholds impactThresholdsOf(const device_config::DeviceConfig& config);
// The thresholds of "config_K7x7.bin" in the card root; 0.5 g per axis when the file is missing
// or not a configuration file.
ImpactThresholds readImpactThresholds(const std::string& cardRoot);

enum class DurationSource : std::uint8_t { None = 0, MediaHeader = 1, Telemetry = 2 };

// Bits of RecordingStats::speedUnits.
inline constexpr std::uint8_t kUnitKmh = 1;
inline constexpr std::uint8_t kUnitMph = 2;

struct RecordingStats {
    bool readable = false;  // the file could be opened and is a recording
    double durationSeconds = 0;
    DurationSource durationSource = DurationSource::None;
    std::uint32_t records = 0;  // valid telemetry records
    double distanceKm = 0;
    double maxSpeedKmh = 0;       // the highest recorded speed, converted to km/h
    std::uint8_t speedUnits = 0;  // kUnitKmh / kUnitMph: the units the records carry
    std::vector<double> impacts;  // seconds from the recording's start, ascending

    friend bool operator==(const RecordingStats&, const RecordingStats&) = default;
};

// Great-circle distance on the mean-radius sphere (haversine form, exact for short hops).
double greatCircleKm(const recordings::GeoPosition& a, const recordings::GeoPosition& b);

// Sum of the distances between consecutive records that both have a position (a record
// without one breaks nothing: the next position joins the last one seen).
double trackDistanceKm(const std::vector<recordings::GpsFix>& fixes);

// The moment of record `index` of `count` in a recording of `durationSeconds`: the inverse of
// the playback index rule, so the viewer shows that record when it seeks there.
double recordMoment(std::size_t index, std::size_t count, double durationSeconds);

// One impact, at its strongest record.
struct ImpactPeak {
    double seconds = 0;      // the record's moment
    std::size_t record = 0;  // its index in the recording's lists
    double strength = 0;     // its largest departure, in thresholds of that axis (above 1)
    // The record's acceleration minus the recording's median, per axis (X, Y, Z), in g.
    std::array<double, 3> departureG{};
};

// Impacts: records where an axis departs from the recording's median on that axis by more than
// its threshold; runs of such records at most kImpactMergeSeconds apart
// are one impact, reported at its strongest record.
std::vector<ImpactPeak> findImpactPeaks(const std::vector<recordings::RawAccel>& accel,
                                        double durationSeconds, const ImpactThresholds& thresholds);
// The same, as moments in seconds.
std::vector<double> findImpacts(const std::vector<recordings::RawAccel>& accel,
                                double durationSeconds, const ImpactThresholds& thresholds);

// Everything above from a read track and the media header's duration (if any). The header's
// duration wins; without it the telemetry's fragments (one a second) give the duration.
RecordingStats statsOf(const recordings::TelemetryTrack& track,
                       const recordings::ReadReport& report,
                       std::optional<double> headerDurationSeconds,
                       const ImpactThresholds& thresholds);

// Reads the recording's telemetry and media header.
RecordingStats readRecordingStats(const std::string& path, const ImpactThresholds& thresholds);

}  // namespace orvik::trips
