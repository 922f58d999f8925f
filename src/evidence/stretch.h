#pragma once
// The stretch of footage a package covers, as a list of segments (recording, from, to) in time
// order. A stretch is named as clips are: a recording with seconds into it, or a card folder
// (or a recording) with the camera's local time, the time in the file names.
//
// A stretch that runs past the end of its recording (or starts before it) goes on across the
// recordings of its drive.
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/result.h"
#include "recordings/recording_file.h"
#include "trips/moment.h"
#include "trips/trips.h"

namespace orvik::evidence {

using trips::LocalTime;

using trips::parseLocalTime;
// "2026-03-14T08:15:02.500" (milliseconds always written).
std::string isoLocalTimeMs(LocalTime t);

// A moment as given on the command line: seconds into a recording, or the camera's local time.
using Moment = std::variant<double, LocalTime>;
std::optional<Moment> parseMoment(std::string_view text);

struct StretchSegment {
    std::string path;  // the recording: the front file, or the only channel there is
    recordings::RecordingKind kind = recordings::RecordingKind::Unknown;
    std::optional<LocalTime> recordingStart;  // from its name
    double durationSeconds = 0;               // of the whole recording, 0 when unknown
    double fromSeconds = 0;                   // into the recording
    double toSeconds = 0;
};

struct Stretch {
    std::vector<StretchSegment> segments;  // in time order, never empty
    double durationSeconds() const;
    // The camera's local time at the start and the end, when the names carry it.
    std::optional<LocalTime> start() const;
    std::optional<LocalTime> end() const;
};

// Resolves SOURCE, --from and --to into a stretch. A recording takes seconds or local times;
// a card folder takes local times only. Errors name what does not fit: an unknown time, a
// moment that no recording holds, a stretch that runs outside its drive.
Result<Stretch> resolveStretch(const std::string& source, std::string_view from,
                               std::string_view to);

}  // namespace orvik::evidence
