#pragma once
// The caption line burned into exported pictures: the local date and time of the moment (from
// the recording's name plus the offset), the speed as recorded and the position in decimal
// degrees, e.g. "2024-01-01 12:00:03  36 km/h  37.55123, 126.97457". The speed can be shown in
// the unit the viewer shows it in instead.
#include <optional>
#include <string>

#include "recordings/recording_file.h"
#include "recordings/telemetry.h"

namespace orvik::exporting {

// Local date and time of a moment: the name's timestamp plus whole seconds (calendar-correct
// across midnight, month and year ends). Nothing when the name holds no valid date and time.
std::optional<recordings::RecordingTimestamp> momentOf(const recordings::RecordingTimestamp& start,
                                                       double offsetSeconds);

// "YYYY-MM-DD hh:mm:ss".
std::string timestampText(const recordings::RecordingTimestamp& t);

// The caption for a moment of a recording: the parts that are known, joined by two spaces.
// `fix` is the telemetry entry of the moment (or nullptr without telemetry); its position is
// left out when it has none or the receiver marked it invalid (`positionValid` false). The
// speed is converted to `unit` when one is given.
std::string captionText(const recordings::RecordingTimestamp& start, double offsetSeconds,
                        const recordings::GpsFix* fix, bool positionValid = true,
                        std::optional<recordings::SpeedUnit> unit = std::nullopt);

// The telemetry entry for a moment with the index rule of the viewer: position and duration in
// 100-ns units.
std::optional<std::size_t> entryForMoment(const recordings::TelemetryTrack& track,
                                          double offsetSeconds, double durationSeconds);

}  // namespace orvik::exporting
