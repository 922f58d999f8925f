#include "trips/drive.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orvik::trips {

Drive::Drive(const Trip& trip) {
    if (trip.recordings.empty())
        return;
    start_ = trip.recordings.front().start;
    for (const TripRecording& r : trip.recordings) {
        // A recording whose length could not be read still takes its place, as a sliver.
        const double duration =
            std::isfinite(r.stats.durationSeconds)
                ? std::clamp(r.stats.durationSeconds, 0.0, kLongestRecordingSeconds)
                : 0.0;
        blocks_.push_back({std::max(0.0, secondsBetween(start_, r.start)), duration, r.kind});
        length_ = std::max(length_, blocks_.back().endSeconds());
    }
    for (const TripEvent& e : trip.events) {
        if (e.recording < blocks_.size())
            marks_.push_back({e.kind, secondsOf({e.recording, e.offsetSeconds})});
    }
}

double Drive::secondsOf(DrivePosition p) const {
    if (p.recording >= blocks_.size())
        return 0;
    const DriveBlock& b = blocks_[p.recording];
    const double offset = std::isfinite(p.offsetSeconds) ? p.offsetSeconds : 0.0;
    return b.startSeconds + std::clamp(offset, 0.0, b.durationSeconds);
}

std::optional<DrivePosition> Drive::positionAt(double seconds) const {
    if (blocks_.empty())
        return std::nullopt;
    const double t = std::isfinite(seconds) ? std::clamp(seconds, 0.0, length_) : 0.0;
    // Blocks are in start order: the last one started by `t` that still runs wins.
    std::optional<std::size_t> running;
    std::optional<std::size_t> next;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        const DriveBlock& b = blocks_[i];
        if (b.startSeconds > t) {
            if (!next)
                next = i;
            continue;
        }
        if (t < b.endSeconds())
            running = i;
    }
    if (running)
        return DrivePosition{*running, t - blocks_[*running].startSeconds};
    if (next)
        return DrivePosition{*next, 0};
    // The drive's very end: the recording that ends last, at its end.
    std::size_t last = 0;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        if (blocks_[i].endSeconds() >= blocks_[last].endSeconds())
            last = i;
    }
    return DrivePosition{last, blocks_[last].durationSeconds};
}

LocalTime Drive::localTimeAt(double seconds) const {
    const double t = std::isfinite(seconds) ? seconds : 0.0;
    return plusSeconds(start_, t);
}

}  // namespace orvik::trips
