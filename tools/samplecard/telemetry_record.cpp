#include "samplecard/telemetry_record.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace orvik::tools {
namespace {

void putU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putI32(std::uint8_t* p, std::int32_t v) {
    putU32(p, static_cast<std::uint32_t>(v));
}

void putF64(std::uint8_t* p, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, kTelemetryRecordSize> encodeTelemetryRecord(const TelemetrySample& s) {
    std::array<std::uint8_t, kTelemetryRecordSize> r{};
    if (s.damage == SlotDamage::Zeroed)
        return r;
    std::memcpy(&r[0], "K737", 4);
    putU32(&r[4], s.timestamp);
    // Offset 8 is reserved; left zero.
    putI32(&r[12], s.accelX);
    putI32(&r[16], s.accelY);
    putI32(&r[20], s.accelZ);
    putI32(&r[24], s.accelAux);
    std::memcpy(&r[28], s.nmeaText.data(), std::min(s.nmeaText.size(), kNmeaTextSize));
    putI32(&r[156], s.speedUnitCode);
    putI32(&r[160], s.speed);
    putF64(&r[164], s.latitude);
    putF64(&r[172], s.longitude);
    putF64(&r[180], s.hdop);
    putI32(&r[188], s.satellitesUsed);
    // Offset 192 is reserved; left zero.
    std::memcpy(&r[196], "END", 4);  // with its terminating zero
    if (s.damage == SlotDamage::BadMagic)
        r[3] = '8';
    if (s.damage == SlotDamage::BadEndMark)
        r[199] = 1;
    return r;
}

std::array<std::uint8_t, kTelemetrySlotSize> encodeTelemetrySlot(const TelemetrySample& s) {
    std::array<std::uint8_t, kTelemetrySlotSize> slot{};
    if (s.damage != SlotDamage::Zeroed) {
        slot[0] = static_cast<std::uint8_t>(s.slotPrefix);
        slot[1] = static_cast<std::uint8_t>(s.slotPrefix >> 8);
    }
    const auto record = encodeTelemetryRecord(s);
    std::copy(record.begin(), record.end(), slot.begin() + kTelemetrySlotPrefixSize);
    return slot;
}

std::vector<std::uint8_t> encodeTelemetryArea(std::span<const TelemetrySample> samples) {
    if (samples.size() != kTelemetrySlotsPerFragment)
        throw std::invalid_argument("a telemetry area holds exactly eleven records");
    std::vector<std::uint8_t> area;
    area.reserve(kTelemetryAreaSize);
    for (const auto& s : samples) {
        const auto slot = encodeTelemetrySlot(s);
        area.insert(area.end(), slot.begin(), slot.end());
    }
    return area;
}

std::uint8_t nmeaChecksum(std::string_view body) {
    std::uint8_t sum = 0;
    for (char c : body)
        sum ^= static_cast<std::uint8_t>(c);
    return sum;
}

std::string nmeaSentence(std::string_view body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", nmeaChecksum(body));
    std::string s = "$";
    s.append(body);
    s.append(tail);
    return s;
}

}  // namespace orvik::tools
