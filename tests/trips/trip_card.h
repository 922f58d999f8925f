#pragma once
// Recordings for the trip tests: the camera's layout (ftyp, movie box, moof + media boxes with
// telemetry) with a movie header that states the duration, or fragment headers that do.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recordings/synthetic_recording.h"

namespace orvik::trips::testing {

using recordings::TelemetryRecord;
using recordings::testing::RecordingImage;

inline std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}
inline std::string be64(std::uint64_t v) {
    return be32(static_cast<std::uint32_t>(v >> 32)) + be32(static_cast<std::uint32_t>(v));
}
inline std::string box(std::string_view type, const std::string& body) {
    return be32(static_cast<std::uint32_t>(8 + body.size())) + std::string(type) + body;
}
// A full box: version and flags, then the body.
inline std::string fullBox(std::string_view type, std::uint8_t version, std::uint32_t flags,
                           const std::string& body) {
    return box(type, std::string(1, static_cast<char>(version)) + be32(flags).substr(1) + body);
}

inline std::string mvhd(std::uint32_t timescale, std::uint32_t duration) {
    return fullBox("mvhd", 0, 0,
                   be32(0) + be32(0) + be32(timescale) + be32(duration) + std::string(80, '\0'));
}
inline std::string mvhd64(std::uint32_t timescale, std::uint64_t duration) {
    return fullBox("mvhd", 1, 0,
                   be64(0) + be64(0) + be32(timescale) + be64(duration) + std::string(80, '\0'));
}
inline std::string trak(std::uint32_t trackId, std::uint32_t timescale) {
    const std::string tkhd =
        fullBox("tkhd", 0, 3, be32(0) + be32(0) + be32(trackId) + std::string(68, '\0'));
    const std::string mdhd =
        fullBox("mdhd", 0, 0, be32(0) + be32(0) + be32(timescale) + be32(0) + be32(0));
    return box("trak", tkhd + box("mdia", mdhd));
}
inline std::string trex(std::uint32_t trackId, std::uint32_t defaultDuration) {
    return fullBox("trex", 0, 0,
                   be32(trackId) + be32(1) + be32(defaultDuration) + be32(0) + be32(0));
}

// A movie box whose header states the duration in milliseconds.
inline std::string moovWithDuration(double seconds) {
    return box("moov", mvhd(1000, static_cast<std::uint32_t>(seconds * 1000 + 0.5)));
}

// A track fragment of `samples` samples of `sampleDuration` each, starting at `decodeTime`
// (no "tfdt" when it is nullopt).
inline std::string traf(std::uint32_t trackId, std::optional<std::uint64_t> decodeTime,
                        std::uint32_t samples, std::uint32_t sampleDuration) {
    std::string body = fullBox("tfhd", 0, 0x020000, be32(trackId));
    if (decodeTime)
        body += fullBox("tfdt", 1, 0, be64(*decodeTime));
    std::string run = be32(samples);
    for (std::uint32_t i = 0; i < samples; ++i)
        run += be32(sampleDuration) + be32(100);
    body += fullBox("trun", 0, 0x000300, run);
    return box("traf", body);
}

// A whole recording: "ftyp", the given movie box, then `fragments` fragments of eleven records
// (made by `record(fragment, slot)`, or none when `record` is empty), each fragment's moof
// holding `moofBody(fragment)` when given.
template <typename RecordFn>
std::vector<std::byte> recordingBytes(const std::string& moov, std::size_t fragments,
                                      RecordFn record) {
    RecordingImage image;
    image.ftyp();
    image.raw(moov);
    for (std::size_t f = 0; f < fragments; ++f) {
        std::vector<std::optional<TelemetryRecord>> slots;
        for (std::size_t s = 0; s < recordings::kTelemetrySlotsPerFragment; ++s)
            slots.push_back(record(f, s));
        image.fragment(slots);
    }
    return image.bytes();
}

inline bool writeBytes(const std::filesystem::path& path, const std::vector<std::byte>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// A recording of `seconds` (movie header) with one fragment of telemetry a second, records
// from `record(fragment, slot)`.
template <typename RecordFn>
bool writeRecording(const std::filesystem::path& path, double seconds, RecordFn record) {
    const auto fragments = static_cast<std::size_t>(seconds + 0.5);
    return writeBytes(path, recordingBytes(moovWithDuration(seconds), fragments, record));
}

// A plain recording: still at one spot, 40 km/h, the G-sensor at rest (1 g on Z).
inline std::optional<TelemetryRecord> quietRecord(std::size_t fragment, std::size_t slot) {
    TelemetryRecord r = RecordingImage::record(static_cast<std::uint32_t>(fragment * 11 + slot));
    r.accelX = 0;
    r.accelY = 0;
    r.accelZ = 256;
    r.speed = 40;
    return r;
}

inline bool writePlainRecording(const std::filesystem::path& path, double seconds) {
    return writeRecording(path, seconds, quietRecord);
}

}  // namespace orvik::trips::testing
