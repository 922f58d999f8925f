#pragma once
// H.264 pieces a clip needs: the encoder (libx264 through libavcodec) and the conversions that
// let encoded pictures stand next to copied ones in one MP4 track.
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/result.h"

namespace orvik::exporting {

// Annex B (start codes) → the length-prefixed form the MP4 track uses.
std::vector<std::uint8_t> annexBToLengthPrefixed(const std::uint8_t* data, std::size_t size);

// The SPS and PPS of an "avcC" record as length-prefixed NAL units; empty when the record is
// not one with 4-byte lengths (such streams are re-encoded whole instead).
std::vector<std::uint8_t> parameterSetsOf(const AVCodecParameters* par);

struct EncoderPtr {
    AVCodecContext* ctx = nullptr;
    EncoderPtr() = default;
    EncoderPtr(const EncoderPtr&) = delete;
    EncoderPtr& operator=(const EncoderPtr&) = delete;
    ~EncoderPtr() {
        if (ctx)
            avcodec_free_context(&ctx);
    }
};

// An H.264 encoder without B-frames whose keyframes come where the caller forces them.
Result<void> openEncoder(EncoderPtr& enc, int width, int height, AVRational timeBase,
                         AVRational frameRate, AVRational sampleAspect, bool globalHeader);

}  // namespace orvik::exporting
