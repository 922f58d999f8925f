#pragma once
// What the telemetry says about a stretch: when and where it began and ended, how far and how
// fast the car went, the impacts, and the curves a report draws. Only the records whose moment
// lies in the stretch count (a record's moment is where playback shows it).
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "evidence/stretch.h"
#include "recordings/gps_fix.h"
#include "recordings/telemetry.h"
#include "trips/recording_stats.h"

namespace orvik::evidence {

// The telemetry of one segment's whole recording and the records of it in the stretch.
struct SegmentTelemetry {
    recordings::TelemetryTrack track;
    std::size_t firstRecord = 0;  // [firstRecord, endRecord) lie in the stretch
    std::size_t endRecord = 0;
};

// Reads the telemetry of every segment's recording (a recording without any gives an empty
// track). Fails only when a recording cannot be read at all.
Result<std::vector<SegmentTelemetry>> readStretchTelemetry(const Stretch& stretch);

struct CurvePoint {
    double seconds = 0;  // from the stretch's start
    double value = 0;
};

struct ImpactFact {
    double seconds = 0;  // from the stretch's start
    std::size_t segment = 0;
    double offsetSeconds = 0;  // into that segment's recording
    std::optional<LocalTime> local;
    std::optional<recordings::GeoPosition> position;  // the last known at that moment
    trips::ImpactPeak peak;
};

struct StretchFacts {
    std::optional<recordings::GpsTime> startUtc;  // the receiver's time of the first record
    std::optional<recordings::GpsTime> endUtc;    // ... and of the last
    std::optional<recordings::GeoPosition> startPosition;
    std::optional<recordings::GeoPosition> endPosition;
    double distanceKm = 0;
    recordings::SpeedUnit unit = recordings::SpeedUnit::KilometresPerHour;
    std::optional<double> topSpeed;        // in `unit`
    double topSpeedSeconds = 0;            // from the stretch's start
    std::vector<ImpactFact> impacts;       // in time order
    std::optional<std::size_t> strongest;  // index into impacts
    std::vector<recordings::GeoPosition> route;
    std::vector<CurvePoint> speed;                 // in `unit`
    std::array<std::vector<CurvePoint>, 3> accel;  // X, Y, Z in g
    std::size_t records = 0;
};

// The facts of the stretch. Speeds are shown in `unit`, or as recorded (mph when every record
// of the stretch says so) when it is empty; impacts use the card's thresholds.
StretchFacts factsOf(const Stretch& stretch, const std::vector<SegmentTelemetry>& telemetry,
                     const trips::ImpactThresholds& thresholds,
                     std::optional<recordings::SpeedUnit> unit);

}  // namespace orvik::evidence
