#pragma once
// Builds recording images box by box for the tests, benchmarks and fuzz seeds: "ftyp", a movie
// box, then moof + media boxes whose last 2222 bytes carry the telemetry slots. Everything can
// be bent (brand, sizes, truncation) to make the broken files the reader must survive.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recordings/telemetry.h"

namespace orvik::recordings::testing {

class RecordingImage {
  public:
    RecordingImage& box(std::string_view type, std::uint32_t size,
                        std::size_t contentBytes = SIZE_MAX) {
        putBe32(size);
        append(type.substr(0, 4));
        const std::size_t body =
            contentBytes != SIZE_MAX ? contentBytes : (size >= 8 ? size - 8 : 0);
        // Inserted rather than resized into: GCC 12 at -O3 misreads the fill after a regrowth.
        bytes_.insert(bytes_.end(), body, std::byte{0});
        return *this;
    }

    RecordingImage& ftyp(std::string_view brand = "iso4") {
        putBe32(20);
        append("ftyp");
        append(brand.substr(0, 4));
        putBe32(0x200);
        append("iso4");
        return *this;
    }

    RecordingImage& moov(std::uint32_t size = 64) { return box("moov", size); }

    // One fragment: a small moof and a media box of mediaPayload bytes followed by the eleven
    // slots; slots without a record (nullopt) are zero bytes, i.e. invalid.
    RecordingImage& fragment(const std::vector<std::optional<TelemetryRecord>>& slots,
                             std::size_t mediaPayload = 100) {
        box("moof", 24);
        const std::size_t size = 8 + mediaPayload + kTelemetryAreaSize;
        putBe32(static_cast<std::uint32_t>(size));
        append("mdat");
        bytes_.resize(bytes_.size() + mediaPayload, std::byte{0x55});
        for (std::size_t i = 0; i < kTelemetrySlotsPerFragment; ++i) {
            bytes_.push_back(std::byte{0xAB});  // the 2-byte slot prefix
            bytes_.push_back(std::byte(i));
            if (i < slots.size() && slots[i]) {
                const auto rec = encodeTelemetryRecord(*slots[i]);
                bytes_.insert(bytes_.end(), rec.begin(), rec.end());
            } else {
                bytes_.resize(bytes_.size() + kTelemetryRecordSize, std::byte{0});
            }
        }
        return *this;
    }

    RecordingImage& fullFragment(std::uint32_t firstTimestamp) {
        std::vector<std::optional<TelemetryRecord>> slots;
        for (std::uint32_t i = 0; i < kTelemetrySlotsPerFragment; ++i)
            slots.push_back(record(firstTimestamp + i));
        return fragment(slots);
    }

    RecordingImage& raw(std::string_view text) {
        append(text);
        return *this;
    }

    std::vector<std::byte>& bytes() { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    void truncate(std::size_t n) { bytes_.resize(n); }

    bool writeTo(const std::string& path) const {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return false;
        const bool ok = std::fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
        return std::fclose(f) == 0 && ok;
    }

    static constexpr std::string_view kDefaultNmea =
        "$GPRMC,081530.500,A,3733.4217,N,12651.8696,E,15.0,270.5,140621,,,A*54\n"
        "$GNGGA,081530,3733.4217,N,12651.8696,E,1,08,0.9,,,,,,*66\n";

    // A plausible record: the timestamp, accelerations derived from it and one RMC + GGA.
    static TelemetryRecord record(std::uint32_t timestamp, std::string_view nmea = {}) {
        TelemetryRecord r;
        r.timestamp = timestamp;
        r.accelX = static_cast<std::int32_t>(timestamp % 512) - 256;
        r.accelY = 12;
        r.accelZ = 256;
        r.accelAux = 7;
        r.speedUnitCode = kSpeedUnitCodeKmh;
        r.speed = static_cast<std::int32_t>(timestamp % 100);
        r.latitude = NmeaAngle(3733.4217);
        r.longitude = NmeaAngle(12651.8696);
        r.hdop = 0.9;
        r.satellitesUsed = 8;
        r.setNmeaText(nmea.empty() ? std::string_view(kDefaultNmea) : nmea);
        return r;
    }

  private:
    void putBe32(std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes_.push_back(std::byte(v >> shift));
    }
    void append(std::string_view s) {
        bytes_.insert(bytes_.end(), reinterpret_cast<const std::byte*>(s.data()),
                      reinterpret_cast<const std::byte*>(s.data()) + s.size());
    }
    std::vector<std::byte> bytes_;
};

}  // namespace orvik::recordings::testing
