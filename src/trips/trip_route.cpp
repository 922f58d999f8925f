#include "trips/trip_route.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvik::trips {

using recordings::SpeedUnit;
using namespace std::chrono;

std::vector<RoutePoint> recordingRoute(const recordings::TelemetryTrack& track,
                                       double durationSeconds, std::size_t recording,
                                       std::size_t maxPoints) {
    std::vector<RoutePoint> all;
    const auto& fixes = track.fixes();
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        const auto pos = recordings::positionOf(fixes[i]);
        if (!pos)
            continue;
        const bool mph = recordings::speedUnitOf(fixes[i].speedUnitCode) == SpeedUnit::MilesPerHour;
        const double speed = std::max(0.0, fixes[i].speed) * (mph ? kKmPerMile : 1.0);
        all.push_back({pos->latitude.value(), pos->longitude.value(),
                       std::isfinite(speed) ? speed : 0.0, recording,
                       recordMoment(i, fixes.size(), durationSeconds)});
    }
    if (maxPoints < 2 || all.size() <= maxPoints)
        return all;
    std::vector<RoutePoint> thinned;
    thinned.reserve(maxPoints);
    for (std::size_t k = 0; k < maxPoints; ++k)
        thinned.push_back(all[k * (all.size() - 1) / (maxPoints - 1)]);
    return thinned;
}

std::vector<RoutePoint> tripRoute(const Trip& trip, std::size_t maxPointsPerRecording,
                                  const std::function<bool()>& cancelled) {
    std::vector<RoutePoint> route;
    for (std::size_t r = 0; r < trip.recordings.size(); ++r) {
        if (cancelled && cancelled())
            break;
        recordings::TelemetryTrack track;
        if (failed(track.readRecording(trip.recordings[r].path)))
            continue;
        auto points = recordingRoute(track, trip.recordings[r].stats.durationSeconds, r,
                                     maxPointsPerRecording);
        route.insert(route.end(), points.begin(), points.end());
    }
    return route;
}

std::string routeJson(const std::vector<RoutePoint>& route) {
    std::string out = "[";
    char buf[160];
    for (std::size_t i = 0; i < route.size(); ++i) {
        const RoutePoint& p = route[i];
        std::snprintf(buf, sizeof buf, "%s[%.6f,%.6f,%.0f,%zu,%.3f]", i ? "," : "", p.latitude,
                      p.longitude, p.speedKmh, p.recording, p.offsetSeconds);
        out += buf;
    }
    out += ']';
    return out;
}

std::optional<std::pair<std::size_t, std::size_t>> findRecording(const std::vector<Trip>& trips,
                                                                 const std::string& path) {
    for (std::size_t t = 0; t < trips.size(); ++t) {
        const auto& recs = trips[t].recordings;
        for (std::size_t r = 0; r < recs.size(); ++r) {
            if (recs[r].path == path ||
                (!recs[r].partnerPath.empty() && recs[r].partnerPath == path))
                return std::make_pair(t, r);
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> adjacentEvent(const Trip& trip, TripMoment from, int direction) {
    if (from.recording >= trip.recordings.size() || trip.events.empty())
        return std::nullopt;
    const auto momentOf = [&trip](std::size_t recording, double offset) {
        return duration<double>(trip.recordings[recording].start - trip.start).count() + offset;
    };
    const double now = momentOf(from.recording, from.offsetSeconds);
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < trip.events.size(); ++i) {
        const double t = momentOf(trip.events[i].recording, trip.events[i].offsetSeconds);
        if (direction > 0 && t > now + kEventToleranceSeconds) {
            return i;  // events are in time order: the first one after is the next
        }
        if (direction < 0 && t < now - kEventToleranceSeconds)
            best = i;
    }
    return best;
}

}  // namespace orvik::trips
