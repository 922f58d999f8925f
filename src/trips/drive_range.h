#pragma once
// A stretch of a drive that may run over several recordings. However it is named — offsets from
// the start of one recording (negative back into the drive, past its end into the recordings
// that follow), the camera's clock, or the viewer's in and out marks in two recordings — it
// comes down to the same pieces: each recording's share of the stretch, in time order.
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "trips/trips.h"

namespace orvik::trips {

// One recording's share of a stretch: [fromSeconds, toSeconds) from its start.
struct RangePiece {
    std::string path;         // the moment's front (or single) file
    std::string partnerPath;  // its other channel, "" when there is none
    double fromSeconds = 0;
    double toSeconds = 0;
    // The file of the channel `path` or `partnerPath` stands for: `rear` picks the rear one
    // when there is one.
    const std::string& file(bool rear) const {
        return rear && !partnerPath.empty() ? partnerPath : path;
    }
};

struct DriveRange {
    std::vector<RangePiece> pieces;  // in time order; a recording may come twice when another
                                     // one (an event) was written over part of it
    LocalTime from;                  // the camera time where the first piece starts
    double seconds() const;          // the pieces' lengths together (gaps left out)
};

// A moment of a drive as one of its recordings (either channel's file) and seconds from that
// recording's start; the seconds may be negative or run past the recording's end.
struct DrivePoint {
    std::string path;
    double seconds = 0;
};

// The camera time of `point`, or nothing when its file is none of the drive's.
std::optional<LocalTime> timeOf(const std::vector<TripRecording>& drive, const DrivePoint& point);

// The pieces of [from, to) over `drive` (its recordings with their durations, any order): at
// every moment the recording that started last of those running, as a snapshot picks it, so no
// moment is taken twice. Gaps between recordings are left out. Fails when `to` is not after
// `from`, when the stretch starts before the drive's first recording or ends after its last,
// or when no recording runs in it.
Result<DriveRange> rangeOf(const std::vector<TripRecording>& drive, LocalTime from, LocalTime to);
Result<DriveRange> rangeOf(const std::vector<TripRecording>& drive, const DrivePoint& from,
                           const DrivePoint& to);

// The drive (trip) that holds `file` or moment `t`, from the card whose recordings are under
// `cardRoot`, each recording's length read from its box headers. Only recordings within a day
// of the moment are read, so a full card costs little more than its listing.
Result<std::vector<TripRecording>> driveHolding(const std::string& cardRoot,
                                                const std::string& file);
Result<std::vector<TripRecording>> driveAt(const std::string& cardRoot, LocalTime t);

// Where the card that holds `file` starts: the nearest folder above it (a few levels at most)
// that holds the camera's own files, else the file's own folder.
std::string cardRootOf(const std::string& file);

}  // namespace orvik::trips
