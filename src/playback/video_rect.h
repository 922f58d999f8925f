#pragma once
// A rectangle as the media interface passes it: left/top inclusive, right/bottom exclusive, in
// pixels (of the native picture for a source rectangle, of the pane for a destination).
#include <cstdint>

namespace orvik::playback {

struct VideoRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    constexpr std::int32_t width() const { return right - left; }
    constexpr std::int32_t height() const { return bottom - top; }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    friend constexpr bool operator==(const VideoRect&, const VideoRect&) = default;
};

}  // namespace orvik::playback
