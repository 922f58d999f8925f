#include "samplecard/media_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <numbers>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace orvik::tools {
namespace {

std::string avError(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

Error fail(const std::string& what, int code) {
    return makeError(what + ": " + avError(code));
}

// A growable, seekable in-memory file for the muxer.
struct MemoryFile {
    std::vector<std::uint8_t> data;
    std::int64_t pos = 0;

    static int write(void* opaque, uint8_t* buf, int size) {
        auto* f = static_cast<MemoryFile*>(opaque);
        const auto end = static_cast<std::size_t>(f->pos) + static_cast<std::size_t>(size);
        if (end > f->data.size())
            f->data.resize(end);
        std::memcpy(f->data.data() + f->pos, buf, static_cast<std::size_t>(size));
        f->pos += size;
        return size;
    }

    static int64_t seek(void* opaque, int64_t offset, int whence) {
        auto* f = static_cast<MemoryFile*>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
            case AVSEEK_SIZE:
                return static_cast<int64_t>(f->data.size());
            case SEEK_SET:
                f->pos = offset;
                break;
            case SEEK_CUR:
                f->pos += offset;
                break;
            case SEEK_END:
                f->pos = static_cast<int64_t>(f->data.size()) + offset;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (f->pos < 0)
            return AVERROR(EINVAL);
        return f->pos;
    }
};

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct Muxer {
    AVFormatContext* fmt = nullptr;
    AVIOContext* io = nullptr;
    ~Muxer() {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        avformat_free_context(fmt);
    }
};

using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// The moving picture: a tinted diagonal gradient, a bright square that crosses the frame once
// a second and a band of blocks showing the frame number in binary along the bottom edge.
void paintFrame(std::vector<std::uint8_t>& rgb, int w, int h, int index, const MediaSpec& spec) {
    auto put = [&](int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    };
    if (spec.road) {
        paintRoad(rgb, w, h, spec.road(index));
        return;
    }
    if (spec.pattern) {
        const int bw = w / 4, bh = h / 4;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool left = x < bw, right = x >= w - bw, top = y < bh, bottom = y >= h - bh;
                if (left && top)
                    put(x, y, 255, 0, 0);
                else if (right && top)
                    put(x, y, 0, 255, 0);
                else if (left && bottom)
                    put(x, y, 0, 0, 255);
                else if (right && bottom)
                    put(x, y, 255, 255, 255);
                else
                    put(x, y, 128, 128, 128);
            }
        }
        return;
    }
    const bool front = spec.channel == 'F';
    std::array<std::array<std::uint8_t, 3>, 256> palette;
    for (int g = 0; g < 256; ++g)
        palette[g] =
            front ? std::array<std::uint8_t, 3>{std::uint8_t(g / 3), std::uint8_t(40 + g / 2),
                                                std::uint8_t(90 + g / 2)}
                  : std::array<std::uint8_t, 3>{std::uint8_t(110 + g / 2), std::uint8_t(60 + g / 3),
                                                std::uint8_t(g / 4)};
    std::vector<int> column(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x)
        column[x] = x * 160 / std::max(1, w);
    for (int y = 0; y < h; ++y) {
        const int rowBase = y * 80 / std::max(1, h) + index;
        std::uint8_t* p = &rgb[static_cast<std::size_t>(y) * w * 3];
        for (int x = 0; x < w; ++x, p += 3) {
            const auto& c = palette[(column[x] + rowBase) & 0xFF];
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
        }
    }
    const int side = std::max(4, h / 5);
    const int span = std::max(1, w - side);
    const int sx = (index % spec.fps) * span / std::max(1, spec.fps - 1);
    const int sy = h / 2 - side / 2;
    for (int y = sy; y < sy + side && y < h; ++y)
        for (int x = sx; x < sx + side && x < w; ++x)
            put(x, y, 250, 250, 250);
    const int bit = std::max(2, w / 32), bandTop = h - std::max(2, h / 24);
    for (int b = 0; b < 16 && (b + 1) * bit <= w; ++b) {
        const std::uint8_t v = (index >> b) & 1 ? 255 : 0;
        for (int y = bandTop; y < h; ++y)
            for (int x = b * bit; x < (b + 1) * bit; ++x)
                put(x, y, v, v, v);
    }
}

