#include "samplecard/recording_writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "samplecard/file_output.h"
#include "samplecard/fragmented_mp4.h"
#include "samplecard/media_encoder.h"
#include "samplecard/road_picture.h"

namespace orvik::tools {
namespace {

// The telemetry of each fragment (one second each, the last one what is left), the drive
// advanced past it.
std::vector<std::vector<TelemetrySample>> simulateFragments(const RecordingSpec& spec,
                                                            std::size_t fragments,
                                                            DriveState& drive) {
    std::vector<std::vector<TelemetrySample>> out;
    const int perFragment = static_cast<int>(kTelemetrySlotsPerFragment);
    for (std::size_t f = 0; f < fragments; ++f) {
        const double length =
            f + 1 < fragments ? 1.0 : std::max(0.1, spec.durationSeconds - static_cast<double>(f));
        DriveOptions options = spec.driveOptions;
        const int first = static_cast<int>(f) * perFragment;
        options.noFixRecords = std::max(0, spec.driveOptions.noFixRecords - first);
        options.impactAtRecord = spec.driveOptions.impactAtRecord >= first
                                     ? spec.driveOptions.impactAtRecord - first
                                     : -1;
        auto samples =
            simulateDrive(drive, kTelemetrySlotsPerFragment, length / perFragment, options);
        if (spec.corruptSlots) {
            if (f % 2 == 1) {
                samples[2].damage = SlotDamage::BadMagic;
                samples[6].damage = SlotDamage::BadEndMark;
            }
            if (f % 4 == 2)
                samples[9].damage = SlotDamage::Zeroed;
        }
        out.push_back(std::move(samples));
    }
    return out;
}

// The road picture of each frame: the lane marks pass at the recorded speed, the road bends with
// the lateral G-force, and the stamp shows the camera's time (the name's moment) and speed.
std::function<RoadFrame(std::int64_t)> roadFrames(
    const RecordingSpec& spec, const std::vector<std::vector<TelemetrySample>>& telemetry) {
    struct Record {
        double metres;  // travelled before this record
        double kmh;
        double curve;
    };
    std::vector<Record> records;
    const double interval = 1.0 / static_cast<double>(kTelemetrySlotsPerFragment);
    double metres = 0, curve = 0;
    for (const auto& fragment : telemetry)
        for (const auto& s : fragment) {
            const double kmh = s.speedUnitCode == kSpeedUnitMph ? s.speed * 1.609344
                                                                : static_cast<double>(s.speed);
            curve += (std::clamp(s.accelX / 256.0 * 4.0, -1.0, 1.0) - curve) * 0.15;  // smoothed
            records.push_back({metres, kmh, curve});
            metres += kmh / 3.6 * interval;
        }
    const UtcTime start = spec.drive.utc;
    const int fps = spec.fps;
    const bool rear = spec.channel != 'F';
    return [records = std::move(records), start, fps, rear, interval](std::int64_t index) {
        const double t = static_cast<double>(index) / fps;
        RoadFrame frame;
        frame.rear = rear;
        int kmh = 0;
        if (!records.empty()) {
            const auto at = std::min(records.size() - 1, static_cast<std::size_t>(t / interval));
            const Record& r = records[at];
            frame.travelledMetres = r.metres + r.kmh / 3.6 * (t - at * interval);
            frame.curve = r.curve;
            kmh = static_cast<int>(std::lround(r.kmh));
        }
        using namespace std::chrono;
        const auto now = floor<seconds>(start + microseconds{std::llround(t * 1e6)});
        const auto day = floor<days>(now);
        const year_month_day ymd{day};
        const hh_mm_ss tod{now - day};
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d %dkm/h",
                      static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                      static_cast<unsigned>(ymd.day()), static_cast<int>(tod.hours().count()),
                      static_cast<int>(tod.minutes().count()),
                      static_cast<int>(tod.seconds().count()), kmh);
        frame.stamp = text;
        return frame;
    };
}

}  // namespace

Result<RecordingSummary> writeRecording(const std::string& path, const RecordingSpec& spec) {
    if (spec.fps < 1)
        return makeError(path + ": the frame rate must be at least 1");
    // One fragment per second of frames; checked against the encoder's output below.
    const std::int64_t frames =
        std::max<std::int64_t>(1, std::llround(spec.durationSeconds * spec.fps));
    std::size_t planned = static_cast<std::size_t>((frames + spec.fps - 1) / spec.fps);
    DriveState drive = spec.drive;
    std::vector<std::vector<TelemetrySample>> telemetry;
    if (spec.telemetry)
        telemetry = simulateFragments(spec, planned, drive);

    MediaSpec media;
    media.width = spec.width;
    media.height = spec.height;
    media.fps = spec.fps;
    media.durationSeconds = spec.durationSeconds;
    media.audio = spec.audio;
    media.pattern = spec.pattern;
    media.channel = spec.channel;
    media.preset = spec.preset;
    media.threads = spec.threads;
    media.progress = spec.progress;
    if (spec.road)
        media.road = roadFrames(spec, telemetry);
    auto encoded = encodeFragmentedMp4(media);
    if (!encoded)
        return makeError(path + ": " + encoded.error());
    auto boxes = listTopLevelBoxes(encoded.value());
    if (!boxes)
        return makeError(path + ": " + boxes.error());
    const std::size_t fragments = countFragments(boxes.value());
    if (spec.telemetry && fragments != planned) {
        drive = spec.drive;
        telemetry = simulateFragments(spec, fragments, drive);
    }

    RecordingSummary summary;
    summary.path = path;
    summary.width = spec.width;
    summary.height = spec.height;
    summary.durationSeconds = spec.durationSeconds;
    summary.audio = spec.audio;
    summary.fragments = fragments;
    summary.truncated = spec.truncated;
    summary.driveEnd = drive;
    summary.start = spec.drive.utc;

    std::vector<std::vector<std::uint8_t>> areas;
    for (std::size_t f = 0; f < telemetry.size(); ++f) {
        auto& samples = telemetry[f];
        areas.push_back(encodeTelemetryArea(samples));
        const bool complete = !(spec.truncated && f + 1 == fragments);
        for (auto& s : samples) {
            if (complete && s.intact())
                summary.expectedRecords.push_back(s);
            summary.slots.push_back(std::move(s));
        }
    }
    auto image = embedTelemetry(encoded.value(), areas);
    if (!image)
        return makeError(path + ": " + image.error());
    std::vector<std::uint8_t>& bytes = image.value();
    if (spec.truncated) {
        auto final = listTopLevelBoxes(bytes);
        if (!final || final.value().size() < 4)
            return makeError(path + ": nothing to truncate");
        const Box& lastMedia = final.value().back();
        bytes.resize(lastMedia.offset + lastMedia.size / 2);
    }
    summary.fileSize = bytes.size();
    if (auto written = writeFileAtomically(path, bytes); !written)
        return makeError(written.error());
    return summary;
}

}  // namespace orvik::tools
