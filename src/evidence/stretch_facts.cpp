#include "evidence/stretch_facts.h"

#include <algorithm>
#include <cmath>

#include "recordings/track_formats.h"
#include "trips/trips.h"

namespace orvik::evidence {

namespace {

using recordings::SpeedUnit;

// Moments computed from record indices may miss a boundary by rounding.
constexpr double kMomentSlack = 1e-6;

}  // namespace

Result<std::vector<SegmentTelemetry>> readStretchTelemetry(const Stretch& stretch) {
    std::vector<SegmentTelemetry> all;
    for (const StretchSegment& seg : stretch.segments) {
        SegmentTelemetry t;
        recordings::ReadReport report;
        if (failed(t.track.readRecording(seg.path, &report)))
            return makeError(report.error.empty() ? "cannot read '" + seg.path + "'"
                                                  : report.error);
        const std::size_t n = t.track.size();
        t.firstRecord = n;
        t.endRecord = n;
        for (std::size_t i = 0; i < n; ++i) {
            const double at = trips::recordMoment(i, n, seg.durationSeconds);
            if (at + kMomentSlack < seg.fromSeconds)
                continue;
            if (at > seg.toSeconds + kMomentSlack)
                break;
            t.firstRecord = std::min(t.firstRecord, i);
            t.endRecord = i + 1;
        }
        all.push_back(std::move(t));
    }
    return all;
}

StretchFacts factsOf(const Stretch& stretch, const std::vector<SegmentTelemetry>& telemetry,
                     const trips::ImpactThresholds& thresholds, std::optional<SpeedUnit> unit) {
    StretchFacts f;
    // As recorded: mph only when every record of the stretch says so.
    bool sawKmh = false, sawMph = false;
    for (const SegmentTelemetry& t : telemetry) {
        for (std::size_t i = t.firstRecord; i < t.endRecord; ++i) {
            const bool mph = recordings::speedUnitOf(t.track.fixes()[i].speedUnitCode) ==
                             SpeedUnit::MilesPerHour;
            (mph ? sawMph : sawKmh) = true;
        }
    }
    f.unit =
        unit.value_or(sawMph && !sawKmh ? SpeedUnit::MilesPerHour : SpeedUnit::KilometresPerHour);

    double segmentStart = 0;  // seconds of the stretch before this segment
    std::optional<recordings::GeoPosition> last;
    for (std::size_t s = 0; s < telemetry.size() && s < stretch.segments.size(); ++s) {
        const SegmentTelemetry& t = telemetry[s];
        const StretchSegment& seg = stretch.segments[s];
        const std::size_t n = t.track.size();
        const auto stretchSeconds = [&](std::size_t i) {
            return segmentStart + trips::recordMoment(i, n, seg.durationSeconds) - seg.fromSeconds;
        };
        for (std::size_t i = t.firstRecord; i < t.endRecord; ++i) {
            ++f.records;
            const double at = stretchSeconds(i);
            const recordings::GpsFix& fix = t.track.fixes()[i];
            if (i < t.track.receiverStates().size() &&
                recordings::isoTime(t.track.receiverStates()[i].time)) {
                if (!f.startUtc)
                    f.startUtc = t.track.receiverStates()[i].time;
                f.endUtc = t.track.receiverStates()[i].time;
            }
            if (recordings::isTrackPoint(t.track, i)) {
                const auto pos = *recordings::positionOf(fix);
                if (!f.startPosition)
                    f.startPosition = pos;
                f.endPosition = pos;
                if (last)
                    f.distanceKm += trips::greatCircleKm(*last, pos);
                last = pos;
                f.route.push_back(pos);
            }
            const double v =
                recordings::speedIn(std::max(0.0, fix.speed), fix.speedUnitCode, f.unit);
            if (std::isfinite(v)) {
                f.speed.push_back({at, v});
                if (!f.topSpeed || v > *f.topSpeed) {
                    f.topSpeed = v;
                    f.topSpeedSeconds = at;
                }
            }
            if (i < t.track.accelSamples().size()) {
                const recordings::AccelSample& g = t.track.accelSamples()[i];
                f.accel[0].push_back({at, g.x});
                f.accel[1].push_back({at, g.y});
                f.accel[2].push_back({at, g.z});
            }
        }
        // Impacts are found over the whole recording (its median is the car at rest), then the
        // ones inside the stretch are kept.
        for (const trips::ImpactPeak& p :
             trips::findImpactPeaks(t.track.rawAccel(), seg.durationSeconds, thresholds)) {
            if (p.record < t.firstRecord || p.record >= t.endRecord)
                continue;
            ImpactFact fact;
            fact.segment = s;
            fact.offsetSeconds = p.seconds;
            fact.seconds = stretchSeconds(p.record);
            if (seg.recordingStart)
                fact.local = trips::plusSeconds(*seg.recordingStart, p.seconds);
            fact.peak = p;
            for (std::size_t i = p.record + 1; i-- > t.firstRecord;) {
                if (recordings::isTrackPoint(t.track, i)) {
                    fact.position = recordings::positionOf(t.track.fixes()[i]);
                    break;
                }
            }
            f.impacts.push_back(fact);
        }
        segmentStart += seg.toSeconds - seg.fromSeconds;
    }
    for (std::size_t i = 0; i < f.impacts.size(); ++i) {
        if (!f.strongest || f.impacts[i].peak.strength > f.impacts[*f.strongest].peak.strength)
            f.strongest = i;
    }
    return f;
}

}  // namespace orvik::evidence
