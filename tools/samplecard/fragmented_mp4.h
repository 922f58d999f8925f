#pragma once
// Top-level box handling of fragmented MP4 files: listing the boxes and turning a muxer's output
// into the camera's layout (ftyp, moov, then moof+mdat pairs with telemetry closing every mdat).
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace orvik::tools {

struct Box {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;  // whole box, header included
    std::string type;
};

// The top-level boxes of a file image, in order. Fails on a box that is too small or runs past
// the end of the image.
Result<std::vector<Box>> listTopLevelBoxes(std::span<const std::uint8_t> image);
Result<std::vector<Box>> listTopLevelBoxesOfFile(const std::string& path);

// Number of moof boxes.
std::size_t countFragments(const std::vector<Box>& boxes);

// Rebuilds `image` as ftyp, moov and its moof+mdat pairs, with areas[i] appended to the i-th
// mdat and its size patched. Boxes after the last pair (the muxer's mfra, which holds absolute
// offsets that growing the mdats would break) are dropped. Needs one area per fragment, or none.
Result<std::vector<std::uint8_t>> embedTelemetry(
    std::span<const std::uint8_t> image, const std::vector<std::vector<std::uint8_t>>& areas);

}  // namespace orvik::tools
