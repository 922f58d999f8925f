#pragma once
// The device time file "timeset.cfg": one line "%d/%02d/%02d %02d:%02d:%02d" without terminator,
// from which the camera sets its clock.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device_config/save_outcome.h"
#include "platform/result.h"
#include "platform/volumes.h"

namespace orvik::device_config {

inline constexpr std::string_view kTimeFileName = "timeset.cfg";

struct DeviceTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    friend bool operator==(const DeviceTime&, const DeviceTime&) = default;
};

// The file's bytes, e.g. "2024/03/05 08:07:06".
std::string formatTimeFile(const DeviceTime& time);

// "YYYY-MM-DD hh:mm:ss" (as the CLI takes it), checked as a real calendar moment.
Result<DeviceTime> parseDeviceTime(std::string_view text);
bool isValidDeviceTime(const DeviceTime& time);
DeviceTime currentLocalTime();

// The card's existing "timeset.cfg" on the first removable volume that has one. Without one the
// caller asks the user for a path; the viewer never creates the file on a card by itself.
std::optional<std::string> findTimeFileOnCard(const std::vector<platform::Volume>& volumes);

// Replaces `path` atomically with the time line. A time that is not a valid moment is refused.
SaveOutcome writeTimeFile(const std::string& path, const DeviceTime& time);

}  // namespace orvik::device_config
