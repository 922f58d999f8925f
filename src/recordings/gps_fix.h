#pragma once
// The position structure shared by the telemetry reader and the NMEA decoder: one type serves
// as the per-record fix and as the running decoder state.
#include <array>
#include <cstdint>
#include <optional>

namespace orvik::recordings {

// A latitude or longitude magnitude as the receiver and the camera store it: degrees × 100 +
// minutes (ddmm.mmmm, dddmm.mmmm). Kept apart from decimal degrees so the two cannot be mixed.
class NmeaAngle {
  public:
    constexpr NmeaAngle() = default;
    constexpr explicit NmeaAngle(double ddmm) : value_(ddmm) {}
    constexpr double value() const { return value_; }
    friend constexpr bool operator==(NmeaAngle, NmeaAngle) = default;

  private:
    double value_ = 0.0;
};

// Signed decimal degrees (south and west negative), as maps and track files use them.
class DecimalDegrees {
  public:
    constexpr DecimalDegrees() = default;
    constexpr explicit DecimalDegrees(double degrees) : value_(degrees) {}
    constexpr double value() const { return value_; }
    friend constexpr bool operator==(DecimalDegrees, DecimalDegrees) = default;

  private:
    double value_ = 0.0;
};

// ddmm.mmmm → degrees + minutes / 60, negative for hemisphere 'S' or 'W'.
DecimalDegrees toDecimalDegrees(NmeaAngle angle, char hemisphere);

struct GpsTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t dayOfWeek = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
    friend bool operator==(const GpsTime&, const GpsTime&) = default;
};

struct GpsFix {
    GpsTime time;                                             // UTC of the last RMC sentence
    std::int32_t satellitesInView = 0;                        // not filled by any decoder
    std::array<std::array<std::uint8_t, 2>, 12> viewTable{};  // not filled by any decoder
    std::uint8_t gnsSeen = 0;
    std::uint8_t gsaSeen = 0;
    std::int8_t constellation = 0;  // 0 GPS, 1 GLONASS, -1 unknown (from GSA)
    std::int32_t gpsSatellites = 0;
    std::int32_t glonassSatellites = 0;
    std::int32_t satellitesUsed = 0;
    std::array<std::uint8_t, 12> prns{};
    double hdop = 0.0;
    NmeaAngle latitude;
    char latHemisphere = 'N';
    NmeaAngle longitude;
    char lonHemisphere = 'E';
    // Per-record fix: the record's speed in the unit of speedUnitCode. Decoder state: the RMC
    // speed over ground in knots.
    double speed = 0.0;
    double course = 0.0;
    bool fixValid = false;
    std::int32_t speedUnitCode = 0;

    friend bool operator==(const GpsFix&, const GpsFix&) = default;
};

// What the receiver said about its fix beyond the GpsFix fields: the status of the latest RMC
// ('A' valid, 'V' void, 0 none seen), the quality of the latest GGA (0 no fix, -1 none seen)
// and that GGA's altitude above mean sea level.
struct ReceiverStatus {
    char rmcStatus = 0;
    std::int32_t ggaQuality = -1;
    std::optional<double> altitudeMetres;

    // False once the receiver marked its latest fix invalid (RMC status V or GGA quality 0).
    bool positionValid() const { return rmcStatus != 'V' && ggaQuality != 0; }
    friend bool operator==(const ReceiverStatus&, const ReceiverStatus&) = default;
};

struct GeoPosition {
    DecimalDegrees latitude;
    DecimalDegrees longitude;
};

// The fix's position in decimal degrees, or nothing when it has none: both magnitudes zero,
// not finite, or outside the globe.
std::optional<GeoPosition> positionOf(const GpsFix& fix);

}  // namespace orvik::recordings
