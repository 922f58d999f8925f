#include "thumbnails/thumbnail.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace orvik::thumbnails {

namespace {

// A damaged file could offer endless packets without a keyframe: give up after this many.
constexpr int kMaxPackets = 2000;

std::string avError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ScaleFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

Result<Thumbnail> scaled(const AVFrame& frame, AVRational sampleAspect, int width) {
    // Square pixels on screen: a picture with wide pixels gets a proportionally lower height.
    double aspect = static_cast<double>(frame.width) / frame.height;
    if (sampleAspect.num > 0 && sampleAspect.den > 0)
        aspect *= av_q2d(sampleAspect);
    const int height = std::clamp(static_cast<int>(std::lround(width / aspect)), 1, 4 * width);
    std::unique_ptr<SwsContext, ScaleFreer> sws(
        sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), width,
                       height, AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr));
    if (!sws)
        return makeError("the picture cannot be scaled");
    Thumbnail t;
    t.width = width;
    t.height = height;
    t.rgb.resize(static_cast<std::size_t>(width) * height * 3);
    std::uint8_t* planes[4] = {t.rgb.data(), nullptr, nullptr, nullptr};
    int strides[4] = {width * 3, 0, 0, 0};
    if (sws_scale(sws.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) !=
        height)
        return makeError("the picture cannot be scaled");
    return t;
}

}  // namespace

Result<Thumbnail> decodeThumbnail(const std::string& path, double seconds, int width) {
    width = std::clamp(width, kMinWidth, kMaxWidth);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return makeError(path + ": not a recording file");
    AVFormatContext* raw = nullptr;
    if (const int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); rc < 0)
        return makeError(path + ": " + avError(rc));
    std::unique_ptr<AVFormatContext, FormatCloser> fmt(raw);
    const int index = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return makeError(path + ": no video");
    AVStream* stream = fmt->streams[index];
    // The container's header names the picture; probing the streams would read far more.
    if (stream->codecpar->width <= 0 && avformat_find_stream_info(fmt.get(), nullptr) < 0)
        return makeError(path + ": unreadable video");
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return makeError(path + ": no decoder for its video");
    std::unique_ptr<AVCodecContext, CodecFreer> dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), stream->codecpar) < 0)
        return makeError(path + ": unreadable video");
    // One picture: threads would only wait for each other, and only keyframes are decoded.
    dec->thread_count = 1;
    dec->skip_frame = AVDISCARD_NONKEY;
    if (const int rc = avcodec_open2(dec.get(), codec, nullptr); rc < 0)
        return makeError(path + ": " + avError(rc));

    const double start =
        stream->start_time != AV_NOPTS_VALUE ? stream->start_time * av_q2d(stream->time_base) : 0;
    const double wanted = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    const auto ts = static_cast<std::int64_t>((wanted + start) / av_q2d(stream->time_base));
    // A failed seek leaves the demuxer at the start: the first keyframe is shown then.
    (void)av_seek_frame(fmt.get(), index, ts, AVSEEK_FLAG_BACKWARD);

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!packet || !frame)
        return makeError("out of memory");
    bool flushed = false;
    for (int packets = 0; packets < kMaxPackets;) {
        const int got = avcodec_receive_frame(dec.get(), frame.get());
        if (got == 0) {
            auto t =
                scaled(*frame,
                       stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio
                                                           : stream->codecpar->sample_aspect_ratio,
                       width);
            if (t) {
                const std::int64_t pts = frame->best_effort_timestamp;
                t->keyframeSeconds = pts == AV_NOPTS_VALUE
                                         ? wanted
                                         : std::max(0.0, pts * av_q2d(stream->time_base) - start);
            }
            return t;
        }
        if (got != AVERROR(EAGAIN) || flushed)
            break;
        const int read = av_read_frame(fmt.get(), packet.get());
        if (read < 0) {
            (void)avcodec_send_packet(dec.get(), nullptr);  // what the decoder still holds
            flushed = true;
            continue;
        }
        if (packet->stream_index == index) {
            ++packets;
            // Non-key packets are skipped before the decoder: it would discard them anyway.
            if (packet->flags & AV_PKT_FLAG_KEY)
                (void)avcodec_send_packet(dec.get(), packet.get());
        }
        av_packet_unref(packet.get());
    }
    return makeError(path + ": no picture near " + std::to_string(wanted) + " s");
}

std::string encodePpm(const Thumbnail& t) {
    std::string out = "P6\n" + std::to_string(t.width) + " " + std::to_string(t.height) + "\n255\n";
    out.append(reinterpret_cast<const char*>(t.rgb.data()), t.rgb.size());
    return out;
}

Result<Thumbnail> decodePpm(std::string_view bytes) {
    // "P6", whitespace, width, whitespace, height, whitespace, 255, one whitespace, pixels.
    std::size_t at = 0;
    const auto skipSpace = [&] {
        while (at < bytes.size() &&
               (bytes[at] == ' ' || bytes[at] == '\n' || bytes[at] == '\r' || bytes[at] == '\t'))
            ++at;
    };
    const auto number = [&](int& value) {
        skipSpace();
        const auto [end, ec] =
            std::from_chars(bytes.data() + at, bytes.data() + bytes.size(), value);
        if (ec != std::errc{} || end == bytes.data() + at)
            return false;
        at = static_cast<std::size_t>(end - bytes.data());
        return true;
    };
    if (bytes.substr(0, 2) != "P6")
        return makeError("not a thumbnail");
    at = 2;
    Thumbnail t;
    int maxValue = 0;
    if (!number(t.width) || !number(t.height) || !number(maxValue) || maxValue != 255 ||
        at >= bytes.size())
        return makeError("damaged thumbnail header");
    ++at;  // the one whitespace after the header
    if (t.width < 1 || t.width > kMaxWidth || t.height < 1 || t.height > 4 * kMaxWidth)
        return makeError("thumbnail of an impossible size");
    const std::size_t size = static_cast<std::size_t>(t.width) * t.height * 3;
    if (bytes.size() - at != size)
        return makeError("thumbnail of the wrong length");
    t.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
    return t;
}

}  // namespace orvik::thumbnails
