#pragma once
// The 200-byte telemetry record the camera stores, eleven to a fragment, at the end of every
// media-data box, as the generator writes it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvik::tools {

inline constexpr std::size_t kTelemetryRecordSize = 200;
inline constexpr std::size_t kTelemetrySlotPrefixSize = 2;
inline constexpr std::size_t kTelemetrySlotSize = kTelemetrySlotPrefixSize + kTelemetryRecordSize;
inline constexpr std::size_t kTelemetrySlotsPerFragment = 11;
inline constexpr std::size_t kTelemetryAreaSize = kTelemetrySlotSize * kTelemetrySlotsPerFragment;
inline constexpr std::size_t kNmeaTextSize = 128;

inline constexpr std::int32_t kSpeedUnitKmh = 0x39;  // '9'
inline constexpr std::int32_t kSpeedUnitMph = 0x31;  // '1'

// How a slot is deliberately broken, so readers can be tested against damaged fragments.
enum class SlotDamage : std::uint8_t {
    None,
    BadMagic,    // "K738" instead of "K737"
    BadEndMark,  // "END" followed by a non-zero byte
    Zeroed,      // the whole slot is zero bytes, as after a lost write
};

// One record as written. `latitude`/`longitude` are NMEA-form magnitudes (ddmm.mmmm).
struct TelemetrySample {
    std::uint16_t slotPrefix = 0;
    std::uint32_t timestamp = 0;
    std::int32_t accelX = 0;
    std::int32_t accelY = 0;
    std::int32_t accelZ = 0;
    std::int32_t accelAux = 0;
    std::string nmeaText;  // at most 128 bytes; zero-padded when written
    std::int32_t speedUnitCode = kSpeedUnitKmh;
    std::int32_t speed = 0;
    double latitude = 0;
    double longitude = 0;
    double hdop = 0;
    std::int32_t satellitesUsed = 0;
    SlotDamage damage = SlotDamage::None;

    bool intact() const { return damage == SlotDamage::None; }
    bool operator==(const TelemetrySample&) const = default;
};

// The 200 record bytes (little-endian integers and IEEE-754 doubles). nmeaText longer than
// 128 bytes is cut; a damaged sample gets its damage applied.
std::array<std::uint8_t, kTelemetryRecordSize> encodeTelemetryRecord(const TelemetrySample& s);

// The 202-byte slot: the 2-byte prefix (little-endian) then the record.
std::array<std::uint8_t, kTelemetrySlotSize> encodeTelemetrySlot(const TelemetrySample& s);

// The 2222-byte telemetry area of one fragment; exactly eleven samples are required.
std::vector<std::uint8_t> encodeTelemetryArea(std::span<const TelemetrySample> samples);

// NMEA 0183 checksum: XOR of the characters between "$" and "*".
std::uint8_t nmeaChecksum(std::string_view body);

// "$" + body + "*" + two hex digits + CR LF.
std::string nmeaSentence(std::string_view body);

}  // namespace orvik::tools
