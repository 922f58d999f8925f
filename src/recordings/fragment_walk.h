#pragma once
// The camera's recording layout, walked once for everyone who needs it (the telemetry reader,
// export, trips): "ftyp" with major brand "iso4", one more box (the movie box), then pairs of a
// fragment box "moof" and the media box after it. The last 2222 bytes of every media box hold
// eleven 202-byte telemetry slots, each a 2-byte prefix and one 200-byte record.
//
// Only box headers are read; the walk never reads outside the source and always ends: a box
// size below 8 (0 "to the end" and 1 "64-bit size" are not written by the camera and would not
// advance), a box running past the end of the file, or a top-level box that is not "moof" ends
// it with what was found so far.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace orvik::recordings {

class ByteSource;

inline constexpr std::size_t kTelemetryRecordSize = 200;
inline constexpr std::size_t kTelemetrySlotSize = 202;  // 2-byte prefix + record
inline constexpr std::size_t kTelemetrySlotsPerFragment = 11;
inline constexpr std::size_t kTelemetryAreaSize = kTelemetrySlotSize * kTelemetrySlotsPerFragment;

struct BoxHeader {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;  // as stored (a 64-bit size when the 32-bit field was 1 and read)
    std::uint32_t headerSize = 8;
    std::array<char, 4> type{};
    bool is(const char (&name)[5]) const;
    std::uint64_t end() const { return offset + size; }
};

// The header at `offset`; nothing when its bytes are not all inside the source. Sizes 0 and 1
// are returned as stored unless `largeSizes`, which reads size 1 as the 64-bit size after the
// type and size 0 as "to the end of the source" (general MP4s; the camera writes neither).
std::optional<BoxHeader> readBoxHeader(ByteSource& source, std::uint64_t offset,
                                       bool largeSizes = false);

// One "moof" box and the media box after it.
struct Fragment {
    std::uint64_t offset = 0;  // of the "moof" box
    std::uint32_t size = 0;    // of the "moof" box
    std::uint32_t mediaSize = 0;
    std::uint64_t mediaOffset() const { return offset + size; }
    std::uint64_t end() const { return mediaOffset() + mediaSize; }
    // A media box smaller than the telemetry area holds no slots.
    bool hasTelemetryArea() const { return mediaSize >= kTelemetryAreaSize; }
    std::uint64_t telemetryAreaOffset() const { return end() - kTelemetryAreaSize; }
};

// Why the walk over the fragments stopped.
enum class WalkEnd {
    EndOfFile,    // the next box header is not complete inside the file
    NotFragment,  // the next top-level box is not "moof" (e.g. a trailing index box)
    BoxTooSmall,  // a size below 8 (0, or 1 for the unsupported 64-bit size) would not advance
    BoxPastEnd,   // a box runs past the end of the file (a truncated recording)
};
std::string_view walkEndName(WalkEnd end);

struct RecordingLayout {
    std::uint32_t fileTypeSize = 0;  // box 1
    std::uint32_t movieSize = 0;     // box 2, right after box 1
    std::vector<Fragment> fragments;
    WalkEnd end = WalkEnd::EndOfFile;
    std::uint64_t endOffset = 0;  // where the walk stopped
    std::uint64_t movieOffset() const { return fileTypeSize; }
    std::size_t fragmentsWithoutArea() const;
};

// Walks a recording. Fails (with the reason) when the source is not one: too short for the file
// type box, first box not "ftyp", major brand not "iso4", or no box after it.
Result<RecordingLayout> walkRecording(ByteSource& source);

// The telemetry slots of one area (`area` may be shorter than a full area when the file ended):
// calls take(record bytes) for each slot whose record is complete, in slot order, and returns
// how many were cut short.
template <typename Take>
std::size_t forEachTelemetrySlot(std::span<const std::byte> area, Take&& take) {
    std::size_t cut = 0;
    for (std::size_t slot = 0; slot < kTelemetrySlotsPerFragment; ++slot) {
        // The 2-byte prefix of each slot carries nothing the viewer uses.
        const std::size_t recordAt = slot * kTelemetrySlotSize + 2;
        if (area.size() < recordAt + kTelemetryRecordSize) {
            ++cut;
            continue;
        }
        take(std::span<const std::byte, kTelemetryRecordSize>(area.data() + recordAt,
                                                              kTelemetryRecordSize));
    }
    return cut;
}

}  // namespace orvik::recordings
