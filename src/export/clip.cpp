// Clips: the frames [from, to) of a recording as a recording of their own.
//
// Three ways, cheapest first: stream copy when the first frame of the range is a keyframe;
// otherwise the frames up to the next keyframe are re-encoded and the rest copied (the copied
// part gets the source's parameter sets in-band, the encoded part its own); a layout with two
// channels or a caption re-encodes everything. Fragments follow the source's: each output
// fragment holds the frames of one source fragment and carries that fragment's telemetry area.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>

extern "C" {
#include <libavutil/opt.h>
}

#include "export/export.h"
#include "export/fragment_muxer.h"
#include "export/media.h"
#include "recordings/telemetry.h"

namespace orvik::exporting {

namespace {

constexpr const char* kEncoderPreset = "veryfast";
constexpr const char* kEncoderCrf = "21";

// Audio packets of the range, held until the video has reached their time so the file stays
// interleaved fragment by fragment.
class AudioQueue {
  public:
    AudioQueue(const InputMedia& media, double from, double to) : media_(media) {
        if (const AVStream* a = media.audio()) {
            tb_ = a->time_base;
            const std::int64_t start = a->start_time != AV_NOPTS_VALUE ? a->start_time : 0;
            fromPts_ = start + static_cast<std::int64_t>(std::llround(from / av_q2d(tb_)));
            toPts_ = start + static_cast<std::int64_t>(std::llround(to / av_q2d(tb_)));
        }
    }
    void offer(const AVPacket* p) {
        if (!media_.audio() || p->pts == AV_NOPTS_VALUE || p->pts < fromPts_ || p->pts >= toPts_)
            return;
        AVPacket* copy = av_packet_clone(p);
        if (!copy)
            return;
        copy->pts -= fromPts_;
        copy->dts = copy->dts == AV_NOPTS_VALUE ? copy->pts : copy->dts - fromPts_;
        if (copy->dts < lastDts_) {  // keep the muxer's order rule; such a packet is dropped
            av_packet_free(&copy);
            return;
        }
        lastDts_ = copy->dts;
        queue_.emplace_back(copy);
    }
    // Writes the packets that start before `seconds` (clip time).
    Result<void> writeUntil(FragmentMuxer& mux, double seconds) {
        while (!queue_.empty() &&
               static_cast<double>(queue_.front()->pts) * av_q2d(tb_) < seconds) {
            if (auto r = mux.writeAudio(queue_.front().get(), tb_); !r)
                return r;
            queue_.pop_front();
        }
        return {};
    }

  private:
    const InputMedia& media_;
    AVRational tb_{1, 1};
    std::int64_t fromPts_ = 0;
    std::int64_t toPts_ = 0;
    std::int64_t lastDts_ = INT64_MIN;
    std::deque<PacketPtr> queue_;
};

// Annex B (start codes) → the length-prefixed form the MP4 track uses.
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

// The SPS and PPS of an "avcC" record as length-prefixed NAL units; empty when the record is
// not one with 4-byte lengths (such streams are re-encoded whole instead).
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

struct EncoderPtr {
    AVCodecContext* ctx = nullptr;
    ~EncoderPtr() {
        if (ctx)
            avcodec_free_context(&ctx);
    }
};

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

std::size_t countRecords(const std::vector<std::uint8_t>& area) {
    std::size_t n = 0;
    for (std::size_t slot = 0; slot < recordings::kTelemetrySlotsPerFragment; ++slot) {
        const std::size_t at = slot * recordings::kTelemetrySlotSize + 2;
        if (at + recordings::kTelemetryRecordSize > area.size())
            break;
        const auto* b = reinterpret_cast<const std::byte*>(area.data() + at);
        n += recordings::parseTelemetryRecord(
                 std::span<const std::byte, recordings::kTelemetryRecordSize>(
                     b, recordings::kTelemetryRecordSize))
                 .has_value();
    }
    return n;
}

// Everything one clip export holds while it runs.
class ClipJob {
  public:
    explicit ClipJob(const ClipRequest& rq) : rq_(rq) {}
    Result<ClipReport> run();