Result<void> drain(AVCodecContext* codec, AVFrame* frame, AVFormatContext* fmt, AVStream* stream,
                   AVPacket* pkt) {
    int rc = avcodec_send_frame(codec, frame);
    if (rc < 0)
        return fail("encoder refused a frame", rc);
    for (;;) {
        rc = avcodec_receive_packet(codec, pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return {};
        if (rc < 0)
            return fail("encoder failed", rc);
        // The muxer needs each packet's duration to close a fragment exactly.
        if (pkt->duration == 0)
            pkt->duration = codec->codec_type == AVMEDIA_TYPE_AUDIO ? codec->frame_size : 1;
        av_packet_rescale_ts(pkt, codec->time_base, stream->time_base);
        pkt->stream_index = stream->index;
        rc = av_interleaved_write_frame(fmt, pkt);
        if (rc < 0)
            return fail("muxer failed", rc);
    }
}

}  // namespace

Result<std::vector<std::uint8_t>> encodeFragmentedMp4(const MediaSpec& spec) {
    // The encoders chat on stderr at the default level; keep them to errors unless the
    // program chose a level of its own.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_ERROR);
    });
    if (spec.width < 16 || spec.height < 16 || spec.width % 2 || spec.height % 2)
        return makeError("width and height must be even and at least 16");
    if (spec.fps < 1 || spec.fps > 120)
        return makeError("frame rate must be 1 to 120");
    if (!(spec.durationSeconds > 0) || spec.durationSeconds > 3600)
        return makeError("duration must be above 0 and at most 3600 seconds");

    Muxer mux;
    int rc = avformat_alloc_output_context2(&mux.fmt, nullptr, "mp4", nullptr);
    if (rc < 0 || !mux.fmt)
        return fail("mp4 muxer unavailable", rc);
    MemoryFile file;
    constexpr int kIoBuffer = 1 << 16;
    auto* ioBuffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    mux.io = avio_alloc_context(ioBuffer, kIoBuffer, 1, &file, nullptr, &MemoryFile::write,
                                &MemoryFile::seek);
    if (!mux.io) {
        av_free(ioBuffer);
        return makeError("out of memory");
    }
    mux.fmt->pb = mux.io;
    mux.fmt->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;

    // Video.
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264)
        return makeError("libx264 encoder not available in this FFmpeg build");
    CodecPtr video(avcodec_alloc_context3(h264));
    video->width = spec.width;
    video->height = spec.height;
    video->time_base = AVRational{1, spec.fps};
    video->framerate = AVRational{spec.fps, 1};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->gop_size = spec.fps;  // a keyframe, and so a fragment, every second
    video->keyint_min = spec.fps;
    video->max_b_frames = 0;
    video->thread_count = spec.threads;
    video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(video->priv_data, "preset", spec.preset.c_str(), 0);
    av_opt_set(video->priv_data, "crf", std::to_string(spec.crf).c_str(), 0);
    av_opt_set(video->priv_data, "x264-params", "scenecut=0", 0);
    rc = avcodec_open2(video.get(), h264, nullptr);
    if (rc < 0)
        return fail("cannot open the H.264 encoder", rc);
    AVStream* vstream = avformat_new_stream(mux.fmt, nullptr);
    if (!vstream)
        return makeError("out of memory");
    avcodec_parameters_from_context(vstream->codecpar, video.get());
    vstream->time_base = AVRational{1, spec.fps * 512};

    // Audio.
    CodecPtr audio;
    AVStream* astream = nullptr;
    if (spec.audio) {
        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!aac)
            return makeError("AAC encoder not available");
        audio.reset(avcodec_alloc_context3(aac));
        audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
        audio->sample_rate = 32000;
        av_channel_layout_default(&audio->ch_layout, 1);
        audio->bit_rate = 48000;
        audio->time_base = AVRational{1, audio->sample_rate};
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        rc = avcodec_open2(audio.get(), aac, nullptr);
        if (rc < 0)
            return fail("cannot open the AAC encoder", rc);
        astream = avformat_new_stream(mux.fmt, nullptr);
        if (!astream)
            return makeError("out of memory");
        avcodec_parameters_from_context(astream->codecpar, audio.get());
        astream->time_base = audio->time_base;
    }

    AVDictionary* opts = nullptr;
    // Fragments start at keyframes; offsets are relative to each moof so that bytes appended
    // to a media box move nothing; no trailing mfra, whose absolute offsets would break.
    av_dict_set(&opts, "movflags", "frag_keyframe+empty_moov+default_base_moof+skip_trailer", 0);
    av_dict_set(&opts, "brand", "iso4", 0);
    rc = avformat_write_header(mux.fmt, &opts);
    av_dict_free(&opts);
    if (rc < 0)
        return fail("cannot start the mp4 file", rc);

    FramePtr vframe(av_frame_alloc());
    vframe->format = AV_PIX_FMT_YUV420P;
    vframe->width = spec.width;
    vframe->height = spec.height;
    if ((rc = av_frame_get_buffer(vframe.get(), 0)) < 0)
        return fail("frame buffer", rc);
    std::unique_ptr<SwsContext, SwsDeleter> sws(
        sws_getContext(spec.width, spec.height, AV_PIX_FMT_RGB24, spec.width, spec.height,
                       AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws)
        return makeError("cannot set up the colour conversion");
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(spec.width) * spec.height * 3);

    FramePtr aframe;
    if (audio) {
        aframe.reset(av_frame_alloc());
        aframe->format = audio->sample_fmt;
        aframe->sample_rate = audio->sample_rate;
        aframe->nb_samples = audio->frame_size;
        av_channel_layout_copy(&aframe->ch_layout, &audio->ch_layout);
        if ((rc = av_frame_get_buffer(aframe.get(), 0)) < 0)
            return fail("audio buffer", rc);
    }

    std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
    const std::int64_t videoFrames =
        std::max<std::int64_t>(1, std::llround(spec.durationSeconds * spec.fps));
    const std::int64_t audioSamples =
        audio ? std::llround(spec.durationSeconds * audio->sample_rate) : 0;
    const double tone = spec.channel == 'F' ? 440.0 : 660.0;
    std::int64_t nextVideo = 0, nextAudio = 0;
    bool staticDone = false;
    while (nextVideo < videoFrames || (audio && nextAudio < audioSamples)) {
        const bool videoFirst =
            !audio || nextAudio >= audioSamples ||
            (nextVideo < videoFrames &&
             av_compare_ts(nextVideo, video->time_base, nextAudio, audio->time_base) <= 0);
        if (videoFirst) {
            if ((rc = av_frame_make_writable(vframe.get())) < 0)
                return fail("frame buffer", rc);
            if (!spec.pattern || !staticDone) {
                paintFrame(rgb, spec.width, spec.height, static_cast<int>(nextVideo), spec);
                staticDone = true;
            }
            const std::uint8_t* src[] = {rgb.data()};
            const int stride[] = {spec.width * 3};
            sws_scale(sws.get(), src, stride, 0, spec.height, vframe->data, vframe->linesize);
            vframe->pts = nextVideo++;
            if (auto r = drain(video.get(), vframe.get(), mux.fmt, vstream, pkt.get()); !r)
                return makeError(r.error());
            if (spec.progress && nextVideo % spec.fps == 0)
                spec.progress(static_cast<double>(nextVideo) / static_cast<double>(videoFrames));
        } else {
            if ((rc = av_frame_make_writable(aframe.get())) < 0)
                return fail("audio buffer", rc);
            auto* samples = reinterpret_cast<float*>(aframe->data[0]);
            for (int i = 0; i < aframe->nb_samples; ++i) {
                const double t = static_cast<double>(nextAudio + i) / audio->sample_rate;
                samples[i] = static_cast<float>(0.2 * std::sin(2 * std::numbers::pi * tone * t));
            }
            aframe->pts = nextAudio;
            nextAudio += aframe->nb_samples;
            if (auto r = drain(audio.get(), aframe.get(), mux.fmt, astream, pkt.get()); !r)
                return makeError(r.error());
        }
    }
    if (auto r = drain(video.get(), nullptr, mux.fmt, vstream, pkt.get()); !r)
        return makeError(r.error());
    if (audio) {
        if (auto r = drain(audio.get(), nullptr, mux.fmt, astream, pkt.get()); !r)
            return makeError(r.error());
    }
    if ((rc = av_write_trailer(mux.fmt)) < 0)
        return fail("cannot finish the mp4 file", rc);
    avio_flush(mux.io);
    if (spec.progress)
        spec.progress(1.0);
    return std::move(file.data);
}

}  // namespace orvik::tools
