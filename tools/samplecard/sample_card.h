#pragma once
// A complete sample card folder: recordings of every kind named as the camera names them, front
// and rear partners, odd names and other files, nested and hidden folders (the test card); or the
// viewer's demo card, one drive as a new user should see it first.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device_config/drive_route.h"
#include "platform/result.h"
#include "samplecard/recording_writer.h"

namespace orvik::tools {

struct SampleCardOptions {
    int width = 640;  // front camera; the rear camera gets half of each side
    int height = 360;
    int fps = 30;
    double durationSeconds = 4.0;
    int alwaysPairs = 3;  // continuous front/rear recordings at the start of the drive
    std::uint64_t seed = 1;
    bool pattern = false;  // corner-colour frames in every recording
    // The viewer's demo instead of the test card: one drive along real streets of `alwaysPairs`
    // consecutive front/rear recordings (one of them an Event recording with an impact), road
    // pictures stamped with the camera's time, the camera's own files and nothing odd.
    bool demo = false;
    bool videoOnlyRecording = false;     // add a user recording without an audio track
    bool corruptSlotsRecording = false;  // add an event pair with damaged telemetry slots
    bool truncatedRecording = false;     // add a continuous pair cut short by a power loss
    // The camera's own files: default "config_K7x7.bin", "timeset.cfg" and the driving-route
    // file "DrvInfo/orvik_000.drv" with one record per second of the drive.
    bool deviceFiles = true;
    std::string preset = "ultrafast";
    int threads = 1;
    // Called before each file is written: its path relative to the card, its 0-based index and
    // the number of files in all.
    std::function<void(const std::string&, int, int)> progress;
};

struct SampleCardSummary {
    std::string root;
    std::vector<std::string> files;  // every file written, relative to root, in write order
    // Every mp4 file written (hidden ones too), with the telemetry it carries.
    std::vector<RecordingSummary> recordings;
    // The driving-route records written to "DrvInfo/orvik_000.drv" (empty without device files).
    std::vector<device_config::DriveRouteRecord> route;

    // The recording at `relativePath`, or nullptr.
    const RecordingSummary* find(const std::string& relativePath) const;
};

// The demo card's options: six consecutive recordings of eight seconds each.
SampleCardOptions demoCardOptions();

// Writes the card into `dir` (created when missing). Files of an earlier card are replaced;
// other files in the folder are left alone.
Result<SampleCardSummary> writeSampleCard(const std::string& dir, const SampleCardOptions& options);

// The card's stamp: a hidden text file in the card root, written last, naming the generator's
// options. A card whose stamp matches was written completely with the same options.
inline constexpr const char* kSampleCardStampName = ".orvik-samplecard";
std::string sampleCardStamp(const SampleCardOptions& options);
// True when `dir` holds a complete card written with these options (so a demo can reuse it
// instead of encoding it again).
bool sampleCardUpToDate(const std::string& dir, const SampleCardOptions& options);

// One driving-route record per second of the recordings' drive: the first record of every
// fragment of each recording moment (front and rear partners count once), in time order.
std::vector<device_config::DriveRouteRecord> makeDriveRoute(
    const std::vector<RecordingSummary>& recordings);

// "kind_YYYYMMDD_hhmmss_C.mp4" for the moment `utc` (seconds are kept, fractions dropped).
std::string recordingFileName(const std::string& prefix, UtcTime utc, char channel);

}  // namespace orvik::tools
