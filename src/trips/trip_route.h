#pragma once
// A trip as the viewer shows it: its route (every recording's positions with their speed and
// moment, for the map) and its events in order (for the seek-bar marks and next/previous event).
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recordings/telemetry.h"
#include "trips/trips.h"

namespace orvik::trips {

struct RoutePoint {
    double latitude = 0;  // decimal degrees
    double longitude = 0;
    double speedKmh = 0;
    std::size_t recording = 0;  // index into Trip::recordings
    double offsetSeconds = 0;   // from that recording's start
};

// The positions of one recording's track, thinned evenly to at most maxPoints (first and last
// kept), each with its speed in km/h and its moment in the recording.
std::vector<RoutePoint> recordingRoute(const recordings::TelemetryTrack& track,
                                       double durationSeconds, std::size_t recording,
                                       std::size_t maxPoints);

// Reads every recording of the trip for its route (at most maxPointsPerRecording each).
// `cancelled`, asked between recordings, ends the route early (what was read is returned).
std::vector<RoutePoint> tripRoute(const Trip& trip, std::size_t maxPointsPerRecording = 120,
                                  const std::function<bool()>& cancelled = {});

// The route for the map page: [[lat, lng, km/h, recording, offset], ...] with six decimals for
// the position, whole km/h and milliseconds.
std::string routeJson(const std::vector<RoutePoint>& route);

// Where the trip containing `path` (a front, rear or single file) is: trip and recording index.
std::optional<std::pair<std::size_t, std::size_t>> findRecording(const std::vector<Trip>& trips,
                                                                 const std::string& path);

// A moment of the trip: a recording and seconds into it.
struct TripMoment {
    std::size_t recording = 0;
    double offsetSeconds = 0;
};

// The next event after `from` (direction +1) or the last one before it (-1); events within
// kEventTolerance of `from` do not count, so repeated jumps move on instead of staying.
inline constexpr double kEventToleranceSeconds = 1.0;
std::optional<std::size_t> adjacentEvent(const Trip& trip, TripMoment from, int direction);

}  // namespace orvik::trips
