#include "trips/recording_stats.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "device_config/device_config.h"
#include "trips/media_duration.h"

namespace orvik::trips {

using recordings::GeoPosition;
using recordings::GpsFix;
using recordings::RawAccel;

namespace {

// The thresholds are entered as 3..150 hundredths of g.
constexpr std::uint32_t kMinThreshold = 3;
constexpr std::uint32_t kMaxThreshold = 150;
constexpr double kAccelStepsPerG = 256.0;

double thresholdG(std::uint32_t hundredths) {
    return std::clamp(hundredths, kMinThreshold, kMaxThreshold) / 100.0;
}

double radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

std::int32_t median(std::vector<std::int32_t> values) {
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    if (values.size() % 2 == 1)
        return *mid;
    const std::int32_t upper = *mid;
    const std::int32_t lower = *std::max_element(values.begin(), mid);
    return static_cast<std::int32_t>((std::int64_t{lower} + upper) / 2);
}

}  // namespace

ImpactThresholds impactThresholdsOf(const device_config::DeviceConfig& config) {
    return {thresholdG(config.driveImpactX()), thresholdG(config.driveImpactY()),
            thresholdG(config.driveImpactZ())};
}

ImpactThresholds readImpactThresholds(const std::string& cardRoot) {
    const std::string path = cardRoot + "/" + std::string(device_config::kConfigFileName);
    auto config = device_config::readConfigFile(path);
    return config ? impactThresholdsOf(*config) : ImpactThresholds{};
}

double greatCircleKm(const GeoPosition& a, const GeoPosition& b) {
    const double lat1 = radians(a.latitude.value());
    const double lat2 = radians(b.latitude.value());
    const double dLat = lat2 - lat1;
    const double dLon = radians(b.longitude.value() - a.longitude.value());
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1) * std::cos(lat2) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadiusKm * std::asin(std::sqrt(std::clamp(h, 0.0, 1.0)));
}

double trackDistanceKm(const std::vector<GpsFix>& fixes) {
    double total = 0;
    std::optional<GeoPosition> last;
    for (const GpsFix& fix : fixes) {
        const auto pos = recordings::positionOf(fix);
        if (!pos)
            continue;
        if (last)
            total += greatCircleKm(*last, *pos);
        last = pos;
    }
    return total;
}

double recordMoment(std::size_t index, std::size_t count, double durationSeconds) {
    if (count < 2 || !(durationSeconds > 0))
        return 0;
    return durationSeconds * static_cast<double>(index) / static_cast<double>(count - 1);
}

std::vector<ImpactPeak> findImpactPeaks(const std::vector<RawAccel>& accel, double durationSeconds,
                                        const ImpactThresholds& thresholds) {
    std::vector<ImpactPeak> impacts;
    if (accel.empty())
        return impacts;
    std::array<std::vector<std::int32_t>, 3> axes;
    for (auto& axis : axes)
        axis.reserve(accel.size());
    for (const RawAccel& a : accel) {
        axes[0].push_back(a.x);
        axes[1].push_back(a.y);
        axes[2].push_back(a.z);
    }
    const std::array<std::int32_t, 3> medians{median(axes[0]), median(axes[1]), median(axes[2])};
    const std::array<double, 3> limits{thresholds.x * kAccelStepsPerG,
                                       thresholds.y * kAccelStepsPerG,
                                       thresholds.z * kAccelStepsPerG};
    const auto peakAt = [&](std::size_t i, double strength) {
        ImpactPeak p;
        p.seconds = recordMoment(i, accel.size(), durationSeconds);
        p.record = i;
        p.strength = strength;
        for (std::size_t axis = 0; axis < 3; ++axis)
            p.departureG[axis] =
                (static_cast<double>(axes[axis][i]) - static_cast<double>(medians[axis])) /
                kAccelStepsPerG;
        return p;
    };

    // The strongest departure of the current impact (in thresholds, so axes compare), its
    // record, and the moment of its latest record.
    double peakStrength = 0;
    std::size_t peakIndex = 0;
    double lastMoment = 0;
    bool open = false;
    for (std::size_t i = 0; i < accel.size(); ++i) {
        double strength = 0;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double departure =
                std::fabs(static_cast<double>(axes[axis][i]) - static_cast<double>(medians[axis]));
            if (departure > limits[axis])
                strength = std::max(strength, departure / limits[axis]);
        }
        if (strength == 0)
            continue;
        const double moment = recordMoment(i, accel.size(), durationSeconds);
        if (open && moment - lastMoment <= kImpactMergeSeconds + 1e-9) {
            if (strength > peakStrength) {
                peakStrength = strength;
                peakIndex = i;
            }
        } else {
            if (open)
                impacts.push_back(peakAt(peakIndex, peakStrength));
            open = true;
            peakStrength = strength;
            peakIndex = i;
        }
        lastMoment = moment;
    }
    if (open)
        impacts.push_back(peakAt(peakIndex, peakStrength));
    return impacts;
}