  private:
    Result<void> checkRange();
    bool reportProgress(double clipSeconds);
    Result<void> openMuxer(const AVCodecParameters* video, AVRational videoTb,
                           AVRational frameRate);
    // The source fragment whose telemetry the frames of source fragment k travel with: k itself
    // when the range covers at least half of it, else the nearest such fragment. A cut at
    // whole seconds thus carries exactly the records of those seconds, even when the
    // recording's frames sit a little off the second.
    std::optional<std::size_t> carrierOf(std::optional<std::size_t> k);
    // Starts a new output fragment when `sourceFragment` differs from the current one.
    Result<void> enterFragment(std::optional<std::size_t> sourceFragment, double clipSeconds);
    Result<void> copyOrSmartCut();
    Result<void> reencode();
    Result<void> writeEncoded(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed,
                              std::int64_t ptsOffset);

    const ClipRequest& rq_;
    std::unique_ptr<InputMedia> main_;
    std::unique_ptr<InputMedia> inset_;
    std::optional<OutputFile> out_;
    std::unique_ptr<FragmentMuxer> mux_;
    std::unique_ptr<AudioQueue> audio_;
    std::vector<std::size_t> outputSources_;  // the source fragment of each output fragment
    std::optional<std::size_t> currentSource_;
    std::map<std::int64_t, std::optional<std::size_t>> fragmentOfPts_;  // encoded frames
    std::optional<std::vector<std::size_t>> carriers_;  // fragments the range covers by half
    ClipReport report_;
    bool cancelled_ = false;
};

Result<void> ClipJob::checkRange() {
    const double from = rq_.fromSeconds;
    const double to = rq_.toSeconds;
    if (!std::isfinite(from) || !std::isfinite(to) || from < 0 || to <= from)
        return makeError("--to must be after --from, both 0 or more seconds");
    const double duration = main_->durationSeconds();
    const double slack = main_->frameDuration() / 2;
    if (from >= duration || to > duration + slack) {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "the range %.3f–%.3f s lies outside the recording (0–%.3f s)", from, to,
                      duration);
        return makeError(buf);
    }
    return {};
}

bool ClipJob::reportProgress(double clipSeconds) {
    if (!rq_.progress)
        return true;
    const double span = rq_.toSeconds - rq_.fromSeconds;
    if (!rq_.progress(std::clamp(clipSeconds / span, 0.0, 1.0)))
        cancelled_ = true;
    return !cancelled_;
}

Result<void> ClipJob::openMuxer(const AVCodecParameters* video, AVRational videoTb,
                                AVRational frameRate) {
    MuxerStreams s;
    s.video = video;
    s.videoTimeBase = videoTb;
    s.frameRate = frameRate;
    if (const AVStream* a = main_->audio()) {
        s.audio = a->codecpar;
        s.audioTimeBase = a->time_base;
    }
    auto mux = FragmentMuxer::open(*out_, s, [this](std::size_t k) {
        if (k < outputSources_.size()) {
            auto area = main_->telemetryArea(outputSources_[k]);
            report_.telemetryRecords += countRecords(area);
            return area;
        }
        return std::vector<std::uint8_t>(recordings::kTelemetryAreaSize, 0);
    });
    if (!mux)
        return makeError(mux.error());
    mux_ = std::move(*mux);
    return {};
}

std::optional<std::size_t> ClipJob::carrierOf(std::optional<std::size_t> k) {
    if (!k)
        return k;
    if (!carriers_) {
        carriers_.emplace();
        std::size_t best = 0;
        double bestOverlap = -1;
        for (std::size_t f = 0; f < main_->fragments().size(); ++f) {
            const auto span = main_->fragmentSpan(f);
            if (!span)
                continue;
            const double overlap =
                std::min(span->second, rq_.toSeconds) - std::max(span->first, rq_.fromSeconds);
            if (overlap > bestOverlap) {
                bestOverlap = overlap;
                best = f;
            }
            if (overlap > 0 && overlap >= (span->second - span->first) / 2)
                carriers_->push_back(f);
        }
        if (carriers_->empty() && bestOverlap > 0)
            carriers_->push_back(best);
    }
    if (carriers_->empty())
        return k;
    const auto it = std::lower_bound(carriers_->begin(), carriers_->end(), *k);
    if (it != carriers_->end() && *it == *k)
        return k;
    if (it == carriers_->end())
        return carriers_->back();
    if (it == carriers_->begin())
        return *it;
    return *k - *std::prev(it) <= *it - *k ? *std::prev(it) : *it;
}

Result<void> ClipJob::enterFragment(std::optional<std::size_t> sourceFragment, double clipSeconds) {
    sourceFragment = carrierOf(sourceFragment);
    if (!sourceFragment || sourceFragment == currentSource_)
        return {};
    if (currentSource_) {
        if (auto r = audio_->writeUntil(*mux_, clipSeconds); !r)
            return r;
        if (auto r = mux_->cutFragment(); !r)
            return r;
    }
    currentSource_ = sourceFragment;
    outputSources_.push_back(*sourceFragment);
    return {};
}

Result<void> ClipJob::writeEncoded(AVCodecContext* enc, AVPacket* pkt, bool toLengthPrefixed,
                                   std::int64_t ptsOffset) {
    const auto it = fragmentOfPts_.find(pkt->pts);
    std::optional<std::size_t> frag = it != fragmentOfPts_.end() ? it->second : currentSource_;
    if (it != fragmentOfPts_.end())
        fragmentOfPts_.erase(fragmentOfPts_.begin(), std::next(it));
    if (pkt->duration <= 0 && enc->framerate.num > 0)
        pkt->duration = av_rescale_q(1, av_inv_q(enc->framerate), enc->time_base);
    const double clipSeconds = static_cast<double>(pkt->pts) * av_q2d(enc->time_base);
    if (!currentSource_ && !frag)
        frag = 0;
    if (auto r = enterFragment(frag, clipSeconds); !r)
        return r;
    if (auto r = audio_->writeUntil(*mux_, clipSeconds); !r)
        return r;
    if (toLengthPrefixed) {
        auto bytes = annexBToLengthPrefixed(pkt->data, static_cast<std::size_t>(pkt->size));
        PacketPtr converted = makePacket();
        if (av_new_packet(converted.get(), static_cast<int>(bytes.size())) < 0)
            return makeError("out of memory");
        std::memcpy(converted->data, bytes.data(), bytes.size());
        av_packet_copy_props(converted.get(), pkt);
        converted->pts += ptsOffset;
        converted->dts += ptsOffset;
        converted->duration = pkt->duration;
        return mux_->writeVideo(converted.get(), enc->time_base);
    }
    pkt->pts += ptsOffset;
    pkt->dts += ptsOffset;
    return mux_->writeVideo(pkt, enc->time_base);
}

// Stream copy, with the head re-encoded when the range does not start on a keyframe.
Result<void> ClipJob::copyOrSmartCut() {
    InputMedia& m = *main_;
    AVStream* v = m.video();
    const AVRational tb = v->time_base;
    const std::int64_t half = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::llround(m.frameDuration() / 2 / av_q2d(tb))));
    const std::int64_t fromPts = m.toPts(rq_.fromSeconds) - half;
    const std::int64_t toPts = m.toPts(rq_.toSeconds) - half;
    if (auto r = m.seekTo(rq_.fromSeconds); !r)
        return r;

    // Read up to the first frame of the range, keeping the packets from the keyframe before it.
    std::vector<PacketPtr> lead;
    PacketPtr pkt = makePacket();
    PacketPtr first;
    for (;;) {
        int rc = av_read_frame(m.format(), pkt.get());
        if (rc < 0)
            return makeError("the range holds no frame of '" + m.path() + "'");
        if (pkt->stream_index == m.audioIndex()) {
            audio_->offer(pkt.get());
        } else if (pkt->stream_index == m.videoIndex()) {
            if (pkt->pts != AV_NOPTS_VALUE && pkt->pts >= fromPts) {
                first.reset(av_packet_clone(pkt.get()));
                av_packet_unref(pkt.get());
                break;
            }
            if (pkt->flags & AV_PKT_FLAG_KEY)
                lead.clear();
            lead.emplace_back(av_packet_clone(pkt.get()));
        }
        av_packet_unref(pkt.get());
    }
    if (!first || first->pts >= toPts)
        return makeError("the range holds no frame of '" + m.path() + "'");
    const std::int64_t origin = first->pts;  // clip time 0

    const std::vector<std::uint8_t> parameterSets = parameterSetsOf(v->codecpar);
    const bool startsOnKey = (first->flags & AV_PKT_FLAG_KEY) != 0;
    if (!startsOnKey && parameterSets.empty())
        return reencode();  // not an H.264 stream that can be spliced

    if (auto r = openMuxer(v->codecpar, tb, m.frameRate()); !r)
        return r;

    bool needParameterSets = false;
    PacketPtr next = std::move(first);
    if (!startsOnKey) {
        report_.method = ClipMethod::SmartCut;
        // Decode from the keyframe before the range, encode the frames up to the next keyframe.
        if (auto r = m.openDecoder(); !r)
            return r;
        EncoderPtr enc;
        if (auto r = openEncoder(enc, m.decoder()->width, m.decoder()->height, tb, m.frameRate(),
                                 m.decoder()->sample_aspect_ratio, false);
            !r)
            return r;
        FramePtr frame = makeFrame();
        PacketPtr out = makePacket();
        const auto drainEncoder = [&]() -> Result<void> {
            for (;;) {
                int rc = avcodec_receive_packet(enc.ctx, out.get());
                if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                    return {};
                if (rc < 0)
                    return makeError("cannot encode: " + avErrorText(rc));
                if (auto r = writeEncoded(enc.ctx, out.get(), true, 0); !r)
                    return r;
                av_packet_unref(out.get());
            }
        };
        const auto encodeDecoded = [&]() -> Result<void> {
            for (;;) {
                int rc = avcodec_receive_frame(m.decoder(), frame.get());
                if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                    return {};
                if (rc < 0)
                    return makeError("cannot decode '" + m.path() + "': " + avErrorText(rc));
                const std::int64_t pts = frame->best_effort_timestamp;
                if (pts >= fromPts && pts < toPts) {
                    const std::int64_t rel = pts - origin;
                    fragmentOfPts_[rel] = carrierOf(m.fragmentAt(frame->pkt_pos));
                    frame->pts = rel;
                    frame->pict_type = rel == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
                    ++report_.frames;
                    ++report_.encodedFrames;
                    if (!reportProgress(m.toSeconds(pts) - rq_.fromSeconds))
                        return makeError("cancelled");
                    rc = avcodec_send_frame(enc.ctx, frame.get());
                    if (rc < 0)
                        return makeError("cannot encode: " + avErrorText(rc));
                    if (auto r = drainEncoder(); !r)
                        return r;
                }
                av_frame_unref(frame.get());
            }
        };
        for (PacketPtr& p : lead) {
            avcodec_send_packet(m.decoder(), p.get());
            if (auto r = encodeDecoded(); !r)
                return r;
        }
        // Feed the range's packets until the next keyframe (or the end of the range).
        for (;;) {
            if (next->stream_index == m.videoIndex()) {
                if ((next->flags & AV_PKT_FLAG_KEY) || next->pts >= toPts)
                    break;
                avcodec_send_packet(m.decoder(), next.get());
                if (auto r = encodeDecoded(); !r)
                    return r;
            } else {
                audio_->offer(next.get());
            }
            av_packet_unref(next.get());
            if (av_read_frame(m.format(), next.get()) < 0) {
                next.reset();
                break;
            }
        }
        avcodec_send_packet(m.decoder(), nullptr);
        if (auto r = encodeDecoded(); !r)
            return r;
        avcodec_send_frame(enc.ctx, nullptr);
        if (auto r = drainEncoder(); !r)
            return r;
        needParameterSets = true;
    }

    // Copy the rest of the range.
    while (next) {
        if (next->stream_index == m.audioIndex()) {
            audio_->offer(next.get());
        } else if (next->stream_index == m.videoIndex()) {
            if (next->pts != AV_NOPTS_VALUE && next->pts >= toPts)
                break;
            const double clipSeconds = static_cast<double>(next->pts - origin) * av_q2d(tb);
            if (!reportProgress(clipSeconds))
                return makeError("cancelled");
            std::optional<std::size_t> frag = m.fragmentAt(next->pos);
            if (!currentSource_ && !frag)
                frag = 0;
            if (auto r = enterFragment(frag, clipSeconds); !r)
                return r;
            if (auto r = audio_->writeUntil(*mux_, clipSeconds); !r)
                return r;
            PacketPtr copy(av_packet_clone(next.get()));
            copy->pts -= origin;
            copy->dts = copy->dts == AV_NOPTS_VALUE ? copy->pts : copy->dts - origin;
            if (needParameterSets && (copy->flags & AV_PKT_FLAG_KEY)) {
                // The encoded head brought its own parameter sets; give the decoder back the
                // source's before the first copied picture.
                PacketPtr joined = makePacket();
                if (av_new_packet(joined.get(),
                                  static_cast<int>(parameterSets.size()) + copy->size) < 0)
                    return makeError("out of memory");
                std::memcpy(joined->data, parameterSets.data(), parameterSets.size());
                std::memcpy(joined->data + parameterSets.size(), copy->data,
                            static_cast<std::size_t>(copy->size));
                av_packet_copy_props(joined.get(), copy.get());
                copy = std::move(joined);
                needParameterSets = false;
            }
            ++report_.frames;
            if (auto r = mux_->writeVideo(copy.get(), tb); !r)
                return r;
        }
        av_packet_unref(next.get());
        if (av_read_frame(m.format(), next.get()) < 0)
            break;
    }
    return audio_->writeUntil(*mux_, rq_.toSeconds - rq_.fromSeconds + 1);
}

