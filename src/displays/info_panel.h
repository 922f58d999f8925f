#pragma once
// The information panel's readouts (speed, precision, satellites) and the map position for the
// moment being played, computed from the opened recording's telemetry. Pure logic: the main
// window feeds it the playback state and puts the texts into its readout labels.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "recordings/gps_fix.h"

namespace orvik::displays {

inline constexpr int kSpeedReadoutId = 1020;
inline constexpr int kPrecisionReadoutId = 1023;
inline constexpr int kSatellitesReadoutId = 1024;

inline constexpr const char* kInitialSpeedText = "0 Km/h";
inline constexpr const char* kInitialPrecisionText = "1.0";
inline constexpr const char* kInitialSatellitesText = "0";

// The unit the speed readout shows: the one each record was stored in (the default), or every
// speed converted to km/h or to mph.
enum class SpeedDisplay { AsRecorded = 0, KilometresPerHour = 1, MilesPerHour = 2 };

// The unit a click on the readout switches to: the other one of the unit the readout shows now
// (for a recording made in `recordedUnitCode` when the display is as recorded).
SpeedDisplay toggledSpeedDisplay(SpeedDisplay display, std::int32_t recordedUnitCode);
// The texts kept in the viewer's ini file: "recorded", "km/h", "mph"; anything else reads as
// recorded.
std::string speedDisplayName(SpeedDisplay display);
SpeedDisplay speedDisplayFromName(const std::string& name);

struct PlaybackMoment {
    bool frontRunning = false;
    std::int64_t seekPosition = 0;
    std::int64_t seekMaximum = 0;
    // The sample the G-sensor graph marks.
    std::int32_t graphCursor = 0;
};

// NMEA-form magnitudes signed by hemisphere (south and west negative), longitude first as the map
// update takes them.
struct MapPosition {
    double longitude = 0;
    double latitude = 0;
    bool operator==(const MapPosition&) const = default;
};

// What one refresh changes; an empty field leaves that readout (or the map) as it is.
struct InformationUpdate {
    std::optional<std::string> speed;
    std::optional<std::string> precision;
    std::optional<std::string> satellites;
    std::optional<MapPosition> map;

    bool empty() const { return !speed && !precision && !satellites && !map; }
};

// One DisplayTimer tick. The number comes from the entry at the playback position and the unit from
// the entry just before the graph cursor, so nothing is shown while the cursor is still 0.
// Corrections of the read values (speeds not above 0 shown as 0, hemisphere signs) are made on
// the values read; the telemetry itself is not changed, and every visit of an entry shows the
// same result.
InformationUpdate refreshInformation(std::span<const recordings::GpsFix> fixes,
                                     std::span<const recordings::GpsFix> snapshots,
                                     const PlaybackMoment& moment,
                                     SpeedDisplay display = SpeedDisplay::AsRecorded);

// The readouts for a given sample, shown at once when the Information view opens (also while
// paused): speed and unit of that sample, precision and satellites of the snapshot at the same
// playback position, and its map position.
InformationUpdate sampleInformation(std::span<const recordings::GpsFix> fixes,
                                    std::span<const recordings::GpsFix> snapshots,
                                    std::int64_t seekPosition, std::int64_t seekMaximum,
                                    SpeedDisplay display = SpeedDisplay::AsRecorded);

// "%d Km/h", or "%d Mi/h" for the unit code 0x31; speeds not above 0 (or not a number) give 0.
std::string speedText(double speed, std::int32_t speedUnitCode);
// The same in the chosen display unit: as recorded it is speedText; converted speeds are rounded
// to the nearest whole unit.
std::string speedText(double speed, std::int32_t speedUnitCode, SpeedDisplay display);

}  // namespace orvik::displays
