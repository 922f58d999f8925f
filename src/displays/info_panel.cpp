#include "displays/info_panel.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace orvik::displays {

namespace {

constexpr std::int32_t kMilesPerHourCode = 0x31;

// (count - 1) x position / maximum in unsigned arithmetic, kept inside the list: a negative
// position counts as the start and one beyond the maximum as the end.
std::size_t entryAt(std::size_t count, std::int64_t position, std::int64_t maximum) {
    if (count == 0 || maximum <= 0 || position <= 0) {
        return 0;
    }
    if (position >= maximum) {
        return count - 1;
    }
    const unsigned __int128 product =
        static_cast<unsigned __int128>(count - 1) * static_cast<std::uint64_t>(position);
    return static_cast<std::size_t>(product / static_cast<std::uint64_t>(maximum));
}

std::string precisionText(double hdop) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", std::isfinite(hdop) ? hdop : 0.0);
    return text;
}

std::optional<MapPosition> mapPositionOf(const recordings::GpsFix& fix) {
    double latitude = fix.latitude.value();
    double longitude = fix.longitude.value();
    if (latitude == 0.0 || longitude == 0.0 || !std::isfinite(latitude) ||
        !std::isfinite(longitude)) {
        return std::nullopt;
    }
    if (fix.latHemisphere == 'S') {
        latitude = -std::fabs(latitude);
    }
    if (fix.lonHemisphere == 'W') {
        longitude = -std::fabs(longitude);
    }
    return MapPosition{longitude, latitude};
}

void fillPrecisionAndSatellites(std::span<const recordings::GpsFix> snapshots,
                                std::int64_t position, std::int64_t maximum,
                                InformationUpdate& update) {
    if (snapshots.empty()) {
        return;
    }
    const auto& snapshot = snapshots[entryAt(snapshots.size(), position, maximum)];
    update.precision = precisionText(snapshot.hdop);
    update.satellites = std::to_string(snapshot.satellitesUsed);
}

}  // namespace

std::string speedText(double speed, std::int32_t speedUnitCode) {
    if (!(speed > 0.0)) {
        speed = 0.0;
    }
    const double whole = std::trunc(std::fmin(speed, std::numeric_limits<int>::max()));
    char text[64];
    std::snprintf(text, sizeof text, speedUnitCode == kMilesPerHourCode ? "%d Mi/h" : "%d Km/h",
                  static_cast<int>(whole));
    return text;
}

std::string speedText(double speed, std::int32_t speedUnitCode, SpeedDisplay display) {
    const bool recordedMph = speedUnitCode == kMilesPerHourCode;
    if (display == SpeedDisplay::AsRecorded ||
        (display == SpeedDisplay::MilesPerHour) == recordedMph) {
        return speedText(speed, speedUnitCode);
    }
    constexpr double kKmPerMile = 1.609344;
    if (!(speed > 0.0)) {
        speed = 0.0;
    }
    const double converted = recordedMph ? speed * kKmPerMile : speed / kKmPerMile;
    const double whole = std::round(std::fmin(converted, std::numeric_limits<int>::max()));
    char text[64];
    std::snprintf(text, sizeof text, display == SpeedDisplay::MilesPerHour ? "%d Mi/h" : "%d Km/h",
                  static_cast<int>(whole));
    return text;
}

SpeedDisplay toggledSpeedDisplay(SpeedDisplay display, std::int32_t recordedUnitCode) {
    const bool showsMph =
        display == SpeedDisplay::MilesPerHour ||
        (display == SpeedDisplay::AsRecorded && recordedUnitCode == kMilesPerHourCode);
    return showsMph ? SpeedDisplay::KilometresPerHour : SpeedDisplay::MilesPerHour;
}

std::string speedDisplayName(SpeedDisplay display) {
    switch (display) {
        case SpeedDisplay::KilometresPerHour:
            return "km/h";
        case SpeedDisplay::MilesPerHour:
            return "mph";
        case SpeedDisplay::AsRecorded:
            break;
    }
    return "recorded";
}

SpeedDisplay speedDisplayFromName(const std::string& name) {
    if (name == "km/h") {
        return SpeedDisplay::KilometresPerHour;
    }
    if (name == "mph") {
        return SpeedDisplay::MilesPerHour;
    }
    return SpeedDisplay::AsRecorded;
}

InformationUpdate refreshInformation(std::span<const recordings::GpsFix> fixes,
                                     std::span<const recordings::GpsFix> snapshots,
                                     const PlaybackMoment& moment, SpeedDisplay display) {
    InformationUpdate update;
    if (!moment.frontRunning || fixes.empty() || moment.seekMaximum == 0) {
        return update;
    }
    const std::size_t n = fixes.size();
    const std::size_t i = entryAt(n, moment.seekPosition, moment.seekMaximum);
    // Unsigned, so a cursor of 0 wraps past the list and nothing is refreshed.
    const std::uint32_t u = static_cast<std::uint32_t>(moment.graphCursor) - 1u;
    if (u >= n) {
        return update;
    }
    const auto& current = fixes[i];
    update.speed = speedText(current.speed, fixes[u].speedUnitCode, display);
    fillPrecisionAndSatellites(snapshots, moment.seekPosition, moment.seekMaximum, update);
    update.map = mapPositionOf(current);
    return update;
}

InformationUpdate sampleInformation(std::span<const recordings::GpsFix> fixes,
                                    std::span<const recordings::GpsFix> snapshots,
                                    std::int64_t seekPosition, std::int64_t seekMaximum,
                                    SpeedDisplay display) {
    InformationUpdate update;
    if (fixes.empty()) {
        return update;
    }
    // The sample index the view opens on: n x position / duration, 0 without a duration.
    std::size_t index = 0;
    if (seekMaximum > 0 && seekPosition > 0) {
        const unsigned __int128 product =
            static_cast<unsigned __int128>(fixes.size()) * static_cast<std::uint64_t>(seekPosition);
        index = static_cast<std::size_t>(product / static_cast<std::uint64_t>(seekMaximum));
    }
    if (index >= fixes.size()) {
        index = fixes.size() - 1;
    }
    const auto& fix = fixes[index];
    update.speed = speedText(fix.speed, fix.speedUnitCode, display);
    fillPrecisionAndSatellites(snapshots, seekPosition, seekMaximum, update);
    update.map = mapPositionOf(fix);
    return update;
}

}  // namespace orvik::displays