// The whole range decoded, laid out, captioned and encoded.
Result<void> ClipJob::reencode() {
    report_.method = ClipMethod::Reencode;
    InputMedia& m = *main_;
    const AVRational tb = m.video()->time_base;
    const std::int64_t half = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::llround(m.frameDuration() / 2 / av_q2d(tb))));
    const std::int64_t fromPts = m.toPts(rq_.fromSeconds) - half;
    const std::int64_t toPts = m.toPts(rq_.toSeconds) - half;
    const std::int64_t origin = m.toPts(rq_.fromSeconds);

    if (!m.decoder()) {
        if (auto r = m.openDecoder(); !r)
            return r;
    }
    if (auto r = m.seekTo(rq_.fromSeconds); !r)
        return r;
    const auto onAudio = [this](AVPacket* p) { audio_->offer(p); };
    auto firstFrame = m.nextFrame(fromPts, onAudio);
    if (!firstFrame)
        return makeError(firstFrame.error());
    FramePtr frame = std::move(*firstFrame);
    if (!frame || frame->pts >= toPts)
        return makeError("the range holds no frame of '" + m.path() + "'");

    std::optional<FramePipeline::Input> insetInput;
    FramePtr insetFrame;
    std::int64_t insetOrigin = 0, insetFromPts = 0;
    if (inset_) {
        if (auto r = inset_->openDecoder(); !r)
            return r;
        if (auto r = inset_->seekTo(rq_.fromSeconds); !r)
            return r;
        insetOrigin = inset_->toPts(rq_.fromSeconds);
        insetFromPts =
            insetOrigin - static_cast<std::int64_t>(std::llround(
                              inset_->frameDuration() / 2 / av_q2d(inset_->video()->time_base)));
        auto f = inset_->nextFrame(insetFromPts);
        if (!f)
            return makeError(f.error());
        insetFrame = std::move(*f);
        if (!insetFrame)
            return makeError("the range holds no frame of '" + inset_->path() + "'");
        insetInput = FramePipeline::Input{
            insetFrame->width, insetFrame->height, static_cast<AVPixelFormat>(insetFrame->format),
            inset_->video()->time_base, insetFrame->sample_aspect_ratio};
    }
    const FramePipeline::Input mainInput{frame->width, frame->height,
                                         static_cast<AVPixelFormat>(frame->format), tb,
                                         frame->sample_aspect_ratio};
    auto pipeline =
        FramePipeline::create(mainInput, insetInput, rq_.layout, rq_.caption, AV_PIX_FMT_YUV420P);
    if (!pipeline)
        return makeError(pipeline.error());
    FramePipeline& pipe = **pipeline;

    EncoderPtr enc;
    if (auto r = openEncoder(enc, pipe.outWidth(), pipe.outHeight(), pipe.outTimeBase(),
                             m.frameRate(), AVRational{1, 1}, true);
        !r)
        return r;
    AVCodecParameters* par = avcodec_parameters_alloc();
    avcodec_parameters_from_context(par, enc.ctx);
    auto opened = openMuxer(par, enc.ctx->time_base, m.frameRate());
    avcodec_parameters_free(&par);
    if (!opened)
        return opened;

    // Fragment starts in clip time (the pipeline's time base) and the source fragment of each.
    std::map<std::int64_t, std::optional<std::size_t>> fragmentStarts;
    std::optional<std::size_t> lastSource;
    std::optional<std::size_t> lastOutSource;
    bool firstOut = true;
    PacketPtr pkt = makePacket();
    const AVRational outTb = pipe.outTimeBase();

    const auto drainEncoder = [&]() -> Result<void> {
        for (;;) {
            int rc = avcodec_receive_packet(enc.ctx, pkt.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return {};
            if (rc < 0)
                return makeError("cannot encode: " + avErrorText(rc));
            if (auto r = writeEncoded(enc.ctx, pkt.get(), false, 0); !r)
                return r;
            av_packet_unref(pkt.get());
        }
    };
    const auto pullPipeline = [&]() -> Result<void> {
        for (;;) {
            auto out = pipe.pull();
            if (!out)
                return makeError(out.error());
            if (!*out)
                return {};
            AVFrame* f = out->get();
            auto it = fragmentStarts.upper_bound(f->pts);
            std::optional<std::size_t> source;
            if (!fragmentStarts.empty())
                source = it == fragmentStarts.begin() ? it->second : std::prev(it)->second;
            f->pict_type = AV_PICTURE_TYPE_NONE;
            if (firstOut || source != lastOutSource)
                f->pict_type = AV_PICTURE_TYPE_I;  // a fragment starts with a keyframe
            firstOut = false;
            lastOutSource = source;
            fragmentOfPts_[av_rescale_q(f->pts, outTb, enc.ctx->time_base)] = source;
            f->pts = av_rescale_q(f->pts, outTb, enc.ctx->time_base);
            ++report_.encodedFrames;
            const int rc = avcodec_send_frame(enc.ctx, f);
            if (rc < 0)
                return makeError("cannot encode: " + avErrorText(rc));
            if (auto r = drainEncoder(); !r)
                return r;
        }
    };

    while (frame && frame->pts < toPts) {
        const double seconds = m.toSeconds(frame->pts);
        if (!reportProgress(seconds - rq_.fromSeconds))
            return makeError("cancelled");
        const std::int64_t rel = frame->pts - origin;
        std::optional<std::size_t> source = carrierOf(m.fragmentAt(frame->pkt_pos));
        if (!source)
            source = lastSource;
        if (source && source != lastSource)
            fragmentStarts[av_rescale_q(rel, tb, outTb)] = source;
        lastSource = source;
        if (rq_.caption) {
            if (auto r = pipe.setCaption(captionFor(m, seconds)); !r)
                return r;
        }
        // The inset's frames up to this moment go in first, so the layout pairs them.
        while (insetFrame &&
               inset_->toSeconds(insetFrame->pts) <= seconds + inset_->frameDuration() / 4) {
            insetFrame->pts -= insetOrigin;
            if (auto r = pipe.pushInset(insetFrame.get()); !r)
                return r;
            auto f = inset_->nextFrame(insetFromPts);
            if (!f)
                return makeError(f.error());
            insetFrame = std::move(*f);
        }
        frame->pts = rel;
        ++report_.frames;
        if (auto r = pipe.pushMain(frame.get()); !r)
            return r;
        if (auto r = pullPipeline(); !r)
            return r;
        auto next = m.nextFrame(fromPts, onAudio);
        if (!next)
            return makeError(next.error());
        frame = std::move(*next);
    }
    if (inset_) {
        if (insetFrame && inset_->toSeconds(insetFrame->pts) < rq_.toSeconds) {
            insetFrame->pts -= insetOrigin;
            (void)pipe.pushInset(insetFrame.get());
        }
        if (auto r = pipe.pushInset(nullptr); !r)
            return r;
    }
    if (auto r = pipe.pushMain(nullptr); !r)
        return r;
    if (auto r = pullPipeline(); !r)
        return r;
    avcodec_send_frame(enc.ctx, nullptr);
    if (auto r = drainEncoder(); !r)
        return r;
    // The audio that follows the last frame inside the range still belongs to the clip.
    for (;;) {
        auto rest = m.nextFrame(INT64_MAX, onAudio);
        if (!rest || !*rest)
            break;
    }
    return audio_->writeUntil(*mux_, rq_.toSeconds - rq_.fromSeconds + 1);
}