std::vector<double> findImpacts(const std::vector<RawAccel>& accel, double durationSeconds,
                                const ImpactThresholds& thresholds) {
    std::vector<double> moments;
    for (const ImpactPeak& p : findImpactPeaks(accel, durationSeconds, thresholds))
        moments.push_back(p.seconds);
    return moments;
}

RecordingStats statsOf(const recordings::TelemetryTrack& track,
                       const recordings::ReadReport& report,
                       std::optional<double> headerDurationSeconds,
                       const ImpactThresholds& thresholds) {
    RecordingStats stats;
    stats.readable = true;
    stats.records = static_cast<std::uint32_t>(track.size());
    if (headerDurationSeconds && std::isfinite(*headerDurationSeconds) &&
        *headerDurationSeconds > 0 && *headerDurationSeconds <= kLongestRecordingSeconds) {
        stats.durationSeconds = *headerDurationSeconds;
        stats.durationSource = DurationSource::MediaHeader;
    } else if (!track.empty()) {
        const std::size_t fragments = report.fragments - report.fragmentsWithoutArea;
        stats.durationSeconds =
            std::min(static_cast<double>(std::max<std::size_t>(fragments, 1)) * kSecondsPerFragment,
                     kLongestRecordingSeconds);
        stats.durationSource = DurationSource::Telemetry;
    }
    stats.distanceKm = trackDistanceKm(track.fixes());
    for (const GpsFix& fix : track.fixes()) {
        const bool mph =
            recordings::speedUnitOf(fix.speedUnitCode) == recordings::SpeedUnit::MilesPerHour;
        stats.speedUnits |= mph ? kUnitMph : kUnitKmh;
        const double kmh = std::max(0.0, fix.speed) * (mph ? kKmPerMile : 1.0);
        if (std::isfinite(kmh))
            stats.maxSpeedKmh = std::max(stats.maxSpeedKmh, kmh);
    }
    stats.impacts = findImpacts(track.rawAccel(), stats.durationSeconds, thresholds);
    return stats;
}

RecordingStats readRecordingStats(const std::string& path, const ImpactThresholds& thresholds) {
    auto source = recordings::FileByteSource::open(path);
    if (!source)
        return {};
    recordings::TelemetryTrack track;
    recordings::ReadReport report;
    std::optional<double> header = mediaDurationSeconds(*source);
    if (failed(track.readRecording(*source, &report))) {
        // Not the camera's layout, but a playable MP4 still has a length.
        RecordingStats stats;
        if (header && std::isfinite(*header) && *header > 0 &&
            *header <= kLongestRecordingSeconds) {
            stats.readable = true;
            stats.durationSeconds = *header;
            stats.durationSource = DurationSource::MediaHeader;
        }
        return stats;
    }
    return statsOf(track, report, header, thresholds);
}

}  // namespace orvik::trips
