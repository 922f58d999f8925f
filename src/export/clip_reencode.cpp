// Clips decoded, laid out, captioned and encoded whole.
#include <cmath>

#include "export/clip_job.h"
#include "export/h264.h"

namespace orvik::exporting::detail {

// The whole range decoded, laid out, captioned and encoded.
Result<void> ClipJob::reencode() {
    report_.method = ClipMethod::Reencode;
    InputMedia& m = *main_;
    const AVRational tb = m.video()->time_base;
    const std::int64_t fromPts = rangeStartPts();
    const std::int64_t toPts = rangeEndPts();
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
        insetFromPts = insetOrigin - inset_->halfFramePts();
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
            if (auto r = drainEncoder(enc.ctx, pkt.get(), false); !r)
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
            if (auto r = pipe.setCaption(captionFor(m, seconds, rq_.speedUnit)); !r)
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
    if (auto r = drainEncoder(enc.ctx, pkt.get(), false); !r)
        return r;
    readAudioTail();
    return audio_->writeUntil(*mux_, rq_.toSeconds - rq_.fromSeconds + 1);
}

}  // namespace orvik::exporting::detail
