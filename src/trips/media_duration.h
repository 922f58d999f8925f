#pragma once
// The playing length of an MP4 recording from its box headers alone, without a media library.
//
// The movie header ("moov/mvhd") carries the duration when the muxer knew it; a recording
// written as it goes (empty movie box, fragments after it) leaves it zero, and then the
// fragments say it: each track fragment's decode time ("tfdt") plus the durations of its
// samples ("trun"), in the track's own time scale ("mdhd"). Every read is bounded by the box
// that holds it, so a damaged or hostile file gives no duration instead of a wrong one.
#include <optional>
#include <string>

#include "recordings/telemetry.h"

namespace orvik::trips {

// Seconds, or nothing when the file carries no usable duration.
std::optional<double> mediaDurationSeconds(recordings::ByteSource& source);
// The same for the file at `path`; nothing when it cannot be opened or carries no positive
// length.
std::optional<double> fileDurationSeconds(const std::string& path);

}  // namespace orvik::trips
