#pragma once
// Encodes synthetic H.264 video (and AAC audio) and muxes it as fragmented MP4 into memory,
// one fragment per one-second keyframe interval.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "samplecard/road_picture.h"

namespace orvik::tools {

struct MediaSpec {
    int width = 320;
    int height = 180;
    int fps = 30;
    double durationSeconds = 2.0;
    bool audio = true;
    // Static frames: grey with solid corner blocks (each a quarter of the width and height):
    // red top-left, green top-right, blue bottom-left, white bottom-right.
    bool pattern = false;
    // When set, each frame is this road picture instead (frame index from 0).
    std::function<RoadFrame(std::int64_t)> road;
    char channel = 'F';  // tints the moving picture and pitches the tone, so F and R differ
    std::string preset = "ultrafast";
    int crf = 28;
    int threads = 1;
    std::function<void(double)> progress;  // 0..1, called now and then while encoding
};

Result<std::vector<std::uint8_t>> encodeFragmentedMp4(const MediaSpec& spec);

}  // namespace orvik::tools
