#include "samplecard/recording_writer.h"

#include <algorithm>

#include "samplecard/file_output.h"
#include "samplecard/fragmented_mp4.h"
#include "samplecard/media_encoder.h"

namespace orvik::tools {

Result<RecordingSummary> writeRecording(const std::string& path, const RecordingSpec& spec) {
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
    auto encoded = encodeFragmentedMp4(media);
    if (!encoded)
        return makeError(path + ": " + encoded.error());
    auto boxes = listTopLevelBoxes(encoded.value());
    if (!boxes)
        return makeError(path + ": " + boxes.error());
    const std::size_t fragments = countFragments(boxes.value());

    RecordingSummary summary;
    summary.path = path;
    summary.width = spec.width;
    summary.height = spec.height;
    summary.durationSeconds = spec.durationSeconds;
    summary.audio = spec.audio;
    summary.fragments = fragments;
    summary.truncated = spec.truncated;
    summary.driveEnd = spec.drive;
    summary.start = spec.drive.utc;

    std::vector<std::vector<std::uint8_t>> areas;
    if (spec.telemetry) {
        DriveState& drive = summary.driveEnd;
        const int perFragment = static_cast<int>(kTelemetrySlotsPerFragment);
        for (std::size_t f = 0; f < fragments; ++f) {
            // Fragments last one second (one keyframe interval); the last one what is left.
            const double length =
                f + 1 < fragments ? 1.0
                                  : std::max(0.1, spec.durationSeconds - static_cast<double>(f));
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
            areas.push_back(encodeTelemetryArea(samples));
            const bool complete = !(spec.truncated && f + 1 == fragments);
            for (auto& s : samples) {
                if (complete && s.intact())
                    summary.expectedRecords.push_back(s);
                summary.slots.push_back(std::move(s));
            }
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
