#pragma once
// A moment named by the camera's clock ("2026-03-14T08:15:02", the time in the file names) and
// the recording of a card that holds it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trips/trips.h"

namespace orvik::trips {

// "YYYY-MM-DDThh:mm:ss" with an optional fraction of up to three digits (".5", ".250"), a space
// allowed for the "T"; nothing for any other text or an impossible date or time.
std::optional<LocalTime> parseLocalTime(std::string_view text);

struct MomentInRecording {
    std::string path;  // front or single file
    double offsetSeconds = 0;
};

// The moment among `moments` (any order, with their durations in stats.durationSeconds): the
// recording that started last at or before `t` and still runs at `t`. Where recordings of
// several kinds cover it, the one listed first of those starting last.
std::optional<MomentInRecording> findMoment(const std::vector<TripRecording>& moments, LocalTime t);

}  // namespace orvik::trips