Result<ClipReport> ClipJob::run() {
    auto sources = resolveSources(rq_.input, rq_.layout);
    if (!sources)
        return makeError(sources.error());
    auto main = InputMedia::open(sources->main);
    if (!main)
        return makeError(main.error());
    main_ = std::move(*main);
    if (!sources->inset.empty()) {
        auto inset = InputMedia::open(sources->inset);
        if (!inset)
            return makeError(inset.error());
        inset_ = std::move(*inset);
    }
    if (auto r = checkRange(); !r)
        return makeError(r.error());
    auto out = OutputFile::create(rq_.output, rq_.force);
    if (!out)
        return makeError(out.error());
    out_.emplace(std::move(*out));
    audio_ = std::make_unique<AudioQueue>(*main_, rq_.fromSeconds, rq_.toSeconds);

    const bool composite = inset_ != nullptr || rq_.caption;
    auto done = composite ? reencode() : copyOrSmartCut();
    if (!done)
        return makeError(done.error());
    if (auto r = mux_->finish(); !r)
        return makeError(r.error());
    report_.fragments = mux_->fragments();
    mux_.reset();
    if (auto r = out_->commit(); !r)
        return makeError(r.error());
    report_.seconds = static_cast<double>(report_.frames) * main_->frameDuration();
    if (rq_.progress)
        rq_.progress(1.0);
    return report_;
}

}  // namespace

Result<ClipReport> exportClip(const ClipRequest& request) {
    ClipJob job(request);
    return job.run();
}

}  // namespace orvik::exporting
