#pragma once
// Media time: every playback position, duration and seek target is a signed 64-bit count of
// 100-nanosecond units.
#include <cstdint>

namespace orvik::playback {

using MediaTime = std::int64_t;
inline constexpr MediaTime kMediaTimePerSecond = 10'000'000;

}  // namespace orvik::playback
