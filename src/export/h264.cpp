#include "export/h264.h"

extern "C" {
#include <libavutil/opt.h>
}

#include "export/fragment_muxer.h"

namespace orvik::exporting {

namespace {

constexpr const char* kEncoderPreset = "veryfast";
constexpr const char* kEncoderCrf = "21";

}  // namespace

std::vector<std::uint8_t> annexBToLengthPrefixed(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size + 16);
    std::size_t i = 0;
    const auto startCodeAt = [&](std::size_t k, std::size_t& len) {
        if (k + 3 <= size && data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1) {
            len = 3;
            return true;
        }
        if (k + 4 <= size && data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 0 &&
            data[k + 3] == 1) {
            len = 4;
            return true;
        }
        return false;
    };
    std::size_t len = 0;
    while (i < size && !startCodeAt(i, len))
        ++i;
    while (i < size) {
        i += len;
        std::size_t end = i;
        while (end < size && !startCodeAt(end, len))
            ++end;
        std::size_t nalEnd = end;
        while (nalEnd > i && data[nalEnd - 1] == 0 && end < size)
            --nalEnd;  // trailing zeros belong to the next start code
        const std::size_t n = nalEnd - i;
        out.push_back(static_cast<std::uint8_t>(n >> 24));
        out.push_back(static_cast<std::uint8_t>(n >> 16));
        out.push_back(static_cast<std::uint8_t>(n >> 8));
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data + i, data + nalEnd);
        i = end;
    }
    return out;
}

std::vector<std::uint8_t> parameterSetsOf(const AVCodecParameters* par) {
    std::vector<std::uint8_t> out;
    const std::uint8_t* p = par->extradata;
    const int size = par->extradata_size;
    if (par->codec_id != AV_CODEC_ID_H264 || !p || size < 7 || p[0] != 1 || (p[4] & 3) != 3)
        return out;
    int at = 5;
    for (int pass = 0; pass < 2; ++pass) {
        if (at >= size)
            return {};
        const int count = pass == 0 ? (p[at] & 0x1F) : p[at];
        ++at;
        for (int k = 0; k < count; ++k) {
            if (at + 2 > size)
                return {};
            const int n = (p[at] << 8) | p[at + 1];
            at += 2;
            if (at + n > size)
                return {};
            out.push_back(0);
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(n >> 8));
            out.push_back(static_cast<std::uint8_t>(n));
            out.insert(out.end(), p + at, p + at + n);
            at += n;
        }
    }
    return out;
}

Result<void> openEncoder(EncoderPtr& enc, int width, int height, AVRational timeBase,
                         AVRational frameRate, AVRational sampleAspect, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return makeError("no H.264 encoder (libx264) in this FFmpeg");
    enc.ctx = avcodec_alloc_context3(codec);
    if (!enc.ctx)
        return makeError("out of memory");
    AVCodecContext* c = enc.ctx;
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = timeBase;
    c->framerate = frameRate;
    c->sample_aspect_ratio = sampleAspect.num > 0 ? sampleAspect : AVRational{1, 1};
    // Keyframes come where the caller forces them (the fragment starts); B-frames would put
    // packets out of frame order and blur which fragment a packet belongs to.
    c->gop_size = 600;
    c->max_b_frames = 0;
    c->thread_count = 0;
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", kEncoderPreset, 0);
    av_opt_set(c->priv_data, "crf", kEncoderCrf, 0);
    av_opt_set(c->priv_data, "forced-idr", "1", 0);
    const int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0)
        return makeError("cannot open the H.264 encoder: " + avErrorText(rc));
    return {};
}

}  // namespace orvik::exporting
