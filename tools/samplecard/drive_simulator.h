#pragma once
// A plausible drive (speed, heading, position, G-sensor, GPS receiver output) that the sample
// recordings carry as telemetry. Deterministic for a given starting state.
#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "samplecard/telemetry_record.h"

namespace orvik::tools {

// Which sentences the simulated receiver emits.
enum class GnssReceiver : std::uint8_t {
    GpsOnly,     // $GPRMC and $GPGGA
    GpsGlonass,  // $GNRMC, $GNGGA and one $GNGSA per system
    GnssFix,     // $GNRMC and $GNGNS
};

using UtcTime = std::chrono::sys_time<std::chrono::microseconds>;

// Everything the drive needs to continue seamlessly into the next recording.
struct DriveState {
    double latitude = 37.557028;  // decimal degrees, north positive
    double longitude = 126.864494;
    double headingDegrees = 72.0;  // clockwise from north
    double speedKmh = 0.0;
    double targetKmh = 42.0;
    double yawRate = 0.0;  // degrees per second
    UtcTime utc = std::chrono::sys_days{std::chrono::year{2026} / 3 / 14} + std::chrono::hours{8} +
                  std::chrono::minutes{15};
    std::uint32_t timestamp = 3'600'000;  // camera clock in milliseconds, free-running
    std::uint64_t recordIndex = 0;        // over the whole drive; selects the sentences
    std::uint64_t rng = 0x5eed;
    std::size_t routeLeg = 0;  // the waypoint of DriveOptions::route driven towards
    bool operator==(const DriveState&) const = default;
};

struct DriveOptions {
    GnssReceiver receiver = GnssReceiver::GpsGlonass;
    std::int32_t speedUnitCode = kSpeedUnitKmh;
    int noFixRecords = 0;     // leading records without a position fix
    bool parked = false;      // standing still (parking recordings)
    int impactAtRecord = -1;  // record of this call's output that carries a G-sensor spike
    // Waypoints (latitude, longitude in decimal degrees) the car steers along, slowing for the
    // turns, instead of wandering; it drives straight on past the last one.
    std::span<const std::array<double, 2>> route;
};

// Next `count` records, `intervalSeconds` apart, advancing `state`.
std::vector<TelemetrySample> simulateDrive(DriveState& state, std::size_t count,
                                           double intervalSeconds, const DriveOptions& options);

// Decimal degrees to the NMEA ddmm.mmmm magnitude, rounded to the four decimals the
// sentences carry so that record fields and text agree.
double toNmeaMagnitude(double degrees);

}  // namespace orvik::tools
