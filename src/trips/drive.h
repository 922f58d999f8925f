#pragma once
// A trip seen as one timeline: seconds since the drive's start map to a recording and an offset
// into it and back. What the drive strip draws and where a click on it leads.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "trips/trips.h"

namespace orvik::trips {

// A moment of the drive: a recording (index in the trip) and seconds into it.
struct DrivePosition {
    std::size_t recording = 0;
    double offsetSeconds = 0;
    friend bool operator==(const DrivePosition&, const DrivePosition&) = default;
};

struct DriveBlock {
    double startSeconds = 0;  // from the drive's start
    double durationSeconds = 0;
    recordings::RecordingKind kind = recordings::RecordingKind::Unknown;
    double endSeconds() const { return startSeconds + durationSeconds; }
};

struct DriveMark {
    EventKind kind = EventKind::Event;
    double seconds = 0;  // from the drive's start
};

class Drive {
  public:
    Drive() = default;
    explicit Drive(const Trip& trip);

    bool empty() const { return blocks_.empty(); }
    const std::vector<DriveBlock>& blocks() const { return blocks_; }
    const std::vector<DriveMark>& marks() const { return marks_; }
    LocalTime start() const { return start_; }
    // From the start of the first recording to the latest end of any.
    double lengthSeconds() const { return length_; }

    // Seconds since the drive's start of a moment (its offset clamped into its recording; 0
    // for a recording the drive does not hold).
    double secondsOf(DrivePosition p) const;
    // The moment at `seconds` (clamped to the drive): in the recording that runs then (the one
    // that started last where several do), in a gap at the start of the recording after it.
    // Nothing for an empty drive.
    std::optional<DrivePosition> positionAt(double seconds) const;
    // The camera's clock at `seconds` since the drive's start.
    LocalTime localTimeAt(double seconds) const;

  private:
    std::vector<DriveBlock> blocks_;
    std::vector<DriveMark> marks_;
    LocalTime start_;
    double length_ = 0;
};

}  // namespace orvik::trips
