#pragma once
// One sample recording: a playable fragmented MP4 whose media boxes end in telemetry slots.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "samplecard/drive_simulator.h"
#include "samplecard/telemetry_record.h"

namespace orvik::tools {

struct RecordingSpec {
    int width = 320;
    int height = 180;
    int fps = 30;
    double durationSeconds = 2.0;
    bool audio = true;
    bool telemetry = true;  // false: a plain fragmented MP4 without telemetry slots
    bool pattern = false;   // corner-colour test frames (see MediaSpec)
    bool road = false;      // a road as the camera sees it, stamped with its time (the demo)
    char channel = 'F';
    DriveState drive;  // where and when the recording starts
    DriveOptions driveOptions;
    // Damage some slots: in every second fragment slot 2 gets a bad magic and slot 6 a bad end
    // mark; in every fourth fragment slot 9 is zeroed.
    bool corruptSlots = false;
    // Cut the file in the middle of its last media box, as a power loss would.
    bool truncated = false;
    std::string preset = "ultrafast";
    int threads = 1;
    std::function<void(double)> progress;
};

struct RecordingSummary {
    std::string path;
    std::string relativePath;  // filled by writeSampleCard
    int width = 0;
    int height = 0;
    double durationSeconds = 0;
    bool audio = false;
    std::size_t fragments = 0;
    std::uint64_t fileSize = 0;
    bool truncated = false;
    UtcTime start;                       // the drive's moment at the first record
    std::vector<TelemetrySample> slots;  // every slot written, in file order, damaged ones too
    // What a correct reader returns: the intact slots of the fragments that are complete in the
    // file, in file order.
    std::vector<TelemetrySample> expectedRecords;
    DriveState driveEnd;  // where the drive goes on in the next recording
};

Result<RecordingSummary> writeRecording(const std::string& path, const RecordingSpec& spec);

}  // namespace orvik::tools
