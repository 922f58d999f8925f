#include "test_support.h"

#include <unistd.h>

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace orvik::tools::test {
namespace fs = std::filesystem;

namespace {
std::uint32_t be32(const std::vector<std::uint8_t>& d, std::size_t o) {
    return std::uint32_t(d[o]) << 24 | std::uint32_t(d[o + 1]) << 16 |
           std::uint32_t(d[o + 2]) << 8 | d[o + 3];
}
std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
double leF64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return std::bit_cast<double>(v);
}
}  // namespace

std::vector<ReadSlot> readSlots(const std::vector<std::uint8_t>& d) {
    std::vector<ReadSlot> slots;
    if (d.size() < 16)
        return slots;
    std::size_t o = be32(d, 0);
    if (o + 8 > d.size())
        return slots;
    o += be32(d, o);
    for (std::size_t fragment = 0; o + 8 <= d.size(); ++fragment) {
        const std::size_t s = be32(d, o);
        if (std::memcmp(&d[o + 4], "moof", 4) != 0 || s < 8 || o + s + 8 > d.size())
            break;
        const std::size_t m = be32(d, o + s);
        if (m < kTelemetryAreaSize || o + s + m > d.size())
            break;
        const std::size_t area = o + s + m - kTelemetryAreaSize;
        for (std::size_t k = 0; k < kTelemetrySlotsPerFragment; ++k) {
            const auto* p = &d[area + k * kTelemetrySlotSize];
            slots.push_back({fragment, {p, p + kTelemetrySlotSize}});
        }
        o += s + m;
    }
    return slots;
}

bool recordIsValid(const std::uint8_t* r) {
    return std::memcmp(r, "K737", 4) == 0 && std::memcmp(r + 196, "END", 4) == 0;
}

TelemetrySample decodeRecord(const std::uint8_t* r) {
    TelemetrySample s;
    s.timestamp = le32(r + 4);
    s.accelX = static_cast<std::int32_t>(le32(r + 12));
    s.accelY = static_cast<std::int32_t>(le32(r + 16));
    s.accelZ = static_cast<std::int32_t>(le32(r + 20));
    s.accelAux = static_cast<std::int32_t>(le32(r + 24));
    const char* text = reinterpret_cast<const char*>(r + 28);
    s.nmeaText.assign(text, strnlen(text, kNmeaTextSize));
    s.speedUnitCode = static_cast<std::int32_t>(le32(r + 156));
    s.speed = static_cast<std::int32_t>(le32(r + 160));
    s.latitude = leF64(r + 164);
    s.longitude = leF64(r + 172);
    s.hdop = leF64(r + 180);
    s.satellitesUsed = static_cast<std::int32_t>(le32(r + 188));
    return s;
}

}  // namespace orvik::tools::test
